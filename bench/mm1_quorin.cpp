// M/M/1 through Quorin blocks: generator -> queue -> server -> terminator.
// The handlers draw from the stream of mm1.h in the documented order: the
// generator orders its first arrival before the run and the next one right
// after each generation, before the new customer is routed; the server draws
// the service time when a customer enters it.
#include <cstdint>

#include "mm1.h"
#include "quorin/blocks/gate.h"
#include "quorin/blocks/storage.h"
#include "quorin/detail/future.h"
#include "single_line.h"

namespace quorin::bench {
namespace {

// The examples' single-line model (generator, queue, service block,
// terminator, made in that order) with its draws taken from the one stream
// of mm1.h, in the documented order, and a terminator that stops the run at
// the N-th departure.
template <class TService> class TFlow {
public:
  TFlow(int64_t N, double MeanService, TEventList Kind, TRetry Retry = TRetry::EveryScan)
      : TFlow(N, MeanService) {
    M.Model->SetEventList(Kind);
    M.Model->SetRetry(Retry);
  }
  // The model on Engine, routed by fixed routes (TBlock::SetRoute), as a
  // model file's PassTo routings are.
  TFlow(int64_t N, double MeanService, TEngine Engine) : TFlow(N, MeanService) {
    M.Model->SetEngine(Engine);
    for (TBlock* B : {static_cast<TBlock*>(M.Door), static_cast<TBlock*>(M.Line),
                      static_cast<TBlock*>(M.Service)})
      B->OnRouting = nullptr;
    M.Door->SetRoute(M.Line);
    M.Line->SetRoute(M.Service);
    M.Service->SetRoute(M.Exit);
  }
  TFlow(int64_t N, double MeanService)
      : M(examples::BuildSingleLine<TService>(&Form, MeanInterarrival, MeanService)), FN(N) {
    M.Model->SetHeapSize(64);
    TGenerator* Door = M.Door;
    Door->OnBeforeTimeGoOn = [this, Door](TAggregate*) {
      Door->NextTime(Rand.Exponential(MeanInterarrival));
    };
    Door->OnAfterGeneration = [this, Door](TBlock*, TTransaction*) {
      Door->NextTime(Rand.Exponential(MeanInterarrival));
    };
    TService* Service = M.Service;
    Service->OnEnter = [this, Service, MeanService](TBlock*, TTransaction*) {
      Service->NextTime(Rand.Exponential(MeanService));
    };
    M.Exit->OnEnter = [this](TBlock*, TTransaction*) {
      if (++FDeparted == FN) M.Model->Stop();
    };
  }
  TFlow(const TFlow&) = delete;
  TFlow& operator=(const TFlow&) = delete;

  // Runs to the N-th departure; the result without its utilisation.
  TRunResult Run() {
    const double Start = CpuSeconds();
    M.Model->Simulate(0.9 * MaxActivationTime);
    TRunResult R;
    R.Seconds = CpuSeconds() - Start;
    R.Customers = FDeparted;
    R.MeanWait = double(M.Line->AverageTime());
    R.EndTime = ModelTime();
    return R;
  }

  TComponent Form{nullptr};
  TLehmer Rand;
  examples::TSingleLine<TService> M;

private:
  int64_t FN;
  int64_t FDeparted = 0;
};

} // namespace

TRunResult RunQuorin(int64_t N, TEventList Kind, int32_t Blocked, TRetry Retry) {
  TFlow<TServer> Flow(N, MeanService, Kind, Retry);
  auto* Closed = new TGate(&Flow.Form);
  Closed->Lock();
  for (int32_t b = 0; b < Blocked; ++b) {
    auto* G = new TGenerator(&Flow.Form);
    G->OnBeforeTimeGoOn = [G](TAggregate*) { G->NextTime(0); };
    G->OnRouting = [Closed](TBlock* Sender, TTransaction*) { Sender->PassTo(Closed); };
  }

  TRunResult R = Flow.Run();
  R.Utilisation = double(Flow.M.Service->Usage());
  return R;
}

TRunResult RunQuorinStorage(int64_t N, int32_t Servers, double Service) {
  TFlow<TStorage> Flow(N, Service, TEventList::Levels);
  Flow.M.Service->SetCapacity(Servers);
  TRunResult R = Flow.Run();
  R.Utilisation = double(Flow.M.Service->AverageCount()) / Servers;
  return R;
}

TRunResult RunQuorinEngine(int64_t N, int32_t Servers, double Service, TEngine Engine) {
  if (Servers == 1) {
    TFlow<TServer> Flow(N, Service, Engine);
    TRunResult R = Flow.Run();
    R.Utilisation = double(Flow.M.Service->Usage());
    return R;
  }
  TFlow<TStorage> Flow(N, Service, Engine);
  Flow.M.Service->SetCapacity(Servers);
  TRunResult R = Flow.Run();
  R.Utilisation = double(Flow.M.Service->AverageCount()) / Servers;
  return R;
}

} // namespace quorin::bench
