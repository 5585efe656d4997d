// Welch's method for choosing a warm-up: interval means averaged over
// replications, then a centred moving average.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <ostream>

#include "internal.h"

namespace quorin {

TWelchResult RunWelch(const TExperiment& E, const TFigureSpec& Figure, double Interval,
                      double Horizon, int32_t Window) {
  TWelchResult W;
  if (!(Interval > 0) || !(Horizon >= Interval) || !std::isfinite(Horizon) || Window < 0) {
    W.Error = "the interval must be positive, the horizon at least one interval, the window "
              "not negative";
    return W;
  }
  const double Count = std::floor(Horizon / Interval);
  if (Count > 1e6) {
    W.Error = "more than a million intervals";
    return W;
  }
  const int32_t Intervals = int32_t(Count);
  TExperiment Series = E;
  Series.Figures = {Figure};
  if (std::string Error = detail::Validate(Series, Series.Replications); !Error.empty()) {
    W.Error = Error;
    return W;
  }
  detail::TForkExecutor Executor(detail::SeriesWork(Series, Series.Figures[0], Interval, Intervals),
                                 Series.Jobs, Series.TimeLimit, Series.Streams);
  bool Unused = false;
  int32_t Interrupted = 0;
  const auto Reps =
      detail::Drive(Series, Executor, Series.Replications, false, Unused, Interrupted);

  std::vector<double> Sum(size_t(Intervals), 0.0);
  W.Count.assign(size_t(Intervals), 0);
  for (const auto& R : Reps) {
    if (!R.Ok) {
      ++W.Failed;
      continue;
    }
    for (size_t i = 0; i < R.Series.size() && i < Sum.size(); ++i)
      if (!std::isnan(R.Series[i])) Sum[i] += R.Series[i], ++W.Count[i];
  }
  const double NaN = std::numeric_limits<double>::quiet_NaN();
  for (int32_t i = 0; i < Intervals; ++i) {
    W.Time.push_back(Interval * (i + 1));
    W.Mean.push_back(W.Count[size_t(i)] ? Sum[size_t(i)] / W.Count[size_t(i)] : NaN);
  }
  // Welch: the point i (from 1) is smoothed over i - 1 neighbours on each
  // side while i <= Window, over Window on each side after that, and not at
  // all where fewer than Window follow. Missing means are skipped.
  for (int32_t i = 0; i < Intervals; ++i) {
    const int32_t Half = std::min(i, Window);
    if (i + Window >= Intervals) {
      W.Smoothed.push_back(NaN);
      continue;
    }
    double S = 0;
    int32_t N = 0;
    for (int32_t j = i - Half; j <= i + Half; ++j)
      if (!std::isnan(W.Mean[size_t(j)])) S += W.Mean[size_t(j)], ++N;
    W.Smoothed.push_back(N ? S / N : NaN);
  }
  return W;
}

void WriteWelchCsv(const TWelchResult& W, std::ostream& Out) {
  auto Cell = [](double V) {
    if (std::isnan(V)) return std::string();
    char Buffer[64];
    std::snprintf(Buffer, sizeof Buffer, "%.10g", V);
    return std::string(Buffer);
  };
  Out << "time,mean,smoothed,replications\n";
  for (size_t i = 0; i < W.Time.size(); ++i)
    Out << Cell(W.Time[i]) << ',' << Cell(W.Mean[i]) << ',' << Cell(W.Smoothed[i]) << ','
        << W.Count[i] << '\n';
}

} // namespace quorin
