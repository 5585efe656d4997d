// M/M/1: customers arrive at rate 1 and are served one at a time at rate
// 1.25. Theory: utilisation 0.8, Wq 3.2, W 4.0, L 4.0.
#include <cmath>
#include <ostream>

#include "models.h"
#include "single_line.h"

namespace quorin::examples {

TModel* BuildMM1(TComponent* Form) {
  const auto M = BuildSingleLine<TServer>(Form, 1.0, 0.8);
  M.Model->SetCheckModel(true); // report wrongly wired blocks at the end of each run
  M.Services->SetSeed(1234567891);
  return M.Model;
}

std::vector<TFigure> MM1Figures(TModel* Finished) {
  double Usage = NAN, PWait = NAN, Wq = NAN, W = NAN, L = NAN;
  if (Finished) {
    auto& Line = FindOnForm<TQueue>(*Finished, "Line");
    auto& Clerk = FindOnForm<TServer>(*Finished, "Clerk");
    Usage = double(Clerk.Utilisation());
    PWait = double(Line.AverageTime() / Line.SAverageTime());
    Wq = double(Line.AverageTime());
    // The time in system as the terminator measures it: from the making of
    // each customer to its end.
    W = double(FindOnForm<TTerminator>(*Finished, "Exit").AverageTime());
    L = double(Line.AverageCount() + Clerk.AverageCount());
  }
  return {
      {"Utilisation", Usage, 0.8},           {"P(wait)", PWait, 0.8},
      {"Wq (mean wait in line)", Wq, 3.2},   {"W (mean time in system)", W, 4.0},
      {"L (mean number in system)", L, 4.0},
  };
}

std::vector<TFigure> RunMM1(std::ostream& Out, double EndTime) {
  TComponent Application(nullptr);
  TModel* Model = BuildMM1(new TComponent(&Application));
  Model->SimulateTo(1000); // warm-up, then measure from an emptyish start
  Model->ClearStatistics();
  Model->SimulateTo(1000 + EndTime);

  Out << "M/M/1 (arrival rate 1, service rate 1.25)\n";
  PrintRunLength(Out, 1000, EndTime, "time units");
  PrintReport(*Model, Out);
  std::vector<TFigure> Figures = MM1Figures(Model);
  PrintFigures(Figures, Out);
  return Figures;
}

} // namespace quorin::examples
