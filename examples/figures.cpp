#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>

#include "models.h"

namespace quorin::examples {

void PrintFigures(const std::vector<TFigure>& Figures, std::ostream& Out) {
  std::size_t Width = 6;
  for (const TFigure& F : Figures)
    Width = std::max(Width, F.Name.size());
  char Line[256];
  std::snprintf(Line, sizeof Line, "%-*s  %12s  %14s\n", int(Width), "Figure", "Simulated",
                "Theory");
  Out << '\n' << Line;
  for (const TFigure& F : Figures) {
    char Simulated[32];
    if (F.Count)
      std::snprintf(Simulated, sizeof Simulated, "%12.0f", F.Simulated);
    else
      std::snprintf(Simulated, sizeof Simulated, "%12.5f", F.Simulated);
    char Theory[32];
    if (F.Theory)
      std::snprintf(Theory, sizeof Theory, F.Count ? "%14.0f" : "%14.5f", *F.Theory);
    else
      std::snprintf(Theory, sizeof Theory, "%14s", F.NoTheory.c_str());
    std::snprintf(Line, sizeof Line, "%-*s  %s  %s\n", int(Width), F.Name.c_str(), Simulated,
                  Theory);
    Out << Line;
  }
  Out << '\n';
}

void PrintRunLength(std::ostream& Out, double WarmUp, double Measured, const char* Unit) {
  char Line[256];
  if (WarmUp > 0)
    std::snprintf(Line, sizeof Line, "Warm-up of %.0f %s removed, then %.0f %s measured.", WarmUp,
                  Unit, Measured, Unit);
  else
    std::snprintf(Line, sizeof Line, "No warm-up removed: %.0f %s measured from the start.",
                  Measured, Unit);
  Out << Line << "\nEach figure comes from this single run (one replication).\n";
}

} // namespace quorin::examples

namespace quorin::examples {

TExitTimes::TExitTimes(TComponent* Form, TTerminator* Exit, int32_t Classes)
    : TComponent(Form), FExit(Exit), FSum(std::size_t(Classes), 0.0),
      FServed(std::size_t(Classes), 0) {}

void TExitTimes::Note(int32_t Class, double TimeInSystem) {
  // The terminator counts this entry after its OnEnter: without a clearing
  // in between, it has counted exactly the entries noted so far.
  if (FExit->Entries() < FNoted) {
    std::fill(FSum.begin(), FSum.end(), 0.0);
    std::fill(FServed.begin(), FServed.end(), 0);
    FNoted = 0;
  }
  FSum[std::size_t(Class)] += TimeInSystem;
  ++FServed[std::size_t(Class)];
  ++FNoted;
}

double TExitTimes::Mean(const std::vector<int32_t>& Classes) const {
  double Sum = 0;
  int64_t Served = 0;
  for (std::size_t i = 0; i < FSum.size(); ++i) {
    if (!Classes.empty() && std::find(Classes.begin(), Classes.end(), int32_t(i)) == Classes.end())
      continue;
    Sum += FSum[i];
    Served += FServed[i];
  }
  return Served > 0 ? Sum / double(Served) : NAN;
}

// ------------------------------------------------------------ replications

const std::vector<TReplicatedModel>& ShowcaseModels() {
  // Replications are shorter than the single runs: ten of them together
  // measure several times as long, and the whole showcase stays quick.
  static const std::vector<TReplicatedModel> Models{
      {"mm1", "M/M/1: arrival rate 1, service rate 1.25; warm-up 1000, run 200000",
       [](std::ostream& Out) { RunMM1(Out); }, BuildMM1, 1000, 100000, "time units", MM1Figures},
      {"mm3", "M/M/3 on a storage: arrival rate 1, service mean 2.4; warm-up 1000, run 200000",
       [](std::ostream& Out) { RunMM3(Out); }, BuildMM3, 1000, 100000, "time units", MM3Figures},
      {"barber",
       "one barber: arrivals every 18 +- 6 min, haircuts 16 +- 4; 1 day, then 1000 more",
       [](std::ostream& Out) { RunBarber(Out); }, BuildBarber, 0, 480.0 * 1001, "minutes",
       [](TModel* M) { return BarberFigures(M, 480.0 * 1001); }},
      {"priority",
       "two classes at rate 0.25 each, service rate 1, preemptive resume; warm-up 1000, run "
       "200000",
       [](std::ostream& Out) { RunPriority(Out); }, BuildPriority, 1000, 100000, "time units",
       PriorityFigures},
      {"cobham",
       "two classes in equal shares at rate 0.6, service rate 1, no preemption; warm-up 1000, "
       "run 200000",
       [](std::ostream& Out) { RunCobham(Out); }, BuildCobham, 1000, 100000, "time units",
       CobhamFigures},
      {"forkjoin",
       "jobs at rate 0.5 split into 2 tasks at rate 1, matched join; warm-up 1000, run 200000",
       [](std::ostream& Out) { RunForkJoin(Out); }, BuildForkJoin, 1000, 100000, "time units",
       ForkJoinFigures},
      // The statistics are cleared at the first event after the warm-up;
      // nothing happens between the two, so the rate is taken from 1000.
      {"bus", "1 to 9 passengers every 15 min, tickets of 2.4 min; warm-up 1000, run 200000 min",
       [](std::ostream& Out) { RunBus(Out); }, BuildBus, 1000, 100000, "minutes",
       [](TModel* M) { return BusFigures(M, 1000); }},
  };
  return Models;
}

const TReplicatedModel* FindShowcaseModel(const std::string& Name) {
  for (const TReplicatedModel& M : ShowcaseModels())
    if (M.Name == Name) return &M;
  return nullptr;
}

TExperiment MakeExperiment(const TReplicatedModel& Model, int32_t Replications, double Level,
                           int32_t Jobs) {
  TExperiment E;
  E.Build = [Build = Model.Build](TReplicationContext& C) { return Build(C.Form); };
  E.WarmUp = Model.WarmUp;
  E.RunLength = Model.RunLength;
  E.Replications = Replications;
  E.Level = Level;
  E.Jobs = Jobs;
  const std::vector<TFigure> Names = Model.Figures(nullptr);
  for (std::size_t i = 0; i < Names.size(); ++i)
    E.Figures.push_back(TFigureSpec::User(
        Names[i].Name, [Figures = Model.Figures, i](TModel& M) -> std::optional<double> {
          return Figures(&M)[i].Simulated; // NaN counts as missing
        }));
  return E;
}

void PrintReplicated(const TReplicatedModel& Model, const TExperimentResult& Result,
                     std::ostream& Out) {
  if (!Result.Error.empty()) {
    Out << "The replications were refused: " << Result.Error << "\n\n";
    return;
  }
  const int32_t Runs = int32_t(Result.Replications.size());
  char Line[512];
  if (Model.WarmUp > 0)
    std::snprintf(Line, sizeof Line,
                  "Over %d replications, each with a warm-up of %.0f %s removed, then %.0f %s "
                  "measured;\n",
                  int(Runs), Model.WarmUp, Model.Unit, Model.RunLength, Model.Unit);
  else
    std::snprintf(Line, sizeof Line,
                  "Over %d replications, each measured for %.0f %s from the start;\n", int(Runs),
                  Model.RunLength, Model.Unit);
  Out << Line << "mean +- half-width of the " << Result.Level * 100
      << " % confidence interval (Student t), every replication with streams of its own:\n";

  const std::vector<TFigure> Theory = Model.Figures(nullptr);
  std::size_t Width = 6;
  for (const TFigure& F : Theory)
    Width = std::max(Width, F.Name.size());
  std::snprintf(Line, sizeof Line, "%-*s  %12s  %12s  %14s\n", int(Width), "Figure", "Mean",
                "+- half-width", "Theory");
  Out << '\n' << Line;
  for (std::size_t i = 0; i < Theory.size() && i < Result.Figures.size(); ++i) {
    const TFigure& F = Theory[i];
    const TSummary& S = Result.Figures[i].Summary;
    const char* Format = F.Count ? "%12.0f" : "%12.5f";
    char Mean[32], Half[32], Th[32];
    if (S.N > 0)
      std::snprintf(Mean, sizeof Mean, Format, S.Mean);
    else
      std::snprintf(Mean, sizeof Mean, "%12s", "-");
    if (S.N > 1)
      std::snprintf(Half, sizeof Half, F.Count ? "+- %9.0f" : "+- %9.5f", S.HalfWidth);
    else
      std::snprintf(Half, sizeof Half, "%12s", "-");
    if (F.Theory)
      std::snprintf(Th, sizeof Th, F.Count ? "%14.0f" : "%14.5f", *F.Theory);
    else
      std::snprintf(Th, sizeof Th, "%14s", F.NoTheory.c_str());
    std::snprintf(Line, sizeof Line, "%-*s  %s  %s  %s", int(Width), F.Name.c_str(), Mean, Half,
                  Th);
    Out << Line;
    if (Result.Figures[i].Missing > 0)
      Out << "  (missing in " << Result.Figures[i].Missing << " replications)";
    Out << '\n';
  }
  for (const TReplicationResult& R : Result.Replications)
    if (!R.Ok) Out << "Replication " << R.Number << " failed: " << R.Error << '\n';
  Out << '\n';
}

bool RunShowcase(const TReplicatedModel& Model, std::ostream& Out) {
  Model.RunSingle(Out);
  const TExperimentResult Result =
      RunExperiment(MakeExperiment(Model, ShowcaseReplications, 0.95, ShowcaseJobs));
  PrintReplicated(Model, Result, Out);
  return Result.Error.empty() && Result.Failed == 0;
}

} // namespace quorin::examples
