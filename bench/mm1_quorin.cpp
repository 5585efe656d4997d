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

TRunResult RunQuorin(int64_t N, TEventList Kind, int32_t Blocked) {
  TLehmer Rand;
  int64_t Departed = 0;

  TComponent Form(nullptr);
  auto* Model = new TModel(&Form);
  Model->SetHeapSize(64);
  Model->SetEventList(Kind);
  auto* Generator = new TGenerator(&Form);
  Generator->SetName("Generator");
  auto* Queue = new TQueue(&Form);
  Queue->SetName("Queue");
  auto* Server = new TServer(&Form);
  Server->SetName("Server");
  auto* Terminator = new TTerminator(&Form);
  Terminator->SetName("Terminator");

  Generator->OnBeforeTimeGoOn = [&](TAggregate*) {
    Generator->NextTime(Rand.Exponential(MeanInterarrival));
  };
  Generator->OnAfterGeneration = [&](TBlock*, TTransaction*) {
    Generator->NextTime(Rand.Exponential(MeanInterarrival));
  };
  Generator->OnRouting = [Queue](TBlock* Sender, TTransaction*) {
    static_cast<TBlock*>(Sender)->PassTo(Queue);
  };
  Queue->OnRouting = [Server](TBlock* Sender, TTransaction*) {
    static_cast<TBlock*>(Sender)->PassTo(Server);
  };
  Server->OnEnter = [&](TBlock*, TTransaction*) {
    Server->NextTime(Rand.Exponential(MeanService));
  };
  Server->OnRouting = [Terminator](TBlock* Sender, TTransaction*) {
    static_cast<TBlock*>(Sender)->PassTo(Terminator);
  };
  Terminator->OnEnter = [&](TBlock*, TTransaction*) {
    if (++Departed == N) Model->Stop();
  };

  auto* Closed = new TGate(&Form);
  Closed->SetName("Closed");
  Closed->Lock();
  for (int32_t b = 0; b < Blocked; ++b) {
    auto* G = new TGenerator(&Form);
    G->OnBeforeTimeGoOn = [G](TAggregate*) { G->NextTime(0); };
    G->OnRouting = [Closed](TBlock* Sender, TTransaction*) { Sender->PassTo(Closed); };
  }

  const auto Start = std::chrono::steady_clock::now();
  Model->Simulate(0.9 * MaxActivationTime);
  TRunResult R;
  R.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
  R.Customers = Departed;
  R.MeanWait = double(Queue->AverageTime());
  R.Utilisation = double(Server->Usage());
  R.EndTime = ModelTime();
  return R;
}

TRunResult RunQuorinStorage(int64_t N, int32_t Servers, double Service) {
  TLehmer Rand;
  int64_t Departed = 0;

  TComponent Form(nullptr);
  auto* Model = new TModel(&Form);
  Model->SetHeapSize(64);
  auto* Generator = new TGenerator(&Form);
  auto* Queue = new TQueue(&Form);
  auto* Tellers = new TStorage(&Form);
  Tellers->SetCapacity(Servers);
  auto* Terminator = new TTerminator(&Form);

  Generator->OnBeforeTimeGoOn = [&](TAggregate*) {
    Generator->NextTime(Rand.Exponential(MeanInterarrival));
  };
  Generator->OnAfterGeneration = [&](TBlock*, TTransaction*) {
    Generator->NextTime(Rand.Exponential(MeanInterarrival));
  };
  Generator->OnRouting = [Queue](TBlock* Sender, TTransaction*) { Sender->PassTo(Queue); };
  Queue->OnRouting = [Tellers](TBlock* Sender, TTransaction*) { Sender->PassTo(Tellers); };
  Tellers->OnEnter = [&](TBlock*, TTransaction*) { Tellers->NextTime(Rand.Exponential(Service)); };
  Tellers->OnRouting = [Terminator](TBlock* Sender, TTransaction*) { Sender->PassTo(Terminator); };
  Terminator->OnEnter = [&](TBlock*, TTransaction*) {
    if (++Departed == N) Model->Stop();
  };

  const auto Start = std::chrono::steady_clock::now();
  Model->Simulate(0.9 * MaxActivationTime);
  TRunResult R;
  R.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
  R.Customers = Departed;
  R.MeanWait = double(Queue->AverageTime());
  R.Utilisation = double(Tellers->AverageCount()) / Servers;
  R.EndTime = ModelTime();
  return R;
}

} // namespace quorin::bench
