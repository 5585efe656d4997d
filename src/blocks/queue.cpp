#include "quorin/blocks/queue.h"
#include "quorin/detail/list.h"

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

TQueue::TQueue(TComponent* AOwner) : TWaitingLine(AOwner) {
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

void TQueueCustom::Reset() {
  TProQueue::Reset();
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
