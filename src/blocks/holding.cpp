#include "quorin/blocks/holding.h"
#include "quorin/blocks/prtyqueue.h"
#include "quorin/blocks/queue.h"
#include "quorin/detail/list.h"

namespace quorin {

template <class TLine> void TStorageCustom<TLine>::Activate(TTransaction* Trans) {
  if (!Trans || Trans->FBlock != this || !Holds(Trans)) return;
  this->DelTrans(Trans);
  if (detail::TTransFifo(FFirstFinished, FLastFinished, FFinishedCount).PushBack(Trans))
    this->JoinChain();
  this->FTransaction = FFirstFinished;
  this->FHasTransaction = true;
}

template <class TLine> void TStorageCustom<TLine>::ExitFromBlock() {
  TTransaction* T = FFirstFinished;
  this->FTransaction = T;
  // An activation still pending for it (a second NextTime) must not end a
  // later stay of this transaction here.
  this->CountExit(this->OnExit, T);
  detail::TTransFifo(FFirstFinished, FLastFinished, FFinishedCount).PopFront();
  this->FHasTransaction = FFinishedCount > 0;
  this->FTransaction = FFirstFinished;
}

template <class TLine> void TStorageCustom<TLine>::Reset() {
  TLine::Reset();
  // The transactions are not destroyed: the model discards the whole pool.
  FFirstFinished = nullptr;
  FLastFinished = nullptr;
  FFinishedCount = 0;
}

template <class TLine>
void TStorageCustom<TLine>::CheckBlock(std::vector<std::string>& Findings) {
  TLine::CheckBlock(Findings);
  if (const int32_t N = Endless(); N > 0)
    Findings.push_back(this->DisplayName() + " holds " +
                       detail::CountOf(N, "transaction", "transactions") +
                       " whose holding never ends: " + detail::NoNextTime(*this, "OnEnter"));
}

// A holding transaction of the single list is linked in: it has a
// predecessor or is the first. A finished one is not (its FPrev is null).
template <> bool TStorageCustom<TQueueCustom>::Holds(TTransaction* Trans) const {
  return Trans->FPrev || Trans == FFirst;
}

template <> int32_t TStorageCustom<TQueueCustom>::Endless() const {
  int32_t N = 0;
  for (const TTransaction* T = FFirst; T; T = T->FNext)
    if (!T->FEvent) ++N;
  return N;
}

template <> bool TStorageCustom<TQueuePrtyCustom>::Holds(TTransaction* Trans) const {
  return FindQue(Trans) != nullptr;
}

template <> int32_t TStorageCustom<TQueuePrtyCustom>::Endless() const {
  int32_t N = 0;
  const TQueHead* Q = FFirstQue;
  for (int32_t i = 0; i < FQueCount; ++i, Q = Q->Next)
    for (const TTransaction* T = Q->First; T; T = T->FNext)
      if (!T->FEvent) ++N;
  return N;
}

template class TStorageCustom<TQueueCustom>;
template class TStorageCustom<TQueuePrtyCustom>;

} // namespace quorin
