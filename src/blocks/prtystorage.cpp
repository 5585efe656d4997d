#include "quorin/blocks/prtystorage.h"
#include "quorin/kernel/list.h"
#include "quorin/kernel/state.h"

namespace quorin {

TStoragePrty::TStoragePrty(TComponent* AOwner) : TQueuePrtyCustom(AOwner) {
  FKeepsRemainder = true;
}

void TStoragePrty::EnterToBlock(TTransaction* Trans) {
  TBlock::EnterToBlock(Trans);
  FTransaction = Trans;
  if (OnEnter) {
    try {
      OnEnter(this, Trans);
    } catch (...) {
      // The transaction has left its sender: it starts holding here all the
      // same, so that it is neither lost nor half in the block.
      EnterStat(Trans);
      FileTrans(Trans);
      FTransaction = FFirstFinished;
      throw;
    }
  }
  EnterStat(Trans);
  // Holding starts: the storage joins the chain only once one has finished.
  const bool Filed = FileTrans(Trans);
  detail::TryFinally(
      [this, Filed, Trans] {
        if (Filed && Overfilled()) PushOut(Trans);
      },
      [this] { FTransaction = FFirstFinished; });
}

void TStoragePrty::Activate(TTransaction* Trans) {
  // Only the end of a holding time that runs counts. Ignored: an activation
  // without a transaction, and one for a transaction that has left, was
  // pushed out, or has finished already (ordered again from OnRouting): none
  // of these is in a class here.
  if (!Trans || Trans->FBlock != this || !FindQue(Trans)) return;
  DelTrans(Trans);
  if (detail::TTransFifo(FFirstFinished, FLastFinished, FFinishedCount).PushBack(Trans))
    JoinChain();
  FTransaction = FFirstFinished;
  FHasTransaction = true;
}

void TStoragePrty::ExitFromBlock() {
  TTransaction* T = FFirstFinished;
  FTransaction = T;
  if (OnExit) OnExit(this, T);
  // An activation still pending for it (a second NextTime) must not end a
  // later stay of this transaction here.
  T->CancelEvent();
  ExitStat(T);
  detail::TTransFifo(FFirstFinished, FLastFinished, FFinishedCount).PopFront();
  FHasTransaction = FFinishedCount > 0;
  FTransaction = FFirstFinished;
}

void TStoragePrty::KickFromBlock() {
  if (OnExit) OnExit(this, FTransaction);
  FTransaction = nullptr;
}

void TStoragePrty::CheckBlock(std::vector<std::string>& Findings) {
  TQueuePrtyCustom::CheckBlock(Findings);
  int32_t Endless = 0;
  const TQueHead* Q = FFirstQue;
  for (int32_t i = 0; i < FQueCount; ++i, Q = Q->Next)
    for (const TTransaction* T = Q->First; T; T = T->FNext)
      if (!T->FEvent) ++Endless;
  if (Endless > 0)
    Findings.push_back(DisplayName() + " holds " +
                       detail::CountOf(Endless, "transaction", "transactions") +
                       " whose holding never ends: " + detail::NoNextTime(*this, "OnEnter"));
}

void TStoragePrty::Reset() {
  TBlock::Reset();
  // Nothing is given back: the model discards both pools as a whole.
  FFirstQue = nullptr;
  FLastQue = nullptr;
  FQueCount = 0;
  FLostPushedOut = 0;
  FPrtyStats.clear();
  FFirstFinished = nullptr;
  FLastFinished = nullptr;
  FFinishedCount = 0;
  FHasTransaction = false;
  FReadyToReceive = true;
}

} // namespace quorin
