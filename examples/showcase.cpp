// Runs the example models and prints their reports: all of them, or the ones
// named on the command line. --help lists them with their parameters.
#include <cstring>
#include <iostream>
#include <string>

#include "models.h"

namespace {

using namespace quorin::examples;

void Usage(std::ostream& Out) {
  Out << "usage: showcase [--help] [MODEL...]\n"
         "Runs the named example models (all of them when none is named). For each:\n"
         "one run with its standard report and key figures beside queueing theory,\n"
         "then the key figures as mean +- half-width over "
      << ShowcaseReplications << " replications.\n\nModels:\n";
  for (const TReplicatedModel& M : ShowcaseModels()) {
    Out << "  " << M.Name << std::string(10 - M.Name.size(), ' ') << M.Description << "\n"
        << std::string(12, ' ') << "replications: " << ShowcaseReplications << " x ";
    if (M.WarmUp > 0) Out << "warm-up " << M.WarmUp << ", ";
    Out << "run " << M.RunLength << (M.WarmUp > 0 ? "" : " from the start") << "\n";
  }
}

} // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      Usage(std::cout);
      return 0;
    }
    if (!FindShowcaseModel(argv[i])) {
      std::cerr << "showcase: unknown model '" << argv[i] << "'\n";
      Usage(std::cerr);
      return 2;
    }
  }
  bool Ok = true;
  if (argc < 2) {
    for (const TReplicatedModel& M : ShowcaseModels())
      Ok = RunShowcase(M, std::cout) && Ok;
  } else {
    for (int i = 1; i < argc; ++i)
      Ok = RunShowcase(*FindShowcaseModel(argv[i]), std::cout) && Ok;
  }
  return Ok ? 0 : 1;
}
