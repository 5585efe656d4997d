// The single-line model that the examples, the experiment demo, the
// runner's tests and the benchmarks share: Door -> Line -> a service block
// -> Exit, customers arriving one at a time from Door, waiting first come
// first served in Line, held by the service block (a TServer for M/M/1, a
// TStorage of several units for M/M/c) for a time drawn as they enter it.
// Header only, so that a program needs no library beyond Quorin for it.
#pragma once

#include "quorin/blocks.h"
#include "quorin/statsim.h"

namespace quorin::examples {

template <class TService> struct TSingleLine {
  TModel* Model;
  TMultiRand* Arrivals; // interarrival times
  TMultiRand* Services; // holding times
  TGenerator* Door;
  TQueue* Line;
  TService* Service;
  TTerminator* Exit;
};

// Makes the model on Form, the components in the order of the struct (which
// fixes the order of the blocks' activations), with exponential
// interarrival times of mean MeanInterarrival and holding times of mean
// MeanService. The streams keep the default seed: seed them, or let the
// experiment runner do it.
template <class TService = TServer>
TSingleLine<TService> BuildSingleLine(TComponent* Form, double MeanInterarrival, double MeanService,
                                      const char* ServiceName = "Clerk") {
  TSingleLine<TService> M;
  M.Model = new TModel(Form);
  M.Arrivals = new TMultiRand(Form);
  M.Services = new TMultiRand(Form);
  M.Door = new TGenerator(Form);
  M.Line = new TQueue(Form);
  M.Service = new TService(Form);
  M.Exit = new TTerminator(Form);
  M.Door->SetName("Door");
  M.Line->SetName("Line");
  M.Service->SetName(ServiceName);
  M.Exit->SetName("Exit");

  // Each arrival orders the next one.
  auto* Door = M.Door;
  auto* Arrivals = M.Arrivals;
  Door->OnBeforeTimeGoOn = [=](TAggregate*) {
    Door->NextTime(Arrivals->Exponential(MeanInterarrival));
  };
  Door->OnAfterGeneration = [=](TBlock*, TTransaction*) {
    Door->NextTime(Arrivals->Exponential(MeanInterarrival));
  };
  // Routing: door -> line -> service -> exit. A PassTo that is refused (the
  // service is full) is retried by the library whenever something moves.
  auto* Line = M.Line;
  auto* Service = M.Service;
  auto* Exit = M.Exit;
  auto* Services = M.Services;
  Door->OnRouting = [=](TBlock* Sender, TTransaction*) { Sender->PassTo(Line); };
  Line->OnRouting = [=](TBlock* Sender, TTransaction*) { Sender->PassTo(Service); };
  Service->OnRouting = [=](TBlock* Sender, TTransaction*) { Sender->PassTo(Exit); };
  // A holding time ends NextTime after the customer enters.
  Service->OnEnter = [=](TBlock*, TTransaction*) {
    Service->NextTime(Services->Exponential(MeanService));
  };
  return M;
}

} // namespace quorin::examples
