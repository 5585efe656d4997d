// A small M/M/1 model (arrival rate 1, service rate 1.25) for the runner's
// tests: Door -> Line -> Clerk -> Exit, with two random streams.
#pragma once

#include "quorin/experiment.h"
#include "single_line.h"

namespace quorin::test {

inline TModel* BuildMM1(TReplicationContext& C) {
  return examples::BuildSingleLine<TServer>(C.Form, 1.0, 0.8).Model;
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
