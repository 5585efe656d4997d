#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include <unistd.h>

#include "quorin/kernel/model.h"

#include "quorin/detail/current.h"
#include "quorin/detail/future.h"
#include "quorin/detail/parts.h"
#include "quorin/detail/run.h"
#include "quorin/kernel/block.h"
#include "transaction_class.h"

namespace quorin {

TModel* GlobalModel = nullptr;
int64_t detail::MovesAtOneTime = 0;
int64_t detail::MoveAlarm = std::numeric_limits<int64_t>::max();
uint64_t detail::LastSerial = 0;
bool detail::StatsInDouble = false;
volatile std::sig_atomic_t detail::InterruptRequested = 0;

void TModel::Interrupt() {
  detail::InterruptRequested = 1;
  detail::MoveAlarm = -1;
}

namespace {
// Moves noted past the limit before the run is stopped: enough to go round
// any loop of a few blocks and name them.
constexpr int32_t LoopMovesNoted = 64;
constexpr std::size_t LoopBlocksNamed = 8;

// The physical memory of the machine in megabytes: the bound of a large heap.
int32_t MachineMegabytes() {
  const long Pages = sysconf(_SC_PHYS_PAGES);
  const long PageBytes = sysconf(_SC_PAGESIZE);
  if (Pages <= 0 || PageBytes <= 0) return 128;
  const int64_t Megabytes = int64_t(Pages) * PageBytes / 1048576;
  return int32_t(std::clamp<int64_t>(Megabytes, 128, INT32_MAX));
}
} // namespace

double ModelTime() {
  return FSysTime;
}

TModel::TModel(TComponent* AOwner) : TComponent(AOwner) {
  TransactionClass = DefaultTransactionClass();
  FSysTime = 0.0;
}

TModel::~TModel() {
  if (FMemoReady) MemoDeInitialize();
  for (TAggregate* A : FAggregates)
    A->FModel = nullptr;
  // Nothing may reach a destroyed model through the global.
  if (GlobalModel == this) GlobalModel = nullptr;
}

void TModel::SetPageSize(int32_t Value) {
  if (Value < 1024) {
    MessageDlg("Quorin Error: Page size can not be less than 1024");
  } else if (Value > 32768) {
    MessageDlg("Quorin Error: Page size can not be more than 32768");
  } else {
    FPageSize = Value;
  }
}

void TModel::SetHeapSize(int32_t Value) {
  if (Value <= 0) {
    MessageDlg("Quorin Error: Heap size can not be less than 1M");
  } else if (Value > 128 && !FLargeHeap) {
    MessageDlg("Quorin Error: Heap size can not be more than 128");
  } else if (Value > MachineMegabytes()) {
    MessageDlg("Quorin Error: Heap size can not be more than " + std::to_string(MachineMegabytes()) +
               ", the memory of this machine in megabytes");
  } else {
    FHeapSize = Value;
  }
}

void TModel::SetLargeHeap(bool Value) {
  FLargeHeap = Value;
  if (!FLargeHeap && FHeapSize > 128) FHeapSize = 128;
}

void TModel::SetMoveLimit(int64_t Value) {
  if (Value < 0) {
    MessageDlg("Quorin Error: The move limit of " + DisplayName() + " can not be negative");
    return;
  }
  FMoveLimit = Value;
}

void TModel::SetEventList(TEventList Value) {
  if (Value != TEventList::Levels && Value != TEventList::Heap) {
    // A value cast from a number outside the enumeration: no list is built
    // for it, so it is refused like a capacity that means nothing.
    MessageDlg("Quorin Error: The event list of " + DisplayName() +
               " must be TEventList::Levels or TEventList::Heap");
    return;
  }
  if (FMemoReady && Value != FEventList) {
    // The list holds the run's pending activations; they cannot move.
    MessageDlg("Quorin Error: The event list of " + DisplayName() +
               " can be chosen only before the first Simulate or after Reset");
    return;
  }
  FEventList = Value;
}

void TModel::SetRetry(TRetry Value) {
  if (Value != TRetry::EveryScan && Value != TRetry::OnChange) {
    MessageDlg("Quorin Error: The retry mode of " + DisplayName() +
               " must be TRetry::EveryScan or TRetry::OnChange");
    return;
  }
  if (FMemoReady && Value != FRetry) {
    // Blocked blocks of the run wait in the chain as the mode keeps them.
    MessageDlg("Quorin Error: The retry mode of " + DisplayName() +
               " can be chosen only before the first Simulate or after Reset");
    return;
  }
  FRetry = Value;
}

void TModel::SetEngine(TEngine Value) {
  if (Value != TEngine::Documented && Value != TEngine::Scalable && Value != TEngine::Fast) {
    MessageDlg("Quorin Error: The engine of " + DisplayName() +
               " must be TEngine::Documented, TEngine::Scalable or TEngine::Fast");
    return;
  }
  const TEventList List = Value == TEngine::Documented ? TEventList::Levels : TEventList::Heap;
  const TRetry Mode = Value == TEngine::Scalable ? TRetry::OnChange : TRetry::EveryScan;
  if (FMemoReady && (Value != FEngine || List != FEventList || Mode != FRetry)) {
    // The run's lists, pools and statistics are kept as the engine keeps them.
    MessageDlg("Quorin Error: The engine of " + DisplayName() +
               " can be chosen only before the first Simulate or after Reset");
    return;
  }
  FEngine = Value;
  FEventList = List;
  FRetry = Mode;
}

void TModel::SetTransactionClass(const TTransactionClass& Class) {
  if (TransManager && Class.Size > TransManager->ItemSize()) {
    // Records of the existing pool are too small for the class; it could
    // only be built in them by overrunning them.
    MessageDlg("Quorin Error: Transaction class does not fit the records of the transaction pool");
    return;
  }
  TransactionClass = Class;
}

int32_t TModel::TransactionCount() const {
  return TransManager ? TransManager->TotalItemCount() : 0;
}

// The scan: for every component C owned by the owner's owner A, every
// component X owned by C. A model whose owner has no owner scans its owner's
// components (one form, no application); a model with no owner scans nothing.
template <class F> void TModel::ScanComponents(F&& Visit) const {
  TComponent* Form = Owner();
  if (!Form) return;
  auto VisitOwned = [&Visit](TComponent* C) {
    for (int32_t j = 0; j < C->ComponentCount(); ++j)
      Visit(C->Components(j));
  };
  TComponent* Application = Form->Owner();
  if (!Application) {
    VisitOwned(Form);
    return;
  }
  for (int32_t i = 0; i < Application->ComponentCount(); ++i)
    VisitOwned(Application->Components(i));
}

bool TModel::OneMoreModel() {
  int32_t Models = 0;
  ScanComponents([&Models](TComponent* X) {
    if (auto* M = dynamic_cast<TModel*>(X)) {
      ++Models;
      GlobalModel = M;
    }
  });
  return Models > 1;
}

void TModel::ForgetAggregate(TAggregate* Aggregate) {
  // Searched from the end: components go last-created first, so the one
  // leaving is usually the last, and destroying a large model stays linear.
  const auto It = std::find(FAggregates.rbegin(), FAggregates.rend(), Aggregate);
  if (It != FAggregates.rend()) FAggregates.erase(std::next(It).base());
}

void TModel::GatherAggregates() {
  for (TAggregate* A : FAggregates)
    A->FModel = nullptr;
  FAggregates.clear();
  ScanComponents([this](TComponent* X) {
    if (auto* A = dynamic_cast<TAggregate*>(X)) {
      A->FModel = this;
      FAggregates.push_back(A);
    }
  });
}

bool TModel::ManagersCreate() {
  const auto Page = static_cast<uint16_t>(FPageSize);
  // Record sizes above 16 bits are clamped: such a record is larger than any
  // page and is refused by the pool, never truncated into a smaller one.
  const auto TransSize = static_cast<uint16_t>(
      std::min<std::size_t>(TransactionClass.Size, std::numeric_limits<uint16_t>::max()));
  // The fast engine's pools keep given-back records on a free list, its
  // chain skips the blocks that nothing has changed for, and its
  // statistics accumulate in double.
  const bool Fast = FEngine == TEngine::Fast;
  detail::StatsInDouble = Fast;
  try {
    FutureManager = new TFutureManager(Page, FEventList, Fast);
  } catch (...) {
    MessageDlg("Quorin Error: Can not create Manager of future events");
    return false;
  }
  try {
    CurrentManager = new TCurrentManager(Page, Fast);
    CurrentManager->SetPolicy(FRetry == TRetry::OnChange ? TRetryPolicy::OnChange
                              : Fast                     ? TRetryPolicy::SkipUnchanged
                                                         : TRetryPolicy::EveryScan);
  } catch (...) {
    MessageDlg("Quorin Error: Can not create Manager of current events");
    return false;
  }
  try {
    TransManager = new TTransManager(Page, TransSize, Fast);
  } catch (...) {
    MessageDlg("Quorin Error: Can not create Manager of transactions");
    return false;
  }
  // The pools of the block families that keep records of their own (the
  // priority blocks' classes).
  for (const detail::TRunPool& Pool : detail::RunPools()) {
    try {
      *Pool.Pool = new TMemoManager(Page, Pool.ItemSize, Fast);
    } catch (...) {
      MessageDlg(std::string("Quorin Error: Can not create Manager of ") + Pool.Name);
      return false;
    }
  }
  return true;
}

bool TModel::MemoInitialize() {
  // The managers are shared globals: a second model must not replace the
  // memory of one that still holds it.
  const bool OtherHoldsMemory = GlobalModel && GlobalModel != this && GlobalModel->FMemoReady;
  if (OtherHoldsMemory || OneMoreModel()) {
    MessageDlg("Quorin Error: There is more than one model in application");
    return false;
  }
  GlobalModel = this;
  // The clock is shared by all models: a first run starts at 0 even when
  // another model ran before this one.
  FSysTime = 0.0;
  detail::LastSerial = 0;
  FExhausted = false;
  GlobalHeap = HeapCreate(0, 2048, std::size_t(FHeapSize) * 1048576u);
  CountPages = 0;
  // A failed initialisation releases what it made, so the next Simulate
  // starts from nothing and no memory is left behind.
  if (!ManagersCreate()) {
    MemoDeInitialize();
    return false;
  }
  GatherAggregates();
  if (FAggregates.empty()) {
    MessageDlg("Quorin Error: There are no aggregates / blocks in the application");
    MemoDeInitialize();
    return false;
  }
  FMemoReady = true;
  return true;
}

void TModel::MemoDeInitialize() {
  ForgetFamilies();
  detail::StatsInDouble = false;
  delete FutureManager;
  FutureManager = nullptr;
  delete CurrentManager;
  CurrentManager = nullptr;
  if (TransManager) {
    // Every record the pool carved holds a transaction of the model's class
    // (records given back are rebuilt, see TTransaction::operator delete):
    // their destructors run now, so members that own memory give it back.
    TransManager->ForEachCarved(
        [](void* Record) { static_cast<TTransaction*>(Record)->~TTransaction(); });
  }
  delete TransManager;
  TransManager = nullptr;
  for (const detail::TRunPool& Pool : detail::RunPools()) {
    delete *Pool.Pool;
    *Pool.Pool = nullptr;
  }
  HeapDestroy(GlobalHeap);
  GlobalHeap = nullptr;
  FMemoReady = false;
}

bool TModel::AggrInitialize() {
  if (FAggregates.empty()) return false;
  if (OnBeforeTimeGoOn) OnBeforeTimeGoOn();
  for (TAggregate* A : FAggregates) {
    try {
      A->FirstInit();
    } catch (...) {
      MessageDlg("Quorin Error: Can not initialize the aggregate " + A->DisplayName());
      return false;
    }
  }
  FAggrReady = true;
  return true;
}

void TModel::Simulate(double EndTime) {
  Run(EndTime, false);
}

void TModel::SimulateTo(double Horizon) {
  Run(Horizon, true);
}

void TModel::Run(double EndTime, bool ToHorizon) {
  if (FInSimulate) {
    // A nested run would take events out from under the running loop, or
    // start up again inside the start-up under way.
    MessageDlg(std::string("Quorin Error: ") + (ToHorizon ? "SimulateTo" : "Simulate") +
               " is called while the model is running");
    return;
  }
  if (std::isnan(EndTime)) {
    // No event could be compared with it: the loop would take one and stop.
    MessageDlg("Quorin Error: The end time of Simulate is not a number");
    return;
  }
  if (ToHorizon && !std::isfinite(EndTime)) {
    // The clock is moved to the horizon: it must be a time.
    MessageDlg("Quorin Error: The horizon of SimulateTo is not a finite number");
    return;
  }
  detail::TFlagScope InSimulate(FInSimulate);
  // Draws refused by the start-up belong to the run; the count is taken
  // at its end however it ends.
  NoteDrawRefusals(true);
  detail::TryFinally([&] { RunInside(EndTime, ToHorizon); }, [this] { NoteDrawRefusals(false); });
}

void TModel::RunInside(double EndTime, bool ToHorizon) {
  if (!FMemoReady && !MemoInitialize()) return;
  if (!FAggrReady && !AggrInitialize()) return;
  // A run stopped by the allocator does not go on until Reset: records were
  // refused (the chain is halted for good), so what followed would be wrong.
  if (FExhausted) return;
  // So does a run stopped in a loop that takes no time: it would loop again.
  if (FRunEnd == TRunEnd::MoveLimit) return;
  if (FSysTime > EndTime) return;
  GlobalModel = this;
  CurrentManager->SetCheck(FCheckModel);
  detail::InterruptRequested = 0;
  FLoopNames.clear();
  FLoopMoves = 0;
  FRunEnd = TRunEnd::None;
  FRunning = true;
  FInLoop = true;
  bool Reached = false;
  try {
    if (ToHorizon)
      Reached = Events<true>(EndTime);
    else
      Events<false>(EndTime);
  } catch (...) {
    // The run is over however it ended: nothing runs any more, and every
    // block completed the step under way (see TBlock::FireThen).
    FRunning = false;
    FInLoop = false;
    FRunEnd = TRunEnd::HandlerException;
    detail::MoveAlarm = std::numeric_limits<int64_t>::max();
    throw;
  }
  FRunning = false;
  FInLoop = false;
  detail::MoveAlarm = std::numeric_limits<int64_t>::max();
  if (FRunEnd == TRunEnd::None) FRunEnd = FExhausted ? TRunEnd::Exhausted : TRunEnd::Normal;
  // The horizon was reached, or nothing was left to happen before it: the
  // clock stands at the horizon, so every time-weighted statistic (read
  // with the clock as its end) covers the whole window. A run that Stop,
  // the allocator or the move limit ended keeps its time, and so does one
  // whose OnDeadlock planned an activation before the horizon.
  if (Reached && FRunEnd == TRunEnd::Normal && FSysTime < EndTime &&
      !(FutureManager->EarliestTime() <= EndTime))
    FSysTime = EndTime;
  if (FCheckModel) RunCheck();
}

// The loop of events. Up to a horizon (ToHorizon), no activation after
// EndTime is taken: the loop ends before it, and answers true then, or
// when the list ran empty; otherwise the first activation past EndTime is
// the last one taken.
template <bool ToHorizon> bool TModel::Events(double EndTime) {
  const int64_t Alarm = FMoveLimit > 0 ? FMoveLimit : std::numeric_limits<int64_t>::max();
  detail::MovesAtOneTime = 0;
  detail::MoveAlarm = Alarm;
  FMovesTime = FSysTime;
  bool Reached = false;
  while (FRunning) {
    if constexpr (ToHorizon) {
      // An empty list is taken from as ever: it fires OnDeadlock and stops.
      Reached = FutureManager->Count() == 0;
      if (!Reached && FutureManager->EarliestTime() > EndTime) return true;
    }
    TAggregate* A = nullptr;
    TTransaction* T = nullptr;
    FutureManager->TakeNext(A, T);
    // Every activation counts as a move too: a scheduler or a generator
    // that plans itself with no delay moves nothing but never ends.
    if (FSysTime != FMovesTime) {
      FMovesTime = FSysTime;
      detail::MovesAtOneTime = 0;
      if (FLoopMoves > 0) { // the time went on after all: no loop
        FLoopMoves = 0;
        FLoopNames.clear();
        detail::MoveAlarm = Alarm;
      }
    } else if (++detail::MovesAtOneTime > detail::MoveAlarm) [[unlikely]] {
      MoveAtOneTime(A, nullptr);
    }
    if (A) {
      if (OnNewTime) OnNewTime(A, T);
      if (A->FKind == TAggregate::TKind::Block) {
        A->Activate(T);
        CurrentManager->Run();
      } else if (A->FKind == TAggregate::TKind::Scheduler) {
        A->Activate(T);
      }
    }
    if constexpr (!ToHorizon)
      if (!(FSysTime <= EndTime)) break;
  }
  return Reached;
}

void TModel::MoveAtOneTime(TAggregate* From, TBlock* To) {
  if (detail::InterruptRequested) {
    // The event under way completes; the loop ends after it.
    // The move limit holds on: a loop of passes does not end with the stop.
    detail::InterruptRequested = 0;
    detail::MoveAlarm = FInLoop && FMoveLimit > 0 ? FMoveLimit : std::numeric_limits<int64_t>::max();
    if (FInLoop && FRunEnd == TRunEnd::None) {
      FRunEnd = TRunEnd::Interrupted;
      Stop();
    }
    return;
  }
  // A Stop from a handler does not end the scan of the chain under way, so
  // a loop of passes goes on after it: the limit holds until the loop ends.
  if (!FInLoop || FRunEnd == TRunEnd::MoveLimit) {
    // A move outside the loop (a start-up), or after the limit stopped the
    // run: nothing to do.
    detail::MoveAlarm = std::numeric_limits<int64_t>::max();
    return;
  }
  // From the limit on, every move comes here (the alarm stays below the
  // count) until a few have been noted: their blocks name the loop.
  detail::MoveAlarm = 0;
  for (const TAggregate* X : {static_cast<const TAggregate*>(From), static_cast<const TAggregate*>(To)})
    if (X && FLoopNames.size() < LoopBlocksNamed + 1) {
      const std::string Name = X->DisplayName();
      if (std::find(FLoopNames.begin(), FLoopNames.end(), Name) == FLoopNames.end())
        FLoopNames.push_back(Name);
    }
  if (++FLoopMoves < LoopMovesNoted) return;
  std::string Names;
  for (std::size_t i = 0; i < FLoopNames.size() && i < LoopBlocksNamed; ++i)
    Names += (i ? ", " : "") + FLoopNames[i];
  if (FLoopNames.size() > LoopBlocksNamed) Names += " and more";
  FRunEnd = TRunEnd::MoveLimit;
  Stop();
  // The chain stops scanning too: a loop of passes never leaves its scan.
  if (CurrentManager) CurrentManager->Halt();
  detail::MoveAlarm = std::numeric_limits<int64_t>::max();
  MessageDlg("Quorin Error: " + DisplayName() + " made more than " + std::to_string(FMoveLimit) +
             " moves at model time " + FormatFloat("0.0000000", FSysTime) +
             " without the time advancing, among " + Names +
             ": a loop that takes no time? The run is stopped; a model that needs more moves at "
             "one time raises MoveLimit");
}

void TModel::NoteDrawRefusals(bool AtStart) {
  // Built in a second vector that keeps its room: a run allocates nothing
  // here once the streams are known.
  std::vector<TDrawRefusals>& Now = FDrawScratch;
  Now.clear();
  // Without the hook no random stream can exist: their unit is not linked.
  const detail::TRefusalsHook Refusals = detail::RefusalsHook();
  if (Refusals) ScanComponents([&](TComponent* X) {
    const int32_t Refused = Refusals(*X);
    if (Refused < 0) return;
    const auto Old = std::find_if(FDrawRefusals.begin(), FDrawRefusals.end(),
                                  [X](const TDrawRefusals& D) { return D.Stream == X; });
    TDrawRefusals D = Old != FDrawRefusals.end() ? *Old : TDrawRefusals{X, 0, 0};
    if (AtStart)
      D.Outside += Refused - D.AtEnd;
    D.AtEnd = Refused;
    Now.push_back(D);
  });
  FDrawRefusals.swap(Now);
}

std::vector<std::string> TModel::RunCheck() {
  std::vector<std::string> Findings;
  for (TAggregate* A : FAggregates)
    if (auto* B = dynamic_cast<TBlock*>(A)) B->CheckBlock(Findings);
  for (const TCheck& Check : FChecks)
    if (Check) Check(Findings);
  // Streams are no aggregates: look for them among the model's components.
  // Draws refused outside the runs were reported by the call that made them
  // (a draw at the prompt between runs): only those of the runs count.
  const detail::TRefusalsHook Refusals = detail::RefusalsHook();
  if (Refusals) ScanComponents([this, &Findings, Refusals](TComponent* X) {
    const int32_t Now = Refusals(*X);
    if (Now < 0) return;
    // A stream not seen at the last run's end was made since: its refusals
    // were all made outside a run, unless one is under way.
    int32_t Refused = FInSimulate ? Now : 0;
    for (const TDrawRefusals& D : FDrawRefusals)
      if (D.Stream == X) Refused = (FInSimulate ? Now : D.AtEnd) - D.Outside;
    if (Refused <= 0) return;
    Findings.push_back(X->DisplayName() + " refused the parameters of " +
                       detail::CountOf(Refused, "draw", "draws") + " and returned 0.0 instead");
  });
  // Blocked blocks that the chain routes again at every scan cost time in
  // proportion to their number; retry on change lets them wait.
  constexpr int32_t ManyBlocked = 100;
  if (CurrentManager && GlobalModel == this && FRetry == TRetry::EveryScan &&
      CurrentManager->MostBlocked() >= ManyBlocked)
    Findings.push_back("up to " + std::to_string(CurrentManager->MostBlocked()) +
                       " blocks waited blocked in the current events chain at once, each routed "
                       "again at every scan; TModel::SetRetry(TRetry::OnChange) (RetryOnChange = "
                       "true in a model file) lets a blocked block wait for a change of the receivers "
                       "that refused it");
  for (const std::string& F : Findings)
    MessageDlg("Quorin Check: " + F);
  return Findings;
}

void TModel::StopOnExhaustion(const std::string& Text) {
  if (!FExhausted) MessageDlg(Text);
  FExhausted = true;
  Stop();
}

void TModel::Reset() {
  if (FInSimulate) {
    // Tearing the memory down would pull the event lists from under the
    // loop, or from under the start-up.
    MessageDlg("Quorin Error: Reset is called while the model is running");
    return;
  }
  FSysTime = 0.0;
  FExhausted = false;
  FRunEnd = TRunEnd::None;
  if (!FMemoReady) return;
  for (TAggregate* A : FAggregates) {
    A->FRefusedOrders = 0;
    if (auto* B = dynamic_cast<TBlock*>(A)) B->Reset();
  }
  FAggrReady = false;
  MemoDeInitialize();
}

void TModel::ClearStatistics() {
  // Everything that gathers statistics for the model: its tabulators too,
  // so that a warm-up leaves no observation behind in a histogram.
  if (const detail::TClearHook Clear = detail::ClearHook())
    ScanComponents([Clear](TComponent* X) { Clear(*X); });
  if (!FMemoReady) return;
  for (TAggregate* A : FAggregates)
    if (auto* B = dynamic_cast<TBlock*>(A)) B->ClearStatistics();
}

} // namespace quorin
