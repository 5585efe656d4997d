// M/M/1: customers arrive at rate 1 and are served one at a time at rate
// 1.25. Theory: utilisation 0.8, Wq 3.2, W 4.0, L 4.0.
#include <ostream>

#include "models.h"
#include "quorin/quorin.h"

namespace quorin::examples {

std::vector<TFigure> RunMM1(std::ostream& Out, double EndTime) {
  TComponent Application(nullptr);
  auto* Form = new TComponent(&Application);
  auto* Model = new TModel(Form);
  Model->SetCheckModel(true); // report wrongly wired blocks at the end of each run
  auto* Arrivals = new TMultiRand(Form);
  auto* Services = new TMultiRand(Form);
  Services->SetSeed(1234567891);

  auto* Door = new TGenerator(Form);
  auto* Line = new TQueue(Form);
  auto* Clerk = new TServer(Form);
  auto* Exit = new TTerminator(Form);
  Door->SetName("Door");
  Line->SetName("Line");
  Clerk->SetName("Clerk");
  Exit->SetName("Exit");

  // Each arrival orders the next one.
  Door->OnBeforeTimeGoOn = [=](TAggregate*) { Door->NextTime(Arrivals->Exponential(1.0)); };
  Door->OnAfterGeneration = [=](TBlock*, TTransaction*) {
    Door->NextTime(Arrivals->Exponential(1.0));
  };
  // Routing: door -> line -> clerk -> exit. A PassTo that is refused (the
  // clerk is busy) is retried by the library whenever something moves.
  Door->OnRouting = [=](TBlock* Sender, TTransaction*) { Sender->PassTo(Line); };
  Line->OnRouting = [=](TBlock* Sender, TTransaction*) { Sender->PassTo(Clerk); };
  Clerk->OnRouting = [=](TBlock* Sender, TTransaction*) { Sender->PassTo(Exit); };
  // A service ends NextTime after the customer sits down.
  Clerk->OnEnter = [=](TBlock*, TTransaction*) { Clerk->NextTime(Services->Exponential(0.8)); };

  Model->Simulate(1000); // warm-up, then measure from an emptyish start
  Model->ClearStatistics();
  Model->Simulate(1000 + EndTime);

  Out << "M/M/1 (arrival rate 1, service rate 1.25)\n";
  PrintRunLength(Out, 1000, EndTime, "time units");
  PrintReport(*Model, Out);
  const double Wq = double(Line->AverageTime());
  const double W = Wq + double(Clerk->AverageTime());
  std::vector<TFigure> Figures{
      {"Utilisation", double(Clerk->Usage()), 0.8},
      {"P(wait)", double(Line->AverageTime() / Line->SAverageTime()), 0.8},
      {"Wq (mean wait in line)", Wq, 3.2},
      {"W (mean time in system)", W, 4.0},
      {"L (mean number in system)", double(Line->AverageCount() + Clerk->AverageCount()), 4.0},
  };
  PrintFigures(Figures, Out);
  return Figures;
}

} // namespace quorin::examples
