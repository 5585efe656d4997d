// Parts of the experiment runner shared by its files: replication.cpp (one
// replication in this process), wire.cpp (results and seeds as bytes between
// a worker and its parent), fork.cpp and mpi.cpp (the executors), driver.cpp
// (handing out replications, summaries) and print.cpp (the tables).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "quorin/experiment.h"

namespace quorin::detail {

using Clock = std::chrono::steady_clock;

inline double SecondsSince(Clock::time_point Start) {
  return std::chrono::duration<double>(Clock::now() - Start).count();
}

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
// A replication's seeds, which a worker sends as soon as it knows them; the
// seeds that a torn message holds, or none.
std::string SerialiseSeeds(const std::vector<int64_t>& Seeds);
std::vector<int64_t> DeserialiseSeeds(const std::string& Bytes);

// Frames on a worker's pipe: a kind byte, a length, the bytes.
constexpr char SeedsFrame = 'S', ResultFrame = 'R';
std::string Frame(char Kind, const std::string& Bytes);
// Splits the bytes a worker sent into its frames; false if they are torn.
bool ReadFrames(const std::string& Bytes, std::vector<std::pair<char, std::string>>& Frames);

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
  // Whether an interrupt (SIGINT) came while it ran.
  virtual bool Interrupted() const { return false; }
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
  bool Interrupted() const override;

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

// Runs each replication in this process as it is started: one slot, no
// fork, no time limit. SIGINT stops the replication under way and is then
// passed on to the process's own handler.
class TLocalExecutor : public TExecutor {
public:
  explicit TLocalExecutor(TWork Work);
  ~TLocalExecutor() override;
  TLocalExecutor(const TLocalExecutor&) = delete;
  TLocalExecutor& operator=(const TLocalExecutor&) = delete;
  int32_t Slots() const override { return 1; }
  int32_t Busy() const override { return int32_t(FDone.size()); }
  void Start(int32_t Number) override;
  std::vector<TReplicationResult> Wait(int TimeoutMs) override;
  void Cancel() override { FDone.clear(); }
  bool Interrupted() const override;

private:
  TWork FWork;
  std::vector<TReplicationResult> FDone;
  bool FInstalled = false;
};

// Hands replication numbers to the executor in order and gathers results.
// In sequential mode it stops at the first n >= Minimum whose first n
// results meet the target; the answer then holds exactly those n. After an
// interrupt it starts no more and answers at once what finished before it,
// in number order; Interrupted counts the replications that did not finish.
std::vector<TReplicationResult> Drive(const TExperiment& Experiment, TExecutor& Executor,
                                      int32_t Limit, bool Sequential, bool& TargetMet,
                                      int32_t& Interrupted);

// Summaries per figure from the replication results.
TExperimentResult Conclude(const TExperiment& Experiment, std::vector<TReplicationResult> Reps,
                           bool Sequential, bool TargetMet, double WallSeconds);

// Whether the first results meet the sequential target.
bool TargetReached(const TExperiment& Experiment, const std::vector<TReplicationResult>& Reps);

} // namespace quorin::detail
