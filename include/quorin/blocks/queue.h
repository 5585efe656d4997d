// Waiting lines: first in, first out (TQueue) and last in, first out (TStack).
#pragma once

#include <cstdint>

#include "quorin/blocks/proqueue.h"
#include "quorin/blocks/waiting.h"

namespace quorin {

// Base of the blocks that keep their transactions in an intrusive doubly
// linked list through the transactions' own FNext (toward FLast) and FPrev
// (toward FFirst) links. Appending, prepending and unlinking are constant
// time and allocate nothing. Invariants: FFirst->FPrev and FLast->FNext are
// null, the list has FCount transactions, and all of them have FBlock equal
// to this block; an empty list has FFirst, FLast null and FCount 0.
class TQueueCustom : public TProQueue {
public:
  using TProQueue::TProQueue;

  // Orders an activation that carries the current transaction: during
  // OnEnter that is the entering one, so OnEnter gives it a time limit.
  void NextTime(double Delay) override;
  // True while Capacity is 0 (no limit) or the block has room.
  bool IsReadyToReceive(TTransaction* Trans) override;
  // Empties the list without destroying its transactions (the model
  // discards the whole pool).
  void Reset() override;

  // Appends Trans at the end of the list.
  virtual void AddTrans(TTransaction* Trans);
  // Unlinks Trans from wherever it stands in the list.
  virtual void DelTrans(TTransaction* Trans);

  int32_t Capacity() const { return FCapacity; }
  // Head of the list (linked on through FNext), or null.
  TTransaction* First() const { return FFirst; }
  // A negative value is ignored.
  void SetCapacity(int32_t Value) {
    if (Value < 0) return;
    FCapacity = Value;
    DutyChanged();
    WakeWaiters();
  }
  int32_t DutyCapacity() override { return FClosed ? 0 : FCapacity > 0 ? FCapacity : -1; }

  TOnExitFromBlock OnExit;
  TOnEnterToBlock OnEnter;

protected:
  TTransaction* FFirst = nullptr;
  TTransaction* FLast = nullptr;
  int32_t FCapacity = 0;
};

extern template class TWaitingLine<TQueueCustom>;

// Transactions wait in order of arrival; the first is offered to OnRouting.
// Time limits as in TWaitingLine.
class TQueue : public TWaitingLine<TQueueCustom> {
public:
  explicit TQueue(TComponent* AOwner);

  void EnterToBlock(TTransaction* Trans) override;
};

// A TQueue that offers the newest transaction first.
class TStack : public TQueue {
public:
  using TQueue::TQueue;

  // Inserts Trans at the front of the list.
  void AddTrans(TTransaction* Trans) override;
};

} // namespace quorin
