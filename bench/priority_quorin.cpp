// The two-class preemptive-priority model of priority.h through Quorin
// blocks: urgent generator -> urgent line, normal generator -> normal line,
// both lines -> one preemptive server -> terminator. Urgent customers carry
// priority 2 and the preempt mark; a displaced normal customer is postponed
// on the server, which resumes it with its remaining service time. Each
// generator draws its first arrival before the run and the next one right
// after each generation; the server draws a service time when a customer
// enters it (a resumed one does not enter again).
#include <cstdint>

#include "priority.h"
#include "quorin/blocks/gate.h"
#include "quorin/blocks/generator.h"
#include "quorin/blocks/queue.h"
#include "quorin/blocks/server.h"
#include "quorin/detail/future.h"

namespace quorin::bench {
namespace {

// A customer who remembers its arrival and its whole service time, so that
// its wait (time in system minus service) is known when it leaves.
struct TCustomer : TTransaction {
  double Arrived;
  double Demand;
};

struct TClassSums {
  double SumWait = 0.0;
  int64_t Departed = 0;
};

// The model, wired in the constructor; Run runs it to the N-th departure.
class TPriorityFlow {
public:
  TPriorityFlow(int64_t N, TEventList Kind, TRetry Retry) : FN(N) {
    Model = new TModel(&Form);
    Model->SetHeapSize(64);
    Model->SetEventList(Kind);
    Model->SetRetry(Retry);
    Model->SetTransactionClass<TCustomer>();
    UrgentSource = new TGenerator(&Form);
    NormalSource = new TGenerator(&Form);
    UrgentLine = new TQueue(&Form);
    NormalLine = new TQueue(&Form);
    Clerk = new TServer(&Form);
    Exit = new TTerminator(&Form);
    Clerk->SetPreemptive(true);

    UrgentSource->OnBeforeTimeGoOn = [this](TAggregate*) {
      UrgentSource->NextTime(UrgentRand.Exponential(MeanUrgentInterarrival));
    };
    UrgentSource->OnAfterGeneration = [this](TBlock*, TTransaction* T) {
      static_cast<TCustomer*>(T)->Arrived = ModelTime();
      T->SetPrty(2);
      T->SetPreempt();
      UrgentSource->NextTime(UrgentRand.Exponential(MeanUrgentInterarrival));
    };
    NormalSource->OnBeforeTimeGoOn = [this](TAggregate*) {
      NormalSource->NextTime(NormalRand.Exponential(MeanNormalInterarrival));
    };
    NormalSource->OnAfterGeneration = [this](TBlock*, TTransaction* T) {
      static_cast<TCustomer*>(T)->Arrived = ModelTime();
      NormalSource->NextTime(NormalRand.Exponential(MeanNormalInterarrival));
    };
    UrgentSource->OnRouting = [this](TBlock* Sender, TTransaction*) { Sender->PassTo(UrgentLine); };
    NormalSource->OnRouting = [this](TBlock* Sender, TTransaction*) { Sender->PassTo(NormalLine); };
    UrgentLine->OnRouting = [this](TBlock* Sender, TTransaction*) { Sender->PassTo(Clerk); };
    NormalLine->OnRouting = [this](TBlock* Sender, TTransaction*) { Sender->PassTo(Clerk); };

    // OnEnter runs for a fresh service only: the server resumes a displaced
    // customer itself, with the service time it had left.
    Clerk->OnEnter = [this](TBlock*, TTransaction* T) {
      const double Demand = ServiceRand.Exponential(MeanPriorityService);
      static_cast<TCustomer*>(T)->Demand = Demand;
      Clerk->NextTime(Demand);
    };
    Clerk->OnPreempt = [this](TBlock*, TTransaction*) { Clerk->PostPone(); };
    Clerk->OnRouting = [this](TBlock* Sender, TTransaction*) { Sender->PassTo(Exit); };
    Exit->OnEnter = [this](TBlock*, TTransaction* T) {
      const auto* C = static_cast<TCustomer*>(T);
      TClassSums& Sums = T->GetPrty() == 2 ? FUrgent : FNormal;
      Sums.SumWait += (ModelTime() - C->Arrived) - C->Demand;
      ++Sums.Departed;
      if (++FDeparted == FN) Model->Stop();
    };
  }
  // The model on Engine, routed by fixed routes (TBlock::SetRoute).
  TPriorityFlow(int64_t N, TEngine Engine) : TPriorityFlow(N, TEventList::Levels, TRetry::EveryScan) {
    Model->SetEngine(Engine);
    for (TBlock* B : {static_cast<TBlock*>(UrgentSource), static_cast<TBlock*>(NormalSource),
                      static_cast<TBlock*>(UrgentLine), static_cast<TBlock*>(NormalLine),
                      static_cast<TBlock*>(Clerk)})
      B->OnRouting = nullptr;
    UrgentSource->SetRoute(UrgentLine);
    NormalSource->SetRoute(NormalLine);
    UrgentLine->SetRoute(Clerk);
    NormalLine->SetRoute(Clerk);
    Clerk->SetRoute(Exit);
  }
  TPriorityFlow(const TPriorityFlow&) = delete;
  TPriorityFlow& operator=(const TPriorityFlow&) = delete;

  TPriorityResult Run() {
    const double Start = CpuSeconds();
    Model->Simulate(0.9 * MaxActivationTime);
    TPriorityResult R;
    R.Seconds = CpuSeconds() - Start;
    R.Customers = FDeparted;
    auto Figures = [](const TClassSums& Sums, TQueue* Line) {
      TClassResult C;
      C.Departed = Sums.Departed;
      C.MeanWait = Sums.Departed > 0 ? Sums.SumWait / double(Sums.Departed) : 0.0;
      C.MeanLine = double(Line->AverageTime());
      return C;
    };
    R.Urgent = Figures(FUrgent, UrgentLine);
    R.Normal = Figures(FNormal, NormalLine);
    R.Utilisation = double(Clerk->Usage());
    R.EndTime = ModelTime();
    return R;
  }

  TComponent Form{nullptr};
  TLehmer UrgentRand{UrgentSeed};
  TLehmer NormalRand{NormalSeed};
  TLehmer ServiceRand{ServiceSeed};
  TModel* Model = nullptr;
  TGenerator* UrgentSource = nullptr;
  TGenerator* NormalSource = nullptr;
  TTerminator* Exit = nullptr;
  TQueue* UrgentLine = nullptr;
  TQueue* NormalLine = nullptr;
  TServer* Clerk = nullptr;

private:
  int64_t FN;
  int64_t FDeparted = 0;
  TClassSums FUrgent;
  TClassSums FNormal;
};

} // namespace

TPriorityResult RunPriorityQuorin(int64_t N, TEventList Kind, TRetry Retry) {
  TPriorityFlow Flow(N, Kind, Retry);
  return Flow.Run();
}

TPriorityResult RunPriorityQuorin(int64_t N, TEngine Engine) {
  TPriorityFlow Flow(N, Engine);
  return Flow.Run();
}

} // namespace quorin::bench
