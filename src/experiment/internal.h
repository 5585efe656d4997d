// Parts of the experiment runner shared by the local and the MPI drivers.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "quorin/experiment.h"

namespace quorin::detail {

// The work of one replication, run inside a worker process. It calls
// Seeded with the streams' first states as soon as they are set, so that a
// replication that crashes later is still reported with its seeds.
using TSeeded = std::function<void(const std::vector<int64_t>& Seeds)>;
using TWork = std::function<TReplicationResult(int32_t Number, const TSeeded& Seeded)>;

TWork ReplicationWork(const TExperiment& Experiment);
TWork SeriesWork(const TExperiment& Experiment, const TFigureSpec& Figure, double Interval,
                 int32_t Intervals);

// Refuses what cannot run: answers the reason, or an empty string.
std::string Validate(const TExperiment& Experiment, int64_t Replications);

// A replication result as bytes and back (exact: doubles are copied bit for bit).
std::string Serialise(const TReplicationResult& Result);
bool Deserialise(const std::string& Bytes, TReplicationResult& Result);

// Something that runs replications in Slots() places at once.
class TExecutor {
public:
  virtual ~TExecutor() = default;
  virtual int32_t Slots() const = 0;
  virtual int32_t Busy() const = 0;
  virtual void Start(int32_t Number) = 0;
  // Waits up to TimeoutMs (-1: until one is done) and answers the finished ones.
  virtual std::vector<TReplicationResult> Wait(int TimeoutMs) = 0;
  // Kills what still runs; its results are dropped.
  virtual void Cancel() = 0;
};

// Runs each replication in a process forked for it, with a pipe back.
class TForkExecutor : public TExecutor {
public:
  TForkExecutor(TWork Work, int32_t Slots, double TimeLimit, const TStreamPlan& Plan);
  ~TForkExecutor() override;
  int32_t Slots() const override { return FSlots; }
  int32_t Busy() const override { return int32_t(FChildren.size()); }
  void Start(int32_t Number) override;
  std::vector<TReplicationResult> Wait(int TimeoutMs) override;
  void Cancel() override;

private:
  struct TChild {
    pid_t Pid;
    int Fd;
    int32_t Number;
    std::string Bytes;
    std::chrono::steady_clock::time_point Started;
    bool Killed = false;
    std::string StartError; // why no worker could be started
  };
  TReplicationResult Finish(TChild& Child);
  TWork FWork;
  int32_t FSlots;
  double FTimeLimit;
  TStreamPlan FPlan;
  std::vector<TChild> FChildren;
};

// Hands replication numbers to the executor in order and gathers results.
// In sequential mode it stops at the first n >= Minimum whose first n
// results meet the target; the answer then holds exactly those n.
std::vector<TReplicationResult> Drive(const TExperiment& Experiment, TExecutor& Executor,
                                      int32_t Limit, bool Sequential, bool& TargetMet);

// Summaries per figure from the replication results.
TExperimentResult Conclude(const TExperiment& Experiment, std::vector<TReplicationResult> Reps,
                           bool Sequential, bool TargetMet, double WallSeconds);

// Whether the first results meet the sequential target.
bool TargetReached(const TExperiment& Experiment, const std::vector<TReplicationResult>& Reps);

} // namespace quorin::detail
