// Model size, on the model of pairs.h (P queue+server pairs, 2P + 2 blocks).
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


#include "engines.h"
#include "pairs.h"
#include "timing.h"
#include "quorin/blocks.h"
#include "quorin/statsim.h"

using namespace quorin;
using bench::CpuSeconds;
using bench::Median;

namespace {

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
    const bench::TPairsModel P = bench::BuildPairs(Form, Pairs);
    TModel* Model = P.Model;
    Model->SetHeapSize(64);
    Engine.Apply(*Model);
    const double Warmup = Pairs == 1 ? 1000.0 : 8.0 * Pairs;
    const double Window = Pairs == 1 ? 200000.0 : 4.0 * Pairs;
    Model->Simulate(Warmup);
    Model->ClearStatistics();
    const double Start = CpuSeconds();
    Model->Simulate(Warmup + Window);
    R.Seconds = CpuSeconds() - Start;
    R.Customers = P.Exit->Entries();
    for (TQueue* Q : P.Queues)
      R.Flow += double(Q->AverageCount());
    Model->Reset();
  }
  SetMessageHandler(Previous);
  return R;
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
