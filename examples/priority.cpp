// Two classes of customers at one clerk, with preemptive-resume priority:
// urgent ones (class 1) and regular ones (class 2) each arrive at rate 0.25,
// and every service is exponential with rate 1. An urgent customer goes
// ahead of every regular one in the line and interrupts a regular one in
// service, who resumes with the service time left once no urgent customer
// is there. Theory: an urgent customer sees an M/M/1 of its own class, T1 =
// 1/(mu - lambda1) = 4/3, of which Wq1 = 1/3 in the line; the two classes
// together behave as one M/M/1 with rate 0.5, T = 2, so T2 = 2 T - T1 = 8/3.
// A regular customer's time at the clerk, interruptions included, is
// 1/(mu (1 - rho1)) = 4/3, so it waits Wq2 = 8/3 - 4/3 = 4/3 in the line.
// The waits per class come from the line's per-class report lines, the
// times in system per class from the terminator's.
#include <cmath>
#include <ostream>

#include "models.h"

namespace quorin::examples {

TModel* BuildPriority(TComponent* Form) {
  auto* Model = new TModel(Form);
  Model->SetCheckModel(true); // report wrongly wired blocks at the end of each run
  auto* UrgentArrivals = new TMultiRand(Form);
  auto* RegularArrivals = new TMultiRand(Form);
  auto* Services = new TMultiRand(Form);
  RegularArrivals->SetSeed(246813579);
  Services->SetSeed(1357924680);

  auto* Urgent = new TGenerator(Form);
  auto* Regular = new TGenerator(Form);
  auto* Line = new TQueuePrty(Form);
  auto* Clerk = new TServer(Form);
  auto* Exit = new TTerminator(Form);
  Urgent->SetName("Urgent");
  Regular->SetName("Regular");
  Line->SetName("Line");
  Clerk->SetName("Clerk");
  Exit->SetName("Exit");
  Clerk->SetPreemptive(true);

  // Class 1 has priority 2 and the preempt mark; class 2 has priority 1.
  auto Arrive = [](TTransaction* T, uint8_t Prty) {
    T->SetPrty(Prty);
    if (Prty == 2) T->SetPreempt();
  };
  Urgent->OnBeforeTimeGoOn = [=](TAggregate*) { Urgent->NextTime(UrgentArrivals->Exponential(4)); };
  Urgent->OnAfterGeneration = [=](TBlock*, TTransaction* T) {
    Arrive(T, 2);
    Urgent->NextTime(UrgentArrivals->Exponential(4));
  };
  Regular->OnBeforeTimeGoOn = [=](TAggregate*) {
    Regular->NextTime(RegularArrivals->Exponential(4));
  };
  Regular->OnAfterGeneration = [=](TBlock*, TTransaction* T) {
    Arrive(T, 1);
    Regular->NextTime(RegularArrivals->Exponential(4));
  };
  Urgent->OnRouting = [=](TBlock* Sender, TTransaction*) { Sender->PassTo(Line); };
  Regular->OnRouting = [=](TBlock* Sender, TTransaction*) { Sender->PassTo(Line); };
  // The line offers its most urgent customer; the clerk takes it when idle,
  // or interrupts a regular customer for an urgent one.
  Line->OnRouting = [=](TBlock* Sender, TTransaction*) { Sender->PassTo(Clerk); };
  Clerk->OnEnter = [=](TBlock*, TTransaction*) { Clerk->NextTime(Services->Exponential(1)); };
  // The interrupted customer waits at the clerk and resumes its service.
  Clerk->OnPreempt = [](TBlock* Sender, TTransaction*) { Sender->PostPone(); };
  Clerk->OnRouting = [=](TBlock* Sender, TTransaction*) { Sender->PassTo(Exit); };

  return Model;
}

std::vector<TFigure> PriorityFigures(TModel* Finished) {
  double Usage = NAN, Wq1 = NAN, Wq2 = NAN, T = NAN, T1 = NAN, T2 = NAN;
  if (Finished) {
    auto& Clerk = FindOnForm<TServer>(*Finished, "Clerk");
    auto& Line = FindOnForm<TQueuePrty>(*Finished, "Line");
    Usage = double(Clerk.Utilisation());
    for (const TPrtyStatistics& S :
         FindOnForm<TTerminator>(*Finished, "Exit").TimesInSystem().Classes())
      (S.Prty == 2 ? T1 : T2) = double(S.AverageTime());
    if (const TPrtyStatistics* S = Line.PrtyStatistics(2)) Wq1 = double(S->AverageTime());
    if (const TPrtyStatistics* S = Line.PrtyStatistics(1)) Wq2 = double(S->AverageTime());
    // Little's law over both blocks: customers in the system per arrival.
    T = double(Line.AverageCount() + Clerk.AverageCount()) / 0.5;
  }
  return {
      {"Clerk utilisation", Usage, 0.5},
      {"Wq1 (urgent, wait in line)", Wq1, 1.0 / 3},
      {"Wq2 (regular, wait in line)", Wq2, 4.0 / 3},
      {"T (both classes, Little)", T, 2.0},
      {"T1 (urgent, time in system)", T1, 4.0 / 3},
      {"T2 (regular, time in system)", T2, 8.0 / 3},
  };
}

std::vector<TFigure> RunPriority(std::ostream& Out, double EndTime) {
  TComponent Application(nullptr);
  TModel* Model = BuildPriority(new TComponent(&Application));
  Model->SimulateTo(1000);
  Model->ClearStatistics();
  Model->SimulateTo(1000 + EndTime);

  Out << "Priority M/M/1 (two classes at rate 0.25, service rate 1, preemptive resume)\n";
  PrintRunLength(Out, 1000, EndTime, "time units");
  PrintReport(*Model, Out);
  std::vector<TFigure> Figures = PriorityFigures(Model);
  PrintFigures(Figures, Out);
  return Figures;
}

} // namespace quorin::examples
