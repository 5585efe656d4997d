// The example models of the showcase. Each model has a builder, which puts
// the model on a form and names its blocks, and a figures function, which
// computes its key figures from the finished model beside the values
// queueing theory gives where a closed form exists. RunX runs one
// replication with fixed seeds and prints the standard report and the
// figures; ReplicatedModel describes the same model for the experiment
// runner, and RunShowcase prints both.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "quorin/experiment.h"
#include "quorin/quorin.h"

namespace quorin::examples {

struct TFigure {
  std::string Name;
  double Simulated;
  std::optional<double> Theory;
  // What the theory cell says when there is no value.
  std::string NoTheory = "no closed form";
  // A count: printed as an integer.
  bool Count = false;
};

// Prints figures as an aligned table with a theory column ("no closed form"
// where there is none).
void PrintFigures(const std::vector<TFigure>& Figures, std::ostream& Out);
// Prints how the figures below were obtained: the warm-up removed, the
// length measured, and how many runs stand behind each figure.
void PrintRunLength(std::ostream& Out, double WarmUp, double Measured, const char* Unit);

// The component of class T named Name on the model's form; throws
// std::logic_error when there is none (a builder and its figures disagree).
template <class T> T& FindOnForm(TModel& Model, const std::string& Name) {
  TComponent* Form = Model.Owner();
  for (int32_t i = 0; Form && i < Form->ComponentCount(); ++i)
    if (auto* C = dynamic_cast<T*>(Form->Components(i)); C && C->Name() == Name) return *C;
  throw std::logic_error("no component named " + Name + " on the model's form");
}

// Times in system noted per class as transactions reach a terminator. The
// sums restart whenever the terminator's statistics were cleared (it counts
// fewer entries than were noted), so they always cover the same stretch of
// time as the standard report, whoever clears the statistics.
class TExitTimes : public TComponent {
public:
  TExitTimes(TComponent* Form, TTerminator* Exit, int32_t Classes);
  // Call from the terminator's OnEnter.
  void Note(int32_t Class, double TimeInSystem);
  double Sum(int32_t Class) const { return FSum[Class]; }
  int64_t Served(int32_t Class) const { return FServed[Class]; }
  // Mean over the classes named (all when empty); NaN when none was served.
  double Mean(const std::vector<int32_t>& Classes = {}) const;

private:
  TTerminator* FExit;
  std::vector<double> FSum;
  std::vector<int64_t> FServed;
  int64_t FNoted = 0;
};

// Figures functions: the key figures of a finished model. With a null model
// they answer the names and theory values only (Simulated is NaN), for a
// caller that has no model of its own, such as the experiment's parent.
using TFiguresOf = std::function<std::vector<TFigure>(TModel* Finished)>;

// M/M/1: arrival rate 1, service rate 1.25, over EndTime time units.
TModel* BuildMM1(TComponent* Form);
std::vector<TFigure> MM1Figures(TModel* Finished);
std::vector<TFigure> RunMM1(std::ostream& Out, double EndTime = 200000);
// M/M/3 built on a storage of three units: arrival rate 1, service mean 2.4.
TModel* BuildMM3(TComponent* Form);
std::vector<TFigure> MM3Figures(TModel* Finished);
std::vector<TFigure> RunMM3(std::ostream& Out, double EndTime = 200000);
// A one-barber shop: arrivals every 18 +- 6 minutes, haircuts of 16 +- 4;
// one 480-minute day, then Days more for the long-run figures. Its figures
// cover the whole run of Minutes minutes from the start.
TModel* BuildBarber(TComponent* Form);
std::vector<TFigure> BarberFigures(TModel* Finished, double Minutes);
std::vector<TFigure> RunBarber(std::ostream& Out, int32_t Days = 1000);
// Preemptive-resume priority M/M/1: two classes at rate 0.25 each, service
// rate 1, urgent customers interrupting regular ones.
TModel* BuildPriority(TComponent* Form);
std::vector<TFigure> PriorityFigures(TModel* Finished);
std::vector<TFigure> RunPriority(std::ostream& Out, double EndTime = 200000);
// Non-preemptive priority M/M/1: two classes in equal shares, arrival rate
// 0.6 in all, service rate 1; Cobham's formula gives the waits per class.
TModel* BuildCobham(TComponent* Form);
std::vector<TFigure> CobhamFigures(TModel* Finished);
std::vector<TFigure> RunCobham(std::ostream& Out, double EndTime = 200000);
// Fork and join: jobs at rate 0.5, each split into two tasks served at two
// stations (rate 1 each) and joined again by job (a matching assembler).
TModel* BuildForkJoin(TComponent* Form);
std::vector<TFigure> ForkJoinFigures(TModel* Finished);
std::vector<TFigure> RunForkJoin(std::ostream& Out, double EndTime = 200000);
// Batch arrivals: a bus with 1 to 9 passengers every 15 minutes, one ticket
// clerk with a mean of 2.4 minutes per ticket. Its rates are taken over the
// time since From, when the statistics were cleared.
TModel* BuildBus(TComponent* Form);
std::vector<TFigure> BusFigures(TModel* Finished, double From);
std::vector<TFigure> RunBus(std::ostream& Out, double EndTime = 200000);

// ------------------------------------------------------------ replications

// A showcase model as the experiment runner takes it.
struct TReplicatedModel {
  std::string Name;        // as on the showcase's command line
  std::string Description; // for --help
  std::function<void(std::ostream&)> RunSingle; // the one-replication run
  std::function<TModel*(TComponent* Form)> Build;
  double WarmUp = 0, RunLength = 0;
  const char* Unit = "time units";
  TFiguresOf Figures;
};

// The models in showcase order.
const std::vector<TReplicatedModel>& ShowcaseModels();
// Nullptr when no model has that name.
const TReplicatedModel* FindShowcaseModel(const std::string& Name);

// The model's key figures as an experiment: Replications replications,
// seeded by the runner, each figure a user figure of the runner.
TExperiment MakeExperiment(const TReplicatedModel& Model, int32_t Replications, double Level,
                           int32_t Jobs);
// Prints the figures of an experiment as mean +- half-width beside theory,
// with the number of replications and their length; failed replications
// with their reasons.
void PrintReplicated(const TReplicatedModel& Model, const TExperimentResult& Result,
                     std::ostream& Out);

// How the showcase replicates every model.
constexpr int32_t ShowcaseReplications = 10;
constexpr int32_t ShowcaseJobs = 2;
// One model in the showcase: its single run, then its figures over
// replications. Answers false when the experiment had failures.
bool RunShowcase(const TReplicatedModel& Model, std::ostream& Out);

} // namespace quorin::examples
