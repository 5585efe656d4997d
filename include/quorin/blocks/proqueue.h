// Statistics of a block that holds transactions over model time.
#pragma once

#include <cstdint>
#include <variant>

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

protected:
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
};

} // namespace quorin
