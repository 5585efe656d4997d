// The quorin command: runs, checks and lists models without a compiler.
//
//   quorin run MODEL_FILE [--until T] [--warmup T] [--seed S] [--csv FILE]
//   quorin check MODEL_FILE
//   quorin palette
//   quorin diagram MODEL_FILE -o model.svg
//
// Exit status: 0 on success, 1 when the file has errors or the library
// reported an error during the run, 2 for a wrong command line.
#include <CLI/CLI.hpp>

#include <cmath>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>

#include "quorin/quorin.h"

using namespace quorin;

namespace {

std::unique_ptr<TModelFile> Load(const std::string& Path) {
  std::vector<std::string> Errors;
  auto File = LoadModelFile(Path, THandlerTable{}, Errors);
  for (const std::string& E : Errors)
    std::cerr << E << '\n';
  return File;
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
};

int Run(const TRunOptions& Options) {
  auto File = Load(Options.Path);
  if (!File) return 1;
  const std::optional<double> Until = Options.Until ? Options.Until : File->Run.Until;
  const std::optional<double> Warmup = Options.Warmup ? Options.Warmup : File->Run.Warmup;
  if (!Until) {
    std::cerr << Options.Path << ": no end time: give --until or Until in the run section\n";
    return 2;
  }
  if (!IsModelTime(*Until) || (Warmup && !IsModelTime(*Warmup))) {
    std::cerr << "times must lie in 0...10000000000\n";
    return 2;
  }
  if (Warmup && *Warmup > *Until) {
    std::cerr << "the warm-up (" << *Warmup << ") ends after the run (" << *Until << ")\n";
    return 2;
  }
  if (Options.Seed) {
    if (*Options.Seed < 1 || *Options.Seed > TMultiRand::Modulus - 1) {
      std::cerr << "--seed must lie in 1...2147483646\n";
      return 2;
    }
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
  if (!Options.Csv.empty()) {
    std::ofstream Csv(Options.Csv);
    if (Csv) PrintReportCsv(*Model, Csv);
    if (!Csv) {
      std::cerr << Options.Csv << ": cannot be written\n";
      return 1;
    }
  }
  return Reported ? 1 : 0;
}

int Check(const std::string& Path) {
  auto File = Load(Path);
  if (!File) return 1;
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
  std::ofstream Out(Output);
  if (Out) WriteDiagramSvg(*File, Out);
  if (!Out) {
    std::cerr << Output << ": cannot be written\n";
    return 1;
  }
  return 0;
}

} // namespace

int main(int argc, char** argv) {
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

  std::string CheckPath;
  CLI::App* CheckCmd = App.add_subcommand("check", "Load a model file and report its errors");
  CheckCmd->add_option("MODEL_FILE", CheckPath, "the model file")->required();

  CLI::App* PaletteCmd = App.add_subcommand("palette", "List the palette pages and classes");

  std::string DiagramPath, DiagramOutput;
  CLI::App* DiagramCmd =
      App.add_subcommand("diagram", "Draw the blocks and the routes of a model file as SVG");
  DiagramCmd->add_option("MODEL_FILE", DiagramPath, "the model file")->required();
  DiagramCmd->add_option("-o,--output", DiagramOutput, "the SVG file to write")->required();

  try {
    App.parse(argc, argv);
  } catch (const CLI::ParseError& E) {
    const int Code = App.exit(E);
    return Code == 0 ? 0 : 2;
  }
  try {
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
