// M/M/1 as an experiment: replications with confidence intervals, and the
// files the plotting script draws (Welch series, histogram of the waits, the
// line's content over time, an event trace).
//
//   mm1_experiment [--replications N] [--jobs J] [--level L] [--warmup T]
//                  [--run-length T] [--csv FILE] [--speedup]
//                  [--welch FILE [--interval T] [--horizon T] [--window W]]
//                  [--histogram FILE] [--content FILE] [--trace FILE]
#include <sys/resource.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <fstream>
#include <iostream>
#include <string>

#include "quorin/experiment.h"
#include "quorin/output.h"
#include "single_line.h"

using namespace quorin;

namespace {

struct TOptions {
  int32_t Replications = 20, Jobs = 2, Window = 5;
  double Level = 0.95, WarmUp = 1000, RunLength = 20000;
  double Interval = 100, Horizon = 5000;
  std::string Csv, Welch, Histogram, Content, Trace;
  bool Speedup = false;
};

// Door -> Line -> Clerk -> Exit; arrival rate 1, service rate 1.25. The
// waits in line go to a tabulator named Waits.
TModel* Build(TReplicationContext& C) {
  const auto M = examples::BuildSingleLine<TServer>(C.Form, 1.0, 0.8);
  auto* Waits = new TTabulator(C.Form);
  Waits->SetName("Waits");
  Waits->SetLowerBound(0);
  Waits->SetInterval(1);
  Waits->SetIntervalCount(30);
  M.Line->OnExit = [=](TBlock*, TTransaction* T) { Waits->PutValue(ModelTime() - T->FEnterTime); };
  return M.Model;
}

bool Parse(int argc, char** argv, TOptions& O) {
  for (int i = 1; i < argc; ++i) {
    const std::string A = argv[i];
    auto Next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    const char* V = nullptr;
    if (A == "--speedup") {
      O.Speedup = true;
      continue;
    }
    if (!(V = Next())) return false;
    if (A == "--replications") O.Replications = std::atoi(V);
    else if (A == "--jobs") O.Jobs = std::atoi(V);
    else if (A == "--window") O.Window = std::atoi(V);
    else if (A == "--level") O.Level = std::atof(V);
    else if (A == "--warmup") O.WarmUp = std::atof(V);
    else if (A == "--run-length") O.RunLength = std::atof(V);
    else if (A == "--interval") O.Interval = std::atof(V);
    else if (A == "--horizon") O.Horizon = std::atof(V);
    else if (A == "--csv") O.Csv = V;
    else if (A == "--welch") O.Welch = V;
    else if (A == "--histogram") O.Histogram = V;
    else if (A == "--content") O.Content = V;
    else if (A == "--trace") O.Trace = V;
    else return false;
  }
  return true;
}

// Writes Path whole or not at all (see quorin/output.h), or says why not.
bool Write(const std::string& Path, const std::function<void(std::ostream&)>& Writer) {
  std::string Error;
  if (WriteOutputFile(Path, Writer, Error)) return true;
  std::cerr << "mm1_experiment: " << Error << '\n';
  return false;
}

// CPU seconds of the finished worker processes so far.
double WorkerSeconds() {
  rusage U{};
  getrusage(RUSAGE_CHILDREN, &U);
  return double(U.ru_utime.tv_sec + U.ru_stime.tv_sec) +
         double(U.ru_utime.tv_usec + U.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
  TOptions O;
  if (!Parse(argc, argv, O)) {
    std::cerr << "usage: see the comment at the top of mm1_experiment.cpp\n";
    return 2;
  }
  TExperiment E;
  E.Build = Build;
  E.WarmUp = O.WarmUp;
  E.RunLength = O.RunLength;
  E.Replications = O.Replications;
  E.Jobs = O.Jobs;
  E.Level = O.Level;
  E.Figures = {TFigureSpec::Report("Line", "Mean time", "Wq (theory 3.2)"),
               TFigureSpec::Report("Clerk", "Usage", "Utilisation (theory 0.8)"),
               TFigureSpec::Report("Line", "Mean cont.", "Lq (theory 3.2)")};
  if (!O.Trace.empty()) {
    E.Trace.File = O.Trace;
    E.Trace.To = 50;
  }
  const double Cpu = WorkerSeconds();
  const TExperimentResult R = RunExperiment(E);
  WatchStandardOutput();
  PrintExperiment(R, std::cout);
  // Worker CPU time over wall time: how many workers were busy on average.
  std::cout << "wall time " << R.WallSeconds << " s with " << O.Jobs << " job"
            << (O.Jobs == 1 ? "" : "s") << "; workers used " << WorkerSeconds() - Cpu
            << " s of CPU\n";
  if (!R.Error.empty()) return 1;
  if (O.Speedup && O.Jobs > 1) {
    TExperiment Single = E;
    Single.Jobs = 1;
    Single.Trace.File.clear();
    const double Before = WorkerSeconds();
    const TExperimentResult S = RunExperiment(Single);
    std::cout << "wall time " << S.WallSeconds << " s with 1 job; workers used "
              << WorkerSeconds() - Before << " s of CPU; speed-up "
              << S.WallSeconds / R.WallSeconds << '\n';
  }
  if (!O.Csv.empty()) {
    if (!Write(O.Csv, [&](std::ostream& Out) { PrintExperimentCsv(R, Out); })) return 1;
  }
  if (!O.Welch.empty()) {
    const TWelchResult W = RunWelch(E, TFigureSpec::Report("Line", "Mean time", "Wq"), O.Interval,
                                    O.Horizon, O.Window);
    if (!W.Error.empty()) {
      std::cerr << "mm1_experiment: " << W.Error << '\n';
      return 1;
    }
    if (!Write(O.Welch, [&](std::ostream& Out) { WriteWelchCsv(W, Out); })) return 1;
  }
  // The histogram and the content come from one run in this process, after
  // the experiment: its own workers are done, so this is the only model.
  if (!O.Histogram.empty() || !O.Content.empty()) {
    TComponent Application(nullptr);
    TReplicationContext C{0, new TComponent(&Application), nullptr};
    TModel* Model = Build(C);
    std::string Refused;
    SeedStreams(*C.Form, E.Streams, 0, Refused); // the streams of replication 0
    TBlock* Line = nullptr;
    TTabulator* Waits = nullptr;
    for (int32_t i = 0; i < C.Form->ComponentCount(); ++i) {
      if (C.Form->Components(i)->Name() == "Line") Line = dynamic_cast<TBlock*>(C.Form->Components(i));
      if (auto* T = dynamic_cast<TTabulator*>(C.Form->Components(i))) Waits = T;
    }
    TContentRecorder Content(*Model, *Line);
    Model->Simulate(O.Content.empty() ? O.WarmUp + O.RunLength : 500);
    if (!O.Content.empty() &&
        !Write(O.Content, [&](std::ostream& Out) { Content.WriteCsv(Out); }))
      return 1;
    if (!O.Histogram.empty()) {
      if (!O.Content.empty()) Model->Simulate(O.WarmUp + O.RunLength);
      if (!Write(O.Histogram, [&](std::ostream& Out) { WriteTabulatorCsv(*Waits, Out); }))
        return 1;
    }
  }
  std::string Error;
  if (!FlushStandardOutput(Error)) {
    std::cerr << "mm1_experiment: " << Error << '\n';
    return 1;
  }
  return R.Failed ? 1 : 0;
}
