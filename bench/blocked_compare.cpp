// The cost of blocked blocks: the M/M/1 model of mm1.h through Quorin with
// B = 0, 10, 100 and 1000 blocked blocks beside it (see RunQuorin), each
// timed in the same run, with both retry modes of the chain. Prints the time
// per customer and its ratio to B = 0 of the same mode. Every B follows the
// same sample path (the blocked blocks draw no numbers); the shorter runs
// stop earlier on it, so their mean wait differs.
//
//   blocked_compare [customers > 0]
//
// The runs with many blocked blocks and retry at every scan serve fewer
// customers (at least 2000), so that the whole program stays within seconds.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "mm1.h"

namespace {

constexpr int Repeats = 3;

double SecondsPerCustomer(int64_t N, int32_t Blocked, quorin::TRetry Retry, double& MeanWait) {
  std::vector<double> Times;
  for (int i = 0; i < Repeats; ++i) {
    const auto R = quorin::bench::RunQuorin(N, quorin::TEventList::Levels, Blocked, Retry);
    Times.push_back(R.Seconds / double(R.Customers));
    MeanWait = R.MeanWait;
  }
  std::sort(Times.begin(), Times.end());
  return Times[Times.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
  int64_t N = 200000;
  if (argc > 1) {
    char* End = nullptr;
    N = std::strtoll(argv[1], &End, 10);
    if (!End || *End != '\0' || N <= 0) {
      std::fprintf(stderr, "usage: %s [customers > 0]\n", argv[0]);
      return 2;
    }
  }
  for (const auto Retry : {quorin::TRetry::EveryScan, quorin::TRetry::OnChange}) {
    const bool Every = Retry == quorin::TRetry::EveryScan;
    double Base = 0;
    for (const int32_t B : {0, 10, 100, 1000}) {
      const int64_t Customers =
          B == 0 || !Every ? N : std::max<int64_t>(2000, std::min<int64_t>(N, 40 * N / B));
      double MeanWait = 0;
      const double PerCustomer = SecondsPerCustomer(Customers, B, Retry, MeanWait);
      if (B == 0) Base = PerCustomer;
      std::printf("%-9s blocked %4d  customers %8lld  %8.3f us per customer  Wq %.4f  "
                  "ratio to B=0: %.2f\n",
                  Every ? "EveryScan" : "OnChange", B, static_cast<long long>(Customers),
                  PerCustomer * 1e6, MeanWait, PerCustomer / Base);
    }
  }
  return 0;
}
