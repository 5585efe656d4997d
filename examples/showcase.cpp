// Runs the example models and prints their reports: all of them, or the ones
// named on the command line. --help lists them with their parameters.
#include <cstring>
#include <functional>
#include <iostream>
#include <string>

#include "models.h"

namespace {

using namespace quorin::examples;

struct TShowcaseModel {
  const char* Name;
  const char* Description;
  std::function<void(std::ostream&)> Run;
};

const TShowcaseModel Models[] = {
    {"mm1", "M/M/1: arrival rate 1, service rate 1.25; warm-up 1000, run 200000",
     [](std::ostream& Out) { RunMM1(Out); }},
    {"mm3", "M/M/3 on a storage: arrival rate 1, service mean 2.4; warm-up 1000, run 200000",
     [](std::ostream& Out) { RunMM3(Out); }},
    {"barber", "one barber: arrivals every 18 +- 6 min, haircuts 16 +- 4; 1 day, then 1000 more",
     [](std::ostream& Out) { RunBarber(Out); }},
    {"priority",
     "two classes at rate 0.25 each, service rate 1, preemptive resume; warm-up 1000, run 200000",
     [](std::ostream& Out) { RunPriority(Out); }},
    {"forkjoin", "jobs at rate 0.3 split into 3 tasks at rate 1; warm-up 1000, run 200000",
     [](std::ostream& Out) { RunForkJoin(Out); }},
    {"bus", "1 to 9 passengers every 15 min, tickets of 2.4 min; warm-up 1000, run 200000 min",
     [](std::ostream& Out) { RunBus(Out); }},
};

void Usage(std::ostream& Out) {
  Out << "usage: showcase [--help] [MODEL...]\n"
         "Runs the named example models (all of them when none is named) and prints\n"
         "each one's standard report and key figures beside queueing theory.\n\nModels:\n";
  for (const TShowcaseModel& M : Models)
    Out << "  " << M.Name << std::string(10 - std::strlen(M.Name), ' ') << M.Description << "\n";
}

const TShowcaseModel* Find(const char* Name) {
  for (const TShowcaseModel& M : Models)
    if (std::strcmp(M.Name, Name) == 0) return &M;
  return nullptr;
}

} // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      Usage(std::cout);
      return 0;
    }
    if (!Find(argv[i])) {
      std::cerr << "showcase: unknown model '" << argv[i] << "'\n";
      Usage(std::cerr);
      return 2;
    }
  }
  if (argc < 2) {
    for (const TShowcaseModel& M : Models)
      M.Run(std::cout);
    return 0;
  }
  for (int i = 1; i < argc; ++i)
    Find(argv[i])->Run(std::cout);
  return 0;
}
