#include "quorin/blocks/divider.h"
#include "quorin/kernel/state.h"

namespace quorin {

TSplitJoin::TSplitJoin(TComponent* AOwner) : TBlock(AOwner) {
  FReadyToReceive = true;
  FHasTransaction = false;
}

void TSplitJoin::Reset() {
  TBlock::Reset();
  FFirst = nullptr;
  FLast = nullptr;
  FHasTransaction = false;
  FReadyToReceive = true;
}

void TSplitJoin::AddTrans(TTransaction* Trans) {
  Trans->FPrev = nullptr;
  if (FCount == 0) {
    Trans->FNext = nullptr;
    FLast = Trans;
  } else {
    Trans->FNext = FFirst;
    FFirst->FPrev = Trans;
  }
  FFirst = Trans;
  ++FCount;
}

void TSplitJoin::OfferFirst() {
  FReadyToReceive = false;
  // A block that offers is in the chain already, and so is one in routing
  // (its own visit by the chain, which keeps it once it offers again).
  if (!FHasTransaction && !FInRouting) JoinChain();
  FTransaction = FFirst;
  FHasTransaction = true;
}

void TSplitJoin::TakeFirst() {
  TTransaction* T = FFirst;
  --FCount;
  ++FExits;
  if (FCount == 0) {
    FFirst = nullptr;
    FLast = nullptr;
    FTransaction = nullptr;
    FHasTransaction = false;
    FReadyToReceive = true;
  } else {
    FFirst = T->FNext;
    FFirst->FPrev = nullptr;
    FTransaction = FFirst;
  }
  T->FNext = nullptr;
  T->FPrev = nullptr;
}

void TDivider::EnterToBlock(TTransaction* Trans) {
  TBlock::EnterToBlock(Trans);
  FTransaction = Trans;
  ++FEntries;
  if (OnEnter) {
    try {
      OnEnter(this, Trans);
    } catch (...) {
      // The transaction has left its sender: the entry completes all the
      // same, so that it is neither lost nor half in the block.
      Split(Trans);
      throw;
    }
  }
  Split(Trans);
}

void TDivider::Split(TTransaction* Trans) {
  AddTrans(Trans);
  try {
    for (int32_t i = 1; i < FCapacity; ++i) {
      TTransaction* Copy = MakeTransaction();
      if (!Copy) break; // the pool has reported it and stopped the run
      Copy->FPrty = Trans->FPrty;
      Copy->FPreempt = Trans->FPreempt;
      Copy->FBlock = this;
      Copy->FEnterTime = FSysTime;
      AddTrans(Copy);
    }
  } catch (...) {
    // A transaction class whose constructor throws: what was made leaves.
    OfferFirst();
    throw;
  }
  OfferFirst();
}

void TDivider::ExitFromBlock() {
  FTransaction = FFirst;
  if (OnExit) OnExit(this, FFirst);
  TakeFirst();
}

void TAssembler::EnterToBlock(TTransaction* Trans) {
  TBlock::EnterToBlock(Trans);
  ++FEntries;
  FTransaction = Trans;
  if (OnEnter) {
    try {
      OnEnter(this, Trans);
    } catch (...) {
      // As in the divider: the entry completes before the exception goes on.
      Gather(Trans);
      throw;
    }
  }
  Gather(Trans);
}

void TAssembler::Gather(TTransaction* Trans) {
  AddTrans(Trans);
  if (FCount < FCapacity) {
    // Still gathering: nothing is offered.
    FTransaction = nullptr;
    return;
  }
  // The set is complete: all but the newest go back to the pool, oldest
  // first; Count keeps the number gathered until the kept one leaves.
  for (TTransaction* T = FLast; T != FFirst;) {
    TTransaction* Newer = T->FPrev;
    DestroyTransaction(T);
    T = Newer;
  }
  FFirst->FNext = nullptr;
  FLast = FFirst;
  OfferFirst();
}

void TAssembler::ExitFromBlock() {
  FTransaction = FFirst;
  if (OnExit) OnExit(this, FFirst);
  // The kept one stands for the whole set: the block is empty after it.
  FCount = 1;
  TakeFirst();
}

} // namespace quorin
