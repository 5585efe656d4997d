// The report of a run as one self-contained HTML page, and the single-run
// report as JSON. The page shows the run's settings, the model check's
// findings, the diagram with a replay of the first moves of the run, the
// report's tables, every holding block's content over time and every
// tabulator's histogram; with replications (written by the experiment
// layer) also the confidence intervals, the values of every replication and
// the Welch plot. Everything is inlined: opening the page makes no request.
//
//   TRunRecorder Recorder(*Model, {.Horizon = 201000});
//   Model->Simulate(1000); Model->ClearStatistics(); Model->Simulate(201000);
//   TPageInfo Info; Info.Title = "M/M/1"; Info.Warmup = 1000; Info.Until = 201000;
//   std::ofstream Out("mm1.html");
//   WriteReportPage(*Model, &Recorder, Info, Out);
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include "quorin/blocks.h"
#include "quorin/diagram.h"

namespace quorin {

// What a run leaves for the page, kept in buffers of a bounded size that are
// set up once, so that recording allocates nothing per event:
//
// - Content over time of every block that holds transactions over time
//   (queues, stacks, servers, storages, priority queues and storages), as at
//   most Points buckets per block. A block's buckets are brought up to date
//   when its content changes (a pass from or into it, its own activation)
//   and at the end, so an event costs the same whatever the number of
//   blocks; a change made without a pass by another block's handler (a
//   server's Release) is seen within as many events as there are series,
//   one series being looked at in turn at every event. Each bucket keeps the time-weighted mean
//   content over its span and the least and greatest content seen in it.
//   The buckets start Horizon / Points wide (1 time unit without a horizon);
//   when the run passes the last bucket, neighbouring pairs are merged into
//   one (their time-weighted means combined, least and greatest kept) and
//   the width doubles. A run of any length thus ends with between Points / 2
//   and Points buckets.
// - The first Moves passes of the run (time, from, to, transaction), for
//   the replay, and each block's content right after each of them.
// - Which blocks passed transactions to which, for a diagram of a model
//   whose routes live in C++ handlers.
//
// It hooks the model's OnNewTime and OnAfterPass (keeping the model's own
// handlers, which it calls after its own work) and puts them back when
// destroyed. Nothing is hooked, and nothing is paid, when no recorder
// exists. Create it before the first Simulate; blocks are looked up at the
// first event of the run.
class TRunRecorder {
public:
  struct TLimits {
    int32_t Points = 1000; // buckets per block, even, at least 2
    int32_t Moves = 10000; // passes kept for the replay
    double Horizon = 0;    // expected end of the run, for the first width
  };
  struct TBucket {
    double Covered = 0; // time of the bucket's span that the run covered
    double Area = 0;    // integral of the content over it
    int32_t Min = 0, Max = 0;
  };
  struct TSeries {
    TBlock* Block = nullptr;
    std::vector<TBucket> Buckets; // bucket i spans [i * Width, (i + 1) * Width)
    double Since = 0;             // the buckets are complete up to this time
    int32_t Held = 0;             // the content since then
  };
  struct TMove {
    double Time;
    int32_t From, To; // indexes into Blocks()
    int32_t Trans;    // its number; -1 when it entered a terminator
    int32_t FromCount, ToCount;
    uint64_t Serial; // its serial number (TTransaction::Serial)
    int32_t Prty;    // its priority
  };

  explicit TRunRecorder(TModel& Model) : TRunRecorder(Model, TLimits{}) {}
  TRunRecorder(TModel& Model, TLimits Limits);
  ~TRunRecorder();
  TRunRecorder(const TRunRecorder&) = delete;
  TRunRecorder& operator=(const TRunRecorder&) = delete;

  // Adds the time from the last event to the clock (the state after the
  // run's last event); the page writer calls it.
  void Finish();

  const TLimits& Limits() const { return FLimits; }
  double Width() const { return FWidth; }
  // Every block the model gathered, in gathering order.
  const std::vector<TBlock*>& Blocks() const { return FBlocks; }
  const std::vector<TSeries>& Series() const { return FSeries; }
  const std::vector<TMove>& Moves() const { return FMoves; }
  // Passes of the whole run, also those past the replay's limit.
  int64_t Passes() const { return FPasses; }
  // Every pair (From, To) that passed a transaction, in order of first pass.
  std::vector<std::pair<const TBlock*, const TBlock*>> Routes() const;
  // Each stream's seed when the recorder was created, by name.
  const std::vector<std::pair<std::string, int64_t>>& Seeds() const { return FSeeds; }

private:
  void Start();
  int32_t IndexOf(const TBlock* Block) const;
  // Adds S's content from S.Since to Now and takes its content as of now.
  void Sync(TSeries& S, double Now);
  void Add(TSeries& S, double From, double To, int32_t Content);
  void Touch(TSeries& S, double Time, int32_t Content);
  void Halve();

  TModel& FModel;
  TLimits FLimits;
  double FWidth = 1;
  double FLast = 0;
  bool FStarted = false;
  std::vector<TBlock*> FBlocks;
  std::vector<std::pair<const TBlock*, int32_t>> FIndex; // sorted by pointer
  std::vector<int32_t> FSeriesOf;                        // per block: series or -1
  std::vector<uint8_t> FIsTerminator;
  std::vector<TSeries> FSeries;
  std::vector<std::pair<const TAggregate*, int32_t>> FSeriesIndex; // sorted: block, series
  int32_t FActive = -1;  // series of the block activated at the last event, or -1
  std::size_t FTurn = 0; // the series looked at in turn at the next event
  std::vector<TMove> FMoves;
  // (from << 32 | to, order of its first pass), sorted by the key.
  std::vector<std::pair<uint64_t, int32_t>> FRouteKeys;
  int64_t FPasses = 0;
  std::vector<std::pair<std::string, int64_t>> FSeeds;
  TNewTimeEvent FOldNewTime;
  TAfterPassEvent FOldAfterPass;
};

// What the page says about the run beside the model's own state.
struct TPageInfo {
  std::string Title;
  double Warmup = 0;
  double Until = 0;
  // Streams' seeds by name; empty: those the recorder noted.
  std::vector<std::pair<std::string, int64_t>> Seeds;
  // Messages of the run (model check findings, errors), shown at the top.
  std::vector<std::string> Findings;
  // The diagram; when it has no nodes, one is made from the model's blocks
  // and the routes the recorder saw.
  TDiagram Diagram;
  // JSON members added to the page's data as they stand: "replications"
  // and "welch" (written by the experiment layer, see quorin/experiment.h).
  std::vector<std::pair<std::string, std::string>> Extra;
};

// The single-run report as one JSON object: title, model time, warm-up, end,
// seeds, findings, the report's sections with their columns, and one member
// per block with its class, kind, section and every statistic its kind
// keeps, by the column's title ("Mean time": 3.2757...), and a priority
// block that saw more than one class also "classes": one object per class
// with its "priority" and the columns the class keeps. Numbers are
// written in the shortest form that reads back as the same double; a value
// that does not exist is null.
void WriteReportJson(const TModel& Model, const TPageInfo& Info, std::ostream& Out);

// The page. Recorder may be null: the page then has no content plots and
// no replay.
void WriteReportPage(const TModel& Model, TRunRecorder* Recorder, const TPageInfo& Info,
                     std::ostream& Out);

// A page of pictures and tables over several experiments: a comparison of
// two designs (the paired differences of every figure with their intervals)
// or a sweep (each figure against the swept values, with its intervals).
// Data is one JSON object with a "comparison" or a "sweep" member, as the
// quorin command writes them with --json; the page draws what it holds.
// Self-contained like the report page: everything is inlined.
void WriteScenarioPage(const std::string& Title, const std::string& Data, std::ostream& Out);

// Pieces for writers of JSON of their own (the experiment layer's part of
// the page): V in the shortest form that reads back as the same double, or
// null when not finite; S as a JSON string literal that is also safe inside
// an HTML script element.
std::string PageNumber(double V);
std::string PageString(const std::string& S);

} // namespace quorin
