#include "quorin/blocks/divider.h"
#include "quorin/detail/future.h"
#include "quorin/detail/list.h"

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
  const int32_t Family = Trans->FTransID;
  if (FCapacity > 1) SetFamily(Trans, Family);
  // What was made leaves, also when a transaction class's constructor throws.
  detail::TryFinally(
      [this, Trans, Family] {
        for (int32_t i = 1; i < FCapacity; ++i) {
          TTransaction* Copy = MakeTransaction();
          if (!Copy) break; // the pool has reported it and stopped the run
          Copy->FPrty = Trans->FPrty;
          Copy->FPreempt = Trans->FPreempt;
          Copy->FBlock = this;
          Copy->FEnterTime = FSysTime;
          Copy->FMadeTime = Trans->FMadeTime;
          SetFamily(Copy, Family);
          AddTrans(Copy);
          // A reused record still holds what its last holder left in the
          // class's own fields: the copy takes the original's instead.
          CopyFields(Copy, *Trans);
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
  // Before the entry Trans->FBlock is still the block it came from.
  if (Trans->FMarks & TTransaction::MarkFamily) NoteRoute(Trans->FBlock);
  TBlock::EnterToBlock(Trans);
  ++FEntries;
  FTransaction = Trans;
  // As in the divider: the entry completes even if OnEnter throws.
  FireThen(OnEnter, Trans, [this, Trans] { Gather(Trans); });
}

void TAssembler::NoteRoute(const TBlock* From) {
  if (!From || FManyRoutes || From == FRoute) return;
  if (!FRoute) {
    FRoute = From;
    FRouteNames = From->DisplayName();
    return;
  }
  FManyRoutes = true;
  FRouteNames += ", " + From->DisplayName();
}

void TAssembler::Gather(TTransaction* Trans) {
  if (FMatch) {
    GatherFamily(Trans);
    return;
  }
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
    FWaits.Add(FSysTime - T->FEnterTime, T->FPrty);
    DestroyTransaction(T);
    T = Newer;
  }
  FWaits.Add(0.0, FFirst->FPrty);
  FFirst->FNext = nullptr;
  FLast = FFirst;
  OfferFirst();
}

void TAssembler::Unlink(TTransaction* Trans) {
  if (Trans->FPrev)
    Trans->FPrev->FNext = Trans->FNext;
  else
    FFirst = Trans->FNext;
  if (Trans->FNext)
    Trans->FNext->FPrev = Trans->FPrev;
  else
    FLast = Trans->FPrev;
  Trans->FNext = nullptr;
  Trans->FPrev = nullptr;
  --FCount;
}

void TAssembler::GatherFamily(TTransaction* Trans) {
  AddTrans(Trans);
  const int32_t Family = Trans->Family();
  int32_t Parts = 0;
  TTransaction* Kept = Trans;
  for (TTransaction* T = FFirst; T; T = T->FNext)
    if (T->Family() == Family) {
      ++Parts;
      if (Family != 0 && T->FTransID == Family) Kept = T;
    }
  if (Parts < FCapacity) {
    // Still gathering: nothing is offered.
    FTransaction = nullptr;
    return;
  }
  // The family is complete: its parts other than the kept one go back to
  // the pool, oldest first, and the kept one is offered from the front.
  for (TTransaction* T = FLast; T;) {
    TTransaction* Newer = T->FPrev;
    if (T->Family() == Family) {
      FWaits.Add(FSysTime - T->FEnterTime, T->FPrty);
      Unlink(T);
      // The entering one is destroyed once its pass has been reported.
      if (T == Trans && T != Kept)
        DestroyEntered(T);
      else if (T != Kept)
        DestroyTransaction(T);
    }
    T = Newer;
  }
  AddTrans(Kept);
  FSetRest = Parts - 1;
  FMatchedSet = true;
  OfferFirst();
}

void TAssembler::ExitFromBlock() {
  FTransaction = FFirst;
  if (OnExit) OnExit(this, FFirst);
  if (FMatchedSet) {
    // Matched: the set leaves, the parts of other families stay.
    FMatchedSet = false;
    FSetRest = 0;
    Unlink(FFirst);
    ++FExits;
    FTransaction = nullptr;
    FHasTransaction = false;
    FReadyToReceive = true;
    return;
  }
  // The kept one stands for the whole set: the block is empty after it.
  FCount = 1;
  TakeFirst();
}

void TAssembler::Reset() {
  TSplitJoin::Reset();
  FSetRest = 0;
  FMatchedSet = false;
  FRoute = nullptr;
  FRouteNames.clear();
  FManyRoutes = false;
}

void TAssembler::ClearStatistics() {
  TSplitJoin::ClearStatistics();
  FWaits.Clear();
}

void TAssembler::CheckBlock(std::vector<std::string>& Findings) {
  TSplitJoin::CheckBlock(Findings);
  if (FManyRoutes && !FMatch)
    Findings.push_back(DisplayName() + " joins split transactions that reach it by more than one "
                                       "route (" +
                       FRouteNames +
                       "), so a set can hold parts of different originals: set Match to join "
                       "only the parts of one original");
}

} // namespace quorin
