// Whole-model comparison: the two-class preemptive-priority model of
// priority.h run by the hand-written event loop and through Quorin, with
// both of Quorin's engines: the default (levels event list, every blocked
// block retried at every scan) and the fast one (heap event list, retry on
// change). Each is printed as customers per second with the mean wait of
// each class and the utilisation beside the theory of the preemptive-resume
// M/M/1 with two classes of equal service rate.
//
// All implementations follow the same sample path, so the program checks
// that each Quorin engine gives the hand loop's figures (departures per
// class and model end time exactly, the means to 1e-9 relative) and exits
// with status 1 if one does not.
//
// Each implementation runs the model Repeats times; the run of median wall
// time is printed, since the machine is shared and single runs are noisy.
//
// Usage: priority_compare [N [levels|fast|hand]]   (N departures, default 1000000)
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "priority.h"

namespace {

using quorin::bench::TClassResult;
using quorin::bench::TPriorityResult;

constexpr int Repeats = 5;

// Theory. Urgent customers see an M/M/1 of their own class: time in system
// 1/(mu - lambda1). A normal customer's time in system is
// (1/mu) / ((1 - rho1)(1 - rho)). The waits are those less the mean service.
constexpr double Mu = 1.0 / quorin::bench::MeanPriorityService;
constexpr double Lambda1 = 1.0 / quorin::bench::MeanUrgentInterarrival;
constexpr double Lambda2 = 1.0 / quorin::bench::MeanNormalInterarrival;
constexpr double Rho1 = Lambda1 / Mu;
constexpr double Rho = (Lambda1 + Lambda2) / Mu;
constexpr double UrgentWaitTheory = 1.0 / (Mu - Lambda1) - 1.0 / Mu;
constexpr double NormalWaitTheory = (1.0 / Mu) / ((1.0 - Rho1) * (1.0 - Rho)) - 1.0 / Mu;

template <class F> TPriorityResult Median(F Run, int64_t N) {
  std::vector<TPriorityResult> Runs;
  for (int i = 0; i < Repeats; ++i)
    Runs.push_back(Run(N));
  std::sort(Runs.begin(), Runs.end(),
            [](const auto& A, const auto& B) { return A.Seconds < B.Seconds; });
  return Runs[Runs.size() / 2];
}

double Rate(const TPriorityResult& R) {
  return R.Seconds > 0 ? double(R.Customers) / R.Seconds : 0.0;
}

void Print(const char* Label, const TPriorityResult& R) {
  std::printf("%-14s customers %lld  time %.3f s  rate %.0f customers/s\n", Label,
              static_cast<long long>(R.Customers), R.Seconds, Rate(R));
  std::printf("%-14s   urgent: %lld left, Wq %.4f (theory %.4f), in line %.4f\n", "",
              static_cast<long long>(R.Urgent.Departed), R.Urgent.MeanWait, UrgentWaitTheory,
              R.Urgent.MeanLine);
  std::printf("%-14s   normal: %lld left, Wq %.4f (theory %.4f), in line %.4f\n", "",
              static_cast<long long>(R.Normal.Departed), R.Normal.MeanWait, NormalWaitTheory,
              R.Normal.MeanLine);
  std::printf("%-14s   rho %.4f (theory %.4f)\n", "", R.Utilisation, Rho);
}

bool Close(double A, double B) {
  return std::fabs(A - B) <= 1e-9 * std::max(std::fabs(A), std::fabs(B));
}

bool SameClass(const TClassResult& A, const TClassResult& B) {
  return A.Departed == B.Departed && Close(A.MeanWait, B.MeanWait) && Close(A.MeanLine, B.MeanLine);
}

// True when R follows the hand loop's sample path; else says where it left it.
bool SamePath(const char* Label, const TPriorityResult& R, const TPriorityResult& Hand) {
  if (R.Customers == Hand.Customers && R.EndTime == Hand.EndTime &&
      SameClass(R.Urgent, Hand.Urgent) && SameClass(R.Normal, Hand.Normal) &&
      Close(R.Utilisation, Hand.Utilisation))
    return true;
  std::fprintf(
      stderr,
      "MISMATCH %s against the hand loop: end time %.17g / %.17g, urgent %lld / %lld "
      "Wq %.17g / %.17g line %.17g / %.17g, normal %lld / %lld Wq %.17g / %.17g "
      "line %.17g / %.17g, rho %.17g / %.17g\n",
      Label, R.EndTime, Hand.EndTime, static_cast<long long>(R.Urgent.Departed),
      static_cast<long long>(Hand.Urgent.Departed), R.Urgent.MeanWait, Hand.Urgent.MeanWait,
      R.Urgent.MeanLine, Hand.Urgent.MeanLine, static_cast<long long>(R.Normal.Departed),
      static_cast<long long>(Hand.Normal.Departed), R.Normal.MeanWait, Hand.Normal.MeanWait,
      R.Normal.MeanLine, Hand.Normal.MeanLine, R.Utilisation, Hand.Utilisation);
  return false;
}

int Usage(const char* Program) {
  std::fprintf(stderr, "usage: %s [customers > 0] [levels|fast|hand]\n", Program);
  return 2;
}

} // namespace

int main(int argc, char** argv) {
  using quorin::TEventList;
  using quorin::TRetry;
  using quorin::bench::RunPriorityHandLoop;
  using quorin::bench::RunPriorityQuorin;

  int64_t N = 1000000;
  if (argc > 1) {
    char* End = nullptr;
    N = std::strtoll(argv[1], &End, 10);
    if (!End || *End != '\0' || N <= 0) return Usage(argv[0]);
  }
  // "levels" (the default engine), "fast" (the heap list with retry on
  // change) or "hand" as a second argument runs that one once and nothing
  // else, for a profiler's instruction counts per customer.
  if (argc > 2) {
    const std::string Only = argv[2];
    if (Only == "hand")
      Print("hand", RunPriorityHandLoop(N));
    else if (Only == "levels")
      Print("levels", RunPriorityQuorin(N));
    else if (Only == "fast")
      Print("fast", RunPriorityQuorin(N, TEventList::Heap, TRetry::OnChange));
    else
      return Usage(argv[0]);
    return 0;
  }

  const auto Hand = Median([](int64_t Customers) { return RunPriorityHandLoop(Customers); }, N);
  Print("handloop", Hand);
  const auto Levels = Median([](int64_t Customers) { return RunPriorityQuorin(Customers); }, N);
  Print("quorin", Levels);
  const auto Fast = Median(
      [](int64_t Customers) {
        return RunPriorityQuorin(Customers, TEventList::Heap, TRetry::OnChange);
      },
      N);
  Print("quorin-fast", Fast);
  std::printf("ratio Quorin/hand loop (customers per second): %.4f\n", Rate(Levels) / Rate(Hand));
  std::printf("ratio Quorin fast engine/hand loop (customers per second): %.4f\n",
              Rate(Fast) / Rate(Hand));
  const bool LevelsSame = SamePath("quorin", Levels, Hand);
  const bool FastSame = SamePath("quorin-fast", Fast, Hand);
  if (!LevelsSame || !FastSame) return 1;
  std::printf("sample paths: both engines give the hand loop's figures\n");
  return 0;
}
