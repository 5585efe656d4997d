// Experiments: independent replications of a model with confidence
// intervals, run in worker processes (and, in the MPI build, on many ranks),
// plus the helpers around them: a warm-up time series (Welch's method), an
// event trace, a block's content over time and a tabulator's histogram as
// CSV for plotting.
//
// The kernel keeps process-wide state (one model runs at a time per
// process), so every replication runs in a process of its own, forked from a
// parent that never runs a model itself. Each replication therefore starts
// from the same process state, whatever ran before it and whatever the
// number of workers: results are identical replication by replication for
// any number of workers, and a replication that crashes takes only itself
// down.
//
// Random streams. After the model builder returns, the runner seeds every
// TMultiRand on the form (in creation order, depth first) with the start of
// a segment of the one Lehmer sequence x := 950706376 x mod (2^31 - 1):
// stream k of replication r starts at segment j = r * StreamSlots + k, that
// is at BaseSeed * 950706376^(j * StreamStride) mod (2^31 - 1). The
// multiplier is a primitive root (full period 2^31 - 2), so segments of
// StreamStride draws are disjoint as long as (j + 1) * StreamStride stays
// within the period; the runner refuses experiments that would pass it.
// After each replication it finds, exactly, how many numbers each stream
// drew (a discrete logarithm by baby-step giant-step, bounded by the
// stride); a stream that drew StreamStride numbers or more ran into the next
// segment, and its replication is reported as failed.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "quorin/blocks.h"
#include "quorin/report.h"
#include "quorin/statsim.h"

namespace quorin {

// ---------------------------------------------------------------- statistics

// Quantile of Student's t distribution with Df degrees of freedom (Df >= 1)
// at probability P in (0, 1). Answers NaN outside those ranges.
double StudentTQuantile(double P, double Df);
// The cumulative distribution of Student's t.
double StudentTCdf(double T, double Df);

// Summary of a sample: count, mean, sample standard deviation, Student-t
// confidence interval at Level (two-sided), min and max. With fewer than two
// values the deviation and the half-width are NaN.
struct TSummary {
  int32_t N = 0;
  double Mean = 0, StdDev = 0, HalfWidth = 0, Low = 0, High = 0, Min = 0, Max = 0;
};
TSummary Summarise(const std::vector<double>& Values, double Level);

// -------------------------------------------------------------------- seeds

// How the runner gives each stream of a replication its segment.
// Position: stream k (depth first, in creation order) takes slot k, as C++
// experiments always have. Name: a stream takes the slot its name hashes to
// (SlotOf), so a stream keeps its numbers when streams are added to or
// removed from the model, and same-named streams of two designs draw the
// same numbers: common random numbers. Every stream must then be named, and
// the names must fall into different slots (SlotsForNames finds a slot
// count for which they do).
enum class TSeeding : uint8_t { Position, Name };

// The disjoint stream segments of the Lehmer sequence used by the runner.
struct TStreamPlan {
  int64_t BaseSeed = TMultiRand::DefaultSeed; // 1 ... 2^31 - 2
  int64_t StreamStride = int64_t(1) << 20;    // numbers each stream may draw
  int32_t StreamSlots = 8;                    // streams a replication may have
  TSeeding Seeding = TSeeding::Position;

  // The slot of a stream named Name: the 64-bit FNV-1a hash of the name's
  // bytes modulo StreamSlots.
  int32_t SlotOf(const std::string& Name) const;
  // The least power of two, at least Least, for which Names (distinct) fall
  // into different slots; 0 when none up to 2^16 does.
  static int32_t SlotsForNames(const std::vector<std::string>& Names, int32_t Least = 1);

  // Replications the period holds: floor((2^31 - 2) / (Stride * Slots)).
  int64_t MaxReplications() const;
  // The first state of stream Stream of replication Replication.
  int64_t Seed(int32_t Replication, int32_t Stream) const;
  // How many numbers a stream drew to go from Start to Now, if fewer than
  // StreamStride; nullopt otherwise (it left its segment or was reseeded).
  std::optional<int64_t> Draws(int64_t Start, int64_t Now) const;
};

// Seeds every TMultiRand on Form (depth first, in creation order) for
// replication Replication, as the runner does, and answers the seeds; for a
// replication run by hand. Answers the reason in Error and seeds nothing
// when the form has more streams than StreamSlots, a stream has another
// multiplier than the default (the segments are segments of its sequence),
// or, seeding by name, a stream has no name or shares its slot.
std::vector<int64_t> SeedStreams(TComponent& Form, const TStreamPlan& Plan, int32_t Replication,
                                 std::string& Error);

// x^e mod (2^31 - 1).
int64_t PowMod(int64_t X, int64_t E);

// ------------------------------------------------------------------ figures

// One figure of the experiment: either a column of the standard report for
// a block (Block and Column set; Column is the report's title, such as
// "Mean time", "Usage", "Mean cont.") or a value the user computes from the
// model after the run (Compute set). A value that cannot be computed in a
// replication (a mean time of a block nobody left, a user figure that
// answers nullopt or NaN) is missing there: it is left out of that figure's
// statistics and counted in Missing. Substituting 0 would bias the mean.
struct TFigureSpec {
  std::string Name;
  std::string Block;
  std::string Column;
  // A priority class's line of a priority block (0...255), or -1 for the
  // block's own line. A class's figure is missing in a replication whose
  // report has no line for it (the block saw that class alone, or not).
  int32_t Prty = -1;
  std::function<std::optional<double>(TModel& Model)> Compute;

  static TFigureSpec Report(const std::string& Block, const std::string& Column,
                            const std::string& Name = "");
  static TFigureSpec ReportClass(const std::string& Block, int32_t Prty,
                                 const std::string& Column, const std::string& Name = "");
  static TFigureSpec User(const std::string& Name,
                          std::function<std::optional<double>(TModel& Model)> Compute);
};

// The report columns a figure may name.
const std::vector<std::string>& ReportColumns();

// The figures of every tabulator among Root's components (depth first, in
// creation order), four kinds per tabulator: "Mean", "Deviation" (the
// tabulator's own, over the values fed in one replication), "Count", and
// for each bin the fraction of the values that fell into it ("Fraction < 0"
// for the bin below the lower bound, "Fraction [0, 10)" for a regular one,
// "Fraction >= 50" for the one above the last). Block is the tabulator's
// name, Column the statistic. A replication finds the tabulator at the same
// place among the tabulators of its model's application (the topmost owner
// of the model), so Root is that application or a model built like it.
// Where a replication fed no value, the mean, the deviation and the
// fractions are missing; the count is 0.
std::vector<TFigureSpec> TabulatorFigures(const TComponent& Root);

// --------------------------------------------------------------- experiment

// What the model builder receives: the replication's number (from 0) and a
// fresh form. The builder creates the model and its components on the form
// and answers the model; the runner owns the form's owner. The builder and
// the user figures run in the worker process: what they change in memory
// does not reach the caller (files they write do).
// A builder that answers a model made before the runner forked (the Python
// module does, so that the application's own objects keep pointing at it)
// names in StreamsOn the component whose streams the runner seeds and
// checks in place of the form; such a builder resets the model itself.
struct TReplicationContext {
  int32_t Number = 0;
  TComponent* Form = nullptr;
  TComponent* StreamsOn = nullptr;
};
using TBuildModel = std::function<TModel*(TReplicationContext& Context)>;

// An event trace of one replication, bounded by a window of model time.
enum class TTraceFormat : uint8_t { Csv, JsonLines };
struct TTraceOptions {
  std::string File;        // empty: no trace (the default)
  int32_t Replication = 0; // which replication is traced
  double From = 0;         // window of model time, inclusive
  double To = 1e300;
  TTraceFormat Format = TTraceFormat::Csv;
};

struct TExperiment {
  TBuildModel Build;
  // The engine of every replication. True (the default): the runner sets
  // the scalable engine (TEngine::Scalable: the heap event list and retry on
  // change) on the built model, which gives the documented engine's flows
  // and statistics for a model whose routing decides only by whether its
  // receivers take the transaction, and scales with the model. False: the engine that the builder chose (the C++
  // default is the documented one), for a routing that counts its calls,
  // draws numbers or reads other state.
  bool ScalableEngine = true;
  double WarmUp = 0;         // statistics are cleared at this model time; a run
                             // that ends before it fails
  double RunLength = 0;      // measured time after the warm-up. A handler that
                             // calls Model->Stop() ends a replication earlier.
  int32_t Replications = 10; // fixed mode: this many; sequential: at least
  std::vector<TFigureSpec> Figures;
  double Level = 0.95;
  // Worker processes run at once on this machine (at least 1).
  int32_t Jobs = 1;
  // True: the replications run one after another in the calling process,
  // with no fork (Jobs and TimeLimit are not used). For short replications,
  // whose fork costs more than their run; the caller then bears what a
  // worker would (a crash, a hang, what the builder and the handlers change
  // in memory), and no other model may be running. SIGINT stops the
  // replication under way at its next event and starts no further one.
  bool InProcess = false;
  // Sequential mode when above 0: replications continue until every figure
  // named in TargetFigures (all when empty) has HalfWidth / |Mean| below it,
  // or MaxReplications ran. The decision looks only at the first n
  // replications in number order, so it does not depend on Jobs.
  double TargetRelativeHalfWidth = 0;
  std::vector<std::string> TargetFigures;
  int32_t MaxReplications = 200;
  // A replication still running after this many seconds of wall time is
  // killed and reported as failed; 0 means no limit.
  double TimeLimit = 0;
  TStreamPlan Streams;
  TTraceOptions Trace;
  // Values of the caller's own, measured at the end of each successful
  // replication in its worker: name and value. Each name becomes a figure
  // of its own after Figures (in the order the names first appear, by
  // replication number), with an interval like any other; a replication
  // that did not answer a name, or answered a value that is not finite,
  // misses it. An exception fails the replication, as a handler's does.
  std::function<std::vector<std::pair<std::string, double>>(TModel& Model)> Collect;
  // Called in the calling process whenever replications finish: how many
  // have finished, how many at most will run, and the seconds elapsed. For
  // a progress line; the runner itself prints nothing while it runs.
  std::function<void(int32_t Done, int32_t Total, double Seconds)> OnProgress;
};

// The outcome of one replication.
struct TReplicationResult {
  int32_t Number = 0;
  bool Ok = false;
  std::string Error;                         // why it failed, with its seeds
  std::vector<int64_t> Seeds;                // first state of each stream
  std::vector<int64_t> Draws;                // numbers each stream drew
  std::vector<std::optional<double>> Values; // one per figure
  // What Collect answered. The experiment's result also holds these values
  // in Values, after those of the experiment's figures, in its figures' order.
  std::vector<std::pair<std::string, double>> Collected;
  std::vector<double> Series;                // Welch intervals (series runs)
  double ModelTime = 0;                      // clock at the end
  double Seconds = 0;                        // wall time in the worker
};

struct TFigureResult {
  std::string Name;
  TSummary Summary;
  int32_t Missing = 0; // successful replications without a value
};

struct TExperimentResult {
  double Level = 0.95;
  double WarmUp = 0, RunLength = 0;
  // The experiment's figures, then one per name that Collect answered.
  std::vector<TFigureResult> Figures;
  std::vector<TReplicationResult> Replications; // in number order
  int32_t Failed = 0;
  // Replications that an interrupt (SIGINT, in a process that lives on
  // after it) kept from finishing: none starts after it, and those under
  // way are ended; Replications holds what finished before.
  int32_t Interrupted = 0;
  bool Sequential = false;
  bool TargetMet = false;
  double WallSeconds = 0;
  std::string Error; // the experiment itself was refused
};

// Runs the experiment in Jobs worker processes and answers its results.
TExperimentResult RunExperiment(const TExperiment& Experiment);
// Aligned table: figure, mean, +- half-width, level, std dev, min, max, n;
// then the failed replications with their numbers, seeds and reasons.
void PrintExperiment(const TExperimentResult& Result, std::ostream& Out);
// One line per figure, full precision.
void PrintExperimentCsv(const TExperimentResult& Result, std::ostream& Out);
// One JSON object: the settings, the figures and the failed replications
// with their seeds; a number that does not exist (a half-width of one
// value) is null.
void PrintExperimentJson(const TExperimentResult& Result, std::ostream& Out);
// One line per replication and figure: every value, for checking by hand.
void PrintReplicationsCsv(const TExperimentResult& Result, std::ostream& Out);
// One line per failed replication: its number, its streams' seeds, the reason.
void PrintFailures(const TExperimentResult& Result, std::ostream& Out);

// Pieces of the printers above, for printers of one's own (the quorin
// command prints its table of replications with them).
// V as the shortest text that reads back as the same double; "" when V is
// not finite (an empty CSV field).
std::string ExactText(double V);
// V for JSON: ExactText, or null when not finite.
std::string JsonNumber(double V);
// S as a JSON string literal, quotes and escapes included: PageString
// (quorin/page.h), the one escaper of JSON.
std::string JsonString(const std::string& S);
// CsvText, S as one CSV field, is the standard report's (quorin/report.h).
// The seeds separated by spaces, or "none".
std::string SeedList(const std::vector<int64_t>& Seeds);
// The failed replications as a JSON array of {replication, seeds, error}.
void PrintFailuresJson(const TExperimentResult& Result, std::ostream& Out);

#if defined(QUORIN_WITH_MPI)
// The same experiment over the ranks of MPI_COMM_WORLD (the caller has
// called MPI_Init and calls MPI_Finalize). Rank 0 hands out replication
// numbers and gathers the results; every rank, rank 0 included, runs one
// replication at a time in a forked worker process, so Jobs is not used.
// Rank 0 answers the results, identical to RunExperiment's; the other ranks
// answer an empty result once rank 0 has no more work for them. Every rank
// must call it with the same experiment.
TExperimentResult RunExperimentMpi(const TExperiment& Experiment);
#endif

// Runs one replication in this process (no fork): for a worker of one's own
// and for tests. A handler's exception fails the replication like any other
// failure: it leaves every block consistent, so the model is destroyed with
// its form and the process may run the next replication.
TReplicationResult RunReplicationHere(const TExperiment& Experiment, int32_t Number);

// ---------------------------------------------------------------- warm-up

// Welch's method: Replications runs of the model from time 0 (no warm-up
// removed), each cut into intervals of Interval time units up to Horizon;
// the figure is computed over each interval alone (statistics are cleared at
// every boundary). Mean is the average over replications per interval,
// Smoothed its moving average over Window intervals on each side (fewer near
// the start, as Welch prescribes).
struct TWelchResult {
  std::vector<double> Time; // end of each interval
  std::vector<double> Mean;
  std::vector<double> Smoothed;
  std::vector<int32_t> Count; // replications that had a value there
  int32_t Failed = 0;
  std::string Error;
};
TWelchResult RunWelch(const TExperiment& Experiment, const TFigureSpec& Figure, double Interval,
                      double Horizon, int32_t Window);
// "time,mean,smoothed,replications"; a missing mean is an empty cell.
void WriteWelchCsv(const TWelchResult& Welch, std::ostream& Out);

// ------------------------------------------------------ trace and recording

// Writes an event trace of a model: every activation the run loop takes
// (kind "event", the aggregate and the transaction) and every pass (kind
// "pass", from and to) whose time lies in [From, To]. A transaction is
// given by its number (TTransaction::GetTransID, a record number that later
// transactions reuse), its serial number (never reused in a run: follow a
// transaction by it) and its priority. It chains itself
// before the model's own OnNewTime and OnAfterPass handlers and puts them
// back when destroyed (several recorders on one model are destroyed in the
// reverse order of their creation). It also notes, through the OnEnter of
// the terminators present when it is created, the number of a transaction
// before a terminator gives its record back. A model with no trace attached
// pays nothing: the kernel calls those handlers only when they are assigned.
class TTrace {
public:
  TTrace(TModel& Model, std::ostream& Out, TTraceFormat Format, double From = 0, double To = 1e300);
  ~TTrace();
  TTrace(const TTrace&) = delete;
  TTrace& operator=(const TTrace&) = delete;
  int64_t Lines() const { return FLines; }

private:
  void Write(const char* Kind, const TComponent* At, const TComponent* To, TTransaction* Trans);
  TModel& FModel;
  std::ostream& FOut;
  TTraceFormat FFormat;
  double FFrom, FTo;
  int64_t FLines = 0;
  int32_t FLastEnded = -1;              // number of the transaction that last entered a terminator
  uint64_t FLastEndedSerial = 0;        // its serial number
  int32_t FLastEndedPrty = 0;           // its priority
  const TBlock* FLastEndedIn = nullptr; // and that terminator
  TNewTimeEvent FOldNewTime;
  TAfterPassEvent FOldAfterPass;
  std::vector<std::pair<TTerminator*, TOnEnterToBlock>> FTerminators;
};

// Records a block's content (Count) whenever it changes, as (time, content)
// steps; chains itself like TTrace.
class TContentRecorder {
public:
  TContentRecorder(TModel& Model, TBlock& Block);
  ~TContentRecorder();
  TContentRecorder(const TContentRecorder&) = delete;
  TContentRecorder& operator=(const TContentRecorder&) = delete;
  // "time,content", one line per change.
  void WriteCsv(std::ostream& Out) const;
  const std::vector<std::pair<double, int32_t>>& Steps() const { return FSteps; }

private:
  void Sample(double Time);
  TModel& FModel;
  TBlock& FBlock;
  double FLastTime = 0;
  std::vector<std::pair<double, int32_t>> FSteps;
  TNewTimeEvent FOldNewTime;
  TAfterPassEvent FOldAfterPass;
};

// A tabulator's bins as "lower,upper,hits": the underflow bin has an empty
// lower bound and the overflow bin an empty upper bound.
void WriteTabulatorCsv(const TTabulator& Tabulator, std::ostream& Out);

// ------------------------------------------------------------ report page

// The replications as the "replications" member of the report page's data
// (TPageInfo::Extra, quorin/page.h): the settings, one statistic per figure
// (a report figure by its block and column, a user figure by its name) with
// its mean, confidence interval, standard deviation, least and greatest
// value, and the value of every successful replication.
void WriteExperimentPageJson(const TExperiment& Experiment, const TExperimentResult& Result,
                             std::ostream& Out);
// A Welch series as the page's "welch" member.
void WriteWelchPageJson(const TWelchResult& Welch, const std::string& Figure, double Interval,
                        int32_t Window, int32_t Replications, std::ostream& Out);

// The clock as the library formats it in its messages ("0.0000000").
std::string FormatClock(double Time);

} // namespace quorin
