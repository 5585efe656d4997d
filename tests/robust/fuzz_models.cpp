// The long fuzz run: random models from consecutive seeds until the time is
// up, each checked after every run, and the receiver-routed model of each
// seed run on both engines, whose flows must agree (engines.h). Build it in
// the sanitizer build so that memory faults and leaks are caught as well:
//
//   fuzz_models [--seconds S] [--seed N] [--models M] [--verbose]
//
// Every model draws on all block kinds.
//
// Prints every fault with the seed that shows it (rerun that seed alone
// with --seed N --models 1 --verbose) and the figures at the end; the exit
// status is 1 when any model failed.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "engines.h"
#include "fuzzer.h"

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
  while ((Models < 0 || Figures.Models < Models) && (Models >= 0 || Elapsed() < Seconds)) {
    if (Verbose) std::cout << "seed " << Seed << std::endl;
    for (const std::string& Fault : quorin::test::FuzzModel(Seed, Figures, Verbose))
      std::cout << "FAULT " << Fault << std::endl;
    // The same seed as a model of receiver-decided routing, on both engines.
    for (const std::string& Fault : quorin::test::CompareEngines(Seed, Engines)) {
      std::cout << "FAULT " << Fault << std::endl;
      ++EngineFaults;
    }
    ++Seed;
  }
  std::cout << "seeds " << First << ".." << Seed - 1 << " in " << Elapsed()
            << " s: " << Figures.Models << " models, " << Figures.Runs << " runs, "
            << Figures.Events << " events, " << Figures.Exhaustions << " exhaustions ("
            << Figures.InjectedExhaustions << " injected), " << Figures.Throws
            << " handler exceptions, " << Figures.Failures << " failed models" << std::endl;
  std::cout << "engines: " << Engines.Models << " models, " << Engines.Passes << " passes, "
            << EngineFaults << " differences; routing calls " << Engines.RoutingsDocumented
            << " at every scan, " << Engines.RoutingsScalable << " on change" << std::endl;
  return Figures.Failures > 0 || EngineFaults > 0 ? 1 : 0;
}
