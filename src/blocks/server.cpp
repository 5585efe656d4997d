#include "quorin/blocks/server.h"

namespace quorin {

namespace {
// Raises a flag for the length of a handler call and restores its earlier
// value afterwards (handlers nest: OnExit runs inside OnPreempt).
class TFlagScope {
public:
  explicit TFlagScope(bool& Flag) : FFlag(Flag), FOld(Flag) { FFlag = true; }
  ~TFlagScope() { FFlag = FOld; }
  TFlagScope(const TFlagScope&) = delete;
  TFlagScope& operator=(const TFlagScope&) = delete;

private:
  bool& FFlag;
  bool FOld;
};
} // namespace

TServer::TServer(TComponent* AOwner) : TProQueue(AOwner) {
  FHasTransaction = false;
}

bool TServer::IsReadyToReceive(TTransaction* Trans) {
  if (FBusy) return false;
  if (FCount == 0) return true;
  return FPreemptive && Trans && Trans->IsPreempt() && Trans->GetPrty() > FTransaction->GetPrty();
}

void TServer::NextTime(double Delay) {
  // One service end at a time: an earlier one left pending would end the
  // service early, or fire for the record after it was destroyed.
  if (FTransaction) FTransaction->CancelEvent();
  FOrderNextTime(Delay, FTransaction);
}

void TServer::Activate(TTransaction* Trans) {
  // Ignored: an activation ordered on an empty server (no transaction), one
  // whose transaction has left or is not the holder, and a second one for a
  // holder already on offer (the server is in the chain once).
  if (!Trans || Trans != FTransaction || Trans->FBlock != this || FHasTransaction) return;
  Offer(Trans);
}

void TServer::EnterToBlock(TTransaction* Trans) {
  TBlock::EnterToBlock(Trans);
  if (FCount > 0) Displace();
  FTransaction = Trans;
  EnterStat(Trans);
  if (OnEnter) {
    TFlagScope Busy(FBusy);
    OnEnter(this, Trans);
  }
  ++FCount;
}

void TServer::Displace() {
  TTransaction* Holder = FTransaction;
  if (Holder->FEvent) {
    const double Left = Holder->FActivateTime - FSysTime;
    FRemaining = Left > 0 ? Left : 0.0;
  } else {
    // A holder that had finished resumes at once, to be offered again; one
    // without a service end resumes without one.
    FRemaining = FHasTransaction ? 0.0 : -1.0;
  }
  Holder->CancelEvent();
  // The newcomer has not been served: it must not be offered in place of a
  // holder that had finished. The chain drops the server at its next visit.
  FHasTransaction = false;
  bool Handled;
  {
    TFlagScope Busy(FBusy);
    Handled = RouteThrough(OnPreempt, Holder, true);
  }
  if (!Handled) {
    if (!OnPreempt) ++FLostPreempted;
    ExitStat(Holder);
    ++FPreemptExits;
    DestroyTransaction(Holder);
    --FCount;
  }
}

void TServer::KickFromBlock() {
  TTransaction* T = FTransaction;
  if (OnExit) {
    TFlagScope Busy(FBusy);
    OnExit(this, T);
  }
  ExitStat(T);
  --FCount;
  ++FPreemptExits;
  // Handled: a second PassTo or a PostPone in the same handler is refused.
  FTransaction = nullptr;
}

void TServer::PostPone() {
  // Only for the holder being displaced, and only once.
  if (!FKick || !FTransaction) return;
  TTransaction* T = FTransaction;
  T->FNext = FInterrupted;
  FInterrupted = T;
  T->FActivateTime = FRemaining;
  FPassed = true;
  FTransaction = nullptr;
}

void TServer::CheckBlock(std::vector<std::string>& Findings) {
  TBlock::CheckBlock(Findings);
  if (FTransaction && !FHasTransaction && !FTransaction->FEvent)
    Findings.push_back(DisplayName() +
                       " serves a transaction whose service never ends: its OnEnter handler "
                       "orders no NextTime");
  if (FLostPreempted > 0)
    Findings.push_back(DisplayName() + " destroyed " +
                       CountOf(FLostPreempted, "preempted transaction", "preempted transactions") +
                       ": it has no OnPreempt handler");
}

void TServer::ExitFromBlock() {
  TTransaction* T = FTransaction;
  if (OnExit) {
    TFlagScope Busy(FBusy);
    OnExit(this, T);
  }
  // A service end ordered again after it finished must not cut short a
  // later stay of this transaction here.
  T->CancelEvent();
  ExitStat(T);
  --FCount;
  FTransaction = nullptr;
  FHasTransaction = false;
  // During a release the release itself takes the next one.
  if (FCount > 0 && !FReleasing) PopTrans();
}

void TServer::PopTrans() {
  // Fills an empty holder place only, so a call while a holder is present
  // loses nothing.
  if (FTransaction || !FInterrupted) return;
  TTransaction* T = FInterrupted;
  FInterrupted = T->FNext;
  T->FNext = nullptr;
  FTransaction = T;
  if (T->FActivateTime >= 0) FOrderNextTime(T->FActivateTime, T);
}

bool TServer::IdleForExit() const {
  return FHasTransaction || (FTransaction && FTransaction->FActivateTime == FSysTime);
}

void TServer::ReleaseCurrent() {
  TTransaction* T = FTransaction;
  T->CancelEvent();
  bool Passed;
  {
    TFlagScope Busy(FBusy);
    Passed = RouteThrough(OnRelease, T, false);
  }
  if (!Passed) {
    ExitStat(T);
    DestroyTransaction(T);
    --FCount;
  }
  FTransaction = nullptr;
}

bool TServer::RefuseReleaseWhileBusy(const char* Method) const {
  if (!FBusy) return false;
  MessageDlg("Quorin Error: " + DisplayName() + "." + Method +
             " is refused inside the server's own OnEnter, OnExit, OnPreempt or OnRelease "
             "handler, while its holder is changing");
  return true;
}

void TServer::ReleaseOne() {
  // Refused inside the server's own handlers, where the holder is changing.
  if (RefuseReleaseWhileBusy("ReleaseOne") || FCount == 0) return;
  FHasTransaction = false;
  FReleasing = true;
  ReleaseCurrent();
  FReleasing = false;
  // The server goes on with the most recently interrupted transaction, as
  // after a departure; it never keeps interrupted ones without a holder.
  PopTrans();
}

void TServer::Release() {
  if (RefuseReleaseWhileBusy("Release") || FCount == 0) return;
  // Leaves the server empty: nothing is offered any more (the chain drops it
  // at its next visit) and no destroyed record is left in FTransaction.
  FHasTransaction = false;
  FReleasing = true;
  ReleaseCurrent();
  while (FInterrupted) {
    FTransaction = FInterrupted;
    FInterrupted = FTransaction->FNext;
    FTransaction->FNext = nullptr;
    ReleaseCurrent();
  }
  FReleasing = false;
}

void TServer::Reset() {
  TBlock::Reset();
  FLostPreempted = 0;
  FInterrupted = nullptr;
  FHasTransaction = false;
  FRemaining = 0.0;
  FBusy = false;
  FReleasing = false;
}

} // namespace quorin
