// Whole-model comparison: three models, each run by a hand-written event
// loop and through Quorin on every engine, printed as one table per model:
// customers per second, time per customer and its ratio to the hand loop.
//
//   M/M/1     arrival rate 1, one server of mean service 0.8 (mm1.h)
//   M/M/3     the same arrivals, three servers of mean service 2.4 (a
//             storage of capacity 3 in Quorin)
//   priority  two classes with preemptive resume (priority.h)
//
// Every implementation follows the same sample path, so each row also says
// whether it gave the hand loop's figures (departures, end time, means to
// 1e-9 relative); the program exits with status 1 if one did not. The
// Quorin models are routed by fixed routes (TBlock::SetRoute) on every
// engine, as a model file's PassTo routings are.
//
// The implementations of a model run in turn, Rounds times over, so that a
// load on the shared machine hits them alike; each row shows the median.
//
// Usage: mm1_compare [N]                 (N customers per run, default 1000000)
//        mm1_compare N MODEL IMPL        one run of one implementation, for a
//                                        profiler: MODEL mm1|mm3|priority,
//                                        IMPL hand|documented|scalable|fast
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "mm1.h"
#include "priority.h"

namespace {

using quorin::TEngine;
using quorin::bench::TPriorityResult;
using quorin::bench::Median;
using quorin::bench::TRunResult;

constexpr int Rounds = 5;

// What a row compares: customers, wall time and the figures of the path.
struct TOutcome {
  int64_t Customers = 0;
  double Seconds = 0.0;
  double EndTime = 0.0;
  std::vector<double> Figures; // means that the hand loop must match
};

TOutcome FromRun(const TRunResult& R) {
  return {R.Customers, R.Seconds, R.EndTime, {R.MeanWait, R.Utilisation}};
}

TOutcome FromPriority(const TPriorityResult& R) {
  return {R.Customers,
          R.Seconds,
          R.EndTime,
          {double(R.Urgent.Departed), R.Urgent.MeanWait, R.Urgent.MeanLine,
           double(R.Normal.Departed), R.Normal.MeanWait, R.Normal.MeanLine, R.Utilisation}};
}

using TRun = std::function<TOutcome(int64_t N)>;

struct TImplementation {
  const char* Name;
  TRun Run;
};

struct TModelRuns {
  const char* Name;
  std::vector<TImplementation> Rows; // the hand loop first
};

std::vector<TModelRuns> Models() {
  using namespace quorin::bench;
  const struct {
    const char* Name;
    TEngine Engine;
  } Engines[] = {{"documented", TEngine::Documented},
                 {"scalable", TEngine::Scalable},
                 {"fast", TEngine::Fast}};
  std::vector<TModelRuns> All;
  auto Queueing = [&](const char* Name, int32_t Servers, double Service) {
    TModelRuns M{Name, {{"hand loop", [=](int64_t N) {
                           return FromRun(RunHandLoop(N, Servers, Service));
                         }}}};
    for (const auto& E : Engines)
      M.Rows.push_back({E.Name, [=, Engine = E.Engine](int64_t N) {
                          return FromRun(RunQuorinEngine(N, Servers, Service, Engine));
                        }});
    All.push_back(M);
  };
  Queueing("M/M/1", 1, MeanService);
  Queueing("M/M/3", 3, 3 * MeanService);
  TModelRuns P{"priority",
               {{"hand loop", [](int64_t N) { return FromPriority(RunPriorityHandLoop(N)); }}}};
  for (const auto& E : Engines)
    P.Rows.push_back({E.Name, [Engine = E.Engine](int64_t N) {
                        return FromPriority(RunPriorityQuorin(N, Engine));
                      }});
  All.push_back(P);
  return All;
}

bool Close(double A, double B) {
  return std::fabs(A - B) <= 1e-9 * std::max(std::fabs(A), std::fabs(B));
}

bool SamePath(const TOutcome& R, const TOutcome& Hand) {
  if (R.Customers != Hand.Customers || R.EndTime != Hand.EndTime) return false;
  for (std::size_t i = 0; i < R.Figures.size(); ++i)
    if (!Close(R.Figures[i], Hand.Figures[i])) return false;
  return true;
}

// Runs every implementation of M Rounds times in turn and prints the table;
// answers whether all followed the hand loop's path.
bool Table(const TModelRuns& M, int64_t N) {
  std::vector<std::vector<double>> Seconds(M.Rows.size());
  std::vector<TOutcome> Last(M.Rows.size());
  for (int r = 0; r < Rounds; ++r)
    for (std::size_t i = 0; i < M.Rows.size(); ++i) {
      Last[i] = M.Rows[i].Run(N);
      Seconds[i].push_back(Last[i].Seconds);
    }
  std::printf("\n%s, %lld customers, median of %d alternating runs\n", M.Name,
              static_cast<long long>(N), Rounds);
  std::printf("| %-10s | %14s | %16s | %15s | %s |\n", "run by", "customers/s", "ns per customer",
              "time/hand loop", "same path");
  std::printf("|------------|----------------|------------------|-----------------|-----------|\n");
  const double Hand = Median(Seconds[0]);
  bool All = true;
  for (std::size_t i = 0; i < M.Rows.size(); ++i) {
    const double S = Median(Seconds[i]);
    const bool Same = SamePath(Last[i], Last[0]);
    All = All && Same;
    std::printf("| %-10s | %14.0f | %16.1f | %15.2f | %-9s |\n", M.Rows[i].Name, double(N) / S,
                S / double(N) * 1e9, S / Hand, Same ? "yes" : "NO");
  }
  // The M/M/1 rates for compare.sh, which sets them against SimPy.
  if (std::string(M.Name) == "M/M/1") {
    const char* Keys[] = {"handloop", "quorin", "quorin-scalable", "quorin-fast"};
    for (std::size_t i = 0; i < M.Rows.size() && i < 4; ++i)
      std::printf("RATE %s %.0f\n", Keys[i], double(N) / Median(Seconds[i]));
  }
  return All;
}

int Usage(const char* Program) {
  std::fprintf(stderr,
               "usage: %s [customers > 0 [mm1|mm3|priority hand|documented|scalable|fast]]\n",
               Program);
  return 2;
}

} // namespace

int main(int argc, char** argv) {
  int64_t N = 1000000;
  if (argc > 1) {
    char* End = nullptr;
    N = std::strtoll(argv[1], &End, 10);
    if (!End || *End != '\0' || N <= 0) return Usage(argv[0]);
  }
  const std::vector<TModelRuns> All = Models();
  if (argc == 4) {
    const std::string Model = argv[2], Impl = argv[3] == std::string("hand") ? "hand loop" : argv[3];
    const char* Names[] = {"mm1", "mm3", "priority"};
    for (std::size_t m = 0; m < All.size(); ++m)
      for (const TImplementation& I : All[m].Rows)
        if (Model == Names[m] && Impl == I.Name) {
          const TOutcome R = I.Run(N);
          std::printf("%s %s: %lld customers in %.3f s\n", Names[m], I.Name,
                      static_cast<long long>(R.Customers), R.Seconds);
          return 0;
        }
    return Usage(argv[0]);
  }
  if (argc != 1 && argc != 2) return Usage(argv[0]);
  bool Same = true;
  for (const TModelRuns& M : All)
    Same = Table(M, N) && Same;
  if (!Same) {
    std::fprintf(stderr, "a run left the hand loop's sample path\n");
    return 1;
  }
  return 0;
}
