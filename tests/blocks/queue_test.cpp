#include "fixture.h"
#include "quorin/detail/current.h"
#include "quorin/detail/future.h"

namespace quorin::test {
namespace {

// Gen makes one transaction at each of Times and passes it into Q. Q's
// routing passes to the terminator while Budget allows; a Ticker generation
// at each of Ticks raises Budget by one (its own transaction is terminated).
template <class TQ> class QueueTest : public BlockTest {
protected:
  void SetUp() override {
    ArriveAt(Gen, Times);
    Gen->OnRouting = [this](TBlock* Sender, TTransaction*) { Sender->PassTo(Q); };
    Q->OnRouting = [this](TBlock* Sender, TTransaction*) {
      if (Budget > 0 && Sender->PassTo(Term)) --Budget;
    };
    Q->OnExit = Noting("exit");
    Ticker->OnBeforeTimeGoOn = [this](TAggregate*) {
      for (double T : Ticks)
        Ticker->NextTime(T);
    };
    Ticker->OnAfterGeneration = [this](TBlock*, TTransaction*) { ++Budget; };
    Ticker->OnRouting = [this](TBlock* Sender, TTransaction*) { Sender->PassTo(Term); };
  }

  std::vector<double> Times, Ticks;
  int Budget = 0;
  TGenerator* Gen = Make<TGenerator>("Gen");
  TQ* Q = Make<TQ>("Q");
  TTerminator* Term = Make<TTerminator>("Term");
  TGenerator* Ticker = Make<TGenerator>("Ticker");
};

using FifoTest = QueueTest<TQueue>;
using LifoTest = QueueTest<TStack>;

TEST_F(FifoTest, CapacityLimitsEntries) {
  EXPECT_EQ(Q->Capacity(), 0);
  EXPECT_TRUE(Q->IsReadyToReceive(nullptr));
  Q->SetCapacity(3);
  Q->SetCapacity(-1);
  EXPECT_EQ(Q->Capacity(), 3);
  Q->SetCapacity(2);
  // Three arrive at 1; the third finds Q full and stays in the generator
  // until the tick at 2 makes room.
  Times = {1, 1, 1};
  Ticks = {2};
  At({1.5}, [this] {
    EXPECT_EQ(Q->Count(), 2);
    EXPECT_FALSE(Q->IsReadyToReceive(nullptr));
    EXPECT_TRUE(Gen->HasTransaction());
  });
  Model->Simulate(100);
  EXPECT_EQ(Q->Count(), 2);
  EXPECT_EQ(Q->Exits(), 1);
  EXPECT_EQ(Q->Entries(), 3);
  EXPECT_FALSE(Gen->HasTransaction());
}

TEST_F(FifoTest, NoReceiverKeepsThemAllInOneChainEntry) {
  Times = {1, 2, 3};
  Model->Simulate(100);
  EXPECT_EQ(Q->Count(), 3);
  EXPECT_EQ(Q->Exits(), 0);
  EXPECT_EQ(Q->Entries(), 3);
  // The queue joined the chain once, on its first entry; the generator left it.
  EXPECT_EQ(CurrentManager->Count(), 1);
  EXPECT_EQ(CurrentManager->First()->Block, Q);
  EXPECT_EQ(Q->Transaction()->GetTransID(), 1);
  EXPECT_EQ(Q->MaxCount(), 3);
}

// A, B and C (1, 2, 3) wait; D (made at 10.5 on the record the first tick
// freed, so number 4) arrives after one of them left; one leaves per tick.
TEST_F(FifoTest, FirstInFirstOut) {
  Times = {1, 2, 3, 10.5};
  Ticks = {10, 11, 12, 13};
  Model->Simulate(100);
  const TLog Expected = {
      {10, "Q", 1, "exit"}, {11, "Q", 2, "exit"}, {12, "Q", 3, "exit"}, {13, "Q", 4, "exit"}};
  EXPECT_EQ(Log, Expected);
  // The last exit leaves the queue idle and out of the chain.
  EXPECT_EQ(Q->Transaction(), nullptr);
  EXPECT_FALSE(Q->HasTransaction());
  EXPECT_EQ(CurrentManager->Count(), 0);
}

TEST_F(LifoTest, LastInFirstOut) {
  Times = {1, 2, 3, 10.5};
  Ticks = {10, 11, 12, 13};
  Model->Simulate(100);
  // D, arriving while B and A still wait, goes before B.
  const TLog Expected = {
      {10, "Q", 3, "exit"}, {11, "Q", 4, "exit"}, {12, "Q", 2, "exit"}, {13, "Q", 1, "exit"}};
  EXPECT_EQ(Log, Expected);
  EXPECT_EQ(Q->Count(), 0);
  EXPECT_EQ(Q->AverageTime(), (7 + 0.5L + 10 + 12) / 4);
}

// Time limits: OnEnter gives every transaction the limit in Limits (by
// arrival order); OnTimeFinish notes the expiry and passes it to Term if
// RouteExpired.
class TimeLimitTest : public QueueTest<TQueue> {
protected:
  void SetUp() override {
    QueueTest<TQueue>::SetUp();
    Q->OnEnter = [this](TBlock* Sender, TTransaction*) {
      if (Arrivals < Limits.size()) Sender->NextTime(Limits[Arrivals]);
      ++Arrivals;
    };
    Q->OnTimeFinish = [this](TBlock* Sender, TTransaction* T) {
      Note(Sender, T, "limit");
      if (RouteExpired) {
        EXPECT_TRUE(Sender->PassTo(Term));
      }
    };
  }
  std::vector<double> Limits;
  size_t Arrivals = 0;
  bool RouteExpired = false;
};

TEST_F(TimeLimitTest, UnroutedExpiryDestroysWithoutCountingAnExit) {
  Times = {0, 7};
  Limits = {5};
  Model->Simulate(100);
  const TLog Expected = {{5, "Q", 1, "limit"}};
  EXPECT_EQ(Log, Expected);
  EXPECT_EQ(Q->TimeLimitExits(), 1);
  EXPECT_EQ(Q->Exits(), 0);
  EXPECT_EQ(Q->AverageTime(), 0);
  // A went back to the pool: the arrival at 7 is made on its record.
  EXPECT_EQ(Q->Count(), 1);
  EXPECT_EQ(Q->Transaction()->GetTransID(), 1);
  EXPECT_EQ(Model->TransactionCount(), 1);
}

TEST_F(TimeLimitTest, RoutedExpiryIsAnOrdinaryExit) {
  Times = {0};
  Limits = {5};
  RouteExpired = true;
  Term->OnEnter = Noting("end");
  Model->Simulate(100);
  const TLog Expected = {{5, "Q", 1, "limit"}, {5, "Q", 1, "exit"}, {5, "Term", 1, "end"}};
  EXPECT_EQ(Log, Expected);
  EXPECT_EQ(Q->TimeLimitExits(), 1);
  EXPECT_EQ(Q->Exits(), 1);
  EXPECT_EQ(Q->AverageTime(), 5);
  EXPECT_FALSE(Q->HasTransaction());
}

TEST_F(TimeLimitTest, LeavingCancelsThePendingLimit) {
  Times = {0};
  Ticks = {3};
  Limits = {5};
  Model->Simulate(100);
  const TLog Expected = {{3, "Q", 1, "exit"}};
  EXPECT_EQ(Log, Expected);
  EXPECT_EQ(Q->TimeLimitExits(), 0);
  EXPECT_EQ(FSysTime, 5); // the cancelled entry still moved the clock
}

TEST_F(TimeLimitTest, ExpiryInTheMiddleKeepsTheOrder) {
  Times = {0, 1, 2};
  Limits = {100, 4, 100};
  Ticks = {6, 7};
  Model->Simulate(50);
  const TLog Expected = {{5, "Q", 2, "limit"}, {6, "Q", 1, "exit"}, {7, "Q", 3, "exit"}};
  EXPECT_EQ(Log, Expected);
  EXPECT_EQ(Q->Count(), 0);
}

// A second NextTime for the same waiting transaction replaces its limit. Were
// the earlier one (at 5) left pending, it would fire after the expiry at 3
// for a record already back in the pool.
TEST_F(TimeLimitTest, LaterLimitReplacesTheEarlierOne) {
  Times = {0, 10};
  Q->OnEnter = [](TBlock* Sender, TTransaction*) {
    Sender->NextTime(5);
    Sender->NextTime(3);
  };
  Model->Simulate(100);
  // The arrival at 10 reuses the first record; its limit falls at 13.
  const TLog Expected = {{3, "Q", 1, "limit"}, {13, "Q", 1, "limit"}};
  EXPECT_EQ(Log, Expected);
  EXPECT_EQ(Q->TimeLimitExits(), 2);
  EXPECT_EQ(Q->Count(), 0);
}

TEST_F(TimeLimitTest, ActivationOrderedWhileEmptyIsIgnored) {
  Times = {5};
  At({1}, [this] { Q->NextTime(2); });
  Model->Simulate(100);
  EXPECT_TRUE(Log.empty());
  EXPECT_EQ(Q->TimeLimitExits(), 0);
  EXPECT_EQ(Q->Count(), 1);
}

TEST_F(FifoTest, ResetForgetsTheList) {
  Times = {1, 2};
  Model->Simulate(100);
  ASSERT_EQ(Q->Count(), 2);
  Model->Reset();
  EXPECT_EQ(Q->Count(), 0);
  EXPECT_EQ(Q->Entries(), 0);
  EXPECT_FALSE(Q->HasTransaction());
  EXPECT_EQ(Q->Transaction(), nullptr);
  EXPECT_TRUE(Q->IsReadyToReceive(nullptr));
  // A fresh run starts from an empty list.
  Model->Simulate(100);
  EXPECT_EQ(Q->Count(), 2);
  EXPECT_EQ(Q->Transaction()->GetTransID(), 1);
}

} // namespace
} // namespace quorin::test
