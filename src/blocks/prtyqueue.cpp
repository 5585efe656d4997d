#include "quorin/blocks/prtyqueue.h"
#include "quorin/kernel/state.h"

namespace quorin {

TQueuePrtyCustom::TQueuePrtyCustom(TComponent* AOwner) : TProQueue(AOwner) {
  FReadyToReceive = true;
  FHasTransaction = false;
}

void TQueuePrtyCustom::NextTime(double Delay) {
  // One pending activation per transaction: FEvent remembers only one, and
  // an earlier one left in the list could fire after the transaction left.
  // The later call replaces the earlier one once accepted; a refused one
  // keeps it, so a bad delay never drops a time limit or a holding end.
  ReorderFor(Delay, FTransaction);
}

TQueHead* TQueuePrtyCustom::NewQue(uint8_t Prty) {
  // Without a pool (outside a run) there is nothing to take a head from.
  auto* Q = QueHeadsManager ? static_cast<TQueHead*>(QueHeadsManager->Add()) : nullptr;
  if (!Q) return nullptr;
  Q->Next = nullptr;
  Q->Prev = nullptr;
  Q->Prty = Prty;
  Q->First = nullptr;
  Q->Last = nullptr;
  Q->Count = 0;
  return Q;
}

TQueHead* TQueuePrtyCustom::GetQue(uint8_t Prty) {
  TQueHead* Above = FFirstQue;
  for (int32_t i = 0; i < FQueCount && Above->Prty < Prty; ++i)
    Above = Above->Next;
  if (Above && Above->Prty == Prty) return Above;
  TQueHead* Q = NewQue(Prty);
  if (!Q) return nullptr;
  // Linked in just below Above, the first class of a higher priority, or at
  // the top when there is none.
  Q->Next = Above;
  Q->Prev = Above ? Above->Prev : FLastQue;
  if (Q->Prev)
    Q->Prev->Next = Q;
  else
    FFirstQue = Q;
  if (Above)
    Above->Prev = Q;
  else
    FLastQue = Q;
  ++FQueCount;
  return Q;
}

void TQueuePrtyCustom::AddTrans(TQueHead* Que, TTransaction* Trans) {
  Trans->FNext = nullptr;
  if (Que->Count == 0) {
    Trans->FPrev = nullptr;
    Que->First = Trans;
  } else {
    Trans->FPrev = Que->Last;
    Que->Last->FNext = Trans;
  }
  Que->Last = Trans;
  ++Que->Count;
  ++FCount;
}

TQueHead* TQueuePrtyCustom::FindQue(TTransaction* Trans) const {
  if (!Trans || FQueCount == 0) return nullptr;
  if (FLastQue->First == Trans) return FLastQue;
  if (FFirstQue->First == Trans) return FFirstQue;
  TTransaction* Head = Trans;
  while (Head->FPrev)
    Head = Head->FPrev;
  TQueHead* Q = FFirstQue;
  for (int32_t i = 0; i < FQueCount; ++i, Q = Q->Next)
    if (Q->First == Head) return Q;
  return nullptr;
}

void TQueuePrtyCustom::DelTrans(TTransaction* Trans) {
  TQueHead* Q = FindQue(Trans);
  if (!Q) return;
  if (Q->Count <= 1) {
    DelQue(Q);
  } else {
    if (Trans == Q->First) {
      Q->First = Trans->FNext;
      Q->First->FPrev = nullptr;
    } else if (Trans == Q->Last) {
      Q->Last = Trans->FPrev;
      Q->Last->FNext = nullptr;
    } else {
      Trans->FPrev->FNext = Trans->FNext;
      Trans->FNext->FPrev = Trans->FPrev;
    }
    --Q->Count;
  }
  Trans->FNext = nullptr;
  Trans->FPrev = nullptr;
  --FCount;
}

void TQueuePrtyCustom::DelQue(TQueHead* Que) {
  if (Que->Prev)
    Que->Prev->Next = Que->Next;
  else
    FFirstQue = Que->Next;
  if (Que->Next)
    Que->Next->Prev = Que->Prev;
  else
    FLastQue = Que->Prev;
  --FQueCount;
  if (QueHeadsManager) QueHeadsManager->Delete(Que);
}

int32_t TQueuePrtyCustom::PrtyCount(uint8_t Prty) const {
  const TQueHead* Q = FFirstQue;
  for (int32_t i = 0; i < FQueCount && Q->Prty <= Prty; ++i, Q = Q->Next)
    if (Q->Prty == Prty) return Q->Count;
  return 0;
}

bool TQueuePrtyCustom::HasRoomFor(TTransaction* Trans) {
  if (FCapacity == 0 || Count() < FCapacity) return true;
  return FPreemptive && !FInRouting && Trans && Trans->IsPreempt() && FCount > 0 &&
         MinPrty() < Trans->GetPrty();
}

bool TQueuePrtyCustom::FileTrans(TTransaction* Trans) {
  TQueHead* Q = GetQue(Trans->GetPrty());
  if (!Q) {
    ExitStat(Trans);
    DestroyEntered(Trans);
    return false;
  }
  AddTrans(Q, Trans);
  return true;
}

bool TQueuePrtyCustom::Route(const TOnRoutingEvent& Handler, TTransaction* Trans, bool Kick) {
  try {
    return RouteThrough(Handler, Trans, Kick);
  } catch (...) {
    FInRouting = false;
    FKick = false;
    throw;
  }
}

void TQueuePrtyCustom::PushOut(TTransaction* Entering) {
  if (!FFirstQue) return;
  TTransaction* V = FFirstQue->First;
  if (V == Entering) return;
  ++FPreemptExits;
  DelTrans(V);
  ExitStat(V);
  V->CancelEvent();
  bool Passed = false;
  try {
    Passed = Route(OnPreempt, V, true);
  } catch (...) {
    // It is in no class any more: not passed on, it would be lost.
    if (!FPassed) DestroyTransaction(V);
    throw;
  }
  if (!Passed) {
    if (!OnPreempt) ++FLostPushedOut;
    DestroyTransaction(V);
  }
}

void TQueuePrtyCustom::CheckBlock(std::vector<std::string>& Findings) {
  TProQueue::CheckBlock(Findings);
  if (FLostPushedOut > 0)
    Findings.push_back(
        DisplayName() + " destroyed " +
        detail::CountOf(FLostPushedOut, "pushed-out transaction", "pushed-out transactions") +
        ": it has no OnPreempt handler");
}

TQueuePrty::TQueuePrty(TComponent* AOwner) : TQueuePrtyCustom(AOwner) {}

bool TQueuePrty::Admit(TTransaction* Trans) {
  if (!FileTrans(Trans)) return false;
  // A queue that offers is in the chain already, and so is one in routing
  // (its own visit by the chain, which keeps it once it offers again).
  if (!FHasTransaction && !FInRouting) JoinChain();
  FHasTransaction = true;
  return true;
}

void TQueuePrty::EnterToBlock(TTransaction* Trans) {
  TBlock::EnterToBlock(Trans);
  FTransaction = Trans;
  EnterStat(Trans);
  if (OnEnter) {
    try {
      OnEnter(this, Trans);
    } catch (...) {
      // The transaction has left its sender: it is filed here all the same,
      // so that it is neither lost nor half in the block. The push-out of an
      // overfilled queue waits for a later entry.
      Admit(Trans);
      OfferHead();
      throw;
    }
  }
  if (!Admit(Trans)) {
    OfferHead();
    return;
  }
  if (Overfilled()) {
    try {
      PushOut(Trans);
    } catch (...) {
      OfferHead();
      throw;
    }
  }
  OfferHead();
}

void TQueuePrty::ExitFromBlock() {
  TTransaction* T = FTransaction;
  if (OnExit) OnExit(this, T);
  // It no longer waits: its time limit must not fire.
  T->CancelEvent();
  ExitStat(T);
  DelTrans(T);
  OfferHead();
}

void TQueuePrty::KickFromBlock() {
  FTransaction = nullptr;
}

void TQueuePrty::Activate(TTransaction* Trans) {
  // Ignored: an activation ordered while the queue was empty (no
  // transaction), and one whose transaction is no longer in a class here.
  if (!Trans || Trans->FBlock != this || !FindQue(Trans)) return;
  ++FTimeLimitExits;
  bool Passed;
  try {
    Passed = Route(OnTimeFinish, Trans, false);
  } catch (...) {
    // Not passed on, it still waits in its class.
    OfferHead();
    throw;
  }
  if (!Passed) {
    // Destroyed here, seen by neither OnExit nor ExitStat.
    DelTrans(Trans);
    DestroyTransaction(Trans);
  }
  OfferHead();
  // The queue has room and may offer another head now.
  WakeWaiters();
}

void TQueuePrty::OfferHead() {
  FTransaction = FCount > 0 ? FLastQue->First : nullptr;
  FHasTransaction = FCount > 0;
}

void TQueuePrty::Reset() {
  TBlock::Reset();
  // The heads and transactions are not given back: the model discards both
  // pools as a whole right afterwards.
  FFirstQue = nullptr;
  FLastQue = nullptr;
  FQueCount = 0;
  FLostPushedOut = 0;
  FHasTransaction = false;
  FReadyToReceive = true;
}

} // namespace quorin
