// Random models run on the documented and on the scalable engine, whose
// flows and statistics are compared to the bit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorin::test {

struct TEngineFigures {
  int64_t Models = 0;
  int64_t Passes = 0;
  int64_t RoutingsDocumented = 0; // routing calls, retry at every scan
  int64_t RoutingsScalable = 0;   // routing calls, retry on change
};

// Builds the random model of Seed twice, runs it on the levels list with
// retry at every scan and on the heap list with retry on change, and answers
// the differences of flow (every pass: time, sender, receiver, transaction)
// and of the blocks' statistics; empty when they agree to the bit.
std::vector<std::string> CompareEngines(uint64_t Seed, TEngineFigures& Figures);

} // namespace quorin::test
