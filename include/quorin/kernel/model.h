// The model: the run loop with its clock, the choice of engine, the
// transaction class and the model check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <new>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <vector>

#include "quorin/framework/component.h"
#include "quorin/kernel/engine.h"
#include "quorin/kernel/transaction.h"

namespace quorin {

class TAggregate;
class TBlock;

using TBeforeModelGoOnEvent = std::function<void()>;
using TNewTimeEvent = std::function<void(TAggregate* Sender, TTransaction* Trans)>;
using TAfterPassEvent = std::function<void(TBlock* Sender, TBlock* Receiver, TTransaction* Trans)>;
using TDeadlock = std::function<void()>;

// The present model time.
double ModelTime();

// How the last Simulate ended: not run yet; normally (the end time was
// passed, Stop was called or nothing was left to do); the private heap ran
// out; too many moves without the model time advancing (a loop that takes
// no time, see TModel::SetMoveLimit); or a handler's exception, which went
// on out of Simulate. In every case the run is over and every block is
// consistent. After Exhausted and MoveLimit the model does not run on until
// Reset; after a handler's exception it may, and after Interrupted (see
// TModel::Interrupt) too.
enum class TRunEnd : uint8_t { None, Normal, Exhausted, MoveLimit, HandlerException, Interrupted };

// The class of pooled transactions: its size and how to build one in place.
// Also how to give one the fields of another (its copy assignment); Type
// tells which class Assign expects on both sides.
struct TTransactionClass {
  std::size_t Size;
  TTransaction* (*Construct)(void* Memory);
  void (*Assign)(TTransaction* To, const TTransaction& From) = nullptr;
  const std::type_info* Type = nullptr;
};

// The model runs the aggregates owned by the components of its owner's
// owner (a form of an application), or by its owner when that has no owner.
// Simulate makes the run's memory (the private heap, the pools, the future
// events list and the current events chain) on first use; Reset gives it back.
class TModel : public TComponent {
public:
  explicit TModel(TComponent* AOwner);
  ~TModel() override;

  // Runs until EndTime is passed, Stop is called or nothing is left to do.
  void Simulate(double EndTime);
  // Runs up to the horizon and no further: every activation due at or
  // before Horizon is taken, none after it (they stay pending, and a later
  // Simulate or SimulateTo goes on with them). When the horizon is reached,
  // or nothing is left to happen before it, the clock is set to Horizon, so
  // that the blocks' time-weighted statistics cover the time up to it; a run
  // ended by Stop (or the allocator, or the move limit) keeps its time. A
  // horizon that is not a finite number is refused with a message.
  void SimulateTo(double Horizon);
  void Stop() { FRunning = false; }
  // Asks the running model to stop after the event under way, as Stop does,
  // with RunEnd Interrupted; safe to call from a signal handler (SIGINT in
  // an interpreter). It is seen at the next move, where the move limit is
  // checked, so the run pays nothing for it; a call while no model runs is
  // forgotten when the next run starts.
  static void Interrupt();
  void Reset();
  // Clears the statistics of every block and of every tabulator on the
  // model's forms (except one that keeps them, TTabulator::KeepOnClear).
  void ClearStatistics();

  int32_t PageSize() const { return FPageSize; }
  void SetPageSize(int32_t Value);
  int32_t HeapSize() const { return FHeapSize; }
  void SetHeapSize(int32_t Value);
  // The opt-in for large models: with it, HeapSize may pass 128 megabytes
  // up to the machine's physical memory. Turning it off brings a larger
  // HeapSize back to 128. Like HeapSize, it takes effect at the next memory
  // initialisation.
  bool LargeHeap() const { return FLargeHeap; }
  void SetLargeHeap(bool Value);
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
  // All the switches at once (see TEngine): Documented, the default;
  // Scalable, the heap list with retry on change; Fast, the heap list with
  // retry at every scan and the fast paths. SetEventList and SetRetry may
  // change a part afterwards; Engine answers the last engine chosen. Chosen
  // like the event list, and refused the same way.
  TEngine Engine() const { return FEngine; }
  void SetEngine(TEngine Value);

  // The most moves (passes, and activations) a run makes at one model time:
  // a model that goes on moving without the time advancing (two queues that
  // pass to each other, a generator with interval 0) is stopped with a
  // message that names the blocks involved and the time, and does not run
  // on until Reset. 10,000,000 by default; 0 means no limit; a negative
  // value is refused with a message. Read at the start of each Simulate.
  int64_t MoveLimit() const { return FMoveLimit; }
  void SetMoveLimit(int64_t Value);
  static constexpr int64_t DefaultMoveLimit = 10000000;

  // Makes T the class of the pooled transactions. While a pool exists, a
  // class larger than its records is refused with a message. The class must
  // be copy-assignable: a divider's copies are assigned the fields of their
  // original. Every transaction the pool holds is destroyed (its destructor
  // runs) when the pool is dropped, by Reset or the model's destruction, so
  // members that own memory (a std::string) give it back; a record reused in
  // between keeps its fields.
  template <class T> void SetTransactionClass() {
    static_assert(std::is_base_of_v<TTransaction, T>, "T must derive from TTransaction");
    static_assert(std::is_same_v<T, TTransaction> || std::is_copy_assignable_v<T>,
                  "a transaction class must be copy-assignable: a divider's copies take the "
                  "original's fields by copy assignment");
    SetTransactionClass(
        {sizeof(T), [](void* Memory) -> TTransaction* { return ::new (Memory) T; },
         [](TTransaction* To, const TTransaction& From) {
           if constexpr (!std::is_same_v<T, TTransaction>)
             *static_cast<T*>(To) = static_cast<const T&>(From);
         },
         &typeid(T)});
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
  // Adds a check of the application's own to the model check: it adds its
  // findings, in plain words, to the list it is given.
  using TCheck = std::function<void(std::vector<std::string>& Findings)>;
  void AddCheck(TCheck Check) { FChecks.push_back(std::move(Check)); }
  // Transaction records ever carved from the pool; 0 while no pool exists.
  int32_t TransactionCount() const;

  // True only inside Simulate's event loop; false once Simulate has
  // returned, by any path, an exception from a handler included.
  bool Running() const { return FRunning; }
  TRunEnd RunEnd() const { return FRunEnd; }
  bool Exhausted() const { return FExhausted; }
  const std::vector<TAggregate*>& Aggregates() const { return FAggregates; }

  TNewTimeEvent OnNewTime;
  TAfterPassEvent OnAfterPass;
  TBeforeModelGoOnEvent OnBeforeTimeGoOn;
  TDeadlock OnDeadlock;

  // The steps of a run's start-up, which Simulate takes as needed: make the
  // memory (MemoInitialize: the heap, then ManagersCreate, then
  // GatherAggregates), check for a second model (OneMoreModel), and fire
  // OnBeforeTimeGoOn and every FirstInit (AggrInitialize).
  bool MemoInitialize();
  void MemoDeInitialize();
  bool ManagersCreate();
  void GatherAggregates();
  bool AggrInitialize();
  bool OneMoreModel();
  bool MemoReady() const { return FMemoReady; }
  bool AggrReady() const { return FAggrReady; }

  // Reports a pass to OnAfterPass; called by every successful PassTo.
  void RegisterPass(TBlock* Sender, TBlock* Receiver, TTransaction* Trans) {
    if (OnAfterPass) OnAfterPass(Sender, Receiver, Trans);
  }
  // Called by the allocator when the private heap refuses a page: shows Text
  // for the first refusal only, until Reset, and stops the run. A model so
  // stopped does not run on until it is Reset.
  void StopOnExhaustion(const std::string& Text);
  // Called when the moves at one model time pass the alarm: from the limit
  // on, notes the blocks of some more moves and then stops the run with a
  // message that names them.
  [[gnu::cold]] void MoveAtOneTime(TAggregate* From, TBlock* To);

private:
  friend class TAggregate;
  // Simulate and SimulateTo: the checks, the start-up, the loop of events
  // (Events) and what follows it.
  void Run(double EndTime, bool ToHorizon);
  void RunInside(double EndTime, bool ToHorizon);
  template <bool ToHorizon> bool Events(double EndTime);
  // Drops an aggregate being destroyed from the gathered list.
  void ForgetAggregate(TAggregate* Aggregate);

  // Calls Visit for every component of the scan: the components of each
  // component of the owner's owner (see the class comment).
  template <class F> void ScanComponents(F&& Visit) const;

  bool FMemoReady = false;
  bool FAggrReady = false;
  std::vector<TAggregate*> FAggregates;
  bool FRunning = false;
  // True for the whole of Simulate, start-up included: Simulate and Reset
  // called from a handler inside it are refused.
  bool FInSimulate = false;
  // True inside Simulate's loop of events, also once Stop has been called
  // there: the step under way (a scan of the chain) still runs to its end.
  bool FInLoop = false;
  bool FExhausted = false;
  int32_t FPageSize = 1024;
  int32_t FHeapSize = 4;
  bool FLargeHeap = false;
  TEventList FEventList = TEventList::Levels;
  TRetry FRetry = TRetry::EveryScan;
  TEngine FEngine = TEngine::Documented;
  bool FCheckModel = false;
  TRunEnd FRunEnd = TRunEnd::None;
  std::vector<TCheck> FChecks;
  int64_t FMoveLimit = DefaultMoveLimit;
  double FMovesTime = 0.0; // the model time the moves are counted at
  // The draws each random stream refused: Outside the model's runs
  // (reported by the call that made them, not by the check) and in all at
  // the end of the last run. Kept for the streams found at the last scan.
  struct TDrawRefusals {
    const TComponent* Stream;
    int32_t Outside;
    int32_t AtEnd;
  };
  std::vector<TDrawRefusals> FDrawRefusals, FDrawScratch;
  // At a run's start: the refusals since the last run's end were made
  // outside. At its end: the count so far.
  void NoteDrawRefusals(bool AtStart);
  // The blocks of the moves noted past the limit, distinct, in order, and
  // the number of those moves.
  std::vector<std::string> FLoopNames;
  int32_t FLoopMoves = 0;
};

} // namespace quorin
