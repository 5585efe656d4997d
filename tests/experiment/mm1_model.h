// A small M/M/1 model (arrival rate 1, service rate 1.25) for the runner's
// tests: Door -> Line -> Clerk -> Exit, with two random streams.
#pragma once

#include "quorin/experiment.h"

namespace quorin::test {

inline TModel* BuildMM1(TReplicationContext& C) {
  auto* Model = new TModel(C.Form);
  auto* Arrivals = new TMultiRand(C.Form);
  auto* Services = new TMultiRand(C.Form);
  auto* Door = new TGenerator(C.Form);
  auto* Line = new TQueue(C.Form);
  auto* Clerk = new TServer(C.Form);
  auto* Exit = new TTerminator(C.Form);
  Door->SetName("Door");
  Line->SetName("Line");
  Clerk->SetName("Clerk");
  Exit->SetName("Exit");
  Door->OnBeforeTimeGoOn = [=](TAggregate*) { Door->NextTime(Arrivals->Exponential(1.0)); };
  Door->OnAfterGeneration = [=](TBlock*, TTransaction*) {
    Door->NextTime(Arrivals->Exponential(1.0));
  };
  Door->OnRouting = [=](TBlock* S, TTransaction*) { S->PassTo(Line); };
  Line->OnRouting = [=](TBlock* S, TTransaction*) { S->PassTo(Clerk); };
  Clerk->OnRouting = [=](TBlock* S, TTransaction*) { S->PassTo(Exit); };
  Clerk->OnEnter = [=](TBlock*, TTransaction*) { Clerk->NextTime(Services->Exponential(0.8)); };
  return Model;
}

inline TExperiment MM1Experiment(int32_t Replications, int32_t Jobs) {
  TExperiment E;
  E.Build = BuildMM1;
  E.WarmUp = 100;
  E.RunLength = 2000;
  E.Replications = Replications;
  E.Jobs = Jobs;
  E.Figures = {TFigureSpec::Report("Line", "Mean time", "Wq"),
               TFigureSpec::Report("Clerk", "Usage", "Utilisation"),
               TFigureSpec::User("Served", [](TModel& M) -> std::optional<double> {
                 for (TAggregate* A : M.Aggregates())
                   if (A->Name() == "Exit") return static_cast<TBlock*>(A)->Entries();
                 return std::nullopt;
               })};
  return E;
}

} // namespace quorin::test
