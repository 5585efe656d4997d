// Fork and join: jobs arrive at rate 0.5 and are split into two tasks, one
// for each of two stations (a line and a server with exponential service
// at rate 1). A job is done when both of its tasks are: the join matches
// the two tasks of one job (Match), however the tasks of different jobs
// overtake one another on the two routes. Each station alone is an M/M/1
// with rho = 0.5, W = 1/(mu - lambda) = 2; the mean response of the
// two-way homogeneous fork-join is exactly R = (12 - rho)/8 * 1/(mu - lambda)
// (Nelson and Tantawi), here 2.875.
#include <cmath>
#include <ostream>

#include "models.h"

namespace quorin::examples {

namespace {
// A job that remembers when it arrived; its tasks, the divider's copies,
// carry the same field.
struct TJob : TTransaction {
  double Arrived = 0;
};

constexpr double Lambda = 0.5, Mu = 1.0;
} // namespace

TModel* BuildForkJoin(TComponent* Form) {
  auto* Model = new TModel(Form);
  Model->SetCheckModel(true); // report wrongly wired blocks at the end of each run
  Model->SetTransactionClass<TJob>();
  auto* Arrivals = new TMultiRand(Form);
  auto* Tasks = new TMultiRand(Form);
  Arrivals->SetSeed(314159265);
  Tasks->SetSeed(271828182);

  auto* Door = new TGenerator(Form);
  auto* Split = new TDivider(Form);
  auto* Line1 = new TQueue(Form);
  auto* Station1 = new TServer(Form);
  auto* Line2 = new TQueue(Form);
  auto* Station2 = new TServer(Form);
  auto* Join = new TAssembler(Form);
  auto* Exit = new TTerminator(Form);
  Door->SetName("Door");
  Split->SetName("Split");
  Line1->SetName("Line1");
  Station1->SetName("Station1");
  Line2->SetName("Line2");
  Station2->SetName("Station2");
  Join->SetName("Join");
  Exit->SetName("Exit");
  Split->SetCapacity(2);
  Join->SetCapacity(2);
  Join->SetMatch(true);

  Door->OnBeforeTimeGoOn = [=](TAggregate*) { Door->NextTime(Arrivals->Exponential(1 / Lambda)); };
  Door->OnAfterGeneration = [=](TBlock*, TTransaction* T) {
    static_cast<TJob*>(T)->Arrived = ModelTime();
    Door->NextTime(Arrivals->Exponential(1 / Lambda));
  };
  Door->OnRouting = [=](TBlock* Sender, TTransaction*) { Sender->PassTo(Split); };
  // The two tasks leave the divider one after the other: the first to
  // station 1, the second to station 2.
  Split->OnRouting = [=](TBlock* Sender, TTransaction*) {
    Sender->PassTo(Split->Count() == 2 ? Line1 : Line2);
  };
  for (auto [Line, Station] : {std::pair{Line1, Station1}, std::pair{Line2, Station2}}) {
    TServer* S = Station;
    Line->OnRouting = [=](TBlock* Sender, TTransaction*) { Sender->PassTo(S); };
    S->OnEnter = [=](TBlock*, TTransaction*) { S->NextTime(Tasks->Exponential(1 / Mu)); };
    S->OnRouting = [=](TBlock* Sender, TTransaction*) { Sender->PassTo(Join); };
  }
  Join->OnRouting = [=](TBlock* Sender, TTransaction*) { Sender->PassTo(Exit); };

  // The response of each job, from its arrival to the join.
  auto* Responses = new TExitTimes(Form, Exit, 1);
  Responses->SetName("Responses");
  Exit->OnEnter = [=](TBlock*, TTransaction* T) {
    Responses->Note(0, ModelTime() - static_cast<TJob*>(T)->Arrived);
  };
  return Model;
}

std::vector<TFigure> ForkJoinFigures(TModel* Finished) {
  double Usage = NAN, W = NAN, R = NAN;
  if (Finished) {
    Usage = double(FindOnForm<TServer>(*Finished, "Station1").Usage());
    W = double(FindOnForm<TQueue>(*Finished, "Line1").AverageTime() +
               FindOnForm<TServer>(*Finished, "Station1").AverageTime());
    R = FindOnForm<TExitTimes>(*Finished, "Responses").Mean();
  }
  const double Rho = Lambda / Mu;
  return {
      {"Station utilisation", Usage, Rho},
      {"W at one station (line + service)", W, 1 / (Mu - Lambda)},
      {"R (mean response, arrival to join)", R, (12 - Rho) / 8 / (Mu - Lambda)},
  };
}

std::vector<TFigure> RunForkJoin(std::ostream& Out, double EndTime) {
  TComponent Application(nullptr);
  TModel* Model = BuildForkJoin(new TComponent(&Application));
  Model->SimulateTo(1000);
  Model->ClearStatistics();
  Model->SimulateTo(1000 + EndTime);

  Out << "Fork and join (jobs at rate 0.5, two tasks matched at the join, service rate 1)\n";
  PrintRunLength(Out, 1000, EndTime, "time units");
  PrintReport(*Model, Out);
  std::vector<TFigure> Figures = ForkJoinFigures(Model);
  PrintFigures(Figures, Out);
  return Figures;
}

} // namespace quorin::examples
