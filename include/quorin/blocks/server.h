// A single-channel facility that serves one transaction at a time.
#pragma once

#include <cstdint>

#include "quorin/blocks/proqueue.h"

namespace quorin {

// Serves one transaction, the holder (FTransaction), whose service end is
// ordered with NextTime (as a rule from OnEnter); when it falls due the
// holder is offered to OnRouting. A Preemptive server also accepts a newcomer
// that carries the preempt mark and a strictly higher priority: the displaced
// holder goes to OnPreempt, which may PassTo it elsewhere or PostPone it onto
// the stack of interrupted transactions (linked through FNext, top in
// FInterrupted) with its remaining service time in FActivateTime; a holder
// neither passed nor postponed is destroyed. When a holder leaves, the most
// recently interrupted one resumes for its remaining time.
//
// Invariants at rest: FCount is 0 with FTransaction and FInterrupted null, or
// 1 (the holder) plus the depth of the stack; FHasTransaction is true only
// while the holder has finished its service and waits to leave.
class TServer : public TProQueue {
public:
  explicit TServer(TComponent* AOwner);

  void Activate(TTransaction* Trans) override;
  // Orders the holder's service end Delay from now, replacing one still
  // pending. On an empty server the activation carries nothing and is ignored.
  void NextTime(double Delay) override;
  void Reset() override;
  void ExitFromBlock() override;
  void KickFromBlock() override;
  void EnterToBlock(TTransaction* Trans) override;
  bool IsReadyToReceive(TTransaction* Trans) override;
  // Inside OnPreempt only: keeps the displaced holder on the interrupted stack.
  void PostPone() override;
  void CheckBlock(std::vector<std::string>& Findings) override;

  // Resumes the top of the interrupted stack as holder and orders the end of
  // its remaining service.
  void PopTrans();
  // True when the holder has finished, or its service ends at this very time.
  bool IdleForExit() const;
  // Empties the server: the holder, then the interrupted ones from the top,
  // each handed to OnRelease (which may pass it on) or else destroyed.
  void Release();
  // Releases the holder only; the most recently interrupted one resumes.
  void ReleaseOne();

  bool Preemptive() const { return FPreemptive; }
  void SetPreemptive(bool Value) {
    FPreemptive = Value;
    WakeWaiters();
  }
  TTransaction* Interrupted() const { return FInterrupted; }

  // The share of the time on duty that the server was busy (Usage counts
  // over the whole time, off duty included); NaN before any time on duty.
  long double Utilisation() { return DutyShare(BusyTime()); }
  // 1 on duty, 0 while closed (TBlock::SetClosed, a schedule's shifts).
  int32_t DutyCapacity() override { return FClosed ? 0 : 1; }

  TOnExitFromBlock OnExit;
  TOnEnterToBlock OnEnter;
  TOnPreempt OnPreempt;
  TOnRelease OnRelease;

protected:
  TTransaction* FInterrupted = nullptr;
  bool FPreemptive = false;

private:
  // Hands the displaced holder to OnPreempt; destroys it if not handled.
  void Displace();
  // The holder leaves, by a pass or a kick: OnExit, then its pending
  // service end is cancelled and it is counted out.
  void LeaveHolder();
  // Reports and answers true when a release is asked for from inside one of
  // the server's own handlers, where it would break the change under way.
  bool RefuseReleaseWhileBusy(const char* Method) const;
  // Releases FTransaction alone: OnRelease or destruction; leaves it null.
  void ReleaseCurrent();

  // Remaining service of the holder being displaced, for PostPone: negative
  // when no service end was pending and the holder had not finished, so that
  // it resumes without one, as it was.
  double FRemaining = 0.0;
  // True while one of the server's own handlers (OnEnter, OnExit, OnPreempt,
  // OnRelease) runs in the middle of a change: the server then takes no entry
  // and starts no release, either of which would break the change under way.
  bool FBusy = false;
  // True during a release: a holder passed on from OnRelease does not resume
  // the next interrupted one, the release takes care of that.
  bool FReleasing = false;
  // Displaced holders destroyed because no OnPreempt handler was assigned,
  // since the last Reset; reported by the model check.
  int32_t FLostPreempted = 0;
};

} // namespace quorin
