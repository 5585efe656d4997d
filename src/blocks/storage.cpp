#include "quorin/blocks/storage.h"

namespace quorin {

TStorage::TStorage(TComponent* AOwner) : TStorageCustom(AOwner) {
  FReadyToReceive = true;
  FHasTransaction = false;
  WatchClasses();
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

} // namespace quorin
