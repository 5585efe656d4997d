// The quorin command: runs, checks and lists models without a compiler.
//
//   quorin run MODEL_FILE [--until T] [--warmup T] [--seed S] [--csv FILE]
//              [--json FILE] [--html FILE]
//   quorin run MODEL_FILE --replications N [--jobs J] [--level L] [--until T]
//              [--warmup T] [--seed S] [--csv FILE] [--json FILE] [--html FILE]
//   quorin check MODEL_FILE
//   quorin palette
//   quorin diagram MODEL_FILE -o model.svg
//   quorin fit DATA.csv [--column NAME]
//   quorin compare A.qm B.qm --replications N [--jobs J] [--level L] [--until T]
//              [--warmup T] [--seed S] [--csv FILE] [--json FILE]
//   quorin sweep MODEL_FILE --set Block.Property=v1,v2,... [--set ...]
//              [--figure Block.Statistic ...] --replications N [as compare]
//   quorin studio [MODEL_FILE] [--port P] [--open]
//
// With --replications the runs go through the experiment runner; started by
// mpirun in an MPI build, over the ranks, and rank 0 alone prints.
//
// Exit status: 0 on success, 1 when the file has errors, the library
// reported an error during the run or a replication failed, 2 for a wrong
// command line.
#include <CLI/CLI.hpp>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>

#if defined(QUORIN_WITH_MPI)
#include <mpi.h>
#endif

#include "quorin/fit.h"
#include "quorin/page.h"
#include "quorin/quorin.h"
#include "quorin/report.h"
#include "replications.h"
#include "scenarios.h"
#if defined(QUORIN_WITH_STUDIO)
#include "studio.h"
#endif

using namespace quorin;

namespace {

std::unique_ptr<TModelFile> Load(const std::string& Path) {
  std::vector<std::string> Errors;
  auto File = LoadModelFile(Path, THandlerTable{}, Errors);
  for (const std::string& E : Errors)
    std::cerr << E << '\n';
  return File;
}

// A word of the command line as a message quotes it: cut short when long.
std::string ClipWord(const std::string& Word) {
  return Word.size() <= 64 ? Word : Word.substr(0, 40) + "... (" + std::to_string(Word.size()) +
                                        " characters)";
}

bool IsModelTime(double T) {
  return std::isfinite(T) && T >= 0 && T < 10000000000.0;
}

struct TRunOptions {
  std::string Path;
  std::optional<double> Until;
  std::optional<double> Warmup;
  std::optional<int64_t> Seed;
  std::string Csv;
  std::optional<int32_t> Replications;
  int32_t Jobs = 1;
  double Level = 0.95;
  std::string Json;
  std::string Html;
};

// The end and the warm-up of the run: the options first, else the file's
// run section; and the seed checked. Answers 0, or the exit status after the
// reason went to Err.
int RunTimes(const TRunOptions& Options, const TModelFile& File, std::optional<double>& Until,
             std::optional<double>& Warmup, std::ostream& Err) {
  Until = Options.Until ? Options.Until : File.Run.Until;
  Warmup = Options.Warmup ? Options.Warmup : File.Run.Warmup;
  if (!Until) {
    Err << Options.Path << ": no end time: give --until or Until in the run section\n";
    return 2;
  }
  if (!IsModelTime(*Until) || (Warmup && !IsModelTime(*Warmup))) {
    Err << "times must lie in 0...10000000000\n";
    return 2;
  }
  if (Warmup && *Warmup > *Until) {
    Err << "the warm-up (" << *Warmup << ") ends after the run (" << *Until << ")\n";
    return 2;
  }
  if (Options.Seed && (*Options.Seed < 1 || *Options.Seed > TMultiRand::Modulus - 1)) {
    Err << "--seed must lie in 1...2147483646\n";
    return 2;
  }
  return 0;
}

// Writes Path whole or not at all, and says why it could not be written.
bool WriteFile(const std::string& Path, const std::function<void(std::ostream&)>& Write) {
  std::string Error;
  if (WriteOutputFile(Path, Write, Error)) return true;
  std::cerr << Error << '\n';
  return false;
}

// One run of a loaded file: reseeded by --seed, up to the warm-up,
// statistics cleared, on up to the end. Messages of the run go to standard
// error and into Findings; Seeds are the streams' seeds at the start (for
// the JSON report and the page). With a recorder, what the page needs is
// recorded.
void RunOnce(const TRunOptions& Options, TModelFile& File, double Until, bool HasWarmup,
             double Warmup, std::vector<std::string>& Findings,
             std::vector<std::pair<std::string, int64_t>>& Seeds, bool Record,
             std::unique_ptr<TRunRecorder>& Recorder) {
  if (Options.Seed) {
    // Each stream gets a seed of its own, drawn in file order from a stream
    // seeded with S, so that one number changes every stream reproducibly.
    TMultiRand Seeder(nullptr);
    Seeder.SetSeed(*Options.Seed);
    for (TMultiRand* Stream : File.Streams()) {
      Seeder.Uni01();
      Stream->SetSeed(Seeder.GetSeed());
    }
  }
  for (const TMultiRand* Stream : File.Streams())
    Seeds.emplace_back(Stream->DisplayName(), Stream->GetSeed());
  TModel* Model = File.Model();
  if (Record) {
    TRunRecorder::TLimits Limits;
    Limits.Horizon = Until;
    Recorder = std::make_unique<TRunRecorder>(*Model, Limits);
  }
  // Messages of the run still reach standard error, and they make the exit
  // status a failure: a report after an error is not a clean result.
  const TMessageHandler Previous = SetMessageHandler([&Findings](const std::string& Text) {
    Findings.push_back(Text);
    std::cerr << Text << '\n';
  });
  // The measured window is exactly Warmup to Until: a warm-up of 0 clears
  // nothing (an event at time 0 belongs to the window).
  if (HasWarmup && Warmup > 0) {
    Model->SimulateTo(Warmup);
    Model->ClearStatistics();
  }
  Model->SimulateTo(Until);
  SetMessageHandler(Previous);
}

TPageInfo PageInfo(const TModelFile& File, double Until, double Warmup,
                   const std::vector<std::string>& Findings) {
  TPageInfo Info;
  Info.Title = File.Run.Title;
  Info.Until = Until;
  Info.Warmup = Warmup;
  Info.Findings = Findings;
  Info.Diagram = DiagramOf(File);
  return Info;
}

int Run(const TRunOptions& Options) {
  auto File = Load(Options.Path);
  if (!File) return 1;
  std::optional<double> Until, Warmup;
  if (const int Status = RunTimes(Options, *File, Until, Warmup, std::cerr)) return Status;
  std::vector<std::string> Findings;
  std::unique_ptr<TRunRecorder> Recorder;
  std::vector<std::pair<std::string, int64_t>> Seeds;
  RunOnce(Options, *File, *Until, Warmup.has_value(), Warmup.value_or(0), Findings, Seeds,
          !Options.Html.empty(), Recorder);
  TModel* Model = File->Model();

  if (!File->Run.Title.empty()) std::cout << File->Run.Title << '\n';
  PrintReport(*Model, std::cout);
  TPageInfo Info = PageInfo(*File, *Until, Warmup.value_or(0), Findings);
  // Taken from the file's streams, with or without a page to record.
  Info.Seeds = Seeds;
  bool Written = true;
  if (!Options.Csv.empty())
    Written = WriteFile(Options.Csv, [&](std::ostream& Out) { PrintReportCsv(*Model, Out); });
  if (!Options.Json.empty())
    Written = WriteFile(Options.Json, [&](std::ostream& Out) {
                WriteReportJson(*Model, Info, Out);
                Out << '\n';
              }) &&
              Written;
  if (!Options.Html.empty())
    Written = WriteFile(Options.Html,
                        [&](std::ostream& Out) { WriteReportPage(*Model, Recorder.get(), Info, Out); }) &&
              Written;
  return Findings.empty() && Written ? 0 : 1;
}

// The ranks of an MPI run; one rank when the command was not started by
// mpirun (or was built without MPI).
struct TRanks {
  bool Mpi = false;
  int Rank = 0;
  int Size = 1;
};

#if defined(QUORIN_WITH_MPI)
// Whether mpirun (Open MPI, or a launcher that speaks PMI) started this
// process: such launchers tell their processes through the environment.
bool StartedByMpirun() {
  for (const char* Name : {"OMPI_COMM_WORLD_SIZE", "PMIX_RANK", "PMI_SIZE"})
    if (std::getenv(Name)) return true;
  return false;
}
#endif

// What the replications need from the file, read in this process without
// running anything: the experiment's settings and the report's statistics.
int PrepareReplications(const TRunOptions& Options, tool::TReplicationSettings& Settings,
                        std::vector<tool::TStatistic>& Statistics, std::string& Title,
                        std::ostream& Err) {
  std::error_code Ec;
  if (std::filesystem::is_directory(Options.Path, Ec)) {
    Err << Options.Path << ": is a directory, not a model file\n";
    return 1;
  }
  std::ifstream In(Options.Path, std::ios::binary);
  std::ostringstream Text;
  Text << In.rdbuf();
  if (!In || In.bad()) {
    Err << Options.Path << ": cannot be read"
        << (std::filesystem::exists(Options.Path, Ec) ? "" : " (no such file)") << '\n';
    return 1;
  }
  std::vector<std::string> Errors;
  auto File = LoadModelText(Text.str(), Options.Path, THandlerTable{}, Errors);
  for (const std::string& E : Errors)
    Err << E << '\n';
  if (!File) return 1;
  std::optional<double> Until, Warmup;
  if (const int Status = RunTimes(Options, *File, Until, Warmup, Err)) return Status;
  if (*Options.Replications < 2) {
    Err << "--replications must be 2 or more (a confidence interval needs two values)\n";
    return 2;
  }
  if (Options.Jobs < 1) {
    Err << "--jobs must be 1 or more\n";
    return 2;
  }
  if (!(Options.Level > 0 && Options.Level < 1)) {
    Err << "--level must lie between 0 and 1, such as 0.95\n";
    return 2;
  }
  // The blocks as a run gathers them, to know the report's lines before
  // any replication runs. Gathering only lists them; nothing runs here.
  File->Model()->GatherAggregates();
  std::string Problem;
  Statistics = tool::ReportStatistics(CollectReport(*File->Model()), Problem);
  if (!Problem.empty()) {
    Err << Options.Path << ": " << Problem << '\n';
    return 1;
  }
  tool::AddTabulatorStatistics(*File->Application(), Statistics);
  Title = File->Run.Title;
  Settings.Path = Options.Path;
  Settings.Text = Text.str();
  Settings.Replications = *Options.Replications;
  Settings.Jobs = Options.Jobs;
  Settings.Level = Options.Level;
  Settings.Warmup = Warmup.value_or(0);
  Settings.Until = *Until;
  if (Options.Seed) Settings.BaseSeed = *Options.Seed;
  for (const TMultiRand* Stream : File->Streams()) {
    for (const std::string& Name : Settings.StreamNames)
      if (Name == Stream->Name()) {
        Err << Options.Path << ": two random streams are named " << Name
            << "; replications seed each stream by its name\n";
        return 1;
      }
    Settings.StreamNames.push_back(Stream->Name());
  }
  return 0;
}

// The page of a replicated run: the replications' statistics and values,
// the Welch plot of the first holding block's mean content when there is a
// warm-up (from Welch runs of their own, as many as the replications), and
// the content over time and replay of one run of the file as `quorin run`
// makes it. This process has forked all its workers by now, so it may run a
// model itself.
bool WriteReplicationsPage(const TRunOptions& Options, const tool::TReplicationSettings& Settings,
                           const std::vector<tool::TStatistic>& Statistics, const TExperiment& E,
                           const TExperimentResult& R) {
  std::ostringstream Replications;
  WriteExperimentPageJson(E, R, Replications);
  std::string Welch;
  const auto Figure = std::find_if(Statistics.begin(), Statistics.end(), [](const auto& S) {
    return S.Column == "Mean cont.";
  });
  if (Settings.Warmup > 0 && Figure != Statistics.end()) {
    const double Horizon = std::min(Settings.Until, 4 * Settings.Warmup);
    const double Interval = Horizon / 200;
    const int32_t Window = 5;
    TExperiment Series = E;
    Series.OnProgress = nullptr;
    const TWelchResult W =
        RunWelch(Series, TFigureSpec::Report(Figure->Block, Figure->Column), Interval, Horizon, Window);
    if (W.Error.empty()) {
      std::ostringstream Text;
      WriteWelchPageJson(W, Figure->Block + " " + Figure->Column, Interval, Window,
                         E.Replications, Text);
      Welch = Text.str();
    } else {
      std::cerr << "the Welch plot is left out: " << W.Error << '\n';
    }
  }
  std::vector<std::string> Errors;
  auto File = LoadModelText(Settings.Text, Options.Path, THandlerTable{}, Errors);
  if (!File) return false; // loaded once already: not expected
  std::vector<std::string> Findings;
  std::unique_ptr<TRunRecorder> Recorder;
  std::vector<std::pair<std::string, int64_t>> Seeds;
  RunOnce(Options, *File, Settings.Until, Settings.Warmup > 0, Settings.Warmup, Findings, Seeds,
          true, Recorder);
  TPageInfo Info = PageInfo(*File, Settings.Until, Settings.Warmup, Findings);
  Info.Seeds = Seeds;
  Info.Extra.emplace_back("replications", Replications.str());
  if (!Welch.empty()) Info.Extra.emplace_back("welch", Welch);
  return WriteFile(Options.Html, [&](std::ostream& Out) {
    WriteReportPage(*File->Model(), Recorder.get(), Info, Out);
  });
}

// Every MPI rank must agree before any runs: a rank that cannot read a file
// would leave rank 0 waiting. The others repeat their reasons only when
// they differ from rank 0's outcome. Rank 0 prints its reasons.
int Agree(int Status, const std::string& Problems, const TRanks& Ranks) {
#if defined(QUORIN_WITH_MPI)
  if (Ranks.Mpi) {
    int First = Status, Worst = Status;
    MPI_Bcast(&First, 1, MPI_INT, 0, MPI_COMM_WORLD);
    if (Ranks.Rank != 0 && Status != First) std::cerr << "rank " << Ranks.Rank << ": " << Problems;
    MPI_Allreduce(&Status, &Worst, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
    Status = Worst;
  }
#endif
  if (Ranks.Rank == 0) std::cerr << Problems;
  return Status;
}

// Runs E locally in worker processes or over the MPI ranks, showing its
// progress as runs Offset... of Total.
TExperimentResult RunOn(TExperiment E, const TRanks& Ranks, tool::TProgressLine& Progress,
                        int32_t Offset, int32_t Total) {
  E.OnProgress = [&Progress, Offset, Total](int32_t Done, int32_t, double Seconds) {
    Progress.Show(Offset + Done, Total, Seconds);
  };
#if defined(QUORIN_WITH_MPI)
  if (Ranks.Mpi) return RunExperimentMpi(E);
#else
  (void)Ranks;
#endif
  return RunExperiment(E);
}

// N replications of the file through the experiment runner: in --jobs
// worker processes, or over the ranks of an MPI run, where every rank reads
// the file and rank 0 alone speaks.
int RunReplications(const TRunOptions& Options, const TRanks& Ranks) {
  tool::TReplicationSettings Settings;
  std::vector<tool::TStatistic> Statistics;
  std::string Title;
  std::ostringstream Problems;
  const int Prepared = PrepareReplications(Options, Settings, Statistics, Title, Problems);
  const int Status = Agree(Prepared, Problems.str(), Ranks);
  if (Status) return Status;

  TExperiment E = tool::ReplicationExperiment(Settings, Statistics);
  tool::TProgressLine Progress(Ranks.Rank == 0 && ::isatty(STDERR_FILENO));
  Progress.Show(0, E.Replications, 0);
  tool::TReplicatedReport Report;
  Report.Title = Title;
  Report.Until = Settings.Until;
  Report.Statistics = Statistics;
  Report.Result = RunOn(E, Ranks, Progress, 0, E.Replications);
  Progress.Clear();
  if (Ranks.Rank != 0) return 0;
  const TExperimentResult& R = Report.Result;
  if (!R.Error.empty()) {
    std::cerr << "the replications cannot run: " << R.Error << '\n';
    return 1;
  }
  tool::PrintReplicatedReport(Report, std::cout);
  std::cout.flush();
  PrintFailures(R, std::cerr);
  bool Written = true;
  if (!Options.Csv.empty())
    Written =
        WriteFile(Options.Csv, [&](std::ostream& Out) { tool::PrintReplicatedCsv(Report, Out); });
  if (!Options.Json.empty())
    Written = WriteFile(Options.Json,
                        [&](std::ostream& Out) { tool::PrintReplicatedJson(Report, Out); }) &&
              Written;
  if (!Options.Html.empty())
    Written = WriteReplicationsPage(Options, Settings, Statistics, E, R) && Written;
  return R.Failed || !Written ? 1 : 0;
}

// quorin fit DATA [--column NAME]: every value must be a number, refused
// at its line otherwise; bad data is a wrong input (exit 2).
int Fit(const std::string& Path, const std::string& Column) {
  std::string Error;
  const auto Data = ReadCsvColumn(Path, Column, Error);
  if (!Data) {
    std::cerr << Error << '\n';
    return 2;
  }
  TFitReport Report;
  if (!FitDistributions(Data->Values, Data->Lines, Report, Error)) {
    std::cerr << Path << ": " << Error << '\n';
    return 2;
  }
  const std::string What =
      Path + (Data->Name.empty() ? std::string() : " (column " + Data->Name + ")");
  PrintFitReport(Report, What, std::cout);
  return 0;
}

// quorin compare A B --replications N: both designs on common random
// numbers (streams seeded by name, the slots chosen for the names of both),
// paired by replication.
int Compare(const TRunOptions& Options, const std::string& PathB, const TRanks& Ranks) {
  tool::TReplicationSettings SettingsA, SettingsB;
  std::vector<tool::TStatistic> StatsA, StatsB;
  std::string TitleA, TitleB;
  std::ostringstream Problems;
  TRunOptions OptionsB = Options;
  OptionsB.Path = PathB;
  int Status = PrepareReplications(Options, SettingsA, StatsA, TitleA, Problems);
  if (!Status) Status = PrepareReplications(OptionsB, SettingsB, StatsB, TitleB, Problems);
  if (!Status) {
    // The figures both have, checked before anything runs.
    TExperimentResult EmptyA, EmptyB;
    EmptyA.Figures.resize(StatsA.size());
    EmptyB.Figures.resize(StatsB.size());
    if (tool::PairFigures(StatsA, EmptyA, StatsB, EmptyB, Options.Level).empty()) {
      Problems << Options.Path << " and " << PathB
               << " have no figure in common (the same block, class and statistic)\n";
      Status = 2;
    }
  }
  if ((Status = Agree(Status, Problems.str(), Ranks))) return Status;
  // One slot count for the names of both designs, so that a stream of one
  // name draws the same numbers in both.
  std::vector<std::string> Names = SettingsA.StreamNames;
  for (const std::string& N : SettingsB.StreamNames)
    if (std::find(Names.begin(), Names.end(), N) == Names.end()) Names.push_back(N);
  SettingsA.StreamNames = SettingsB.StreamNames = Names;
  const int32_t N = SettingsA.Replications;
  tool::TProgressLine Progress(Ranks.Rank == 0 && ::isatty(STDERR_FILENO));
  Progress.SetNoun("runs");
  Progress.Show(0, 2 * N, 0);
  const TExperimentResult A =
      RunOn(tool::ReplicationExperiment(SettingsA, StatsA), Ranks, Progress, 0, 2 * N);
  const TExperimentResult B =
      RunOn(tool::ReplicationExperiment(SettingsB, StatsB), Ranks, Progress, N, 2 * N);
  Progress.Clear();
  if (Ranks.Rank != 0) return 0;
  for (const TExperimentResult* R : {&A, &B})
    if (!R->Error.empty()) {
      std::cerr << "the replications cannot run: " << R->Error << '\n';
      return 1;
    }
  tool::TComparison C;
  C.PathA = Options.Path;
  C.PathB = PathB;
  C.Replications = N;
  C.FailedA = A.Failed;
  C.FailedB = B.Failed;
  C.Level = Options.Level;
  C.Warmup = SettingsA.Warmup;
  C.Until = SettingsA.Until;
  C.Figures = tool::PairFigures(StatsA, A, StatsB, B, Options.Level);
  tool::PrintComparison(C, std::cout);
  std::cout.flush();
  PrintFailures(A, std::cerr);
  PrintFailures(B, std::cerr);
  bool Written = true;
  if (!Options.Csv.empty())
    Written = WriteFile(Options.Csv, [&](std::ostream& Out) { tool::PrintComparisonCsv(C, Out); });
  if (!Options.Json.empty())
    Written = WriteFile(Options.Json,
                        [&](std::ostream& Out) { tool::PrintComparisonJson(C, Out); }) &&
              Written;
  if (!Options.Html.empty())
    Written = WriteFile(Options.Html,
                        [&](std::ostream& Out) {
                          std::ostringstream Json;
                          tool::PrintComparisonJson(C, Json);
                          WriteScenarioPage("Comparison: " + PathB + " - " + Options.Path,
                                            "{\"comparison\":" + Json.str() + "}", Out);
                        }) &&
              Written;
  return A.Failed || B.Failed || !Written ? 1 : 0;
}

// The checks of a sweep before it runs: the settings, the chosen figures,
// and every combination's values through the properties' setters.
int PrepareSweep(const TRunOptions& Options, const std::vector<std::string>& Sets,
                 const std::vector<std::string>& Figures, tool::TSweep& Sweep,
                 tool::TReplicationSettings& Settings, std::vector<tool::TStatistic>& Statistics,
                 std::ostream& Err) {
  if (Sets.empty()) {
    Err << "give at least one --set Block.Property=value,value,...\n";
    return 2;
  }
  for (const std::string& Text : Sets) {
    tool::TSetting S;
    std::string Error;
    if (!tool::ParseSetting(Text, S, Error)) {
      Err << Error << '\n';
      return 2;
    }
    if (S.Property == "Seed" || S.Property == "Multiplier") {
      Err << "--set " << Text << ": replications seed every stream themselves (by its name, "
          << "from the base seed that --seed gives)\n";
      return 2;
    }
    for (const tool::TSetting& Before : Sweep.Settings)
      if (Before.Component == S.Component && Before.Property == S.Property) {
        Err << "--set " << Text << ": " << S.Component << "." << S.Property
            << " is set twice; give all its values in one --set\n";
        return 2;
      }
    Sweep.Settings.push_back(S);
  }
  // The grid is refused before it is made when it is beyond any study.
  double Combinations = 1;
  for (const tool::TSetting& S : Sweep.Settings)
    Combinations *= double(S.Values.size());
  if (Combinations > 100000) {
    Err << "the --set values make " << std::fixed << std::setprecision(0) << Combinations
        << " combinations; a sweep runs at most 100000\n";
    return 2;
  }
  std::string Title;
  if (const int Status = PrepareReplications(Options, Settings, Statistics, Title, Err))
    return Status;
  if (!Figures.empty()) {
    std::vector<tool::TStatistic> Chosen;
    for (const std::string& F : Figures) {
      const size_t Dot = F.find('.');
      bool Found = false;
      for (const tool::TStatistic& S : Statistics)
        if (Dot != std::string::npos && S.Block == F.substr(0, Dot) &&
            S.Column == F.substr(Dot + 1)) {
          Chosen.push_back(S);
          Found = true;
        }
      if (!Found) {
        Err << "--figure " << F
            << ": no such figure; give Block.Statistic as the report names them, such as "
               "Line.Mean time (quote it for the shell)\n";
        return 2;
      }
    }
    Statistics = Chosen;
  }
  for (const auto& Values : tool::Grid(Sweep.Settings)) {
    std::vector<std::string> Errors;
    auto File = LoadModelText(Settings.Text, Options.Path, THandlerTable{}, Errors);
    if (!File) return 1;
    for (size_t i = 0; i < Values.size(); ++i) {
      const tool::TSetting& S = Sweep.Settings[i];
      std::string Error;
      if (!SetModelProperty(*File, S.Component, S.Property, Values[i], Error)) {
        Err << "--set " << S.Component << "." << S.Property << "=" << Values[i] << ": " << Error
            << '\n';
        return 2;
      }
    }
    Sweep.Rows.push_back({Values, Statistics, {}});
  }
  return 0;
}

// quorin sweep FILE --set Block.Property=v1,v2 ... --replications N: the
// design over the grid of values, each combination as `run --replications`
// runs it, on the same streams (seeded by name) for every combination.
int Sweep(const TRunOptions& Options, const std::vector<std::string>& Sets,
          const std::vector<std::string>& Figures, const TRanks& Ranks) {
  tool::TSweep Sweep;
  tool::TReplicationSettings Settings;
  std::vector<tool::TStatistic> Statistics;
  std::ostringstream Problems;
  const int Prepared = PrepareSweep(Options, Sets, Figures, Sweep, Settings, Statistics, Problems);
  const int Status = Agree(Prepared, Problems.str(), Ranks);
  if (Status) return Status;
  const int32_t N = Settings.Replications;
  const int32_t Total = int32_t(Sweep.Rows.size()) * N;
  if (Ranks.Rank == 0)
    std::cout << "sweep: " << Sweep.Rows.size() << " combination"
              << (Sweep.Rows.size() == 1 ? "" : "s") << " x " << N << " replications = " << Total
              << " runs\n"
              << std::flush;
  tool::TProgressLine Progress(Ranks.Rank == 0 && ::isatty(STDERR_FILENO));
  Progress.SetNoun("runs");
  Progress.Show(0, Total, 0);
  int32_t Failed = 0;
  for (size_t r = 0; r < Sweep.Rows.size(); ++r) {
    tool::TSweepRow& Row = Sweep.Rows[r];
    TExperiment E = tool::ReplicationExperiment(Settings, Statistics);
    // Load the file and set this combination's values, as checked above.
    const std::string Text = Settings.Text, Path = Settings.Path;
    const std::vector<tool::TSetting> Set = Sweep.Settings;
    const std::vector<std::string> Values = Row.Values;
    E.Build = [Text, Path, Set, Values](TReplicationContext& C) -> TModel* {
      std::vector<std::string> Errors;
      auto File = LoadModelText(Text, Path, THandlerTable{}, Errors, *C.Form);
      if (!File)
        throw std::runtime_error(Errors.empty() ? Path + ": the model did not load" : Errors.front());
      for (size_t i = 0; i < Set.size(); ++i) {
        std::string Error;
        if (!SetModelProperty(*File, Set[i].Component, Set[i].Property, Values[i], Error))
          throw std::runtime_error(Error);
      }
      return File->Model();
    };
    Row.Result = RunOn(E, Ranks, Progress, int32_t(r) * N, Total);
    Failed += Row.Result.Failed;
    if (Ranks.Rank == 0 && !Row.Result.Error.empty()) {
      Progress.Clear();
      std::cerr << "the replications cannot run: " << Row.Result.Error << '\n';
      return 1;
    }
  }
  Progress.Clear();
  if (Ranks.Rank != 0) return 0;
  Sweep.Path = Options.Path;
  Sweep.Replications = N;
  Sweep.Level = Options.Level;
  Sweep.Warmup = Settings.Warmup;
  Sweep.Until = Settings.Until;
  tool::PrintSweep(Sweep, std::cout);
  std::cout.flush();
  for (const tool::TSweepRow& Row : Sweep.Rows)
    PrintFailures(Row.Result, std::cerr);
  bool Written = true;
  if (!Options.Csv.empty())
    Written = WriteFile(Options.Csv, [&](std::ostream& Out) { tool::PrintSweepCsv(Sweep, Out); });
  if (!Options.Json.empty())
    Written =
        WriteFile(Options.Json, [&](std::ostream& Out) { tool::PrintSweepJson(Sweep, Out); }) &&
        Written;
  if (!Options.Html.empty())
    Written = WriteFile(Options.Html,
                        [&](std::ostream& Out) {
                          std::ostringstream Json;
                          tool::PrintSweepJson(Sweep, Json);
                          WriteScenarioPage("Sweep: " + Options.Path, "{\"sweep\":" + Json.str() + "}",
                                            Out);
                        }) &&
              Written;
  return Failed || !Written ? 1 : 0;
}

int Check(const std::string& Path) {
  auto File = Load(Path);
  if (!File) return 1;
  // What the wiring shows before any run; the file loads all the same.
  for (const std::string& F : File->RouteFindings())
    std::cerr << "Quorin Check: " << F << '\n';
  std::cout << Path << ": ok\n";
  return 0;
}

int Palette() {
  Blocks::Register();
  Statsim::Register();
  for (const std::string& Page : PalettePages()) {
    std::cout << Page << '\n';
    for (const TComponentClass& C : PaletteClasses(Page))
      std::cout << "  " << C.ClassName << '\n';
  }
  return 0;
}

int Diagram(const std::string& Path, const std::string& Output) {
  auto File = Load(Path);
  if (!File) return 1;
  return WriteFile(Output, [&](std::ostream& Out) { WriteDiagramSvg(*File, Out); }) ? 0 : 1;
}

} // namespace

namespace {
int Main(int argc, char** argv) {
  CLI::App App{"Runs, checks and lists Quorin models written as model files."};
  App.require_subcommand(1);

  TRunOptions RunOptions;
  CLI::App* RunCmd = App.add_subcommand("run", "Load a model file, run it, print the report");
  RunCmd->add_option("MODEL_FILE", RunOptions.Path, "the model file")->required();
  RunCmd->add_option_function<double>(
      "--until", [&](double T) { RunOptions.Until = T; }, "end time (else the file's Until)");
  RunCmd->add_option_function<double>(
      "--warmup", [&](double T) { RunOptions.Warmup = T; },
      "run to this time first, then clear the statistics (else the file's Warmup)");
  RunCmd->add_option_function<int64_t>(
      "--seed", [&](int64_t S) { RunOptions.Seed = S; },
      "reseed every random stream from this one number");
  RunCmd->add_option("--csv", RunOptions.Csv, "also write the report as CSV to this file");
  CLI::Option* Replications = RunCmd->add_option_function<int32_t>(
      "--replications", [&](int32_t N) { RunOptions.Replications = N; },
      "run N independent replications and report means with confidence intervals (N >= 2)");
  RunCmd
      ->add_option("--jobs", RunOptions.Jobs,
                   "replications run at once in worker processes (default 1)")
      ->needs(Replications);
  RunCmd
      ->add_option("--level", RunOptions.Level, "confidence level of the intervals (default 0.95)")
      ->needs(Replications);
  RunCmd->add_option("--json", RunOptions.Json,
                     "also write the report (with --replications: the replications' table) as JSON");
  RunCmd->add_option("--html", RunOptions.Html,
                     "also write the report as one self-contained HTML page with plots and a replay");

  std::string CheckPath;
  CLI::App* CheckCmd = App.add_subcommand("check", "Load a model file and report its errors");
  CheckCmd->add_option("MODEL_FILE", CheckPath, "the model file")->required();

  CLI::App* PaletteCmd = App.add_subcommand("palette", "List the palette pages and classes");

  std::string FitPath, FitColumn;
  CLI::App* FitCmd = App.add_subcommand(
      "fit", "Fit the random streams' distributions to a column of data, best first");
  FitCmd->add_option("DATA", FitPath, "a CSV file (one value a line, or columns with a header)")
      ->required();
  FitCmd->add_option("--column", FitColumn, "the column to fit, by its header name (default: the first)");

  // The options that compare and sweep share with run --replications.
  auto ReplicationOptions = [](CLI::App* Cmd, TRunOptions& O) {
    Cmd->add_option_function<int32_t>(
           "--replications", [&O](int32_t N) { O.Replications = N; },
           "replications of each design or combination (N >= 2)")
        ->required();
    Cmd->add_option("--jobs", O.Jobs, "replications run at once in worker processes (default 1)");
    Cmd->add_option("--level", O.Level, "confidence level of the intervals (default 0.95)");
    Cmd->add_option_function<double>(
        "--until", [&O](double T) { O.Until = T; }, "end time (else the file's Until)");
    Cmd->add_option_function<double>(
        "--warmup", [&O](double T) { O.Warmup = T; },
        "run to this time first, then clear the statistics (else the file's Warmup)");
    Cmd->add_option_function<int64_t>(
        "--seed", [&O](int64_t S) { O.Seed = S; }, "the base seed of the streams' segments");
    Cmd->add_option("--csv", O.Csv, "also write the table as CSV to this file");
    Cmd->add_option("--json", O.Json, "also write the table as JSON to this file");
    Cmd->add_option("--html", O.Html,
                    "also write a self-contained HTML page with the table and its pictures");
  };

  TRunOptions CompareOptions;
  std::string CompareB;
  CLI::App* CompareCmd = App.add_subcommand(
      "compare", "Compare two designs on common random numbers, paired by replication");
  CompareCmd->add_option("A", CompareOptions.Path, "the first design (a model file)")->required();
  CompareCmd->add_option("B", CompareB, "the second design (a model file)")->required();
  ReplicationOptions(CompareCmd, CompareOptions);

  TRunOptions SweepOptions;
  std::vector<std::string> SweepSets, SweepFigures;
  CLI::App* SweepCmd = App.add_subcommand(
      "sweep", "Run a design for every combination of property values, one table");
  SweepCmd->add_option("MODEL_FILE", SweepOptions.Path, "the model file")->required();
  SweepCmd->add_option("--set", SweepSets, "Block.Property=v1,v2,...: the values to sweep");
  SweepCmd->add_option("--figure", SweepFigures,
                       "Block.Statistic to report, as the report names it (default: all)");
  ReplicationOptions(SweepCmd, SweepOptions);

  std::string DiagramPath, DiagramOutput;
  CLI::App* DiagramCmd =
      App.add_subcommand("diagram", "Draw the blocks and the routes of a model file as SVG");
  DiagramCmd->add_option("MODEL_FILE", DiagramPath, "the model file")->required();
  DiagramCmd->add_option("-o,--output", DiagramOutput, "the SVG file to write")->required();

  std::string StudioPath;
  int StudioPort = 0;
  bool StudioOpen = false;
  CLI::App* StudioCmd = App.add_subcommand(
      "studio", "Edit, check and run a model in the browser (a server on 127.0.0.1)");
  StudioCmd->add_option("MODEL_FILE", StudioPath,
                        "the model file (may not exist yet); its folder is the studio's");
  StudioCmd->add_option("--port", StudioPort, "the port (default: a free one)");
  StudioCmd->add_flag("--open", StudioOpen, "ask the desktop to open the page");

  // CLI11 would answer an unknown word with "A subcommand is required".
  std::string Names;
  bool Known = false;
  for (const CLI::App* Sub : App.get_subcommands({})) {
    Names += (Names.empty() ? "" : ", ") + Sub->get_name();
    Known = Known || (argc >= 2 && Sub->get_name() == argv[1]);
  }
  if (argc >= 2 && argv[1][0] != '-' && !Known) {
    std::cerr << "quorin: unknown subcommand '" << ClipWord(argv[1]) << "' (the subcommands: "
              << Names << "; quorin --help tells more)\n";
    return 2;
  }
  try {
    App.parse(argc, argv);
  } catch (const CLI::ParseError& E) {
    const int Code = App.exit(E);
    return Code == 0 ? 0 : 2;
  }
  // An output that names an input, or another output, would destroy it.
  auto Clash = [](const std::vector<std::string>& Inputs, const TRunOptions& O) {
    auto Same = [](const std::string& A, const std::string& B) {
      std::error_code Ec;
      return std::filesystem::weakly_canonical(A, Ec) == std::filesystem::weakly_canonical(B, Ec);
    };
    std::vector<std::pair<std::string, std::string>> Outputs;
    for (const auto& [Option, Path] : {std::pair<std::string, std::string>{"--csv", O.Csv},
                                       {"--json", O.Json}, {"--html", O.Html}})
      if (!Path.empty()) Outputs.emplace_back(Option, Path);
    for (std::size_t i = 0; i < Outputs.size(); ++i) {
      // Refused before anything runs: found only at the end, a folder would
      // throw away every replication.
      std::error_code Ec;
      if (std::filesystem::is_directory(Outputs[i].second, Ec)) {
        std::cerr << "quorin: " << Outputs[i].first << " " << Outputs[i].second
                  << " is a folder, not a file to write\n";
        return true;
      }
      for (const std::string& In : Inputs)
        if (!In.empty() && Same(Outputs[i].second, In)) {
          std::cerr << "quorin: " << Outputs[i].first << " " << Outputs[i].second
                    << " names the model file " << In << ", which it would overwrite\n";
          return true;
        }
      for (std::size_t j = 0; j < i; ++j)
        if (Same(Outputs[i].second, Outputs[j].second)) {
          std::cerr << "quorin: " << Outputs[j].first << " and " << Outputs[i].first
                    << " name the same file " << Outputs[i].second << '\n';
          return true;
        }
    }
    return false;
  };
  if ((*RunCmd && Clash({RunOptions.Path}, RunOptions)) ||
      (*CompareCmd && Clash({CompareOptions.Path, CompareB}, CompareOptions)) ||
      (*SweepCmd && Clash({SweepOptions.Path}, SweepOptions)))
    return 2;
  try {
    // The commands that run replications, locally or over MPI ranks.
    std::function<int(const TRanks&)> Replicated;
    if (*RunCmd && RunOptions.Replications)
      Replicated = [&](const TRanks& R) { return RunReplications(RunOptions, R); };
    if (*CompareCmd)
      Replicated = [&](const TRanks& R) { return Compare(CompareOptions, CompareB, R); };
    if (*SweepCmd)
      Replicated = [&](const TRanks& R) { return Sweep(SweepOptions, SweepSets, SweepFigures, R); };
    if (Replicated) {
      TRanks Ranks;
#if defined(QUORIN_WITH_MPI)
      if (StartedByMpirun()) {
        MPI_Init(&argc, &argv);
        Ranks.Mpi = true;
        MPI_Comm_rank(MPI_COMM_WORLD, &Ranks.Rank);
        MPI_Comm_size(MPI_COMM_WORLD, &Ranks.Size);
        int Status = 1;
        try {
          Status = Replicated(Ranks);
        } catch (const std::exception& E) {
          std::cerr << "quorin: " << E.what() << '\n';
        }
        MPI_Finalize();
        return Status;
      }
#endif
      return Replicated(Ranks);
    }
    if (*RunCmd) return Run(RunOptions);
    if (*CheckCmd) return Check(CheckPath);
    if (*PaletteCmd) return Palette();
    if (*FitCmd) return Fit(FitPath, FitColumn);
    if (*DiagramCmd) return Diagram(DiagramPath, DiagramOutput);
    if (*StudioCmd) {
#if defined(QUORIN_WITH_STUDIO)
      studio::TStudioOptions Options;
      Options.File = StudioPath;
      Options.Port = StudioPort;
      return studio::StudioMain(Options, StudioOpen);
#else
      std::cerr << "quorin studio: this quorin was built without the studio (it needs "
                   "libcpp-httplib-dev and nlohmann-json3-dev: bash tools/setup.sh)\n";
      return 1;
#endif
    }
  } catch (const std::exception& E) {
    // An application handler may throw; the run is then over.
    std::cerr << "quorin: " << E.what() << '\n';
    return 1;
  }
  return 2;
}
} // namespace

int main(int argc, char** argv) {
  WatchStandardOutput();
  int Status = Main(argc, argv);
  // The report goes to standard output: a full disk or a closed pipe there
  // loses it as surely as a file that cannot be written.
  std::string Error;
  if (!FlushStandardOutput(Error)) {
    std::cerr << Error << '\n';
    if (Status == 0) Status = 1;
  }
  return Status;
}
