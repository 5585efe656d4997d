// A console reporter that also keeps the CPU time per iteration of every run, so
// that a benchmark program can print the ratio of two benchmark families
// measured in the same process. With repetitions, each side's median is used.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace quorin::bench {

class TRatioReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& Reports) override {
    for (const Run& R : Reports) {
      if (R.run_type != Run::RT_Iteration || R.error_occurred || R.iterations <= 0) continue;
      // CPU time: on a shared machine the wall time also counts the other
      // processes' turns, which differ from one benchmark to the next.
      const double Seconds = R.cpu_accumulated_time / double(R.iterations);
      FSeconds[{R.run_name.function_name, R.run_name.args}].push_back(Seconds);
    }
    ConsoleReporter::ReportRuns(Reports);
  }

  // Median seconds per iteration of Family at Args, or a negative value when
  // the benchmark did not run (filtered out, or failed).
  double Median(const std::string& Family, const std::string& Args) const {
    auto It = FSeconds.find({Family, Args});
    if (It == FSeconds.end() || It->second.empty()) return -1.0;
    std::vector<double> V = It->second;
    std::sort(V.begin(), V.end());
    const std::size_t N = V.size();
    return N % 2 ? V[N / 2] : 0.5 * (V[N / 2 - 1] + V[N / 2]);
  }

  // Prints "Label: Numerator/Denominator = ratio" for one argument value.
  void PrintRatio(const std::string& Label, const std::string& Numerator,
                  const std::string& Denominator, const std::string& Args) const {
    const double Num = Median(Numerator, Args);
    const double Den = Median(Denominator, Args);
    if (Num <= 0.0 || Den <= 0.0) {
      std::printf("%-28s not measured\n", Label.c_str());
      return;
    }
    std::printf("%-28s %8.1f ns vs %8.1f ns  ratio %.3f\n", Label.c_str(), Num * 1e9, Den * 1e9,
                Num / Den);
  }

private:
  std::map<std::pair<std::string, std::string>, std::vector<double>> FSeconds;
};

} // namespace quorin::bench
