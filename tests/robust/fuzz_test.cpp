// A short fixed-seed fuzz run; fuzz_models runs the long one.
#include <gtest/gtest.h>

#include "bench_block.h"
#include "engines.h"
#include "fuzzer.h"
#include "quorin/blocks.h"
#include "quorin/classinfo.h"

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

// Random model files, saved and loaded again, flow as they did; schedules
// take part in both kinds of model.
TEST(Fuzz, SavedAndReloadedModelFilesFlowAlike) {
  TFuzzFigures Figures;
  for (uint64_t Seed = 1; Seed <= 150; ++Seed)
    for (const std::string& Fault : FuzzModelFile(Seed, Figures))
      ADD_FAILURE() << Fault;
  EXPECT_GT(Figures.FilesReloaded, 100);
  EXPECT_GT(Figures.Events, 10000);
  TFuzzFigures Models;
  for (uint64_t Seed = 1; Seed <= 200; ++Seed)
    for (const std::string& Fault : FuzzModel(Seed, Models))
      ADD_FAILURE() << Fault;
  EXPECT_GT(Models.Schedules, 20);
}

// A block class that the fuzzer's table does not name takes part through
// its description alone, as a new class of the library would: here one of
// the application's.
class TProbe : public TQueue {
public:
  using TQueue::TQueue;
};

TEST(Fuzz, ADescribedClassOfItsOwnTakesPart) {
  static const TClassInfo Probe = [] {
    TClassInfo C = *FindClassInfo("TQueue");
    C.Name = "TProbe";
    C.Create = [](TComponent* Owner) -> TComponent* { return new TProbe(Owner); };
    C.Is = [](const TComponent& X) { return dynamic_cast<const TProbe*>(&X) != nullptr; };
    C.Base = FindClassInfo("TQueue");
    return C;
  }();
  RegisterClassInfo("Tests", Probe);
  TFuzzFigures Figures;
  for (uint64_t Seed = 1; Seed <= 300; ++Seed)
    for (const std::string& Fault : FuzzModel(Seed, Figures))
      ADD_FAILURE() << Fault;
  EXPECT_GT(Figures.Described, 100);
}

// A holding class derived from TProQueue, none of the library's (TBench):
// random models hold its blocks, and the inspection knows its lists by the
// storage's that it keeps.
TEST(Fuzz, ANewHoldingClassTakesPart) {
  RegisterBenchClass();
  TFuzzFigures Figures;
  for (uint64_t Seed = 1; Seed <= 300; ++Seed)
    for (const std::string& Fault : FuzzModel(Seed, Figures))
      ADD_FAILURE() << Fault;
  EXPECT_GT(Figures.Described, 100);
}

// Routing that decides only by its receivers: both engines give the same
// flows and statistics, while retry on change routes blocked blocks less.
TEST(Fuzz, RandomModelsFlowAlikeOnBothEngines) {
  TEngineFigures Figures;
  for (uint64_t Seed = 1; Seed <= 400; ++Seed)
    for (const std::string& Fault : CompareEngines(Seed, Figures))
      ADD_FAILURE() << Fault;
  EXPECT_GT(Figures.Passes, 100000);
  EXPECT_LT(Figures.RoutingsScalable, Figures.RoutingsDocumented);
}

} // namespace
} // namespace quorin::test
