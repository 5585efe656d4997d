// Random models built from a seed and driven through several runs, with the
// invariants of every block checked after each run.
#pragma once

#include <cstdint>
#include <random>
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
  int64_t MoveLimits = 0;          // runs stopped in a loop that takes no time
  int64_t NestedGenerates = 0;     // Generate calls refused inside their own batch
  int64_t Failures = 0;            // models with at least one fault
  int64_t Described = 0;           // blocks wired through their class's description alone
  int64_t Schedules = 0;           // schedules followed by blocks or setting arrival rates
  int64_t FileModels = 0;          // model files drawn (FuzzModelFile)
  int64_t FilesRefused = 0;        // of those, refused by the loader with a reason
  int64_t FilesReloaded = 0;       // saved, loaded again and compared
};

// Builds the model of Seed, runs it and checks it; answers the faults found
// (empty when none) and adds to Figures. Verbose prints each run's steps.
// Every block kind takes part, the priority queue and storage, divider,
// assembler and creator included, and so does every other described block
// class (a new one, or the application's), wired through its description.
std::vector<std::string> FuzzModel(uint64_t Seed, TFuzzFigures& Figures, bool Verbose = false);

// Draws a model file of Seed (the standard handlers, schedules across time
// scales, form places), loads it, saves it, loads the saved text and runs
// both: answers the faults (the saved text does not load, saves otherwise,
// or flows, reports or messages differ) and adds to Figures.
std::vector<std::string> FuzzModelFile(uint64_t Seed, TFuzzFigures& Figures);

// The steps of a random schedule as TSchedule::Parse reads them, on a time
// scale from 1e-3 to 1e6 (one in four from 1e-9 to 1e9), with its Period
// (0 for none; now and then one too short to be told apart at the clock of
// a long run). Whole values up to
// MaxValue (capacities, duty), or rates on the scale's inverse.
std::string DrawScheduleSteps(std::mt19937_64& R, bool WholeValues, int MaxValue, double& Period);

} // namespace quorin::test
