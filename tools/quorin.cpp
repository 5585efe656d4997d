// The quorin command: runs, checks and lists models without a compiler.
//
//   quorin run MODEL_FILE [--until T] [--warmup T] [--seed S] [--csv FILE]
//   quorin run MODEL_FILE --replications N [--jobs J] [--level L] [--until T]
//              [--warmup T] [--seed S] [--csv FILE] [--json FILE]
//   quorin check MODEL_FILE
//   quorin palette
//   quorin diagram MODEL_FILE -o model.svg
//
// With --replications the runs go through the experiment runner; started by
// mpirun in an MPI build, over the ranks, and rank 0 alone prints.
//
// Exit status: 0 on success, 1 when the file has errors, the library
// reported an error during the run or a replication failed, 2 for a wrong
// command line.
#include <CLI/CLI.hpp>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>

#if defined(QUORIN_WITH_MPI)
#include <mpi.h>
#endif

#include "quorin/quorin.h"
#include "quorin/report.h"
#include "replications.h"

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

int Run(const TRunOptions& Options) {
  auto File = Load(Options.Path);
  if (!File) return 1;
  std::optional<double> Until, Warmup;
  if (const int Status = RunTimes(Options, *File, Until, Warmup, std::cerr)) return Status;
  if (Options.Seed) {
    // Each stream gets a seed of its own, drawn in file order from a stream
    // seeded with S, so that one number changes every stream reproducibly.
    TMultiRand Seeder(nullptr);
    Seeder.SetSeed(*Options.Seed);
    for (TMultiRand* Stream : File->Streams()) {
      Seeder.Uni01();
      Stream->SetSeed(Seeder.GetSeed());
    }
  }

  // Messages of the run still reach standard error, and they make the exit
  // status a failure: a report after an error is not a clean result.
  int Reported = 0;
  const TMessageHandler Previous = SetMessageHandler([&Reported](const std::string& Text) {
    ++Reported;
    std::cerr << Text << '\n';
  });
  TModel* Model = File->Model();
  if (Warmup) {
    Model->Simulate(*Warmup);
    Model->ClearStatistics();
  }
  Model->Simulate(*Until);
  SetMessageHandler(Previous);

  if (!File->Run.Title.empty()) std::cout << File->Run.Title << '\n';
  PrintReport(*Model, std::cout);
  if (!Options.Csv.empty() &&
      !WriteFile(Options.Csv, [&](std::ostream& Out) { PrintReportCsv(*Model, Out); }))
    return 1;
  return Reported ? 1 : 0;
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
  std::ifstream In(Options.Path, std::ios::binary);
  std::ostringstream Text;
  Text << In.rdbuf();
  if (!In || In.bad()) {
    Err << Options.Path << ": cannot be read\n";
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
  Title = File->Run.Title;
  Settings.Path = Options.Path;
  Settings.Text = Text.str();
  Settings.Replications = *Options.Replications;
  Settings.Jobs = Options.Jobs;
  Settings.Level = Options.Level;
  Settings.Warmup = Warmup.value_or(0);
  Settings.Until = *Until;
  if (Options.Seed) Settings.BaseSeed = *Options.Seed;
  Settings.Streams = int32_t(File->Streams().size());
  return 0;
}


// N replications of the file through the experiment runner: in --jobs
// worker processes, or over the ranks of an MPI run, where every rank reads
// the file and rank 0 alone speaks.
int RunReplications(const TRunOptions& Options, const TRanks& Ranks) {
  tool::TReplicationSettings Settings;
  std::vector<tool::TStatistic> Statistics;
  std::string Title;
  std::ostringstream Problems;
  int Status = PrepareReplications(Options, Settings, Statistics, Title, Problems);
#if defined(QUORIN_WITH_MPI)
  if (Ranks.Mpi) {
    // Every rank must agree before any runs: a rank that cannot read the
    // file would leave rank 0 waiting. The others repeat their reasons
    // only when they differ from rank 0's outcome.
    int First = Status, Worst = Status;
    MPI_Bcast(&First, 1, MPI_INT, 0, MPI_COMM_WORLD);
    if (Ranks.Rank != 0 && Status != First)
      std::cerr << "rank " << Ranks.Rank << ": " << Problems.str();
    MPI_Allreduce(&Status, &Worst, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
    Status = Worst;
  }
#endif
  if (Ranks.Rank == 0) std::cerr << Problems.str();
  if (Status) return Status;

  TExperiment E = tool::ReplicationExperiment(Settings, Statistics);
  tool::TProgressLine Progress(Ranks.Rank == 0 && ::isatty(STDERR_FILENO));
  E.OnProgress = [&Progress](int32_t Done, int32_t Total, double Seconds) {
    Progress.Show(Done, Total, Seconds);
  };
  Progress.Show(0, E.Replications, 0);
  tool::TReplicatedReport Report;
  Report.Title = Title;
  Report.Until = Settings.Until;
  Report.Statistics = Statistics;
#if defined(QUORIN_WITH_MPI)
  Report.Result = Ranks.Mpi ? RunExperimentMpi(E) : RunExperiment(E);
#else
  Report.Result = RunExperiment(E);
#endif
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
  return R.Failed || !Written ? 1 : 0;
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
  RunCmd->add_option("--json", RunOptions.Json, "also write the replications' table as JSON")
      ->needs(Replications);

  std::string CheckPath;
  CLI::App* CheckCmd = App.add_subcommand("check", "Load a model file and report its errors");
  CheckCmd->add_option("MODEL_FILE", CheckPath, "the model file")->required();

  CLI::App* PaletteCmd = App.add_subcommand("palette", "List the palette pages and classes");

  std::string DiagramPath, DiagramOutput;
  CLI::App* DiagramCmd =
      App.add_subcommand("diagram", "Draw the blocks and the routes of a model file as SVG");
  DiagramCmd->add_option("MODEL_FILE", DiagramPath, "the model file")->required();
  DiagramCmd->add_option("-o,--output", DiagramOutput, "the SVG file to write")->required();

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
  try {
    if (*RunCmd && RunOptions.Replications) {
      TRanks Ranks;
#if defined(QUORIN_WITH_MPI)
      if (StartedByMpirun()) {
        MPI_Init(&argc, &argv);
        Ranks.Mpi = true;
        MPI_Comm_rank(MPI_COMM_WORLD, &Ranks.Rank);
        MPI_Comm_size(MPI_COMM_WORLD, &Ranks.Size);
        int Status = 1;
        try {
          Status = RunReplications(RunOptions, Ranks);
        } catch (const std::exception& E) {
          std::cerr << "quorin: " << E.what() << '\n';
        }
        MPI_Finalize();
        return Status;
      }
#endif
      return RunReplications(RunOptions, Ranks);
    }
    if (*RunCmd) return Run(RunOptions);
    if (*CheckCmd) return Check(CheckPath);
    if (*PaletteCmd) return Palette();
    if (*DiagramCmd) return Diagram(DiagramPath, DiagramOutput);
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
