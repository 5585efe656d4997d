// M/M/3 on a storage of three units: arrival rate 1, service mean 2.4
// (offered load 2.4, utilisation 0.8). Theory (Erlang C): P(wait) 0.64719,
// Wq 2.58876, W 4.98876.
#include <cmath>
#include <ostream>

#include "models.h"

namespace quorin::examples {

TModel* BuildMM3(TComponent* Form) {
  auto* Model = new TModel(Form);
  Model->SetCheckModel(true); // report wrongly wired blocks at the end of each run
  auto* Arrivals = new TMultiRand(Form);
  auto* Services = new TMultiRand(Form);
  Arrivals->SetSeed(987654321);
  Services->SetSeed(192837465);

  auto* Door = new TGenerator(Form);
  auto* Line = new TQueue(Form);
  auto* Tellers = new TStorage(Form);
  auto* Exit = new TTerminator(Form);
  Door->SetName("Door");
  Line->SetName("Line");
  Tellers->SetName("Tellers");
  Exit->SetName("Exit");
  Tellers->SetCapacity(3);

  Door->OnBeforeTimeGoOn = [=](TAggregate*) { Door->NextTime(Arrivals->Exponential(1.0)); };
  Door->OnAfterGeneration = [=](TBlock*, TTransaction*) {
    Door->NextTime(Arrivals->Exponential(1.0));
  };
  Door->OnRouting = [=](TBlock* Sender, TTransaction*) { Sender->PassTo(Line); };
  Line->OnRouting = [=](TBlock* Sender, TTransaction*) { Sender->PassTo(Tellers); };
  // Every customer holds one unit for a service time of its own.
  Tellers->OnEnter = [=](TBlock*, TTransaction*) { Tellers->NextTime(Services->Exponential(2.4)); };
  Tellers->OnRouting = [=](TBlock* Sender, TTransaction*) { Sender->PassTo(Exit); };
  return Model;
}

std::vector<TFigure> MM3Figures(TModel* Finished) {
  double Usage = NAN, PWait = NAN, Wq = NAN, W = NAN;
  if (Finished) {
    auto& Line = FindOnForm<TQueue>(*Finished, "Line");
    auto& Tellers = FindOnForm<TStorage>(*Finished, "Tellers");
    Usage = double(Tellers.AverageCount() / 3);
    PWait = double(Line.AverageTime() / Line.SAverageTime());
    Wq = double(Line.AverageTime());
    W = Wq + double(Tellers.AverageTime());
  }
  return {
      {"Utilisation per teller", Usage, 0.8},
      {"P(wait)", PWait, 0.64719},
      {"Wq (mean wait in line)", Wq, 2.58876},
      {"W (mean time in system)", W, 4.98876},
  };
}

std::vector<TFigure> RunMM3(std::ostream& Out, double EndTime) {
  TComponent Application(nullptr);
  TModel* Model = BuildMM3(new TComponent(&Application));
  Model->Simulate(1000);
  Model->ClearStatistics();
  Model->Simulate(1000 + EndTime);

  Out << "M/M/3 (arrival rate 1, service mean 2.4, three tellers)\n";
  PrintRunLength(Out, 1000, EndTime, "time units");
  PrintReport(*Model, Out);
  std::vector<TFigure> Figures = MM3Figures(Model);
  PrintFigures(Figures, Out);
  return Figures;
}

} // namespace quorin::examples
