// Whole-model comparison: the M/M/1 model of mm1.h run by the hand-written
// event loop, printed as customers per second with the mean wait in queue and
// the utilisation as a sanity check (theory: Wq = 3.2, utilisation 0.8).
//
// Usage: mm1_compare [N]   (N customers, default 1000000)
#include <cstdio>
#include <cstdlib>

#include "mm1.h"

namespace {

void Print(const char* Label, const quorin::bench::TRunResult& R) {
  std::printf("%-10s customers %lld  time %.3f s  rate %.0f customers/s  Wq %.4f  rho %.4f\n",
              Label, static_cast<long long>(R.Customers), R.Seconds,
              R.Seconds > 0 ? double(R.Customers) / R.Seconds : 0.0, R.MeanWait, R.Utilisation);
}

} // namespace

int main(int argc, char** argv) {
  long long N = 1000000;
  if (argc > 1) {
    char* End = nullptr;
    N = std::strtoll(argv[1], &End, 10);
    if (!End || *End != '\0' || N <= 0) {
      std::fprintf(stderr, "usage: %s [customers > 0]\n", argv[0]);
      return 2;
    }
  }
  const auto Hand = quorin::bench::RunHandLoop(N);
  Print("handloop", Hand);
  std::printf("RATE handloop %.0f\n", double(Hand.Customers) / Hand.Seconds);
  return 0;
}
