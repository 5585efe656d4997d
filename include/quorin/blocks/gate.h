// The sink of a model, and a one-place passage that can be locked.
#pragma once

#include "quorin/blocks/proqueue.h"
#include "quorin/kernel/block.h"

namespace quorin {

// Accepts every transaction and gives its record back to the pool at once,
// after OnEnter. Counts entries; holds nothing. Keeps the time in system
// (TTransaction::Age) of what it destroys, per priority class as well once
// more than one class entered.
class TTerminator : public TBlock {
public:
  explicit TTerminator(TComponent* AOwner);

  void EnterToBlock(TTransaction* Trans) override;
  void ClearStatistics() override;

  // Times in system of the transactions destroyed since the statistics
  // were cleared: mean (NaN for none), mean of those above 0, population
  // deviation, greatest, and the tally with its classes.
  long double AverageTime() const { return FTimes.Mean(); }
  long double SAverageTime() const { return FTimes.SMean(); }
  long double DeviationTime() const { return FTimes.Deviation(); }
  double MaxTime() const { return FTimes.Max(); }
  const TTimeTally& TimesInSystem() const { return FTimes; }

  TOnEnterToBlock OnEnter;

protected:
  TTimeTally FTimes;
};

// Holds at most one transaction and offers it at once. While locked it
// refuses entries; a held transaction still leaves when its receiver accepts.
// Invariant: FCount is 1 exactly when a transaction is held, and
// FReadyToReceive is the negation of FHasTransaction. Counts entries and
// exits like every other block.
class TGate : public TBlock {
public:
  explicit TGate(TComponent* AOwner);

  void Reset() override;
  void ExitFromBlock() override;
  void EnterToBlock(TTransaction* Trans) override;
  bool IsReadyToReceive(TTransaction* Trans) override;

  void Lock() { FLocked = true; }
  void Unlock() {
    FLocked = false;
    WakeWaiters();
  }
  void Inverse() {
    FLocked = !FLocked;
    if (!FLocked) WakeWaiters();
  }
  bool isLocked() const { return FLocked; }

  TOnExitFromBlock OnExit;
  TOnEnterToBlock OnEnter;

protected:
  bool FLocked = false;
};

} // namespace quorin
