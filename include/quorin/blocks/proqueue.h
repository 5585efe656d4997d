// Statistics of a block that holds transactions over model time.
#pragma once

#include <cstdint>
#include <variant>
#include <vector>

#include "quorin/kernel/block.h"

namespace quorin {

// Population deviation from a sum, a sum of squares and a count: 0 for a
// count of 1 or less, and 0 when rounding makes the variance come out
// slightly negative (equal values), instead of the square root of it.
long double PopulationDeviation(long double Sum, long double SumSqr, int32_t N);

// A sum of a statistic in the precision of the run's engine: 80-bit, or
// double on the fast engine (see detail::StatsInDouble), which saves the x87
// arithmetic and leaves the report's printed digits as they are. The sum
// holds a value of the one type its run adds in: Add<TReal> adds in TReal,
// and the first Add after Clear takes that type on (0 is 0 in either).
// Readers get the value as long double, whichever type holds it.
class TStatSum {
public:
  template <class TReal> void Add(TReal X) {
    if (TReal* Sum = std::get_if<TReal>(&FValue)) [[likely]]
      *Sum += X;
    else
      FValue.template emplace<TReal>(static_cast<TReal>(Value()) + X);
  }
  long double Value() const {
    return std::visit([](auto V) { return static_cast<long double>(V); }, FValue);
  }
  void Clear() { FValue = 0.0L; }

private:
  std::variant<long double, double> FValue = 0.0L;
};

// The statistics of one priority class of a block: the transactions that
// entered and left it as that class, the time they stayed and how many of
// them the block held over time. A transaction counts under the class it
// entered as (a priority block: was filed under), even when its priority
// changes meanwhile. Terminators and assemblers keep Entries, the times and
// MaxTime only (see TTimeTally).
struct TPrtyStatistics {
  uint8_t Prty = 0;
  int32_t Count = 0; // held now
  int32_t Entries = 0;
  int32_t Exits = 0; // push-outs included, as in the block's Exits
  int32_t NonZeroExits = 0;
  int32_t PreemptExits = 0;
  int32_t TimeLimitExits = 0;
  long double SumTime = 0;
  long double SumSqrTime = 0;
  long double SumCountTime = 0; // content x time up to LastTime
  long double LastTime = 0;
  double MaxTime = 0; // terminators and assemblers

  long double AverageTime() const { return Exits > 0 ? SumTime / Exits : 0; }
  long double SAverageTime() const { return NonZeroExits > 0 ? SumTime / NonZeroExits : 0; }
  long double DeviationTime() const { return PopulationDeviation(SumTime, SumSqrTime, Exits); }
};


// Times observed once per transaction (a terminator's times in system, an
// assembler's waits at the join): their count, sums and greatest, for the
// block and per priority class. The classes are kept only once a second
// class shows up, so a block that sees one class pays a compare per
// observation; the figures gathered up to then become the first class's.
// Sums are TStatSum, as in TProQueue.
class TTimeTally {
public:
  void Add(double Time, uint8_t Prty);
  void Clear();
  int32_t Count() const { return FCount; }
  int32_t NonZeroCount() const { return FNonZero; }
  long double Mean() const;
  long double SMean() const;
  long double Deviation() const;
  double Max() const { return FMax; }
  // The classes seen since the last Clear, in ascending priority, when
  // there were more than one; empty otherwise.
  const std::vector<TPrtyStatistics>& Classes() const { return FClasses; }

private:
  [[gnu::cold]] void SplitClasses();
  TStatSum FSum;
  TStatSum FSumSqr;
  double FMax = 0;
  int32_t FCount = 0;
  int32_t FNonZero = 0;
  int16_t FOnlyClass = -1; // the one class seen while FClasses is empty
  std::vector<TPrtyStatistics> FClasses;
};

// The statistics base of every holding block: residence times of the
// transactions that left, the time-weighted content, the busy share, the
// greatest content and counts of special entries and exits. Descendants call
// EnterStat once per entry (before Count includes the transaction) and
// ExitStat once per counted exit (while Count still includes it); every
// statistic reads the content through the virtual Count, so a descendant's
// own notion of content is what is measured. The sums are TStatSum: 80-bit
// arithmetic, or double on TEngine::Fast, which leaves the report's printed
// digits as they are and saves the x87 arithmetic.
class TProQueue : public TBlock {
public:
  using TBlock::TBlock;

  void ClearStatistics() override;
  // Also forgets the classes seen.
  void Reset() override;
  // Reads the capacity on duty at the start of the run.
  void FirstInit() override;
  // Content update, then stamps Trans's entry time and counts the entry.
  virtual void EnterStat(TTransaction* Trans);
  // Content update, then adds Trans's residence time and counts the exit.
  virtual void ExitStat(TTransaction* Trans);

  long double AverageTime();
  long double DeviationTime();
  long double SAverageTime();
  long double SDeviationTime();
  long double AverageCount();
  long double Usage();
  int32_t MaxCount();
  int32_t ZeroEntries() const { return FZeroEntries; }
  // Exits after a stay longer than zero: the observations of SAverageTime.
  int32_t NonZeroExits() const { return FNonZeroExits; }
  int32_t PreemptExits() const { return FPreemptExits; }

  // Statistics per priority class: the priority blocks keep them from the
  // first entry on, servers and storages once a second class has entered
  // (the block's figures until then become the first class's, so a block
  // that sees one class pays a compare per entry). A class is seen from
  // its first entry until the statistics are cleared while the block holds
  // none of it; the memory kept grows with the classes seen (256 at most).
  // The classes seen, in ascending priority; empty or one while no second
  // class was seen.
  const std::vector<TPrtyStatistics>& PrtyStatistics() const { return FPrtyStats; }
  // The statistics of class Prty, or nullptr when it is not kept.
  const TPrtyStatistics* PrtyStatistics(uint8_t Prty) const;
  // The time-weighted mean number of class Prty held since the statistics
  // were cleared; 0 for a class not kept.
  long double PrtyAverageCount(uint8_t Prty) const;

  // The capacity on duty now: 0 while closed (TBlock::SetClosed), -1 for a
  // block without a limit; blocks that keep Utilisation answer it.
  virtual int32_t DutyCapacity() { return -1; }
  // The mean capacity on duty since the statistics were cleared, and
  // whether it changed meanwhile (a schedule's shifts); NaN when the block
  // had no limit at some time.
  long double MeanDutyCapacity();
  bool DutyVaried() const { return FDutyVaried; }

protected:
  // Busy units over the capacity on duty, integrated over time: the share
  // of the units on duty that were held. NaN without a limit or duty.
  long double DutyShare(long double BusyUnitTime);
  // Brings the capacity integral up to now after a change of capacity or
  // of duty.
  void DutyChanged() override;
  // The capacity integral starts afresh now.
  void StartDuty();
  // Per-class statistics the way servers and storages keep them.
  void WatchClasses() { FWatchClasses = true; }
  // The entry of Trans's class, brought up to now, or nullptr.
  TPrtyStatistics* ClassOf(const TTransaction* Trans);
  // Counts a preemption in the class of Trans, where classes are kept.
  void ClassPreempt(const TTransaction* Trans) {
    if (!FPrtyStats.empty())
      if (TPrtyStatistics* S = ClassOf(Trans)) ++S->PreemptExits;
  }
  // The entry of class Prty, made when absent, brought up to now.
  TPrtyStatistics& ClassEntry(uint8_t Prty);
  // Takes Trans, leaving now, out of its class's statistics.
  void ClassExit(const TTransaction* Trans);
  // The content and the busy share integrated over the time since the
  // statistics were cleared.
  long double ContentTime();
  long double BusyTime();

  // The common first steps of both hooks; answers the content it saw.
  int32_t UpdateContent();
  // The hooks' arithmetic in the run's precision TReal.
  template <class TReal> int32_t UpdateContentIn();
  template <class TReal> void AddResidence(TTransaction* Trans);
  // The counted exit of Trans, the transaction leaving: OnExit if assigned,
  // its pending activation cancelled (a time limit or an end of holding
  // must not fire for a later stay elsewhere), then ExitStat while Count
  // still includes it. The block takes it out of its lists afterwards.
  void CountExit(const TOnExitFromBlock& OnExit, TTransaction* Trans) {
    if (OnExit) OnExit(this, Trans);
    Trans->CancelEvent();
    ExitStat(Trans);
  }

  TStatSum FSumTime;
  TStatSum FSumSqrTime;
  TStatSum FSumCountTime;
  TStatSum FBusyTime;
  // Model times, which are doubles: kept as such, exactly.
  double FStartTime = 0;
  double FLastTime = 0;
  int32_t FMaxCount = 0;
  int32_t FZeroEntries = 0;
  int32_t FPreemptExits = 0;
  int32_t FTimeLimitExits = 0;
  int32_t FNonZeroExits = 0;
  std::vector<TPrtyStatistics> FPrtyStats;
  bool FWatchClasses = false;
  int16_t FOnlyClass = -1; // the one class seen while FPrtyStats is empty
  // The capacity on duty integrated up to FDutyLast, the capacity on duty
  // since then (-2: not read yet), whether it changed, whether it was
  // without a limit at some time.
  long double FDutyTime = 0;
  double FDutyLast = 0;
  int32_t FDutyCapacity = -2;
  bool FDutyVaried = false;
  bool FDutyUnlimited = false;

private:
  void WatchEnter(TTransaction* Trans);
  [[gnu::cold]] void SplitClasses();
};

} // namespace quorin
