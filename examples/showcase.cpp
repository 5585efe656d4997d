// Runs the example models and prints their reports: all of them, or the ones
// named on the command line (mm1, mm3, barber, priority, forkjoin, bus).
#include <cstring>
#include <iostream>

#include "models.h"

int main(int argc, char** argv) {
  using namespace quorin::examples;
  auto Wanted = [&](const char* Name) {
    if (argc < 2) return true;
    for (int i = 1; i < argc; ++i)
      if (std::strcmp(argv[i], Name) == 0) return true;
    return false;
  };
  if (Wanted("mm1")) RunMM1(std::cout);
  if (Wanted("mm3")) RunMM3(std::cout);
  if (Wanted("barber")) RunBarber(std::cout);
  if (Wanted("priority")) RunPriority(std::cout);
  if (Wanted("forkjoin")) RunForkJoin(std::cout);
  if (Wanted("bus")) RunBus(std::cout);
  return 0;
}
