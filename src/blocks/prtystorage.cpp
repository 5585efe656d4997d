#include "quorin/blocks/prtystorage.h"

namespace quorin {

TStoragePrty::TStoragePrty(TComponent* AOwner) : TStorageCustom(AOwner) {
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

void TStoragePrty::KickFromBlock() {
  if (OnExit) OnExit(this, FTransaction);
  FTransaction = nullptr;
}

} // namespace quorin
