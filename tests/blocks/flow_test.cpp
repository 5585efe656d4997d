#include <cmath>

#include "fixture.h"
#include "quorin/detail/future.h"

namespace quorin::test {
namespace {

// Generator (every 2 from 0 to 8) -> queue -> gate -> terminator. The gate is
// locked until a scheduler opens it at 5; the chain next runs after the
// generation at 6, which empties the queue in four scans. Measured at 10.
//
//   arrival   0  2  4  6  8      residence  6 4 2 0 0
//   content   1 on [0,2), 2 on [2,4), 3 on [4,6), 0 after
//
// The same on every engine, routed by handlers or by fixed routes.
struct TFlowCase {
  TEngine Engine;
  bool Routes; // TBlock::SetRoute instead of OnRouting handlers
};

class FlowTest : public BlockTest, public ::testing::WithParamInterface<TFlowCase> {};

TEST_P(FlowTest, GeneratorQueueGateTerminator) {
  Model->SetEngine(GetParam().Engine);
  auto* Gen = Make<TGenerator>("Gen");
  auto* Q = Make<TQueue>("Q");
  auto* Gate = Make<TGate>("Gate");
  auto* Term = Make<TTerminator>("Term");
  Gen->OnBeforeTimeGoOn = [](TAggregate* Self) { Self->NextTime(0); };
  Gen->OnAfterGeneration = [&](TBlock* Sender, TTransaction* T) {
    Note(Sender, T, "gen");
    if (FSysTime < 8) Sender->NextTime(2);
  };
  if (GetParam().Routes) {
    Gen->SetRoute(Q);
    Q->SetRoute(Gate);
    Gate->SetRoute(Term);
  } else {
    Gen->OnRouting = [&](TBlock* Sender, TTransaction*) { Sender->PassTo(Q); };
    Q->OnRouting = [&](TBlock* Sender, TTransaction*) { Sender->PassTo(Gate); };
    Gate->OnRouting = [&](TBlock* Sender, TTransaction*) { Sender->PassTo(Term); };
  }
  Q->OnExit = Noting("exit");
  Term->OnEnter = Noting("end");
  Gate->Lock();
  At({5}, [&] { Gate->Unlock(); });
  At({10}, [] {});

  Model->Simulate(20);

  const TLog Expected = {
      {0, "Gen", 1, "gen"}, {2, "Gen", 2, "gen"},  {4, "Gen", 3, "gen"},  {6, "Gen", 4, "gen"},
      {6, "Q", 1, "exit"},  {6, "Term", 1, "end"}, {6, "Q", 2, "exit"},   {6, "Term", 2, "end"},
      {6, "Q", 3, "exit"},  {6, "Term", 3, "end"}, {6, "Q", 4, "exit"},   {6, "Term", 4, "end"},
      {8, "Gen", 4, "gen"}, {8, "Q", 4, "exit"},   {8, "Term", 4, "end"},
  };
  EXPECT_EQ(Log, Expected);
  ASSERT_EQ(FSysTime, 10);

  EXPECT_EQ(Gen->Exits(), 5);
  EXPECT_EQ(Gen->AverageTime(), 2);
  EXPECT_EQ(Gen->DeviationTime(), 0);

  EXPECT_EQ(Q->Entries(), 5);
  EXPECT_EQ(Q->Exits(), 5);
  EXPECT_EQ(Q->Count(), 0);
  EXPECT_NEAR(double(Q->AverageTime()), 12.0 / 5, 1e-15);
  EXPECT_NEAR(double(Q->DeviationTime()), std::sqrt(56.0 / 5 - 2.4 * 2.4), 1e-12);
  EXPECT_NEAR(double(Q->SAverageTime()), 4, 1e-15);
  EXPECT_NEAR(double(Q->SDeviationTime()), std::sqrt(56.0 / 3 - 16), 1e-12);
  EXPECT_NEAR(double(Q->AverageCount()), 1.2, 1e-15);
  EXPECT_NEAR(double(Q->Usage()), 0.6, 1e-15);
  EXPECT_EQ(Q->MaxCount(), 3);
  EXPECT_EQ(Q->ZeroEntries(), 2);
  EXPECT_EQ(Q->TimeLimitExits(), 0);

  EXPECT_EQ(Gate->Entries(), 5);
  EXPECT_EQ(Gate->Exits(), 5);
  EXPECT_EQ(Gate->Count(), 0);
  EXPECT_EQ(Term->Entries(), 5);
  // Four records carved; the fifth arrival reused the last one freed.
  EXPECT_EQ(Model->TransactionCount(), 4);

  // Clearing mid-model restarts every block's measures at the clock.
  Model->ClearStatistics();
  EXPECT_EQ(Q->Exits(), 0);
  EXPECT_EQ(Q->AverageCount(), 0);
  EXPECT_EQ(Gate->Entries(), 0);
  EXPECT_EQ(Term->Entries(), 0);
}

const TFlowCase FlowCases[] = {{TEngine::Documented, false},
                               {TEngine::Documented, true},
                               {TEngine::Scalable, false},
                               {TEngine::Fast, false},
                               {TEngine::Fast, true}};

std::string FlowCaseName(const ::testing::TestParamInfo<TFlowCase>& Case) {
  const char* Engines[] = {"Documented", "Scalable", "Fast"};
  return std::string(Engines[int(Case.param.Engine)]) + (Case.param.Routes ? "Routes" : "Handlers");
}

INSTANTIATE_TEST_SUITE_P(Engines, FlowTest, ::testing::ValuesIn(FlowCases), FlowCaseName);

// OnRouting, when assigned, routes in place of a fixed route; the model
// check counts a route as a way out.
TEST_F(BlockTest, AnAssignedOnRoutingTakesThePlaceOfTheRoute) {
  auto* Gen = Make<TGenerator>("Gen");
  auto* A = Make<TTerminator>("A");
  auto* B = Make<TTerminator>("B");
  Gen->OnBeforeTimeGoOn = [](TAggregate* Self) { Self->NextTime(0); };
  Gen->OnAfterGeneration = [](TBlock* Sender, TTransaction*) {
    if (FSysTime < 3) Sender->NextTime(1);
  };
  Gen->SetRoute(A);
  EXPECT_EQ(Gen->Route(), A);
  At({1.5}, [&] { Gen->OnRouting = [&](TBlock* Sender, TTransaction*) { Sender->PassTo(B); }; });
  Model->Simulate(10);
  EXPECT_EQ(A->Entries(), 2);
  EXPECT_EQ(B->Entries(), 2);

  std::vector<std::string> Findings;
  auto* Held = Make<TQueue>("Held");
  Held->SetRoute(Make<TGate>("Closed"));
  Held->FHasTransaction = true;
  Held->CheckBlock(Findings);
  EXPECT_TRUE(Findings.empty());
  Held->SetRoute(nullptr);
  Held->CheckBlock(Findings);
  EXPECT_EQ(Findings.size(), 1u);
  Held->FHasTransaction = false;
}

// A receiver destroyed before its senders clears their routes, also after a
// route was moved from it to another: the senders then hold their
// transactions (a finding of the check) instead of passing into freed memory.
TEST_F(BlockTest, DestroyingARouteReceiverClearsTheRoutesToIt) {
  auto* Gen = Make<TGenerator>("Gen");
  auto* Other = Make<TGenerator>("Other");
  auto* Line = Make<TQueue>("Line");
  auto* Spare = Make<TTerminator>("Spare");
  Gen->OnBeforeTimeGoOn = [](TAggregate* Self) { Self->NextTime(1); };
  Gen->OnAfterGeneration = [](TBlock* Self, TTransaction*) { Self->NextTime(1); };
  Other->SetRoute(Spare);
  Other->SetRoute(Line);
  Gen->SetRoute(Line);
  Line->SetRoute(Spare);
  delete Spare;
  EXPECT_EQ(Line->Route(), nullptr);
  EXPECT_EQ(Other->Route(), Line);
  delete Line;
  EXPECT_EQ(Gen->Route(), nullptr);
  EXPECT_EQ(Other->Route(), nullptr);
  Model->Simulate(5);
  EXPECT_EQ(Gen->Exits(), 0);
  std::vector<std::string> Findings;
  Gen->CheckBlock(Findings);
  ASSERT_EQ(Findings.size(), 1u);
  EXPECT_NE(Findings[0].find("no OnRouting handler"), std::string::npos) << Findings[0];
  // A sender destroyed first leaves nothing behind in its receiver.
  auto* Last = Make<TTerminator>("Last");
  Other->SetRoute(Last);
  delete Other;
  delete Last;
}

} // namespace
} // namespace quorin::test
