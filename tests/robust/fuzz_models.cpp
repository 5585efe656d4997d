// The long fuzz run: random models from consecutive seeds until the time is
// up, each checked after every run, and the receiver-routed model of each
// seed run on both engines, whose flows must agree (engines.h), and the
// seed's model file saved and loaded again, which must flow alike. Build it in
// the sanitizer build so that memory faults and leaks are caught as well:
//
//   fuzz_models [--seconds S] [--seed N] [--models M] [--verbose]
//
// Every model draws on all block kinds.
//
// Prints every fault with the seed that shows it (rerun that seed alone
// with --seed N --models 1 --verbose), a model that does not end within a
// minute as a fault of its own (the run ends there), and the figures at the
// end; the exit status is 1 when any model failed.
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "engines.h"
#include "fuzzer.h"

namespace {

// A model that runs for longer than this has hung (the slowest take well
// under a second): the watchdog names its seed and ends the run with a
// failure, so that a long run never waits for good.
constexpr unsigned ModelSeconds = 60;
char HungText[128] = "";

void Hung(int) {
  [[maybe_unused]] const ssize_t N = ::write(STDOUT_FILENO, HungText, std::strlen(HungText));
  ::_exit(1);
}

} // namespace

int main(int argc, char** argv) {
  double Seconds = 60;
  uint64_t Seed = 1;
  int64_t Models = -1;
  bool Verbose = false;
  for (int i = 1; i < argc; ++i) {
    const bool HasValue = i + 1 < argc;
    if (!std::strcmp(argv[i], "--seconds") && HasValue)
      Seconds = std::atof(argv[++i]);
    else if (!std::strcmp(argv[i], "--seed") && HasValue)
      Seed = std::strtoull(argv[++i], nullptr, 10);
    else if (!std::strcmp(argv[i], "--models") && HasValue)
      Models = std::atoll(argv[++i]);
    else if (!std::strcmp(argv[i], "--verbose"))
      Verbose = true;
    else {
      std::cerr << "usage: fuzz_models [--seconds S] [--seed N] [--models M] [--verbose]\n";
      return 2;
    }
  }
  quorin::test::TFuzzFigures Figures;
  quorin::test::TEngineFigures Engines;
  int64_t EngineFaults = 0;
  const auto Start = std::chrono::steady_clock::now();
  auto Elapsed = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
  };
  const uint64_t First = Seed;
  std::signal(SIGALRM, &Hung);
  while ((Models < 0 || Figures.Models < Models) && (Models >= 0 || Elapsed() < Seconds)) {
    if (Verbose) std::cout << "seed " << Seed << std::endl;
    const std::string Text = "FAULT seed " + std::to_string(Seed) + ": no end after " +
                             std::to_string(ModelSeconds) + " s\n";
    std::strncpy(HungText, Text.c_str(), sizeof HungText - 1);
    if (!Verbose) ::alarm(ModelSeconds);
    for (const std::string& Fault : quorin::test::FuzzModel(Seed, Figures, Verbose))
      std::cout << "FAULT " << Fault << std::endl;
    // The same seed as a model of receiver-decided routing, on both engines.
    for (const std::string& Fault : quorin::test::CompareEngines(Seed, Engines)) {
      std::cout << "FAULT " << Fault << std::endl;
      ++EngineFaults;
    }
    // The seed's model file, saved and loaded again.
    for (const std::string& Fault : quorin::test::FuzzModelFile(Seed, Figures))
      std::cout << "FAULT " << Fault << std::endl;
    ::alarm(0);
    ++Seed;
  }
  std::cout << "seeds " << First << ".." << Seed - 1 << " in " << Elapsed()
            << " s: " << Figures.Models << " models, " << Figures.Runs << " runs, "
            << Figures.Events << " events, " << Figures.Exhaustions << " exhaustions ("
            << Figures.InjectedExhaustions << " injected), " << Figures.Throws
            << " handler exceptions, " << Figures.MoveLimits << " stopped by the move limit, "
            << Figures.NestedGenerates << " nested Generate refused, " << Figures.Schedules
            << " schedules, " << Figures.Failures << " failed models" << std::endl;
  std::cout << "model files: " << Figures.FileModels << " drawn, " << Figures.FilesRefused
            << " refused by the loader, " << Figures.FilesReloaded
            << " saved, reloaded and run alike" << std::endl;
  std::cout << "engines: " << Engines.Models << " models, " << Engines.Passes << " passes, "
            << EngineFaults << " differences; routing calls " << Engines.RoutingsDocumented
            << " at every scan, " << Engines.RoutingsScalable << " on change" << std::endl;
  return Figures.Failures > 0 || EngineFaults > 0 ? 1 : 0;
}
