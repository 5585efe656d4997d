#include "quorin/blocks/storage.h"
#include "quorin/kernel/list.h"
#include "quorin/kernel/state.h"

namespace quorin {

TStorage::TStorage(TComponent* AOwner) : TQueueCustom(AOwner) {
  FReadyToReceive = true;
  FHasTransaction = false;
}

void TStorage::EnterToBlock(TTransaction* Trans) {
  TBlock::EnterToBlock(Trans);
  FTransaction = Trans;
  EnterStat(Trans);
  // Holding starts, even if OnEnter throws: the storage joins the chain only
  // once one has finished.
  FireThen(OnEnter, Trans, [this, Trans] {
    FTransaction = FFirstFinished;
    AddTrans(Trans);
  });
}

void TStorage::Activate(TTransaction* Trans) {
  // Only the end of a holding time that runs counts. Ignored: an activation
  // without a transaction, one whose transaction has left, and one for a
  // transaction already finished (ordered again from OnRouting), which is
  // not in the holding list: its FPrev is null and it is not FFirst.
  if (!Trans || Trans->FBlock != this) return;
  if (!Trans->FPrev && Trans != FFirst) return;
  DelTrans(Trans);
  if (detail::TTransFifo(FFirstFinished, FLastFinished, FFinishedCount).PushBack(Trans))
    JoinChain();
  FTransaction = FFirstFinished;
  FHasTransaction = true;
}

void TStorage::ExitFromBlock() {
  TTransaction* T = FFirstFinished;
  if (OnExit) OnExit(this, T);
  // An activation still pending for it (a second NextTime) must not end a
  // later stay of this transaction here.
  T->CancelEvent();
  ExitStat(T);
  detail::TTransFifo(FFirstFinished, FLastFinished, FFinishedCount).PopFront();
  FHasTransaction = FFinishedCount > 0;
  FTransaction = FFirstFinished;
}

void TStorage::CheckBlock(std::vector<std::string>& Findings) {
  TBlock::CheckBlock(Findings);
  int32_t Endless = 0;
  for (TTransaction* T = FFirst; T; T = T->FNext)
    if (!T->FEvent) ++Endless;
  if (Endless > 0)
    Findings.push_back(DisplayName() + " holds " +
                       detail::CountOf(Endless, "transaction", "transactions") +
                       " whose holding never ends: " + detail::NoNextTime(*this, "OnEnter"));
}

void TStorage::Reset() {
  TBlock::Reset();
  // The transactions are not destroyed: the model discards the whole pool.
  FFirst = nullptr;
  FLast = nullptr;
  FFirstFinished = nullptr;
  FLastFinished = nullptr;
  FFinishedCount = 0;
  FHasTransaction = false;
  FReadyToReceive = true;
}

} // namespace quorin
