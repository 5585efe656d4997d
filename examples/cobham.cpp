// Two classes of customers at one clerk, without preemption: each customer
// is urgent (priority 2) or regular (priority 1) with equal chances, all
// arriving at rate 0.6 together; every service is exponential with rate 1.
// The line offers urgent customers first, but a service under way is never
// interrupted. Theory (Cobham): with W0 = sum of lambda_i E[S_i^2] / 2 =
// 0.6, the mean waits in line are W1 = W0 / (1 - rho1) = 6/7 and
// W2 = W0 / ((1 - rho1)(1 - rho1 - rho2)) = 15/7. They come from the line's
// per-class report lines; the times in system, T1 = W1 + 1/mu = 13/7 and
// T2 = 22/7, from the terminator's.
#include <cmath>
#include <ostream>

#include "models.h"

namespace quorin::examples {

namespace {
constexpr double Lambda = 0.6, Mu = 1.0, Urgent = 0.5;
} // namespace

TModel* BuildCobham(TComponent* Form) {
  auto* Model = new TModel(Form);
  Model->SetCheckModel(true); // report wrongly wired blocks at the end of each run
  auto* Arrivals = new TMultiRand(Form);
  auto* Classes = new TMultiRand(Form);
  auto* Services = new TMultiRand(Form);
  Arrivals->SetSeed(192837465);
  Classes->SetSeed(564738291);
  Services->SetSeed(918273645);

  auto* Door = new TGenerator(Form);
  auto* Line = new TQueuePrty(Form);
  auto* Clerk = new TServer(Form);
  auto* Exit = new TTerminator(Form);
  Door->SetName("Door");
  Line->SetName("Line");
  Clerk->SetName("Clerk");
  Exit->SetName("Exit");

  Door->OnBeforeTimeGoOn = [=](TAggregate*) { Door->NextTime(Arrivals->Exponential(1 / Lambda)); };
  Door->OnAfterGeneration = [=](TBlock*, TTransaction* T) {
    // One draw decides the class, as SetPriority(Classes.Discrete(2, 0.5, 1, 0.5)).
    T->SetPrty(Classes->Uni01() < Urgent ? 2 : 1);
    Door->NextTime(Arrivals->Exponential(1 / Lambda));
  };
  Door->OnRouting = [=](TBlock* Sender, TTransaction*) { Sender->PassTo(Line); };
  Line->OnRouting = [=](TBlock* Sender, TTransaction*) { Sender->PassTo(Clerk); };
  Clerk->OnEnter = [=](TBlock*, TTransaction*) { Clerk->NextTime(Services->Exponential(1 / Mu)); };
  Clerk->OnRouting = [=](TBlock* Sender, TTransaction*) { Sender->PassTo(Exit); };
  return Model;
}

std::vector<TFigure> CobhamFigures(TModel* Finished) {
  double Usage = NAN, W1 = NAN, W2 = NAN, T1 = NAN, T2 = NAN;
  if (Finished) {
    auto& Line = FindOnForm<TQueuePrty>(*Finished, "Line");
    Usage = double(FindOnForm<TServer>(*Finished, "Clerk").Utilisation());
    if (const TPrtyStatistics* S = Line.PrtyStatistics(2)) W1 = double(S->AverageTime());
    if (const TPrtyStatistics* S = Line.PrtyStatistics(1)) W2 = double(S->AverageTime());
    for (const TPrtyStatistics& S :
         FindOnForm<TTerminator>(*Finished, "Exit").TimesInSystem().Classes())
      (S.Prty == 2 ? T1 : T2) = double(S.AverageTime());
  }
  const double Rho1 = Lambda * Urgent / Mu, Rho = Lambda / Mu;
  const double W0 = Lambda * 2 / (Mu * Mu) / 2; // E[S^2] = 2 / mu^2 for both classes
  return {
      {"Clerk utilisation", Usage, Rho},
      {"W1 (urgent, wait in line)", W1, W0 / (1 - Rho1)},
      {"W2 (regular, wait in line)", W2, W0 / ((1 - Rho1) * (1 - Rho))},
      {"T1 (urgent, time in system)", T1, W0 / (1 - Rho1) + 1 / Mu},
      {"T2 (regular, time in system)", T2, W0 / ((1 - Rho1) * (1 - Rho)) + 1 / Mu},
  };
}

std::vector<TFigure> RunCobham(std::ostream& Out, double EndTime) {
  TComponent Application(nullptr);
  TModel* Model = BuildCobham(new TComponent(&Application));
  Model->SimulateTo(1000);
  Model->ClearStatistics();
  Model->SimulateTo(1000 + EndTime);

  Out << "Non-preemptive priority M/M/1 (two classes, arrival rate 0.6 in all, service rate 1)\n";
  PrintRunLength(Out, 1000, EndTime, "time units");
  PrintReport(*Model, Out);
  std::vector<TFigure> Figures = CobhamFigures(Model);
  PrintFigures(Figures, Out);
  return Figures;
}

} // namespace quorin::examples
