// Replications of a model file for `quorin run --replications N`: the
// experiment that runs them, the table of the standard report's statistics
// over the replications (text, CSV, JSON), and the progress line.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "quorin/experiment.h"
#include "quorin/report.h"

namespace quorin::tool {

// Where a statistic of the replications' table comes from: a column of a
// block's line of the standard report, a tabulator (TabulatorFigures), or a
// value that the caller's own function collected (TExperiment::Collect).
enum class TOrigin : uint8_t { Block, Tabulator, Collected };

// One statistic of the replications' table. A tabulator's: Block is its
// name, Class "TTabulator", Column the statistic ("Mean", "Fraction [0, 10)").
// A collected value's: Block and Class empty, Column its name.
struct TStatistic {
  std::string Block;
  std::string Class;
  TReportKind Kind = TReportKind::Other;
  std::string Column;
  int32_t Prty = -1; // a priority class's line, or -1 for the block's
  TOrigin Origin = TOrigin::Block;
  // How a replication computes a tabulator's statistic.
  std::function<std::optional<double>(TModel& Model)> Compute{};
};


// Every statistic that the standard report keeps for Rows (every gathered
// block, every column that its kind keeps and its class has), in report
// order; for a priority block, also those of every priority class (which
// classes a run sees is known only after it, so all 256 are asked for, and
// the tables leave out the classes no replication reported). Answers the reason in Error when two blocks share a name: the
// runner finds a block's line by its name.
std::vector<TStatistic> ReportStatistics(const std::vector<TReportRow>& Rows, std::string& Error);
// Appends the statistics of every tabulator among Root's components (the
// model's application): see TabulatorFigures.
void AddTabulatorStatistics(const TComponent& Root, std::vector<TStatistic>& Statistics);
// Appends a statistic for every figure of Result beyond Statistics: the
// collected values, which are known only once the replications ran.
void AddCollectedStatistics(const TExperimentResult& Result, std::vector<TStatistic>& Statistics);
// Whether the tables show a statistic: a priority class or a tabulator's bin
// is left out when no replication gave it a value.
bool Reported(const TStatistic& S, const TFigureResult& F);

// What `run --replications` asks for.
struct TReplicationSettings {
  std::string Path; // the model file, named in the replications' messages
  std::string Text; // its text, loaded afresh on each replication's form
  int32_t Replications = 2;
  int32_t Jobs = 1;
  double Level = 0.95;
  double Warmup = 0;
  double Until = 0;
  int64_t BaseSeed = TMultiRand::DefaultSeed;
  // The names of the file's random streams (for a comparison: of both
  // files). Streams are seeded by name: the slot count is the least that
  // parts these names (TStreamPlan::SlotsForNames).
  std::vector<std::string> StreamNames;
};

// The experiment: a builder that loads the file onto the replication's form,
// one report figure per statistic, the run ending at Until exactly, and
// streams seeded by name, given the longest disjoint segments that
// Replications x slots segments leave (a power of two, so a longer run can
// draw more numbers).
TExperiment ReplicationExperiment(const TReplicationSettings& Settings,
                                  const std::vector<TStatistic>& Statistics);

// The results with what they are results of.
struct TReplicatedReport {
  std::string Title; // the file's title, printed first when not empty
  double Until = 0;
  std::vector<TStatistic> Statistics; // one per figure of Result, in order
  TExperimentResult Result;
};

// The replications and the settings in one line, then one table per kind
// of block as in the standard report: per block and statistic the mean, the
// confidence half-width at the level, the standard deviation, the least and
// the greatest value and the number of values. Counts of special exits
// (Preempt, Time limit) are left out while every replication counted 0.
// The statistics of a priority class follow their block's ("  priority P"),
// for the classes that some replication reported. Then the tabulators (a
// bin's fraction left out while it was 0 in every replication) and the
// collected values.
void PrintReplicatedReport(const TReplicatedReport& Report, std::ostream& Out);
// The same statistics as CSV, all of them (of the classes, those reported),
// numbers in full precision and a number that does not exist as an empty
// field; a class's rows carry its priority in the last column.
void PrintReplicatedCsv(const TReplicatedReport& Report, std::ostream& Out);
// The same as one JSON object, with the failed replications and their seeds;
// a number that does not exist is null; a class's rows carry "priority".
void PrintReplicatedJson(const TReplicatedReport& Report, std::ostream& Out);

// A number for the eye: six significant digits, no exponent unless very
// small or large, no trailing zeros; "-" for NaN.
std::string TableNumber(double V);
// Rows as columns padded to their widest cell: the first TextColumns
// columns left-aligned, the others right-aligned.
void PrintAligned(const std::vector<std::vector<std::string>>& Table, size_t TextColumns,
                  std::ostream& Out);

// The progress of the replications on standard error when that is a
// terminal: one line, overwritten in place as replications finish, with the
// time elapsed and an estimate of the time left; cleared by Clear or at the
// end of its life. Prints nothing when disabled.
class TProgressLine {
public:
  explicit TProgressLine(bool Enabled) : FEnabled(Enabled) {}
  ~TProgressLine() { Clear(); }
  TProgressLine(const TProgressLine&) = delete;
  TProgressLine& operator=(const TProgressLine&) = delete;
  void Show(int32_t Done, int32_t Total, double Seconds);
  // What is counted ("replications", "runs").
  void SetNoun(const std::string& Noun) { FNoun = Noun; }
  void Clear();

private:
  bool FEnabled;
  bool FShown = false;
  std::string FNoun = "replications";
};

} // namespace quorin::tool
