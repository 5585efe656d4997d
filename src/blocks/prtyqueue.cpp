#include "quorin/blocks/prtyqueue.h"
#include "quorin/detail/future.h"
#include "quorin/detail/list.h"
#include "quorin/detail/parts.h"
#include "quorin/detail/prtyqueue.h"

#include <algorithm>

namespace quorin {

TMemoManager* QueHeadsManager = nullptr;

namespace {
// The classes of a priority block, lowest priority first.
using TQueList = detail::TListView<TQueHead, &TQueHead::Next, &TQueHead::Prev>;

// The kernel makes the pool of classes with every run's memory. Registered
// as this file is linked, which any program that can make a priority block,
// or reads QueHeadsManager, does.
[[maybe_unused]] const bool QueHeadsRegistered =
    detail::AddRunPool({&QueHeadsManager, sizeof(TQueHead), "queue heads"});
} // namespace

void TQueuePrtyCustom::ExitStat(TTransaction* Trans) {
  TProQueue::ExitStat(Trans);
  ClassExit(Trans);
}

void TQueuePrtyCustom::ClassTimeLimit(const TTransaction* Trans) {
  if (TPrtyStatistics* S = ClassOf(Trans)) ++S->TimeLimitExits;
}

void TQueuePrtyCustom::ClassDrop(const TTransaction* Trans) {
  if (TPrtyStatistics* S = ClassOf(Trans)) --S->Count;
}

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
  TQueList(FFirstQue, FLastQue).InsertBefore(Q, Above);
  ++FQueCount;
  return Q;
}

void TQueuePrtyCustom::AddTrans(TQueHead* Que, TTransaction* Trans) {
  detail::TTransList(Que->First, Que->Last).PushBack(Trans);
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
    detail::TTransList(Q->First, Q->Last).Remove(Trans);
    --Q->Count;
  }
  Trans->FNext = nullptr;
  Trans->FPrev = nullptr;
  --FCount;
}

void TQueuePrtyCustom::DelQue(TQueHead* Que) {
  TQueList(FFirstQue, FLastQue).Remove(Que);
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
    // Never filed, so in no class's statistics.
    TProQueue::ExitStat(Trans);
    DestroyEntered(Trans);
    return false;
  }
  AddTrans(Q, Trans);
  Trans->FClassPrty = Q->Prty;
  TPrtyStatistics& S = ClassEntry(Q->Prty);
  ++S.Count;
  ++S.Entries;
  return true;
}

void TQueuePrtyCustom::PushOut(TTransaction* Entering) {
  if (!FFirstQue) return;
  TTransaction* V = FFirstQue->First;
  if (V == Entering) return;
  ++FPreemptExits;
  DelTrans(V);
  ExitStat(V);
  if (TPrtyStatistics* S = ClassOf(V)) ++S->PreemptExits;
  if (FKeepsRemainder && V->FEvent) {
    // What was left of its holding, for a storage it re-enters to resume
    // (TTransaction::Remaining); OnPreempt can read it already.
    const double Left = V->FActivateTime - FSysTime;
    V->FActivateTime = Left > 0 ? Left : 0.0;
    V->FMarks |= TTransaction::MarkRemaining;
  }
  V->CancelEvent();
  // It is in no class any more: not passed on, it would be lost, so it is
  // destroyed, also when OnPreempt throws before passing it.
  detail::TryFinally([this, V] { RouteThrough(OnPreempt, V, true); },
                     [this, V] {
                       if (FPassed) return;
                       if (!OnPreempt) ++FLostPushedOut;
                       DestroyTransaction(V);
                     });
}

int32_t TQueuePrtyCustom::DutyCapacity() {
  return FClosed ? 0 : FCapacity > 0 ? FCapacity : -1;
}

void TQueuePrtyCustom::CheckBlock(std::vector<std::string>& Findings) {
  TProQueue::CheckBlock(Findings);
  if (FLostPushedOut > 0)
    Findings.push_back(
        DisplayName() + " destroyed " +
        detail::CountOf(FLostPushedOut, "pushed-out transaction", "pushed-out transactions") +
        ": it has no OnPreempt handler");
}

TQueuePrty::TQueuePrty(TComponent* AOwner) : TWaitingLine(AOwner) {}

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
  detail::TryFinally(
      [this, Trans] {
        if (Overfilled()) PushOut(Trans);
      },
      [this] { OfferHead(); });
}

void TQueuePrty::KickFromBlock() {
  FTransaction = nullptr;
}

void TQueuePrtyCustom::Reset() {
  TProQueue::Reset();
  // The heads and transactions are not given back: the model discards both
  // pools as a whole right afterwards.
  FFirstQue = nullptr;
  FLastQue = nullptr;
  FQueCount = 0;
  FLostPushedOut = 0;
  FPrtyStats.clear();
  FHasTransaction = false;
  FReadyToReceive = true;
}

} // namespace quorin
