// The simulation kernel: the model with its run loop and clock, the aggregate
// and block base classes with the pass protocol, and pooled transactions.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "quorin/current.h"
#include "quorin/framework.h"
#include "quorin/future.h"
#include "quorin/memoman.h"

namespace quorin {

class TAggregate;
class TBlock;
class TModel;
class TTransaction;

using TOnRoutingEvent = std::function<void(TBlock* Sender, TTransaction* Trans)>;
using TOnExitFromBlock = std::function<void(TBlock* Sender, TTransaction* Trans)>;
using TOnEnterToBlock = std::function<void(TBlock* Sender, TTransaction* Trans)>;
using TOnTimeFinish = std::function<void(TBlock* Sender, TTransaction* Trans)>;
using TOnPreempt = std::function<void(TBlock* Sender, TTransaction* Trans)>;
using TOnRelease = std::function<void(TBlock* Sender, TTransaction* Trans)>;
using TOnAfterGeneration = std::function<void(TBlock* Sender, TTransaction* Trans)>;
using TBeforeTimeGoOnEvent = std::function<void(TAggregate* Sender)>;
using TPlannedEvent = std::function<void(TAggregate* Sender)>;
using TBeforeModelGoOnEvent = std::function<void()>;
using TNewTimeEvent = std::function<void(TAggregate* Sender, TTransaction* Trans)>;
using TAfterPassEvent = std::function<void(TBlock* Sender, TBlock* Receiver, TTransaction* Trans)>;
using TDeadlock = std::function<void()>;

// Kernel state shared by the units. Model code reads the clock through
// ModelTime() and needs none of the rest; tools and tests inspect it.
extern double FSysTime;     // the model clock; moved only by the future events list
extern TModel* GlobalModel; // the running model; cleared when that model is destroyed
extern bool FlagPass;       // set by every successful PassTo, read by the chain
extern TTransManager* TransManager;
extern TMemoManager* QueHeadsManager;

inline double ModelTime() {
  return FSysTime;
}

// The moving entity. Every instance lives in a record of TransManager: the
// class operator new takes a zero-filled record (nullptr when the pool is
// exhausted or absent, or the record is too small for the class) and numbers
// it; operator delete gives the record back. Blocks that destroy a
// transaction hand the record back directly, with no destructor.
class TTransaction {
public:
  TTransaction();
  virtual ~TTransaction();
  TTransaction(const TTransaction&) = delete;
  TTransaction& operator=(const TTransaction&) = delete;

  static void* operator new(std::size_t Size) noexcept;
  static void operator delete(void* Memory) noexcept;

  // A new instance of the model's transaction class, or nullptr.
  static TTransaction* Create();

  void SetPrty(uint8_t Value) { FPrty = Value; }
  uint8_t GetPrty() const { return FPrty; }
  void SetPreempt() { FPreempt = true; }
  void SetNonPreempt() { FPreempt = false; }
  bool IsPreempt() const { return FPreempt; }
  int32_t GetTransID() const { return FTransID; }

  int32_t FTransID;
  uint8_t FPrty = 0;
  bool FPreempt = false;
  TTransaction* FNext = nullptr;
  TTransaction* FPrev = nullptr;
  TBlock* FBlock = nullptr;
  double FEnterTime = 0.0;
  double FActivateTime = 0.0;
  TFutureEvent* FEvent = nullptr;

  // Cancels the pending activation, if any, without touching the list order.
  void CancelEvent() {
    if (FEvent) {
      FEvent->Aggregate = nullptr;
      FEvent = nullptr;
    }
  }
};

namespace detail {
// Raises a flag for the length of a scope and restores its earlier value
// afterwards, also when a handler called meanwhile throws.
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
} // namespace detail

// One priority class of a priority block, a record of QueHeadsManager.
struct TQueHead {
  TQueHead* Next; // class of the next higher priority present
  TQueHead* Prev; // class of the next lower priority present
  uint8_t Prty;
  TTransaction* First;
  TTransaction* Last;
  int32_t Count;
};

// The class of pooled transactions: its size and how to build one in place.
struct TTransactionClass {
  std::size_t Size;
  TTransaction* (*Construct)(void* Memory);
};

// Anything the model activates at a point of model time.
class TAggregate : public TComponent {
public:
  explicit TAggregate(TComponent* AOwner) : TComponent(AOwner) {}
  // An aggregate destroyed before its model leaves the model's list, and its
  // pending activations are cancelled, so nothing reaches it afterwards.
  ~TAggregate() override;

  virtual void Activate(TTransaction* Trans);
  virtual void FirstInit();
  virtual void NextTime(double Delay);
  // Plans an activation Delay from now, for Trans (which records the time).
  // Answers whether the future events list accepted it; a refused one
  // changes nothing, Trans's activation time included.
  bool FOrderNextTime(double Delay, TTransaction* Trans);

  TModel* Model() const { return FModel; }

  TModel* FModel = nullptr;

protected:
  friend class TModel;
  // What the run loop does after Activate: schedulers and blocks are
  // activated, blocks are followed by a run of the chain, other classes are
  // not activated at all. Kept as a field so the loop needs no class test.
  enum class TKind : uint8_t { Other, Scheduler, Block };
  TKind FKind = TKind::Other;
};

// An aggregate that only fires timed user events.
class TScheduler : public TAggregate {
public:
  explicit TScheduler(TComponent* AOwner);
  void Activate(TTransaction* Trans) override;
  void FirstInit() override;

  TBeforeTimeGoOnEvent OnBeforeTimeGoOn;
  TPlannedEvent OnPlanned;
};

// The abstract node through which transactions flow.
class TBlock : public TAggregate {
public:
  explicit TBlock(TComponent* AOwner);
  // A destroyed block is not retried by the current events chain.
  ~TBlock() override;

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

  // Fires OnRouting with the block in routing, if it offers a transaction.
  void DoPass() {
    if (!FHasTransaction) return;
    detail::TFlagScope Routing(FInRouting);
    if (OnRouting) OnRouting(this, FTransaction);
  }
  // Moves the offered transaction into Receiver; only while in routing.
  // Inline up to the receiver's answer: most calls from a routing handler
  // are refused, and a refusal costs only these tests.
  bool PassTo(TBlock* Receiver) {
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
  // Tells the blocks parked on this one (TRetry::OnChange) that it may have
  // room again, so they are routed again. The library calls it on every
  // exit, unlock and capacity change; a block class of the model's own
  // calls it when its readiness rises for another reason.
  void WakeWaiters() {
    if (CurrentManager) CurrentManager->Wake(this);
  }
  // A closed block refuses every entry; what it holds stays and leaves as
  // usual. Opening it wakes the blocks waiting on it. Schedules use it for
  // shifts (TScheduleDriver); a block is open unless closed.
  void SetClosed(bool Value) {
    FClosed = Value;
    if (!Value) WakeWaiters();
  }
  bool isClosed() const { return FClosed; }
  // Parked: blocked and waiting on the receivers it tried (TRetry::OnChange).
  bool Parked() const { return FParked; }
  int32_t Entries() const { return FEntries; }
  int32_t Exits() const { return FExits; }
  bool HasTransaction() const { return FHasTransaction; }
  TTransaction* Transaction() const { return FTransaction; }
  bool InRouting() const { return FInRouting; }

  // The pass protocol's bookkeeping, read-only for checks and tests: a pass
  // of this block under way, a transaction on its way in, an exit under
  // way, the block's entry in the current events chain (or null), and the
  // transactions it destroys once their passes are reported.
  bool Passing() const { return FPassing; }
  bool Entering() const { return FEntering; }
  bool Exiting() const { return FExiting; }
  TCurrentEvent* ChainEntry() const { return FChainEntry; }
  TTransaction* ToDestroy() const { return FToDestroy; }

  TOnRoutingEvent OnRouting;

  bool FHasTransaction = false;
  bool FReadyToReceive = false;
  TTransaction* FTransaction = nullptr;
  bool FPassed = false;
  bool FKick = false;
  bool FInRouting = false;
  bool FClosed = false;
  int32_t FCount = 0;
  int32_t FEntries = 0;
  int32_t FExits = 0;

protected:
  friend class TCurrentManager;
  // The accepted pass: exit from this block, entry into Receiver, report.
  bool MoveTo(TBlock* Receiver);
  // Tells the chain, which routes this block, that Receiver refused it.
  [[gnu::cold]] void NoteRefusal(TBlock* Receiver);
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
  TWaitLink* FWaits = nullptr;
  TWaitLink* FFirstWaiter = nullptr;
  TWaitLink* FLastWaiter = nullptr;
  // Transactions this block destroys once the pass that brought each in has
  // been reported (so OnAfterPass never sees a freed record), linked through
  // FNext, the latest first (passes into the block nest).
  TTransaction* FToDestroy = nullptr;

  // Fires Handler(this, Trans) if assigned, then runs Finish. Finish also
  // runs when the handler throws, before the exception goes on, so that the
  // block completes the step under way (an entry is never half made).
  template <class H, class F> void FireThen(const H& Handler, TTransaction* Trans, F&& Finish) {
    if (Handler) {
      try {
        Handler(this, Trans);
      } catch (...) {
        Finish();
        throw;
      }
    }
    Finish();
  }
  // Orders Trans's activation Delay from now in place of the one pending for
  // it. The pending one is cancelled only once the new one is accepted, so
  // a refused order leaves the run as it was.
  void ReorderFor(double Delay, TTransaction* Trans) {
    TFutureEvent* Pending = Trans ? Trans->FEvent : nullptr;
    if (FOrderNextTime(Delay, Trans) && Pending) Pending->Aggregate = nullptr;
  }
  // Starts offering Trans and joins the current events chain.
  void Offer(TTransaction* Trans) {
    FTransaction = Trans;
    FHasTransaction = true;
    if (CurrentManager) CurrentManager->Add(this);
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
};

inline TCurrentEvent* TCurrentManager::Add(TBlock* Block) {
  if (TCurrentEvent* Existing = Block->FChainEntry) {
    assert(Existing->Block == Block);
    // A parked block offers anew: route it again, in its place.
    if (Block->FParked) Unpark(Block);
    return Existing;
  }
  return Append(Block);
}

class TModel : public TComponent {
public:
  explicit TModel(TComponent* AOwner);
  ~TModel() override;

  void Simulate(double EndTime);
  void Stop() { FRunning = false; }
  // Called by the allocator when the private heap refuses a page: shows Text
  // for the first refusal only, until Reset, and stops the run. A model so
  // stopped does not run on until it is Reset.
  void StopOnExhaustion(const std::string& Text);
  bool Exhausted() const { return FExhausted; }
  void Reset();
  void ClearStatistics();
  // Reports a pass to OnAfterPass; called by every successful PassTo.
  void RegisterPass(TBlock* Sender, TBlock* Receiver, TTransaction* Trans) {
    if (OnAfterPass) OnAfterPass(Sender, Receiver, Trans);
  }

  int32_t PageSize() const { return FPageSize; }
  void SetPageSize(int32_t Value);
  int32_t HeapSize() const { return FHeapSize; }
  void SetHeapSize(int32_t Value);
  // How the future events list keeps activations: Levels (the default) or
  // Heap, the opt-in list for models with very many pending activations.
  // Both give the same handler calls in the same order. Chosen before the
  // first Simulate or after Reset; refused with a message while a run's
  // memory exists.
  TEventList EventList() const { return FEventList; }
  void SetEventList(TEventList Value);
  // How blocked blocks are retried: EveryScan (the default) routes every
  // blocked block at every scan of the current events chain; OnChange
  // routes one again only when a receiver it tried may have room or the
  // block itself changed, which makes blocked blocks cost nothing while
  // they wait. Chosen like the event list.
  TRetry Retry() const { return FRetry; }
  void SetRetry(TRetry Value);

  // Makes T the class of the pooled transactions. While a pool exists, a
  // class larger than its records is refused with a message.
  template <class T> void SetTransactionClass() {
    static_assert(std::is_base_of_v<TTransaction, T>, "T must derive from TTransaction");
    SetTransactionClass(
        {sizeof(T), [](void* Memory) -> TTransaction* { return ::new (Memory) T; }});
  }
  void SetTransactionClass(const TTransactionClass& Class);

  // The model check: when on, every Simulate ends by reporting what looks
  // wrongly wired (transactions that cannot leave, services that never end,
  // generators that never start, passes into blocks that cannot receive,
  // transactions destroyed for want of an OnPreempt handler, random streams
  // that refused their parameters). Off by default.
  bool CheckModel() const { return FCheckModel; }
  void SetCheckModel(bool Value) { FCheckModel = Value; }
  // Runs the check now; reports each finding through MessageDlg, prefixed
  // "Quorin Check: ", and answers the findings.
  std::vector<std::string> RunCheck();
  // Transaction records ever carved from the pool; 0 while no pool exists.
  int32_t TransactionCount() const;

  bool MemoInitialize();
  void MemoDeInitialize();
  bool ManagersCreate();
  void GatherAggregates();
  bool AggrInitialize();
  bool OneMoreModel();

  bool MemoReady() const { return FMemoReady; }
  bool AggrReady() const { return FAggrReady; }
  bool Running() const { return FRunning; }
  const std::vector<TAggregate*>& Aggregates() const { return FAggregates; }

  TNewTimeEvent OnNewTime;
  TAfterPassEvent OnAfterPass;
  TBeforeModelGoOnEvent OnBeforeTimeGoOn;
  TDeadlock OnDeadlock;

private:
  friend class TAggregate;
  // Drops an aggregate being destroyed from the gathered list.
  void ForgetAggregate(TAggregate* Aggregate);

  // Calls Visit for every component of the scan: the components of each
  // component of the owner's owner (see the class comment in model.cpp).
  template <class F> void ScanComponents(F&& Visit) const;

  bool FMemoReady = false;
  bool FAggrReady = false;
  std::vector<TAggregate*> FAggregates;
  bool FRunning = false;
  // True for the whole of Simulate, start-up included: Simulate and Reset
  // called from a handler inside it are refused.
  bool FInSimulate = false;
  bool FExhausted = false;
  int32_t FPageSize = 1024;
  int32_t FHeapSize = 4;
  TEventList FEventList = TEventList::Levels;
  TRetry FRetry = TRetry::EveryScan;
  bool FCheckModel = false;
};

namespace detail {
// "1 transaction", "3 transactions": counts in the check's findings.
std::string CountOf(int32_t N, const std::string& Singular, const std::string& Plural);
} // namespace detail

} // namespace quorin
