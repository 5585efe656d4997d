// A short fixed-seed fuzz run; fuzz_models runs the long one.
#include <gtest/gtest.h>

#include "fuzzer.h"

namespace quorin::test {
namespace {

TEST(Fuzz, RandomModelsKeepEveryInvariant) {
  TFuzzFigures Figures;
  for (uint64_t Seed = 1; Seed <= 3000; ++Seed)
    for (const std::string& Fault : FuzzModel(Seed, Figures))
      ADD_FAILURE() << Fault;
  RecordProperty("Runs", int(Figures.Runs));
  EXPECT_GT(Figures.Exhaustions, 0);
  EXPECT_GT(Figures.Throws, 0);
  EXPECT_GT(Figures.MoveLimits, 0);
  EXPECT_GT(Figures.NestedGenerates, 0);
}

} // namespace
} // namespace quorin::test
