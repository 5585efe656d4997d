// Blocks that keep their transactions in priority classes: the priority
// waiting line (TQueuePrty) and the base it shares with the priority storage.
#pragma once

#include <cstdint>
#include <vector>

#include "quorin/blocks/proqueue.h"
#include "quorin/blocks/waiting.h"

namespace quorin {

// One priority class of a priority block, a record of the shared pool of
// classes (QueHeadsManager).
struct TQueHead {
  TQueHead* Next; // class of the next higher priority present
  TQueHead* Prev; // class of the next lower priority present
  uint8_t Prty;
  TTransaction* First;
  TTransaction* Last;
  int32_t Count;
};

// Keeps one class (a TQueHead of the shared QueHeadsManager pool) for every
// priority present among the transactions it holds; the classes form a list
// in ascending priority from FFirstQue to FLastQue, and each class chains its
// transactions oldest first through their FNext and FPrev links. A class is
// created when its first transaction arrives and given back when its last
// one leaves, so creating and dropping classes costs no heap call once the
// pool has pages.
//
// A transaction stays in the class it was filed under, even when its
// priority is changed while it waits: the block finds the class by the
// transaction's links (walking back to the first of its class), never by its
// present priority, so such a change cannot tear a class apart. Finding a
// class costs a walk over the classes present (256 at most) and, for a
// transaction in the middle of its class, over the ones ahead of it; the
// oldest of the highest and of the lowest class, which ordinary exits and
// push-outs take, are found at once.
//
// Invariants: the FQueCount classes reachable from FFirstQue through Next
// have strictly increasing Prty and end at FLastQue; every class has Count >
// 0 transactions, First->FPrev and Last->FNext null; the classes' counts sum
// to FCount.
class TQueuePrtyCustom : public TProQueue {
public:
  explicit TQueuePrtyCustom(TComponent* AOwner);

  // Orders an activation that carries the current transaction (during
  // OnEnter the entering one), replacing one still pending for it.
  void NextTime(double Delay) override;
  // Room under Capacity, or a preempting entry (see HasRoomFor).
  bool IsReadyToReceive(TTransaction* Trans) override { return HasRoomFor(Trans); }
  // Drops every class without giving heads or transactions back (the model
  // discards both pools as a whole) and forgets the classes' statistics.
  void Reset() override;

  // The class of priority Prty, created and linked in when absent; nullptr
  // only when the pool has no head to give (it has reported that).
  TQueHead* GetQue(uint8_t Prty);
  // Appends Trans to the class Que.
  void AddTrans(TQueHead* Que, TTransaction* Trans);
  // Takes Trans out of the class it was filed under; an emptied class goes.
  // A transaction in no class of this block is left alone.
  void DelTrans(TTransaction* Trans);
  // Unlinks the class and gives its head back to the pool.
  void DelQue(TQueHead* Que);
  // The class that holds Trans, or nullptr when it is in none.
  TQueHead* FindQue(TTransaction* Trans) const;

  // Transactions of the class of priority Prty; 0 when it is absent.
  int32_t PrtyCount(uint8_t Prty) const;
  // Priorities of the lowest and the highest class present; 0 when none.
  uint8_t MinPrty() const { return FFirstQue ? FFirstQue->Prty : 0; }
  uint8_t MaxPrty() const { return FLastQue ? FLastQue->Prty : 0; }
  // Number of classes present, 0 to 256.
  int32_t QueCount() const { return FQueCount; }
  // The lowest and the highest class present; nullptr when none.
  TQueHead* FirstQue() const { return FFirstQue; }
  TQueHead* LastQue() const { return FLastQue; }
  // The oldest of the highest class, which leaves a queue first; nullptr
  // when no class is present.
  TTransaction* First() const { return FCount > 0 ? FLastQue->First : nullptr; }

  int32_t Capacity() const { return FCapacity; }
  // A negative value is ignored.
  void SetCapacity(int32_t Value) {
    if (Value < 0) return;
    FCapacity = Value;
    DutyChanged();
    WakeWaiters();
  }
  bool Preemptive() const { return FPreemptive; }
  void SetPreemptive(bool Value) {
    FPreemptive = Value;
    WakeWaiters();
  }

  int32_t DutyCapacity() override;

  // Adds pushed-out transactions destroyed for want of an OnPreempt handler.
  void CheckBlock(std::vector<std::string>& Findings) override;

  // Statistics per priority class (see TProQueue::PrtyStatistics), kept
  // from the first entry on. Also takes the leaving transaction out of its
  // class's statistics.
  void ExitStat(TTransaction* Trans) override;

  TOnExitFromBlock OnExit;
  TOnEnterToBlock OnEnter;
  TOnPreempt OnPreempt;

protected:
  // Room under Capacity, or a preempting transaction of a priority strictly
  // above the lowest class present while some transaction is in a class and
  // the block is not in routing (see Overfilled).
  bool HasRoomFor(TTransaction* Trans);
  // Whether the entry just filed overfills Capacity, so that one transaction
  // must be pushed out. Never while the block is in routing (its OnRouting
  // or OnTimeFinish under way, when a nested pass brings a transaction in):
  // the push-out routes the pushed-out transaction through OnPreempt, which
  // would overwrite the routing under way (the transaction on offer, whether
  // it was passed, the routing flags) and could push out and destroy the
  // very transaction that routing is handling. The block then stays over
  // Capacity until transactions leave, as after an OnEnter that throws.
  bool Overfilled() { return FCapacity > 0 && Count() > FCapacity && !FInRouting; }
  // Files Trans, the entering transaction, into the class of its priority.
  // When the pool has no head for it, the entry is abandoned: Trans is
  // counted out again and goes back to the pool (at the end of its pass)
  // rather than staying claimed by a block that does not hold it.
  bool FileTrans(TTransaction* Trans);
  // Pushes out the oldest transaction of the lowest class: it leaves with
  // its pending activation cancelled (a storage keeps what was left of the
  // holding in the transaction, see TTransaction::Remaining) and goes to
  // OnPreempt, which may pass it on; otherwise it is destroyed. When OnPreempt throws, a transaction it
  // did not pass is destroyed too before the exception goes on. When that
  // oldest is Entering, the transaction whose entry overfilled the block
  // (alone in the lowest class: OnEnter lowered its priority, or Capacity),
  // nothing is pushed out: its own pass is not complete, so it can be neither
  // passed on nor destroyed yet, and pushing out one of a higher priority in
  // its place would invert the order. The block stays over Capacity until
  // transactions leave.
  void PushOut(TTransaction* Entering);

  TQueHead* FFirstQue = nullptr;
  TQueHead* FLastQue = nullptr;
  // Wider than a priority: all 256 priorities can be present at once.
  int32_t FQueCount = 0;
  int32_t FCapacity = 0;
  bool FPreemptive = false;
  // Pushed out and destroyed with no OnPreempt assigned, since the last Reset.
  int32_t FLostPushedOut = 0;

  // Class statistics: counts a time limit run out; takes a transaction
  // destroyed without an exit out of its class.
  void ClassTimeLimit(const TTransaction* Trans);
  void ClassDrop(const TTransaction* Trans);
  // A push-out keeps the remaining time of the activation it cancels (a
  // storage's end of holding; a queue's time limit is not kept).
  bool FKeepsRemainder = false;

private:
  TQueHead* NewQue(uint8_t Prty);
};

extern template class TWaitingLine<TQueuePrtyCustom>;

// The priority waiting line: offers the oldest transaction of the highest
// priority present (First). An entry that overfills Capacity pushes out the
// oldest of the lowest priority (see PushOut); with Preemptive set, a full
// queue still admits a transaction that carries the preempt mark and
// outranks the lowest priority present, except while the queue is in
// routing (see Overfilled). Time limits as in TWaitingLine.
//
// At rest FTransaction is First() (null when empty) and FHasTransaction is
// true exactly while the queue is not empty.
class TQueuePrty : public TWaitingLine<TQueuePrtyCustom> {
public:
  explicit TQueuePrty(TComponent* AOwner);

  // A pushed-out transaction leaves without OnExit; a second PassTo in the
  // same OnPreempt call is refused.
  void KickFromBlock() override;
  void EnterToBlock(TTransaction* Trans) override;

private:
  // Files an entering transaction and joins the chain if not offering yet.
  bool Admit(TTransaction* Trans);
};

} // namespace quorin
