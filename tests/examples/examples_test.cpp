#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "models.h"

using namespace quorin::examples;

namespace {

// Every figure that has a closed form lies within Tolerance (relative) of it.
void ExpectNearTheory(const std::vector<TFigure>& Figures, double Tolerance) {
  for (const TFigure& F : Figures) {
    if (!F.Theory) continue;
    EXPECT_NEAR(F.Simulated, *F.Theory, Tolerance * *F.Theory) << F.Name;
  }
}

TEST(Examples, QueueingModelsAgreeWithTheory) {
  std::ostringstream Out;
  ExpectNearTheory(RunMM1(Out), 0.06);
  ExpectNearTheory(RunMM3(Out), 0.06);
  const auto Barber = RunBarber(Out, 200);
  ExpectNearTheory(Barber, 0.01);
  EXPECT_NE(Out.str().find("TServer"), std::string::npos);
  EXPECT_NE(Out.str().find("TStorage"), std::string::npos);
}

TEST(Examples, PriorityForkJoinAndBatchModelsAgreeWithTheory) {
  std::ostringstream Out;
  ExpectNearTheory(RunPriority(Out), 0.05);
  ExpectNearTheory(RunForkJoin(Out), 0.05);
  ExpectNearTheory(RunBus(Out), 0.03);
  EXPECT_NE(Out.str().find("TQueuePrty"), std::string::npos);
  EXPECT_NE(Out.str().find("TDivider"), std::string::npos);
  EXPECT_NE(Out.str().find("TAssembler"), std::string::npos);
  EXPECT_NE(Out.str().find("TCreator"), std::string::npos);
  EXPECT_NE(Out.str().find("no closed form"), std::string::npos);
}

TEST(Examples, RunsAreReproducible) {
  std::ostringstream A, B;
  RunMM1(A, 5000);
  RunMM1(B, 5000);
  EXPECT_EQ(A.str(), B.str());
}

// The showcase prints exactly what it printed when its output was stored:
// any change in the order of events, in a statistic or in the report shows.
// After an intended change, refresh the file from `build/examples/showcase`.
TEST(Examples, ShowcaseOutputIsUnchanged) {
  std::ifstream File(QUORIN_SHOWCASE_EXPECTED);
  ASSERT_TRUE(File) << QUORIN_SHOWCASE_EXPECTED;
  std::stringstream Expected;
  Expected << File.rdbuf();
  std::ostringstream Out;
  RunMM1(Out);
  RunMM3(Out);
  RunBarber(Out);
  RunPriority(Out);
  RunForkJoin(Out);
  RunBus(Out);
  EXPECT_EQ(Out.str(), Expected.str());
}

} // namespace
