// Model size: one generator feeds P queue+server pairs in turn, and every
// server passes to one terminator (2P + 2 blocks). Arrivals come at rate 1
// and a service takes an exponential time of mean 0.8 P, so every server is
// busy 80 % of the time whatever P; at large P thousands of queues wait
// blocked on their busy servers and thousands of service ends are pending.
//
// For every engine of engines.h, the time per customer with P pairs as a
// ratio to one pair, both measured in the same run: the sizes and engines
// alternate, round after round, and each time is the median of its rounds.
// The engines must give the same flows (customers and the mean content of
// every queue, to the last bit, or to 1e-9 relative for an engine with
// statistics in double); the program exits with 1 if they do not.
//
//   pairs_compare [pairs (default 5000)] [rounds (default 3)]
//   pairs_compare PAIRS 1 ENGINE   runs only ENGINE with PAIRS pairs, for a profiler
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <time.h>

#include "engines.h"
#include "quorin/blocks.h"
#include "quorin/statsim.h"

using namespace quorin;

namespace {

// The CPU time of this thread: on a shared machine the wall time also
// counts the other processes' turns.
double CpuSeconds() {
  timespec T{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &T);
  return double(T.tv_sec) + 1e-9 * double(T.tv_nsec);
}

struct TRun {
  double Seconds = 0;   // CPU time of the measured window
  int64_t Customers = 0; // customers that left in the window
  double Flow = 0;       // sum of the queues' mean contents: the same on every engine
  std::string Message;   // a message the library gave, if any
};

// Runs the model with Pairs pairs on Engine: a warm-up of 8 arrivals per
// pair, then a window of 4 arrivals per pair, timed (one pair: 1000 and
// 200000).
TRun Run(int32_t Pairs, const bench::TBenchEngine& Engine) {
  TRun R;
  auto Previous = SetMessageHandler([&R](const std::string& Text) { R.Message = Text; });
  {
    TComponent Application(nullptr);
    auto* Form = new TComponent(&Application);
    auto* Model = new TModel(Form);
    Model->SetHeapSize(64);
    Engine.Apply(*Model);
    auto* Arrivals = new TMultiRand(Form);
    auto* Services = new TMultiRand(Form);
    Services->SetSeed(1234567891);
    auto* Door = new TGenerator(Form);
    auto* Exit = new TTerminator(Form);
    std::vector<TQueue*> Queues;
    const double MeanService = 0.8 * Pairs;
    for (int32_t i = 0; i < Pairs; ++i) {
      auto* Line = new TQueue(Form);
      auto* Clerk = new TServer(Form);
      Line->OnRouting = [Clerk](TBlock* Sender, TTransaction*) { Sender->PassTo(Clerk); };
      Clerk->OnEnter = [Clerk, Services, MeanService](TBlock*, TTransaction*) {
        Clerk->NextTime(Services->Exponential(MeanService));
      };
      Clerk->OnRouting = [Exit](TBlock* Sender, TTransaction*) { Sender->PassTo(Exit); };
      Queues.push_back(Line);
    }
    Door->OnBeforeTimeGoOn = [=](TAggregate*) { Door->NextTime(Arrivals->Exponential(1.0)); };
    Door->OnAfterGeneration = [=](TBlock*, TTransaction*) {
      Door->NextTime(Arrivals->Exponential(1.0));
    };
    // In turn: the turn moves on when the pass succeeds (a queue without a
    // capacity always takes it).
    auto Turn = std::make_shared<int32_t>(0);
    Door->OnRouting = [=, &Queues](TBlock* Sender, TTransaction*) {
      if (Sender->PassTo(Queues[std::size_t(*Turn)])) *Turn = (*Turn + 1) % Pairs;
    };
    const double Warmup = Pairs == 1 ? 1000.0 : 8.0 * Pairs;
    const double Window = Pairs == 1 ? 200000.0 : 4.0 * Pairs;
    Model->Simulate(Warmup);
    Model->ClearStatistics();
    const double Start = CpuSeconds();
    Model->Simulate(Warmup + Window);
    R.Seconds = CpuSeconds() - Start;
    R.Customers = Exit->Entries();
    for (TQueue* Q : Queues)
      R.Flow += double(Q->AverageCount());
    Model->Reset();
  }
  SetMessageHandler(Previous);
  return R;
}

double Median(std::vector<double> V) {
  std::sort(V.begin(), V.end());
  const std::size_t N = V.size();
  return N % 2 ? V[N / 2] : 0.5 * (V[N / 2 - 1] + V[N / 2]);
}

} // namespace

int main(int argc, char** argv) {
  int32_t Pairs = 5000, Rounds = 3;
  if (argc > 1) Pairs = int32_t(std::strtol(argv[1], nullptr, 10));
  if (argc > 2) Rounds = int32_t(std::strtol(argv[2], nullptr, 10));
  if (Pairs < 2 || Rounds < 1) {
    std::fprintf(stderr, "usage: %s [pairs >= 2] [rounds >= 1]\n", argv[0]);
    return 2;
  }
  const auto& Engines = bench::Engines();
  if (argc > 3) {
    for (const auto& E : Engines)
      if (std::string(E.Name) == argv[3]) {
        const TRun R = Run(Pairs, E);
        std::printf("%s, %d pairs: %.3f us per customer\n", E.Name, Pairs,
                    R.Seconds / double(R.Customers) * 1e6);
        return 0;
      }
    std::fprintf(stderr, "no engine named %s\n", argv[3]);
    return 2;
  }
  const int32_t Sizes[2] = {1, Pairs};
  // Seconds per customer by engine and size, one per round; the flows seen.
  std::vector<std::vector<double>> PerCustomer[2];
  std::vector<TRun> Last[2];
  for (auto& P : PerCustomer)
    P.resize(Engines.size());
  for (auto& L : Last)
    L.resize(Engines.size());
  for (int32_t Round = 0; Round < Rounds; ++Round)
    for (std::size_t e = 0; e < Engines.size(); ++e)
      for (int s = 0; s < 2; ++s) {
        const TRun R = Run(Sizes[s], Engines[e]);
        if (!R.Message.empty()) {
          std::fprintf(stderr, "%s, %d pairs: %s\n", Engines[e].Name, Sizes[s], R.Message.c_str());
          return 1;
        }
        PerCustomer[s][e].push_back(R.Seconds / double(R.Customers));
        Last[s][e] = R;
      }
  std::printf("Time per customer, %d pairs against 1 pair (median of %d alternating rounds)\n\n",
              Pairs, Rounds);
  std::printf("| engine | 1 pair, us | %d pairs, us | ratio |\n|---|---|---|---|\n", Pairs);
  bool Same = true;
  for (std::size_t e = 0; e < Engines.size(); ++e) {
    const double One = Median(PerCustomer[0][e]), Many = Median(PerCustomer[1][e]);
    std::printf("| %s | %.3f | %.3f | %.2f |\n", Engines[e].Name, One * 1e6, Many * 1e6, Many / One);
    for (int s = 0; s < 2; ++s)
      Same = Same && Last[s][e].Customers == Last[s][0].Customers &&
             (Engines[e].ExactStatistics
                  ? Last[s][e].Flow == Last[s][0].Flow
                  : std::abs(Last[s][e].Flow - Last[s][0].Flow) <= 1e-9 * std::abs(Last[s][0].Flow));
  }
  std::printf("\ncustomers in the window: %lld (1 pair), %lld (%d pairs); the engines' flows %s\n",
              static_cast<long long>(Last[0][0].Customers),
              static_cast<long long>(Last[1][0].Customers), Pairs,
              Same ? "agree" : "DIFFER");
  return Same ? 0 : 1;
}
