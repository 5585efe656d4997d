// Fork and join: jobs arrive at rate 0.3 and wait in a line for the
// workshop, which takes one job at a time. A job is split into three tasks
// served in parallel by three machines (each exponential with rate 1), and
// it is done when its last task is: the three are joined into one again.
// Theory: the workshop is an M/G/1 whose service is the largest of three
// exponentials, mean 1 + 1/2 + 1/3 = 11/6 and second moment 85/18; with
// rho = 0.55, Pollaczek-Khinchine gives Wq = lambda E[S^2] / (2 (1 - rho)).
#include <cmath>
#include <ostream>

#include "models.h"

namespace quorin::examples {

namespace {
// Whether a job is in the workshop, and since when.
struct TWorkshop : TComponent {
  using TComponent::TComponent;
  bool Busy = false;
  double Started = 0;
};
} // namespace

TModel* BuildForkJoin(TComponent* Form) {
  auto* Model = new TModel(Form);
  Model->SetCheckModel(true); // report wrongly wired blocks at the end of each run
  auto* Arrivals = new TMultiRand(Form);
  auto* Tasks = new TMultiRand(Form);
  Arrivals->SetSeed(314159265);
  Tasks->SetSeed(271828182);

  auto* Door = new TGenerator(Form);
  auto* Line = new TQueue(Form);
  auto* Split = new TDivider(Form);
  TServer* Machine[3];
  for (int i = 0; i < 3; ++i)
    Machine[i] = new TServer(Form);
  auto* Join = new TAssembler(Form);
  auto* Exit = new TTerminator(Form);
  Door->SetName("Door");
  Line->SetName("Line");
  Split->SetName("Split");
  Machine[0]->SetName("Machine1");
  Machine[1]->SetName("Machine2");
  Machine[2]->SetName("Machine3");
  Join->SetName("Join");
  Exit->SetName("Exit");
  Split->SetCapacity(3);
  Join->SetCapacity(3);

  Door->OnBeforeTimeGoOn = [=](TAggregate*) { Door->NextTime(Arrivals->Exponential(1 / 0.3)); };
  Door->OnAfterGeneration = [=](TBlock*, TTransaction*) {
    Door->NextTime(Arrivals->Exponential(1 / 0.3));
  };
  Door->OnRouting = [=](TBlock* Sender, TTransaction*) { Sender->PassTo(Line); };

  // One job in the workshop at a time: the line lets the next one in when
  // the join has let the last one out. Its span runs from split to join and
  // is noted as the joined job reaches the exit.
  auto* Workshop = new TWorkshop(Form);
  auto* Spans = new TExitTimes(Form, Exit, 1);
  Spans->SetName("Spans");
  Line->OnRouting = [=](TBlock* Sender, TTransaction*) {
    if (!Workshop->Busy && Sender->PassTo(Split)) {
      Workshop->Busy = true;
      Workshop->Started = ModelTime();
    }
  };
  // The three tasks leave the divider one after another, one per machine.
  Split->OnRouting = [=](TBlock* Sender, TTransaction*) {
    Sender->PassTo(Machine[Split->Count() - 1]);
  };
  for (TServer* M : Machine) {
    M->OnEnter = [=](TBlock*, TTransaction*) { M->NextTime(Tasks->Exponential(1)); };
    M->OnRouting = [=](TBlock* Sender, TTransaction*) { Sender->PassTo(Join); };
  }
  Join->OnRouting = [=](TBlock* Sender, TTransaction*) {
    if (Sender->PassTo(Exit)) Workshop->Busy = false;
  };
  Exit->OnEnter = [=](TBlock*, TTransaction*) { Spans->Note(0, ModelTime() - Workshop->Started); };
  return Model;
}

std::vector<TFigure> ForkJoinFigures(TModel* Finished) {
  double Usage = NAN, Span = NAN, Wq = NAN;
  if (Finished) {
    Usage = double(FindOnForm<TServer>(*Finished, "Machine1").Usage());
    Span = FindOnForm<TExitTimes>(*Finished, "Spans").Mean();
    Wq = double(FindOnForm<TQueue>(*Finished, "Line").AverageTime());
  }
  const double ES = 11.0 / 6, ES2 = 85.0 / 18, Rho = 0.3 * ES;
  const double WqTheory = 0.3 * ES2 / (2 * (1 - Rho));
  return {
      {"Machine utilisation", Usage, 0.3},
      {"Mean span split to join", Span, ES},
      {"Wq (mean wait in line)", Wq, WqTheory},
      {"W (mean time in system)", Wq + Span, WqTheory + ES},
  };
}

std::vector<TFigure> RunForkJoin(std::ostream& Out, double EndTime) {
  TComponent Application(nullptr);
  TModel* Model = BuildForkJoin(new TComponent(&Application));
  Model->Simulate(1000);
  Model->ClearStatistics();
  Model->Simulate(1000 + EndTime);

  Out << "Fork and join (jobs at rate 0.3, three tasks in parallel at rate 1 each)\n";
  PrintRunLength(Out, 1000, EndTime, "time units");
  PrintReport(*Model, Out);
  std::vector<TFigure> Figures = ForkJoinFigures(Model);
  PrintFigures(Figures, Out);
  return Figures;
}

} // namespace quorin::examples
