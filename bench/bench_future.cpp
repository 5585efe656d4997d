// The hold model on the future events list: fill it with N pending
// activations, then each step take the earliest and insert one new activation
// an exponential delay after it. The peer is std::priority_queue of
// (time, insertion number) doing the same work in the same run, with the same
// stream of delays, so both hold the same times at every step. The lists
// measured are those of the engines of engines.h, each named by the engines
// that use it.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <queue>
#include <string>
#include <utility>
#include <vector>

#include "quorin/blocks.h"
#include "quorin/detail/future.h"
#include "quorin/framework.h"
#include "engines.h"
#include "ratio_reporter.h"

namespace {

constexpr uint16_t PageSize = 1024; // the model's default page size

// Exponential delays of mean 1 from a Lehmer generator with a fixed seed.
class TExpStream {
public:
  double Next() {
    FState = (950706376LL * FState) % 2147483647LL;
    return -std::log(double(FState) / 2147483647.0);
  }

private:
  int64_t FState = 1000000000;
};

void Hold(benchmark::State& State, quorin::TEventList Kind) {
  const auto N = State.range(0);
  quorin::GlobalHeap = quorin::HeapCreate(0, 2048, 128u << 20);
  quorin::FSysTime = 0.0;
  {
    quorin::TScheduler Agg(nullptr);
    Agg.SetName("Hold");
    quorin::TFutureManager List(PageSize);
    List.SetKind(Kind);
    TExpStream Delays;
    for (int64_t i = 0; i < N; ++i)
      List.Insert(Delays.Next(), &Agg, nullptr);
    quorin::TAggregate* A = nullptr;
    quorin::TTransaction* T = nullptr;
    for (auto _ : State) {
      List.TakeNext(A, T);
      benchmark::DoNotOptimize(A);
      List.Insert(Delays.Next(), &Agg, nullptr);
    }
    if (List.Count() != N) State.SkipWithError("the list lost activations");
    // Levels only grow, so a long run walks many (mostly empty) levels.
    State.counters["levels"] = List.Level();
  }
  quorin::HeapDestroy(quorin::GlobalHeap);
  quorin::GlobalHeap = nullptr;
  quorin::FSysTime = 0.0;
  State.SetItemsProcessed(State.iterations());
}

struct TEvent {
  double Time;
  int64_t ID;
  // Later events compare greater, so std::greater gives the earliest on top.
  bool operator>(const TEvent& Other) const {
    return Time > Other.Time || (Time == Other.Time && ID > Other.ID);
  }
};

void BM_PriorityQueueHold(benchmark::State& State) {
  const auto N = State.range(0);
  std::priority_queue<TEvent, std::vector<TEvent>, std::greater<TEvent>> Queue;
  TExpStream Delays;
  int64_t NextID = 0;
  double Clock = 0.0;
  for (int64_t i = 0; i < N; ++i)
    Queue.push({Clock + Delays.Next(), NextID++});
  for (auto _ : State) {
    Clock = Queue.top().Time;
    Queue.pop();
    benchmark::DoNotOptimize(Clock);
    Queue.push({Clock + Delays.Next(), NextID++});
  }
  State.SetItemsProcessed(State.iterations());
}

// Runs both sides for Steps hold steps outside the timing and tells whether
// they took the same times in the same order, so the two benchmarks are known
// to do the same work.
bool SameTimes(int64_t N, int64_t Steps, quorin::TEventList Kind) {
  quorin::GlobalHeap = quorin::HeapCreate(0, 2048, 128u << 20);
  quorin::FSysTime = 0.0;
  bool Same = true;
  {
    quorin::TScheduler Agg(nullptr);
    quorin::TFutureManager List(PageSize);
    List.SetKind(Kind);
    std::priority_queue<TEvent, std::vector<TEvent>, std::greater<TEvent>> Queue;
    TExpStream ListDelays, QueueDelays;
    int64_t NextID = 0;
    for (int64_t i = 0; i < N; ++i) {
      List.Insert(ListDelays.Next(), &Agg, nullptr);
      Queue.push({QueueDelays.Next(), NextID++});
    }
    quorin::TAggregate* A = nullptr;
    quorin::TTransaction* T = nullptr;
    for (int64_t i = 0; i < Steps && Same; ++i) {
      List.TakeNext(A, T);
      const double Clock = Queue.top().Time;
      Queue.pop();
      Same = A == &Agg && quorin::FSysTime == Clock;
      List.Insert(ListDelays.Next(), &Agg, nullptr);
      Queue.push({Clock + QueueDelays.Next(), NextID++});
    }
  }
  quorin::HeapDestroy(quorin::GlobalHeap);
  quorin::GlobalHeap = nullptr;
  quorin::FSysTime = 0.0;
  return Same;
}

const std::vector<int64_t> Sizes = {10, 1000, 10000, 100000, 1000000};

// The event list of every engine, once each, with the names of the engines
// that use it ("heap list, scalable").
std::vector<std::pair<quorin::TEventList, std::string>> EngineLists() {
  std::vector<std::pair<quorin::TEventList, std::string>> Lists;
  for (const quorin::bench::TBenchEngine& E : quorin::bench::Engines()) {
    quorin::TComponent Form(nullptr);
    auto* Model = new quorin::TModel(&Form);
    E.Apply(*Model);
    auto It = std::find_if(Lists.begin(), Lists.end(),
                           [Model](const auto& L) { return L.first == Model->EventList(); });
    if (It == Lists.end())
      Lists.emplace_back(Model->EventList(), E.Name);
    else
      It->second += std::string(", ") + E.Name;
  }
  return Lists;
}

} // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const auto Lists = EngineLists();
  for (const auto& [Kind, Names] : Lists) {
    for (int64_t N : {int64_t(10), int64_t(1000)})
      if (!SameTimes(N, 200000, Kind)) {
        std::fprintf(stderr, "the list of %s and priority_queue disagree at N=%lld\n",
                     Names.c_str(), static_cast<long long>(N));
        return 1;
      }
    benchmark::RegisterBenchmark(("BM_Hold<" + Names + ">").c_str(),
                                 [Kind](benchmark::State& State) { Hold(State, Kind); })
        ->ArgsProduct({Sizes})
        ->ArgNames({"N"});
  }
  benchmark::RegisterBenchmark("BM_PriorityQueueHold", BM_PriorityQueueHold)
      ->ArgsProduct({Sizes})
      ->ArgNames({"N"});
  quorin::bench::TRatioReporter Reporter;
  benchmark::RunSpecifiedBenchmarks(&Reporter);
  benchmark::Shutdown();

  std::printf("\nHold model, time per step as a ratio to std::priority_queue (below 1: the "
              "list is faster)\n\n| pending |");
  for (const auto& L : Lists)
    std::printf(" %s |", L.second.c_str());
  std::printf("\n|---|");
  for (std::size_t i = 0; i < Lists.size(); ++i)
    std::printf("---|");
  std::printf("\n");
  for (int64_t N : Sizes) {
    const std::string Args = "N:" + std::to_string(N);
    std::printf("| %lld |", static_cast<long long>(N));
    const double Peer = Reporter.Median("BM_PriorityQueueHold", Args);
    for (const auto& L : Lists) {
      const double List = Reporter.Median("BM_Hold<" + L.second + ">", Args);
      if (List > 0 && Peer > 0)
        std::printf(" %.2f |", List / Peer);
      else
        std::printf(" - |");
    }
    std::printf("\n");
  }
  return 0;
}
