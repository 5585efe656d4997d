// Fork and join: jobs arrive at rate 0.3 and wait in a line for the
// workshop, which takes one job at a time. A job is split into three tasks
// served in parallel by three machines (each exponential with rate 1), and
// it is done when its last task is: the three are joined into one again.
// Theory: the workshop is an M/G/1 whose service is the largest of three
// exponentials, mean 1 + 1/2 + 1/3 = 11/6 and second moment 85/18; with
// rho = 0.55, Pollaczek-Khinchine gives Wq = lambda E[S^2] / (2 (1 - rho)).
#include <ostream>

#include "models.h"
#include "quorin/quorin.h"

namespace quorin::examples {

std::vector<TFigure> RunForkJoin(std::ostream& Out, double EndTime) {
  TComponent Application(nullptr);
  auto* Form = new TComponent(&Application);
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
  // the join has let the last one out. Its span runs from split to join.
  bool Busy = false;
  double Started = 0, Span = 0;
  int64_t Jobs = 0;
  Line->OnRouting = [&, Split](TBlock* Sender, TTransaction*) {
    if (!Busy && Sender->PassTo(Split)) {
      Busy = true;
      Started = ModelTime();
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
  Join->OnRouting = [&, Exit](TBlock* Sender, TTransaction*) {
    if (Sender->PassTo(Exit)) {
      Busy = false;
      Span += ModelTime() - Started;
      ++Jobs;
    }
  };

  Model->Simulate(1000);
  Model->ClearStatistics();
  Span = 0;
  Jobs = 0;
  Model->Simulate(1000 + EndTime);

  Out << "Fork and join (jobs at rate 0.3, three tasks in parallel at rate 1 each)\n";
  PrintRunLength(Out, 1000, EndTime, "time units");
  PrintReport(*Model, Out);
  const double Wq = double(Line->AverageTime());
  const double ES = 11.0 / 6, ES2 = 85.0 / 18, Rho = 0.3 * ES;
  const double WqTheory = 0.3 * ES2 / (2 * (1 - Rho));
  std::vector<TFigure> Figures{
      {"Machine utilisation", double(Machine[0]->Usage()), 0.3},
      {"Mean span split to join", Span / double(Jobs), ES},
      {"Wq (mean wait in line)", Wq, WqTheory},
      {"W (mean time in system)", Wq + Span / double(Jobs), WqTheory + ES},
  };
  PrintFigures(Figures, Out);
  return Figures;
}

} // namespace quorin::examples
