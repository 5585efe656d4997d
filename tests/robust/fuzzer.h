// Random models built from a seed and driven through several runs, with the
// invariants of every block checked after each run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorin::test {

struct TFuzzFigures {
  int64_t Models = 0;
  int64_t Runs = 0;
  int64_t Events = 0;
  int64_t Exhaustions = 0;         // runs stopped by a refused page
  int64_t InjectedExhaustions = 0; // of those, by an injected refusal
  int64_t Throws = 0;              // handler exceptions that left Simulate
  int64_t Failures = 0;            // models with at least one fault
  int64_t Described = 0;           // blocks wired through their class's description alone
};

// Builds the model of Seed, runs it and checks it; answers the faults found
// (empty when none) and adds to Figures. Verbose prints each run's steps.
// Every block kind takes part, the priority queue and storage, divider,
// assembler and creator included, and so does every other described block
// class (a new one, or the application's), wired through its description.
std::vector<std::string> FuzzModel(uint64_t Seed, TFuzzFigures& Figures, bool Verbose = false);

} // namespace quorin::test
