// The model of many blocks that the scale benchmarks share: one generator
// feeds P queue+server pairs in turn, and every server passes to one
// terminator (2P + 2 blocks). Arrivals come at rate 1 and a service takes an
// exponential time of mean 0.8 P, so every server is busy 80 % of the time
// whatever P; at large P thousands of queues wait blocked on their busy
// servers and thousands of service ends are pending.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "quorin/blocks.h"
#include "quorin/statsim.h"

namespace quorin::bench {

struct TPairsModel {
  TModel* Model = nullptr;
  TTerminator* Exit = nullptr;
  std::vector<TQueue*> Queues;
};

// Builds the model on Form (which owns every component); the engine and
// the heap are the caller's to set.
inline TPairsModel BuildPairs(TComponent* Form, int32_t Pairs) {
  TPairsModel P;
  P.Model = new TModel(Form);
  auto* Arrivals = new TMultiRand(Form);
  auto* Services = new TMultiRand(Form);
  Services->SetSeed(1234567891);
  auto* Door = new TGenerator(Form);
  auto* Exit = new TTerminator(Form);
  P.Exit = Exit;
  const double MeanService = 0.8 * Pairs;
  for (int32_t i = 0; i < Pairs; ++i) {
    auto* Line = new TQueue(Form);
    auto* Clerk = new TServer(Form);
    Line->OnRouting = [Clerk](TBlock* Sender, TTransaction*) { Sender->PassTo(Clerk); };
    Clerk->OnEnter = [Clerk, Services, MeanService](TBlock*, TTransaction*) {
      Clerk->NextTime(Services->Exponential(MeanService));
    };
    Clerk->OnRouting = [Exit](TBlock* Sender, TTransaction*) { Sender->PassTo(Exit); };
    P.Queues.push_back(Line);
  }
  Door->OnBeforeTimeGoOn = [=](TAggregate*) { Door->NextTime(Arrivals->Exponential(1.0)); };
  Door->OnAfterGeneration = [=](TBlock*, TTransaction*) {
    Door->NextTime(Arrivals->Exponential(1.0));
  };
  // In turn: the turn moves on when the pass succeeds (a queue without a
  // capacity always takes it).
  auto Turn = std::make_shared<int32_t>(0);
  Door->OnRouting = [Queues = P.Queues, Turn, Pairs](TBlock* Sender, TTransaction*) {
    if (Sender->PassTo(Queues[std::size_t(*Turn)])) *Turn = (*Turn + 1) % Pairs;
  };
  return P;
}

} // namespace quorin::bench
