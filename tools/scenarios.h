// Scenarios of a model file: two designs compared on common random numbers
// (`quorin compare`), and one design over a grid of property values
// (`quorin sweep`). The tables they print, as text, CSV and JSON.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "replications.h"

namespace quorin::tool {

// One figure that both designs have (same block name and statistic), over
// the replications in which both have a value, paired by number.
struct TPairedFigure {
  TStatistic Statistic;
  int32_t N = 0;            // pairs
  double MeanA = 0, MeanB = 0;
  double Difference = 0;    // mean of B - A
  double HalfWidth = 0;     // paired-t half-width of the difference
  // The half-width that independent runs of the same number would give
  // (Welch's interval from the two samples' own variances).
  double IndependentHalfWidth = 0;
  bool ExcludesZero() const;
};

struct TComparison {
  std::string PathA, PathB;
  int32_t Replications = 0, FailedA = 0, FailedB = 0;
  double Level = 0.95, Warmup = 0, Until = 0;
  std::vector<TPairedFigure> Figures; // in A's report order
};

// The figures both results have, paired by replication.
std::vector<TPairedFigure> PairFigures(const std::vector<TStatistic>& StatsA,
                                       const TExperimentResult& A,
                                       const std::vector<TStatistic>& StatsB,
                                       const TExperimentResult& B, double Level);

void PrintComparison(const TComparison& C, std::ostream& Out);
void PrintComparisonCsv(const TComparison& C, std::ostream& Out);
void PrintComparisonJson(const TComparison& C, std::ostream& Out);

// One --set of a sweep: Block.Property and its values.
struct TSetting {
  std::string Component, Property;
  std::vector<std::string> Values;
};
// Reads "Block.Property=v1,v2,..."; false with Error otherwise.
bool ParseSetting(const std::string& Text, TSetting& Setting, std::string& Error);
// The grid: every combination of values, the first setting varying slowest.
std::vector<std::vector<std::string>> Grid(const std::vector<TSetting>& Settings);

struct TSweepRow {
  std::vector<std::string> Values; // one per setting
  std::vector<TStatistic> Statistics;
  TExperimentResult Result;
};
struct TSweep {
  std::string Path;
  std::vector<TSetting> Settings;
  int32_t Replications = 0;
  double Level = 0.95, Warmup = 0, Until = 0;
  std::vector<TSweepRow> Rows;
};
void PrintSweep(const TSweep& S, std::ostream& Out);
void PrintSweepCsv(const TSweep& S, std::ostream& Out);
void PrintSweepJson(const TSweep& S, std::ostream& Out);

} // namespace quorin::tool
