// M/M/1 through Quorin blocks: generator -> queue -> server -> terminator.
// The handlers draw from the stream of mm1.h in the documented order: the
// generator orders its first arrival before the run and the next one right
// after each generation, before the new customer is routed; the server draws
// the service time when a customer enters it.
#include <chrono>
#include <cstdint>

#include "mm1.h"
#include "quorin/blocks/gate.h"
#include "quorin/blocks/generator.h"
#include "quorin/blocks/queue.h"
#include "quorin/blocks/server.h"
#include "quorin/blocks/storage.h"

namespace quorin::bench {
namespace {

// What the models here share: exponential arrivals from a generator into a
// queue, the queue routed to a service block that draws each holding time
// on entry, the service routed to a terminator that stops the run at the
// N-th departure. The components are made in that order (the service by the
// caller, between Start and Finish), which fixes the order of the draws.
class TFlow {
public:
  TFlow(int64_t N, TEventList Kind, TRetry Retry = TRetry::EveryScan) : FN(N) {
    Model = new TModel(&Form);
    Model->SetHeapSize(64);
    Model->SetEventList(Kind);
    Model->SetRetry(Retry);
    Generator = new TGenerator(&Form);
    Queue = new TQueue(&Form);
    Generator->OnBeforeTimeGoOn = [this](TAggregate*) {
      Generator->NextTime(Rand.Exponential(MeanInterarrival));
    };
    Generator->OnAfterGeneration = [this](TBlock*, TTransaction*) {
      Generator->NextTime(Rand.Exponential(MeanInterarrival));
    };
    Generator->OnRouting = [this](TBlock* Sender, TTransaction*) { Sender->PassTo(Queue); };
  }
  TFlow(const TFlow&) = delete;
  TFlow& operator=(const TFlow&) = delete;

  template <class B> void Finish(B* Service, double MeanTime) {
    auto* Terminator = new TTerminator(&Form);
    Queue->OnRouting = [Service](TBlock* Sender, TTransaction*) { Sender->PassTo(Service); };
    Service->OnEnter = [this, Service, MeanTime](TBlock*, TTransaction*) {
      Service->NextTime(Rand.Exponential(MeanTime));
    };
    Service->OnRouting = [Terminator](TBlock* Sender, TTransaction*) {
      Sender->PassTo(Terminator);
    };
    Terminator->OnEnter = [this](TBlock*, TTransaction*) {
      if (++FDeparted == FN) Model->Stop();
    };
  }

  // Runs to the N-th departure; the result without its utilisation.
  TRunResult Run() {
    const auto Start = std::chrono::steady_clock::now();
    Model->Simulate(0.9 * MaxActivationTime);
    TRunResult R;
    R.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
    R.Customers = FDeparted;
    R.MeanWait = double(Queue->AverageTime());
    R.EndTime = ModelTime();
    return R;
  }

  TComponent Form{nullptr};
  TLehmer Rand;
  TModel* Model = nullptr;
  TGenerator* Generator = nullptr;
  TQueue* Queue = nullptr;

private:
  int64_t FN;
  int64_t FDeparted = 0;
};

} // namespace

TRunResult RunQuorin(int64_t N, TEventList Kind, int32_t Blocked, TRetry Retry) {
  TFlow Flow(N, Kind, Retry);
  auto* Server = new TServer(&Flow.Form);
  Flow.Finish(Server, MeanService);

  auto* Closed = new TGate(&Flow.Form);
  Closed->Lock();
  for (int32_t b = 0; b < Blocked; ++b) {
    auto* G = new TGenerator(&Flow.Form);
    G->OnBeforeTimeGoOn = [G](TAggregate*) { G->NextTime(0); };
    G->OnRouting = [Closed](TBlock* Sender, TTransaction*) { Sender->PassTo(Closed); };
  }

  TRunResult R = Flow.Run();
  R.Utilisation = double(Server->Usage());
  return R;
}

TRunResult RunQuorinStorage(int64_t N, int32_t Servers, double Service) {
  TFlow Flow(N, TEventList::Levels);
  auto* Tellers = new TStorage(&Flow.Form);
  Tellers->SetCapacity(Servers);
  Flow.Finish(Tellers, Service);
  TRunResult R = Flow.Run();
  R.Utilisation = double(Tellers->AverageCount()) / Servers;
  return R;
}

} // namespace quorin::bench
