#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include <unistd.h>

#include "quorin/kernel/model.h"

#include "quorin/blocks/prtyqueue.h"
#include "quorin/kernel/state.h"
#include "quorin/statsim.h"
#include "transaction_class.h"

namespace quorin {

double FSysTime = 0.0;
TModel* GlobalModel = nullptr;
bool FlagPass = false;
TTransManager* TransManager = nullptr;
TMemoManager* QueHeadsManager = nullptr;

namespace {
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

void TModel::SetEventList(TEventList Value) {
  if (FMemoReady && Value != FEventList) {
    // The list holds the run's pending activations; they cannot move.
    MessageDlg("Quorin Error: The event list of " + DisplayName() +
               " can be chosen only before the first Simulate or after Reset");
    return;
  }
  FEventList = Value;
}

void TModel::SetRetry(TRetry Value) {
  if (FMemoReady && Value != FRetry) {
    // Blocked blocks of the run wait in the chain as the mode keeps them.
    MessageDlg("Quorin Error: The retry mode of " + DisplayName() +
               " can be chosen only before the first Simulate or after Reset");
    return;
  }
  FRetry = Value;
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
  FAggregates.erase(std::remove(FAggregates.begin(), FAggregates.end(), Aggregate),
                    FAggregates.end());
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
  try {
    FutureManager = new TFutureManager(Page);
    FutureManager->SetKind(FEventList);
  } catch (...) {
    MessageDlg("Quorin Error: Can not create Manager of future events");
    return false;
  }
  try {
    CurrentManager = new TCurrentManager(Page);
    CurrentManager->SetRetry(FRetry);
  } catch (...) {
    MessageDlg("Quorin Error: Can not create Manager of current events");
    return false;
  }
  try {
    TransManager = new TTransManager(Page, TransSize);
  } catch (...) {
    MessageDlg("Quorin Error: Can not create Manager of transactions");
    return false;
  }
  try {
    QueHeadsManager = new TMemoManager(Page, sizeof(TQueHead));
  } catch (...) {
    MessageDlg("Quorin Error: Can not create Manager of queue heads");
    return false;
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
  delete FutureManager;
  FutureManager = nullptr;
  delete CurrentManager;
  CurrentManager = nullptr;
  delete TransManager;
  TransManager = nullptr;
  delete QueHeadsManager;
  QueHeadsManager = nullptr;
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
  if (FInSimulate) {
    // A nested run would take events out from under the running loop, or
    // start up again inside the start-up under way.
    MessageDlg("Quorin Error: Simulate is called while the model is running");
    return;
  }
  if (std::isnan(EndTime)) {
    // No event could be compared with it: the loop would take one and stop.
    MessageDlg("Quorin Error: The end time of Simulate is not a number");
    return;
  }
  detail::TFlagScope InSimulate(FInSimulate);
  if (!FMemoReady && !MemoInitialize()) return;
  if (!FAggrReady && !AggrInitialize()) return;
  // A run stopped by the allocator does not go on until Reset: records were
  // refused (the chain is halted for good), so what followed would be wrong.
  if (FExhausted) return;
  if (FSysTime > EndTime) return;
  GlobalModel = this;
  CurrentManager->SetCheck(FCheckModel);
  FRunning = true;
  while (FRunning) {
    TAggregate* A = nullptr;
    TTransaction* T = nullptr;
    FutureManager->TakeNext(A, T);
    if (A) {
      if (OnNewTime) OnNewTime(A, T);
      if (A->FKind == TAggregate::TKind::Block) {
        A->Activate(T);
        CurrentManager->Run();
      } else if (A->FKind == TAggregate::TKind::Scheduler) {
        A->Activate(T);
      }
    }
    if (!(FSysTime <= EndTime)) break;
  }
  FRunning = false;
  if (FCheckModel) RunCheck();
}

std::vector<std::string> TModel::RunCheck() {
  std::vector<std::string> Findings;
  for (TAggregate* A : FAggregates)
    if (auto* B = dynamic_cast<TBlock*>(A)) B->CheckBlock(Findings);
  // Streams are no aggregates: look for them among the model's components.
  ScanComponents([&Findings](TComponent* X) {
    auto* R = dynamic_cast<TMultiRand*>(X);
    if (!R || R->Refusals() == 0) return;
    Findings.push_back(R->DisplayName() + " refused the parameters of " +
                       detail::CountOf(R->Refusals(), "draw", "draws") +
                       " and returned 0.0 instead");
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
  if (!FMemoReady) return;
  for (TAggregate* A : FAggregates)
    if (auto* B = dynamic_cast<TBlock*>(A)) B->Reset();
  FAggrReady = false;
  MemoDeInitialize();
}

void TModel::ClearStatistics() {
  if (!FMemoReady) return;
  for (TAggregate* A : FAggregates)
    if (auto* B = dynamic_cast<TBlock*>(A)) B->ClearStatistics();
}

} // namespace quorin
