#include "quorin/blocks/server.h"
#include "quorin/detail/future.h"

namespace quorin {

TServer::TServer(TComponent* AOwner) : TProQueue(AOwner) {
  FHasTransaction = false;
  WatchClasses();
}

bool TServer::IsReadyToReceive(TTransaction* Trans) {
  if (FBusy) return false;
  if (FCount == 0) return true;
  return FPreemptive && Trans && Trans->IsPreempt() && Trans->GetPrty() > FTransaction->GetPrty();
}

void TServer::NextTime(double Delay) {
  // One service end at a time: an earlier one left pending would end the
  // service early, or fire for the record after it was destroyed. It is
  // cancelled only once the new one is accepted: a refused call must not
  // leave the holder without a service end.
  ReorderFor(Delay, FTransaction);
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
  // The newcomer is taken in fully even if a handler throws: it has left
  // its sender already.
  auto Admit = [this, Trans] {
    FTransaction = Trans;
    EnterStat(Trans);
  };
  if (FCount > 0) {
    try {
      Displace();
    } catch (...) {
      Admit();
      ++FCount;
      throw;
    }
  }
  Admit();
  detail::TFlagScope Busy(FBusy);
  FireThen(OnEnter, Trans, [this] { ++FCount; });
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
  // Neither passed nor postponed: destroyed; so also when OnPreempt throws
  // before it did either.
  auto Finish = [this, Holder] {
    if (FPassed) return;
    if (!OnPreempt) ++FLostPreempted;
    ExitStat(Holder);
    ++FPreemptExits;
    ClassPreempt(Holder);
    DestroyTransaction(Holder);
    --FCount;
  };
  detail::TryFinally(
      [this, Holder] {
        detail::TFlagScope Busy(FBusy);
        RouteThrough(OnPreempt, Holder, true);
      },
      Finish);
}

void TServer::KickFromBlock() {
  // Handled: a second PassTo or a PostPone in the same handler is refused.
  const TTransaction* Holder = FTransaction;
  LeaveHolder();
  ++FPreemptExits;
  ClassPreempt(Holder);
}

void TServer::PostPone() {
  // Only for the holder being displaced, only once, and not while it is
  // being passed on (from OnExit), which would keep it here and move it too.
  if (!FKick || FPassing || !FTransaction) return;
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
                       " serves a transaction whose service never ends: " +
                       detail::NoNextTime(*this, "OnEnter"));
  if (FLostPreempted > 0)
    Findings.push_back(
        DisplayName() + " destroyed " +
        detail::CountOf(FLostPreempted, "preempted transaction", "preempted transactions") +
        ": it has no OnPreempt handler");
}

void TServer::ExitFromBlock() {
  LeaveHolder();
  FHasTransaction = false;
  // During a release the release itself takes the next one.
  if (FCount > 0 && !FReleasing) PopTrans();
}

void TServer::LeaveHolder() {
  TTransaction* T = FTransaction;
  if (OnExit) {
    detail::TFlagScope Busy(FBusy);
    OnExit(this, T);
  }
  // A service end ordered from OnExit, or ordered again after the service
  // finished, must not follow it out: it could cut short a later stay here.
  T->CancelEvent();
  ExitStat(T);
  --FCount;
  FTransaction = nullptr;
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
  // Not passed on: destroyed, also when OnRelease throws before passing it.
  auto Finish = [this, T] {
    if (!FPassed) {
      ExitStat(T);
      DestroyTransaction(T);
      --FCount;
    }
    FTransaction = nullptr;
    // The holder is gone: blocks waiting for the server try again, and so
    // does the server if it waited to pass the holder on.
    WakeWaiters();
  };
  detail::TryFinally(
      [this, T] {
        detail::TFlagScope Busy(FBusy);
        RouteThrough(OnRelease, T, false);
      },
      Finish);
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
  // The server goes on with the most recently interrupted transaction, as
  // after a departure; it never keeps interrupted ones without a holder.
  auto Finish = [this] {
    FReleasing = false;
    PopTrans();
  };
  FReleasing = true;
  detail::TryFinally([this] { ReleaseCurrent(); }, Finish);
}

void TServer::Release() {
  if (RefuseReleaseWhileBusy("Release") || FCount == 0) return;
  // Leaves the server empty: nothing is offered any more (the chain drops it
  // at its next visit) and no destroyed record is left in FTransaction.
  FHasTransaction = false;
  FReleasing = true;
  try {
    ReleaseCurrent();
    while (FInterrupted) {
      FTransaction = FInterrupted;
      FInterrupted = FTransaction->FNext;
      FTransaction->FNext = nullptr;
      ReleaseCurrent();
    }
  } catch (...) {
    // A handler threw: the release ends with the one it was handling, and
    // the server goes on with the most recently interrupted one, as after
    // ReleaseOne, rather than keep interrupted ones without a holder.
    FReleasing = false;
    PopTrans();
    throw;
  }
  FReleasing = false;
}

void TServer::Reset() {
  TProQueue::Reset();
  FLostPreempted = 0;
  FInterrupted = nullptr;
  FHasTransaction = false;
  FRemaining = 0.0;
  FBusy = false;
  FReleasing = false;
}

} // namespace quorin
