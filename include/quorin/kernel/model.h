// The model: the run loop with its clock, the choice of engine, the
// transaction class and the model check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <new>
#include <string>
#include <type_traits>
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

// The class of pooled transactions: its size and how to build one in place.
struct TTransactionClass {
  std::size_t Size;
  TTransaction* (*Construct)(void* Memory);
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
  void Stop() { FRunning = false; }
  void Reset();
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

  bool Running() const { return FRunning; }
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

private:
  friend class TAggregate;
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
  bool FExhausted = false;
  int32_t FPageSize = 1024;
  int32_t FHeapSize = 4;
  bool FLargeHeap = false;
  TEventList FEventList = TEventList::Levels;
  TRetry FRetry = TRetry::EveryScan;
  bool FCheckModel = false;
};

} // namespace quorin
