#include <gtest/gtest.h>

#include <cstdlib>

#include <cmath>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "models.h"

using namespace quorin::examples;
using namespace quorin;

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
  ExpectNearTheory(RunCobham(Out), 0.05);
  ExpectNearTheory(RunForkJoin(Out), 0.05);
  ExpectNearTheory(RunBus(Out), 0.03);
  EXPECT_NE(Out.str().find("TQueuePrty"), std::string::npos);
  EXPECT_NE(Out.str().find("TDivider"), std::string::npos);
  EXPECT_NE(Out.str().find("TAssembler"), std::string::npos);
  EXPECT_NE(Out.str().find("TCreator"), std::string::npos);
  EXPECT_NE(Out.str().find("no closed form"), std::string::npos);
}

// The same checks on the other engines: each model as its single run makes
// it (warm-up, then 200000 time units; the barber's 1001 days), with the
// tolerances above.
class ExamplesOnEngine : public ::testing::TestWithParam<TEngine> {};

TEST_P(ExamplesOnEngine, QueueingModelsAgreeWithTheory) {
  const std::map<std::string, double> Tolerance = {
      {"mm1", 0.06},   {"mm3", 0.06},      {"barber", 0.01}, {"priority", 0.05},
      {"cobham", 0.05}, {"forkjoin", 0.05}, {"bus", 0.03}};
  for (const TReplicatedModel& M : ShowcaseModels()) {
    SCOPED_TRACE(M.Name);
    ASSERT_TRUE(Tolerance.count(M.Name));
    TComponent Application(nullptr);
    TModel* Model = M.Build(new TComponent(&Application));
    Model->SetEngine(GetParam());
    ASSERT_EQ(Model->Engine(), GetParam());
    if (M.WarmUp > 0) {
      Model->Simulate(M.WarmUp);
      Model->ClearStatistics();
    }
    Model->Simulate(M.WarmUp + (M.WarmUp > 0 ? 200000 : M.RunLength));
    ExpectNearTheory(M.Figures(Model), Tolerance.at(M.Name));
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, ExamplesOnEngine,
                         ::testing::Values(TEngine::Scalable, TEngine::Fast),
                         [](const auto& Info) {
                           return Info.param == TEngine::Fast ? std::string("Fast")
                                                              : std::string("Scalable");
                         });

TEST(Examples, RunsAreReproducible) {
  std::ostringstream A, B;
  RunMM1(A, 5000);
  RunMM1(B, 5000);
  EXPECT_EQ(A.str(), B.str());
}

// Every figure with a closed form lies inside the 99 % interval of the
// showcase's replications. The runner seeds every replication, so the
// outcome is the same on every run and machine.
TEST(Examples, TheoryLiesInsideTheReplicationInterval) {
  for (const TReplicatedModel& Model : ShowcaseModels()) {
    SCOPED_TRACE(Model.Name);
    const TExperimentResult R =
        RunExperiment(MakeExperiment(Model, ShowcaseReplications, 0.99, ShowcaseJobs));
    ASSERT_TRUE(R.Error.empty()) << R.Error;
    EXPECT_EQ(R.Failed, 0);
    const std::vector<TFigure> Theory = Model.Figures(nullptr);
    ASSERT_EQ(R.Figures.size(), Theory.size());
    for (std::size_t i = 0; i < Theory.size(); ++i) {
      const TFigureResult& F = R.Figures[i];
      EXPECT_EQ(F.Summary.N, ShowcaseReplications) << F.Name;
      EXPECT_EQ(F.Missing, 0) << F.Name;
      if (!Theory[i].Theory) continue;
      EXPECT_LE(F.Summary.Low, *Theory[i].Theory) << F.Name;
      EXPECT_GE(F.Summary.High, *Theory[i].Theory) << F.Name;
    }
  }
}

// Sums kept outside the blocks cover the same stretch as the report,
// whoever clears the statistics and how often: every transaction the exit
// counted, and no other.
TEST(Examples, TimesInSystemRestartWithTheStatistics) {
  struct TCase {
    const char* Name;
    std::function<TModel*(TComponent*)> Build;
    const char* Times;
    int32_t Classes;
  };
  const TCase Cases[] = {{"forkjoin", BuildForkJoin, "Responses", 1}};
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    TComponent Application(nullptr);
    TModel* Model = C.Build(new TComponent(&Application));
    auto& Times = FindOnForm<TExitTimes>(*Model, C.Times);
    auto& Exit = FindOnForm<TTerminator>(*Model, "Exit");
    Model->Simulate(1000);
    Model->ClearStatistics();
    Model->Simulate(3000);
    int64_t Served = 0;
    for (int32_t Class = 0; Class < C.Classes; ++Class)
      Served += Times.Served(Class);
    EXPECT_EQ(Served, Exit.Entries());
    Model->ClearStatistics();
    Model->Simulate(6000);
    Served = 0;
    for (int32_t Class = 0; Class < C.Classes; ++Class)
      Served += Times.Served(Class);
    EXPECT_GT(Served, 100);
    EXPECT_EQ(Served, Exit.Entries());
  }
}

// A model whose replications all fail prints the failures and no numbers
// made up from nothing.
TEST(Examples, FailedReplicationsAreListedWithoutValues) {
  TReplicatedModel Broken = ShowcaseModels()[0];
  Broken.Build = [](TComponent*) -> TModel* { return nullptr; };
  const TExperimentResult R = RunExperiment(MakeExperiment(Broken, 2, 0.95, 1));
  EXPECT_EQ(R.Failed, 2);
  std::ostringstream Out;
  PrintReplicated(Broken, R, Out);
  EXPECT_NE(Out.str().find("Replication 1 failed: "), std::string::npos) << Out.str();
  EXPECT_EQ(Out.str().find("nan"), std::string::npos) << Out.str();
  EXPECT_NE(Out.str().find("Utilisation"), std::string::npos) << Out.str();
}

// The showcase prints exactly what it printed when its output was stored:
// any change in the order of events, in a statistic or in the report shows,
// in the single runs and over the replications alike.
// After an intended change, QUORIN_UPDATE_DOCS=1 writes the file anew (as
// `build/examples/showcase` prints it); review the difference.
TEST(Examples, ShowcaseOutputIsUnchanged) {
  std::ostringstream Out;
  for (const TReplicatedModel& Model : ShowcaseModels())
    EXPECT_TRUE(RunShowcase(Model, Out)) << Model.Name;
  const char* Update = std::getenv("QUORIN_UPDATE_DOCS");
  if (Update && *Update && std::string(Update) != "0") {
    std::ofstream(QUORIN_SHOWCASE_EXPECTED, std::ios::binary) << Out.str();
    return;
  }
  std::ifstream File(QUORIN_SHOWCASE_EXPECTED);
  ASSERT_TRUE(File) << QUORIN_SHOWCASE_EXPECTED;
  std::stringstream Expected;
  Expected << File.rdbuf();
  EXPECT_EQ(Out.str(), Expected.str());
}

} // namespace
