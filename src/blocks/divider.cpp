#include "quorin/blocks/divider.h"
#include "quorin/kernel/list.h"
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
  detail::TTransList(FFirst, FLast).PushFront(Trans);
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
    detail::TTransList(FFirst, FLast).Remove(T);
    FTransaction = FFirst;
  }
  T->FNext = nullptr;
  T->FPrev = nullptr;
}

void TDivider::EnterToBlock(TTransaction* Trans) {
  TBlock::EnterToBlock(Trans);
  FTransaction = Trans;
  ++FEntries;
  // The transaction has left its sender: the entry completes even if
  // OnEnter throws, so that it is neither lost nor half in the block.
  FireThen(OnEnter, Trans, [this, Trans] { Split(Trans); });
}

void TDivider::Split(TTransaction* Trans) {
  AddTrans(Trans);
  // What was made leaves, also when a transaction class's constructor throws.
  detail::TryFinally(
      [this, Trans] {
        for (int32_t i = 1; i < FCapacity; ++i) {
          TTransaction* Copy = MakeTransaction();
          if (!Copy) break; // the pool has reported it and stopped the run
          Copy->FPrty = Trans->FPrty;
          Copy->FPreempt = Trans->FPreempt;
          Copy->FBlock = this;
          Copy->FEnterTime = FSysTime;
          AddTrans(Copy);
        }
      },
      [this] { OfferFirst(); });
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
  // As in the divider: the entry completes even if OnEnter throws.
  FireThen(OnEnter, Trans, [this, Trans] { Gather(Trans); });
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
