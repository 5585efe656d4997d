#include "quorin/blocks/queue.h"
#include "quorin/kernel/list.h"
#include "quorin/kernel/state.h"

namespace quorin {

void TQueueCustom::NextTime(double Delay) {
  // A transaction has one limit at a time: only one pending activation can
  // be remembered in FEvent and cancelled on exit, so an earlier one would
  // stay in the list unseen and could later fire for a destroyed record.
  // The later call therefore replaces the earlier limit, once accepted.
  ReorderFor(Delay, FTransaction);
}

bool TQueueCustom::IsReadyToReceive(TTransaction*) {
  return FCapacity == 0 || Count() < FCapacity;
}

void TQueueCustom::AddTrans(TTransaction* Trans) {
  detail::TTransList(FFirst, FLast).PushBack(Trans);
  ++FCount;
}

void TQueueCustom::DelTrans(TTransaction* Trans) {
  detail::TTransList(FFirst, FLast).Remove(Trans);
  Trans->FNext = nullptr;
  Trans->FPrev = nullptr;
  --FCount;
}

TQueue::TQueue(TComponent* AOwner) : TQueueCustom(AOwner) {
  FReadyToReceive = true;
  FHasTransaction = false;
}

void TQueue::EnterToBlock(TTransaction* Trans) {
  TBlock::EnterToBlock(Trans);
  FTransaction = Trans;
  EnterStat(Trans);
  // Taken in even if OnEnter throws. A queue that still has an entry in the
  // chain (it holds transactions, or was emptied since the chain's last
  // visit) keeps that entry and its place.
  FireThen(OnEnter, Trans, [this, Trans] {
    JoinChain();
    AddTrans(Trans);
    FTransaction = FFirst;
    FHasTransaction = true;
  });
}

void TQueue::ExitFromBlock() {
  TTransaction* T = FTransaction;
  if (OnExit) OnExit(this, T);
  // The transaction no longer waits: its time limit must not fire.
  T->CancelEvent();
  ExitStat(T);
  DelTrans(T);
  OfferHead();
}

void TQueue::Activate(TTransaction* Trans) {
  // An activation ordered while the queue was empty carries no transaction,
  // and one whose transaction has left concerns this queue no more.
  if (!Trans || Trans->FBlock != this) return;
  ++FTimeLimitExits;
  // Not passed on: destroyed here, seen by neither OnExit nor ExitStat; so
  // also when OnTimeFinish throws without having passed it.
  // Either way the queue has room and may offer another head now.
  auto Finish = [this, Trans] {
    if (!FPassed) {
      DelTrans(Trans);
      DestroyTransaction(Trans);
    }
    OfferHead();
    WakeWaiters();
  };
  detail::TryFinally([this, Trans] { RouteThrough(OnTimeFinish, Trans, false); }, Finish);
}

void TQueue::OfferHead() {
  FTransaction = FFirst;
  FHasTransaction = FCount > 0;
}

void TQueue::Reset() {
  TBlock::Reset();
  // The transactions are not destroyed: the model discards the whole pool.
  FFirst = nullptr;
  FLast = nullptr;
  FHasTransaction = false;
  FReadyToReceive = true;
}

void TStack::AddTrans(TTransaction* Trans) {
  detail::TTransList(FFirst, FLast).PushFront(Trans);
  ++FCount;
}

} // namespace quorin
