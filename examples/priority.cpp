// Two classes of customers at one clerk, with preemptive-resume priority:
// urgent ones (class 1) and regular ones (class 2) each arrive at rate 0.25,
// and every service is exponential with rate 1. An urgent customer goes
// ahead of every regular one in the line and interrupts a regular one in
// service, who resumes with the service time left once no urgent customer
// is there. Theory: an urgent customer sees an M/M/1 of its own class, T1 =
// 1/(mu - lambda1) = 4/3; the two classes together behave as one M/M/1 with
// rate 0.5, T = 2, so T2 = 2 T - T1 = 8/3.
#include <cmath>
#include <ostream>

#include "models.h"

namespace quorin::examples {

namespace {
// A customer who remembers when it arrived.
struct TCustomer : TTransaction {
  double Arrived;
};
} // namespace

TModel* BuildPriority(TComponent* Form) {
  auto* Model = new TModel(Form);
  Model->SetCheckModel(true); // report wrongly wired blocks at the end of each run
  Model->SetTransactionClass<TCustomer>();
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
    static_cast<TCustomer*>(T)->Arrived = ModelTime();
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

  // Time in system per class (0 urgent, 1 regular), kept on the form so that
  // the figures can be computed wherever the model ran.
  auto* Times = new TExitTimes(Form, Exit, 2);
  Times->SetName("Times");
  Exit->OnEnter = [=](TBlock*, TTransaction* T) {
    Times->Note(T->GetPrty() == 2 ? 0 : 1, ModelTime() - static_cast<TCustomer*>(T)->Arrived);
  };
  return Model;
}

std::vector<TFigure> PriorityFigures(TModel* Finished) {
  double Usage = NAN, T1 = NAN, T2 = NAN, T = NAN;
  if (Finished) {
    Usage = double(FindOnForm<TServer>(*Finished, "Clerk").Usage());
    auto& Times = FindOnForm<TExitTimes>(*Finished, "Times");
    T1 = Times.Mean({0});
    T2 = Times.Mean({1});
    T = Times.Mean();
  }
  return {
      {"Clerk utilisation", Usage, 0.5},
      {"T1 (urgent, time in system)", T1, 4.0 / 3},
      {"T2 (regular, time in system)", T2, 8.0 / 3},
      {"T (both classes)", T, 2.0},
  };
}

std::vector<TFigure> RunPriority(std::ostream& Out, double EndTime) {
  TComponent Application(nullptr);
  TModel* Model = BuildPriority(new TComponent(&Application));
  Model->Simulate(1000);
  Model->ClearStatistics();
  Model->Simulate(1000 + EndTime);

  Out << "Priority M/M/1 (two classes at rate 0.25, service rate 1, preemptive resume)\n";
  PrintRunLength(Out, 1000, EndTime, "time units");
  PrintReport(*Model, Out);
  std::vector<TFigure> Figures = PriorityFigures(Model);
  PrintFigures(Figures, Out);
  return Figures;
}

} // namespace quorin::examples
