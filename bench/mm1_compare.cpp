// Whole-model comparison: the M/M/1 model of mm1.h run by the hand-written
// event loop and through Quorin; each printed as
// customers per second with the mean wait in queue and the utilisation as a
// sanity check (theory: Wq = 3.2, utilisation 0.8). Both follow the same
// sample path, so their Wq and utilisation agree to rounding.
//
// Each implementation runs the model Repeats times; the run of median wall
// time is printed, since the machine is shared and single runs are noisy.
//
// Usage: mm1_compare [N]   (N customers, default 1000000)
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "mm1.h"

namespace {

constexpr int Repeats = 5;

template <class F> quorin::bench::TRunResult Median(F Run, int64_t N) {
  std::vector<quorin::bench::TRunResult> Runs;
  for (int i = 0; i < Repeats; ++i)
    Runs.push_back(Run(N));
  std::sort(Runs.begin(), Runs.end(),
            [](const auto& A, const auto& B) { return A.Seconds < B.Seconds; });
  return Runs[Runs.size() / 2];
}

double Rate(const quorin::bench::TRunResult& R) {
  return R.Seconds > 0 ? double(R.Customers) / R.Seconds : 0.0;
}

void Print(const char* Label, const quorin::bench::TRunResult& R) {
  std::printf("%-10s customers %lld  time %.3f s  rate %.0f customers/s  Wq %.4f  rho %.4f\n",
              Label, static_cast<long long>(R.Customers), R.Seconds, Rate(R), R.MeanWait,
              R.Utilisation);
}

} // namespace

int main(int argc, char** argv) {
  int64_t N = 1000000;
  if (argc > 1) {
    char* End = nullptr;
    N = std::strtoll(argv[1], &End, 10);
    if (!End || *End != '\0' || N <= 0) {
      std::fprintf(stderr, "usage: %s [customers > 0] [levels|heap|fast|hand]\n", argv[0]);
      return 2;
    }
  }
  // "levels", "heap", "fast" (the heap list with retry on change) or "hand"
  // as a second argument runs that one once and nothing else, for a
  // profiler's instruction counts per customer.
  if (argc > 2) {
    const std::string Only = argv[2];
    if (Only != "levels" && Only != "heap" && Only != "fast" && Only != "hand") {
      std::fprintf(stderr, "usage: %s [customers > 0] [levels|heap|fast|hand]\n", argv[0]);
      return 2;
    }
    const auto List = Only == "levels" ? quorin::TEventList::Levels : quorin::TEventList::Heap;
    const auto Retry = Only == "fast" ? quorin::TRetry::OnChange : quorin::TRetry::EveryScan;
    Print(Only.c_str(), Only == "hand" ? quorin::bench::RunHandLoop(N, 1)
                                       : quorin::bench::RunQuorin(N, List, 0, Retry));
    return 0;
  }
  const auto Hand =
      Median([](int64_t Customers) { return quorin::bench::RunHandLoop(Customers); }, N);
  Print("handloop", Hand);
  std::printf("RATE handloop %.0f\n", Rate(Hand));
  const auto Quorin =
      Median([](int64_t Customers) { return quorin::bench::RunQuorin(Customers); }, N);
  Print("quorin", Quorin);
  std::printf("RATE quorin %.0f\n", Rate(Quorin));
  std::printf("ratio Quorin/hand loop (customers per second): %.4f\n", Rate(Quorin) / Rate(Hand));
  const auto Heap = Median(
      [](int64_t Customers) {
        return quorin::bench::RunQuorin(Customers, quorin::TEventList::Heap);
      },
      N);
  Print("quorin-heap", Heap);
  std::printf("RATE quorin-heap %.0f\n", Rate(Heap));
  std::printf("ratio Quorin heap list/hand loop (customers per second): %.4f\n",
              Rate(Heap) / Rate(Hand));
  // The fast engine: the heap list and retry on change.
  const auto Fast = Median(
      [](int64_t Customers) {
        return quorin::bench::RunQuorin(Customers, quorin::TEventList::Heap, 0,
                                        quorin::TRetry::OnChange);
      },
      N);
  Print("quorin-fast", Fast);
  std::printf("ratio Quorin fast engine/hand loop (customers per second): %.4f\n",
              Rate(Fast) / Rate(Hand));
  // M/M/3 at the same load: three servers of mean service 2.4, a storage of
  // capacity 3 in Quorin.
  const auto Hand3 =
      Median([](int64_t Customers) { return quorin::bench::RunHandLoop(Customers, 3, 2.4); }, N);
  Print("mm3-hand", Hand3);
  const auto Quorin3 = Median(
      [](int64_t Customers) { return quorin::bench::RunQuorinStorage(Customers, 3, 2.4); }, N);
  Print("mm3-quorin", Quorin3);
  std::printf("ratio Quorin/hand loop M/M/3 (customers per second): %.4f\n",
              Rate(Quorin3) / Rate(Hand3));
  return 0;
}
