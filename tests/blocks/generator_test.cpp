#include <cmath>

#include "fixture.h"
#include "quorin/detail/current.h"
#include "quorin/detail/future.h"

namespace quorin::test {
namespace {

class GeneratorTest : public BlockTest {
protected:
  // A generator that generates once at each of Times and passes every
  // transaction straight to a terminator.
  void SetUp() override {
    ArriveAt(Gen, Times);
    Gen->OnAfterGeneration = Noting("gen");
    Gen->OnRouting = [this](TBlock* Sender, TTransaction*) { Sender->PassTo(Term); };
  }

  std::vector<double> Times;
  TGenerator* Gen = Make<TGenerator>("Gen");
  TTerminator* Term = Make<TTerminator>("Term");
};

TEST_F(GeneratorTest, DepartureIntervalStatistics) {
  struct Case {
    std::vector<double> Times;
    int32_t Exits;
    long double Average, Deviation;
  };
  const Case Cases[] = {
      {{}, 0, 0, 0},
      {{4}, 1, 0, 0},
      {{1, 3, 6}, 3, 2.5L, 0.5L},
      {{0, 0, 2}, 3, 1, 1},
  };
  for (const Case& C : Cases) {
    Times = C.Times;
    Model->Simulate(100);
    EXPECT_EQ(Gen->Exits(), C.Exits);
    EXPECT_EQ(Gen->Entries(), 0);
    EXPECT_EQ(Gen->Count(), 0);
    EXPECT_NEAR(double(Gen->AverageTime()), double(C.Average), 1e-12);
    EXPECT_NEAR(double(Gen->DeviationTime()), double(C.Deviation), 1e-12);
    Model->Reset();
  }
}

TEST_F(GeneratorTest, ClearingStampsTheClock) {
  Times = {1, 3, 6, 12, 15};
  At({10}, [this] { Gen->ClearStatistics(); });
  At({11}, [this] { EXPECT_EQ(Gen->Exits(), 0); });
  Model->Simulate(100);
  // The departure at 12 opens the first interval after clearing.
  EXPECT_EQ(Gen->Exits(), 2);
  EXPECT_EQ(Gen->AverageTime(), 3);
  EXPECT_EQ(Gen->DeviationTime(), 0);
}

TEST_F(GeneratorTest, EachGenerationIsRoutedBeforeTheNextAtTheSameTime) {
  Times = {0, 0};
  Term->OnEnter = Noting("end");
  Model->Simulate(10);
  const TLog Expected = {
      {0, "Gen", 1, "gen"},
      {0, "Term", 1, "end"},
      {0, "Gen", 1, "gen"}, // the record freed by the terminator, reused
      {0, "Term", 1, "end"},
  };
  EXPECT_EQ(Log, Expected);
  EXPECT_EQ(Model->TransactionCount(), 1);
}

TEST_F(GeneratorTest, NothingOrderedNothingMade) {
  Gen->OnBeforeTimeGoOn = nullptr;
  At({5}, [] {});
  Model->Simulate(10);
  EXPECT_TRUE(Log.empty());
  EXPECT_EQ(Model->TransactionCount(), 0);
}

struct TLabelled : TTransaction {
  int32_t Payload = 0;
};

TEST_F(GeneratorTest, ReusedRecordKeepsNumberAndOwnFieldsButNotPriority) {
  Model->SetTransactionClass<TLabelled>();
  Times = {1, 2};
  struct Snapshot {
    int32_t ID, Payload;
    uint8_t Prty;
    bool Preempt;
    TFutureEvent* Event;
  };
  std::vector<Snapshot> Seen;
  Gen->OnAfterGeneration = [&](TBlock*, TTransaction* T) {
    auto* L = dynamic_cast<TLabelled*>(T);
    ASSERT_NE(L, nullptr);
    Seen.push_back({L->GetTransID(), L->Payload, L->GetPrty(), L->IsPreempt(), L->FEvent});
    L->Payload = 42;
    L->SetPrty(7);
    L->SetPreempt();
  };
  Model->Simulate(10);
  ASSERT_EQ(Seen.size(), 2u);
  EXPECT_EQ(Seen[0].Payload, 0);
  EXPECT_EQ(Seen[1].ID, Seen[0].ID);
  EXPECT_EQ(Seen[1].Payload, 42);
  EXPECT_EQ(Seen[1].Prty, 0);
  EXPECT_FALSE(Seen[1].Preempt);
  EXPECT_EQ(Seen[1].Event, nullptr);
}

// Nothing takes the generator's transactions, so each generation replaces the
// one on offer; the replaced one must go back to the pool, not be lost.
TEST_F(GeneratorTest, ReplacedTransactionGoesBackToThePool) {
  Times = {1, 2, 3};
  auto* Gate = Make<TGate>("Gate");
  Gate->Lock();
  bool Refused = false;
  Gen->OnRouting = [&](TBlock* Sender, TTransaction*) { Refused = !Sender->PassTo(Gate); };
  Model->Simulate(1.5); // takes the events at 1 and 2
  ASSERT_NE(Gen->Transaction(), nullptr);
  EXPECT_EQ(Gen->Transaction()->GetTransID(), 2);
  EXPECT_TRUE(Refused);
  // One chain entry, however many generations found it blocked.
  EXPECT_EQ(CurrentManager->Count(), 1);
  EXPECT_EQ(CurrentManager->First(), Gen->ChainEntry());
  Model->Simulate(100);
  const TLog Expected = {{1, "Gen", 1, "gen"}, {2, "Gen", 2, "gen"}, {3, "Gen", 1, "gen"}};
  EXPECT_EQ(Log, Expected);
  EXPECT_EQ(Model->TransactionCount(), 2);

  // No record to be had: the transaction on offer stays on offer.
  TTransaction* Offered = Gen->Transaction();
  TTransManager* Pool = TransManager;
  TransManager = nullptr;
  Gen->Activate(nullptr);
  TransManager = Pool;
  EXPECT_EQ(Gen->Transaction(), Offered);
  EXPECT_TRUE(Gen->HasTransaction());
}

TEST_F(GeneratorTest, NeverReceivesAndResetsToIdle) {
  Times = {1};
  auto* Q = Make<TQueue>("Q");
  Gen->OnRouting = [&](TBlock* Sender, TTransaction*) { Sender->PassTo(Q); };
  bool Passed = true;
  Q->OnRouting = [&](TBlock* Sender, TTransaction*) { Passed = Sender->PassTo(Gen); };
  Model->Simulate(5);
  EXPECT_FALSE(Passed);
  EXPECT_EQ(Q->Count(), 1);
  Times = {};
  Model->Reset();
  EXPECT_FALSE(Gen->HasTransaction());
  EXPECT_EQ(Gen->Transaction(), nullptr);
  EXPECT_EQ(Gen->Exits(), 0);
  EXPECT_FALSE(Gen->IsReadyToReceive(nullptr));
}

TEST(PopulationDeviation, RoundingNeverGivesNaN) {
  // Three equal values whose variance rounds to slightly below zero.
  const long double X = 0.10900000000000001;
  long double Sum = 0, SumSqr = 0;
  for (int i = 0; i < 3; ++i) {
    Sum += X;
    SumSqr += X * X;
  }
  ASSERT_LT(SumSqr / 3 - (Sum / 3) * (Sum / 3), 0);
  EXPECT_EQ(PopulationDeviation(Sum, SumSqr, 3), 0);
  EXPECT_EQ(PopulationDeviation(5, 25, 1), 0);
  EXPECT_EQ(PopulationDeviation(0, 0, 0), 0);
  EXPECT_DOUBLE_EQ(double(PopulationDeviation(6, 20, 2)), 1.0);
}

} // namespace
} // namespace quorin::test
