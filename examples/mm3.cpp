// M/M/3 on a storage of three units: arrival rate 1, service mean 2.4
// (offered load 2.4, utilisation 0.8). Theory (Erlang C): P(wait) 0.64719,
// Wq 2.58876, W 4.98876.
#include <cmath>
#include <ostream>

#include "models.h"
#include "single_line.h"

namespace quorin::examples {

TModel* BuildMM3(TComponent* Form) {
  // Every customer holds one of the three units for a service time of its own.
  const auto M = BuildSingleLine<TStorage>(Form, 1.0, 2.4, "Tellers");
  M.Model->SetCheckModel(true); // report wrongly wired blocks at the end of each run
  M.Arrivals->SetSeed(987654321);
  M.Services->SetSeed(192837465);
  M.Service->SetCapacity(3);
  return M.Model;
}

std::vector<TFigure> MM3Figures(TModel* Finished) {
  double Usage = NAN, PWait = NAN, Wq = NAN, W = NAN;
  if (Finished) {
    auto& Line = FindOnForm<TQueue>(*Finished, "Line");
    auto& Tellers = FindOnForm<TStorage>(*Finished, "Tellers");
    // Mean busy units over the three (Usage is the share of time any
    // teller is busy).
    Usage = double(Tellers.Utilisation());
    PWait = double(Line.AverageTime() / Line.SAverageTime());
    Wq = double(Line.AverageTime());
    W = double(FindOnForm<TTerminator>(*Finished, "Exit").AverageTime());
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
  Model->SimulateTo(1000);
  Model->ClearStatistics();
  Model->SimulateTo(1000 + EndTime);

  Out << "M/M/3 (arrival rate 1, service mean 2.4, three tellers)\n";
  PrintRunLength(Out, 1000, EndTime, "time units");
  PrintReport(*Model, Out);
  std::vector<TFigure> Figures = MM3Figures(Model);
  PrintFigures(Figures, Out);
  return Figures;
}

} // namespace quorin::examples
