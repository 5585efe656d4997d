// The block: the node through which transactions flow, and the pass
// protocol (PassTo) that moves a transaction from one block into the next.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "quorin/detail/scope.h"
#include "quorin/kernel/aggregate.h"
#include "quorin/kernel/transaction.h"

namespace quorin {

struct TCurrentEvent;
struct TWaitLink;

using TOnRoutingEvent = std::function<void(TBlock* Sender, TTransaction* Trans)>;
using TOnExitFromBlock = std::function<void(TBlock* Sender, TTransaction* Trans)>;
using TOnEnterToBlock = std::function<void(TBlock* Sender, TTransaction* Trans)>;
using TOnTimeFinish = std::function<void(TBlock* Sender, TTransaction* Trans)>;
using TOnPreempt = std::function<void(TBlock* Sender, TTransaction* Trans)>;
using TOnRelease = std::function<void(TBlock* Sender, TTransaction* Trans)>;
using TOnAfterGeneration = std::function<void(TBlock* Sender, TTransaction* Trans)>;

// A block that offers a transaction (HasTransaction) is in the current
// events chain, which fires its OnRouting until the handler passes the
// transaction on with PassTo or the chain has nothing left to move.
class TBlock : public TAggregate {
public:
  explicit TBlock(TComponent* AOwner);
  // A destroyed block is not retried by the current events chain.
  ~TBlock() override;

  // Moves the offered transaction into Receiver; only while in routing
  // (from OnRouting, or a handler that routes, such as OnTimeFinish).
  // Answers whether it moved.
  bool PassTo(TBlock* Receiver);
  // Fires OnRouting with the block in routing, if it offers a transaction.
  void DoPass();

  virtual void Reset();
  virtual void ExitFromBlock();
  virtual void KickFromBlock();
  virtual void EnterToBlock(TTransaction* Trans);
  virtual bool IsReadyToReceive(TTransaction* Trans);
  virtual int32_t Count();
  virtual void ClearStatistics();
  virtual void PostPone();
  // Adds to Findings, in plain words, what the model check sees wrong in
  // this block's wiring now; the base finds a transaction ready to leave
  // with no OnRouting handler to move it.
  virtual void CheckBlock(std::vector<std::string>& Findings);

  int32_t Entries() const { return FEntries; }
  int32_t Exits() const { return FExits; }
  bool HasTransaction() const { return FHasTransaction; }
  TTransaction* Transaction() const { return FTransaction; }
  bool InRouting() const { return FInRouting; }
  // Tells the blocks parked on this one (TRetry::OnChange) that it may have
  // room again, so they are routed again. The library calls it on every
  // exit, unlock and capacity change; a block class of the model's own
  // calls it when its readiness rises for another reason.
  void WakeWaiters();
  // Parked: blocked and waiting on the receivers it tried (TRetry::OnChange).
  bool Parked() const { return FParked; }
  // A closed block refuses every entry; what it holds stays and leaves as
  // usual. Opening it wakes the blocks waiting on it. Schedules use it for
  // shifts (TScheduleDriver); a block is open unless closed.
  void SetClosed(bool Value) {
    FClosed = Value;
    DutyChanged();
    if (!Value) WakeWaiters();
  }
  bool isClosed() const { return FClosed; }

  TOnRoutingEvent OnRouting;
  // A route fixed when the model is built: while OnRouting is not assigned,
  // the block's routing passes its transaction to Receiver, as a handler
  // `Sender->PassTo(Receiver)` would, but with no handler call. Null (the
  // default) routes by OnRouting only. A model file's lone
  // `OnRouting = PassTo(Block)` is loaded as such a route. A receiver
  // destroyed before its senders clears their routes: they route by
  // OnRouting only from then on.
  void SetRoute(TBlock* Receiver);
  TBlock* Route() const { return FRoute; }

  // The documented fields: the transaction offered (FTransaction, while
  // FHasTransaction), whether the block takes one in when it has no rule of
  // its own (FReadyToReceive), whether the routing under way passed its
  // transaction (FPassed) and moves it through KickFromBlock (FKick), and
  // the counts.
  bool FHasTransaction = false;
  bool FReadyToReceive = false;
  TTransaction* FTransaction = nullptr;
  bool FPassed = false;
  bool FKick = false;
  bool FInRouting = false;
  bool FClosed = false; // see SetClosed
  TBlock* FRoute = nullptr; // see SetRoute
  int32_t FCount = 0;
  int32_t FEntries = 0;
  int32_t FExits = 0;

  // The pass protocol's bookkeeping, read-only for checks and tests: a pass
  // of this block under way, a transaction on its way in, the block's entry
  // in the current events chain (or null), and the transactions it destroys
  // once their passes are reported.
  bool Passing() const { return FPassing; }
  bool Entering() const { return FEntering; }
  TCurrentEvent* ChainEntry() const { return FChainEntry; }
  TTransaction* ToDestroy() const { return FToDestroy; }

protected:
  // Told after the block's capacity or duty changed: blocks that measure
  // their utilisation over the capacity on duty bring it up to now.
  virtual void DutyChanged() {}
  // Fires Handler(this, Trans) if assigned, then runs Finish. Finish also
  // runs when the handler throws, before the exception goes on, so that the
  // block completes the step under way (an entry is never half made).
  template <class H, class F> void FireThen(const H& Handler, TTransaction* Trans, F&& Finish) {
    detail::TryFinally(
        [&] {
          if (Handler) Handler(this, Trans);
        },
        Finish);
  }
  // Orders Trans's activation Delay from now in place of the one pending for
  // it. The pending one is cancelled only once the new one is accepted, so
  // a refused order leaves the run as it was.
  void ReorderFor(double Delay, TTransaction* Trans);
  // Starts offering Trans and joins the current events chain.
  void Offer(TTransaction* Trans) {
    FTransaction = Trans;
    FHasTransaction = true;
    JoinChain();
  }
  // Joins the current events chain at its tail; a block already in it keeps
  // its place and, if parked, is routed again. Inline up to the chain: most
  // calls find the block in the chain already.
  void JoinChain() {
    if (!FChainEntry)
      AppendToChain();
    else if (FParked)
      UnparkInChain();
  }
  // Fires Handler for Trans with the block in routing, as for a time-out, a
  // preemption or a release; answers whether the handler passed (or
  // postponed) the transaction. Kick routes a PassTo through KickFromBlock.
  bool RouteThrough(const TOnRoutingEvent& Handler, TTransaction* Trans, bool Kick);
  // Gives a transaction's record back to the pool without a destructor,
  // cancelling its pending activation first.
  static void DestroyTransaction(TTransaction* Trans);
  // Destroys Trans, the transaction this block is taking in. Brought in by
  // PassTo, it is left in FToDestroy for PassTo to destroy after OnAfterPass,
  // which is handed the transaction and must find it whole.
  void DestroyEntered(TTransaction* Trans) {
    if (FEntering) {
      Trans->FNext = FToDestroy;
      FToDestroy = Trans;
    } else {
      DestroyTransaction(Trans);
    }
  }
  // Destroys Trans if it waits in FToDestroy, at the end of its pass.
  void DestroyPassed(TTransaction* Trans) {
    if (FToDestroy != Trans) return;
    FToDestroy = Trans->FNext;
    Trans->FNext = nullptr;
    DestroyTransaction(Trans);
  }
  // A transaction for a generator or creator: a freed record reused as its
  // last holder left it, else a new instance of the model's class; priority,
  // preempt mark and pending event are reset. nullptr when none can be had.
  static TTransaction* MakeTransaction();
  // Gives Copy the fields of Original that belong to the model's
  // transaction class (its copy assignment); nothing when either record is
  // not of that class.
  static void CopyFields(TTransaction* Copy, const TTransaction& Original);
  // Makes Trans a part of family Family (see TTransaction::Family).
  static void SetFamily(TTransaction* Trans, int32_t Family);

  // True while a PassTo of this block moves a transaction: a nested PassTo
  // (from OnExit, or from the receiver's handlers) would move the same
  // transaction twice.
  bool FPassing = false;
  // True while a transaction is on its way into this block: from the moment
  // a PassTo found it ready, through the sender's exit, to the end of its
  // EnterToBlock. Meanwhile it takes no other transaction (one let in from
  // the sender's OnExit would be overwritten or overfill it) and passes
  // nothing but a holder it displaces (what it offers during OnEnter is the
  // transaction not yet in its lists).
  bool FEntering = false;
  // True while this block's exit (ExitFromBlock or KickFromBlock, with its
  // OnExit) runs inside a PassTo: it takes no transaction in meanwhile.
  bool FExiting = false;
  // Written by the current events chain only: the entry, its place in the
  // join order, and with TRetry::OnChange whether the block is parked, its
  // waits on receivers, the blocks waiting on it, and whether the chain is
  // noting the receivers that refuse it.
  TCurrentEvent* FChainEntry = nullptr;
  int64_t FChainSeq = 0;
  bool FParked = false;
  bool FNoteRefusals = false;
  // The fast engine's retry policy (TRetryPolicy::SkipUnchanged, see
  // TCurrentManager::Unchanged): when the block was last refused with
  // nothing changed during its routing, and the transaction it offered
  // then; when it last changed (a move into or out of it, a signal) and
  // when a transaction last left it.
  uint64_t FRefusedStamp = 0;
  TTransaction* FRefusedTrans = nullptr;
  uint64_t FChangedAt = 0;
  uint64_t FOutAt = 0;

  TWaitLink* FWaits = nullptr;
  TWaitLink* FFirstWaiter = nullptr;
  TWaitLink* FLastWaiter = nullptr;
  // With the model check on: the receivers (as a hash) that refused the last
  // routing of FTriedFor that moved nothing, and whether two such routings
  // of one transaction tried different receivers.
  TTransaction* FTriedFor = nullptr;
  uint64_t FTriedHash = 0;
  bool FRoutingVaries = false;
  // Transactions this block destroys once the pass that brought each in has
  // been reported (so OnAfterPass never sees a freed record), linked through
  // FNext, the latest first (passes into the block nest).
  TTransaction* FToDestroy = nullptr;

private:
  // The blocks whose fixed route is this block, so that destroying it
  // clears their routes instead of leaving them pointing at freed memory.
  std::vector<TBlock*> FRoutedFrom;
  friend class TCurrentManager;
  // The accepted pass: exit from this block, entry into Receiver, report.
  bool MoveTo(TBlock* Receiver);
  // MoveTo's steps for T up to the report, with the receiver held for T.
  void Hand(TBlock* Receiver, TTransaction* T);
  // The fixed route taken by the chain's scan on TEngine::Fast, where no
  // pass, entry or exit is under way: only the receiver's own answer is
  // asked. Answers whether it moved.
  bool PassOnRoute();
  // Tells the chain, which routes this block, that Receiver refused it.
  [[gnu::cold]] void NoteRefusal(TBlock* Receiver);
  // The two halves of JoinChain that reach the chain.
  void AppendToChain();
  void UnparkInChain();
};

// Inline up to the receiver's answer: most calls from a routing handler are
// refused, and a refusal costs only these tests.
inline bool TBlock::PassTo(TBlock* Receiver) {
  // Refused like a receiver that is not ready: nothing to move (a second
  // PassTo after the block ran empty), no receiver, the sending block itself
  // (nothing can move into the block it is in), a pass nested in one this
  // block is making (from its OnExit, or from the receiver's OnEnter), which
  // would move the same transaction twice, and a pass from a block in the
  // middle of taking a transaction in (its OnEnter), which would move the
  // one it has not yet linked in; a receiver that another transaction is
  // on its way into; and a receiver that a transaction is leaving (from its
  // OnExit), whose lists still hold the leaving one: an entry there could
  // push the leaving transaction out and free it under the exit.
  if (!FInRouting || FPassing || (FEntering && !FKick) || !FTransaction || !Receiver ||
      Receiver == this || Receiver->FEntering || Receiver->FExiting)
    return false;
  // A closed receiver (off duty, see SetClosed) refuses like a full one.
  if (Receiver->FClosed || !Receiver->IsReadyToReceive(FTransaction)) {
    if (FNoteRefusals) NoteRefusal(Receiver);
    return false;
  }
  return MoveTo(Receiver);
}

inline bool TBlock::PassOnRoute() {
  TBlock* Receiver = FRoute;
  if (!FTransaction || Receiver == this || Receiver->FClosed ||
      !Receiver->IsReadyToReceive(FTransaction))
    return false;
  detail::TFlagScope Routing(FInRouting);
  return MoveTo(Receiver);
}

inline void TBlock::DoPass() {
  if (!FHasTransaction) return;
  detail::TFlagScope Routing(FInRouting);
  if (OnRouting)
    OnRouting(this, FTransaction);
  else if (FRoute)
    PassTo(FRoute);
}

namespace detail {
// "1 transaction", "3 transactions": counts in the check's findings.
std::string CountOf(int32_t N, const std::string& Singular, const std::string& Plural);
// Why a holding never ends, for the check: "its OnEnter handler orders no
// NextTime", or, when the future events list refused what it ordered, that
// it ordered one that was refused.
std::string NoNextTime(const TAggregate& Block, const std::string& Handler);
} // namespace detail

} // namespace quorin
