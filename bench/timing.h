// What the benchmark programs measure with: the CPU time of this thread, and
// the median of a few rounds.
#pragma once

#include <algorithm>
#include <ctime>
#include <vector>

namespace quorin::bench {

// The CPU time of this thread: on a shared machine the wall time also
// counts the other processes' turns.
inline double CpuSeconds() {
  timespec T{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &T);
  return double(T.tv_sec) + 1e-9 * double(T.tv_nsec);
}

// The median of V (the mean of the middle two for an even count).
inline double Median(std::vector<double> V) {
  std::sort(V.begin(), V.end());
  const std::size_t N = V.size();
  return N % 2 ? V[N / 2] : 0.5 * (V[N / 2 - 1] + V[N / 2]);
}

} // namespace quorin::bench
