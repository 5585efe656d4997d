// The sink of a model, and a one-place passage that can be locked.
#pragma once

#include "quorin/kernel/block.h"

namespace quorin {

// Accepts every transaction and gives its record back to the pool at once,
// after OnEnter. Counts entries; holds nothing.
class TTerminator : public TBlock {
public:
  explicit TTerminator(TComponent* AOwner);

  void EnterToBlock(TTransaction* Trans) override;

  TOnEnterToBlock OnEnter;
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
