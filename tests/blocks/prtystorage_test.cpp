#include <map>
#include <stdexcept>

#include "fixture.h"
#include "quorin/detail/future.h"

namespace quorin::test {
namespace {

// One arrival: when, priority, preempt mark, holding time (none if < 0).
struct TArrival {
  double Time;
  uint8_t Prty;
  bool Preempt;
  double Hold;
};

// Gen makes the Arrivals (sorted by time) and passes each into S; one that S
// refuses is noted and terminated. S notes entries and exits, orders each
// holding time from OnEnter and passes finished transactions to Exit, a gate
// locked until OpenAt, in front of Done, a queue that keeps them.
class PrtyStorageTest : public BlockTest {
protected:
  void SetUp() override {
    Feed<TArrival>(Gen, Arrivals, Made, S, Term,
                   [this](TTransaction* T, const TArrival& A) { Hold[T] = A.Hold; });
    S->OnEnter = [this](TBlock* Sender, TTransaction* T) {
      Note(Sender, T, "enter");
      // The statistics take the entry after OnEnter.
      EXPECT_EQ(S->Entries(), EntriesSeen++);
      if (Hold[T] >= 0) Sender->NextTime(Hold[T]);
    };
    S->OnExit = Noting("exit");
    S->OnRouting = [this](TBlock* Sender, TTransaction*) { Sender->PassTo(Exit); };
    Exit->Lock();
    Exit->OnRouting = [this](TBlock* Sender, TTransaction*) { Sender->PassTo(Done); };
    Opener->OnBeforeTimeGoOn = [this](TAggregate* Self) {
      if (OpenAt >= 0) Self->NextTime(OpenAt);
    };
    Opener->OnAfterGeneration = [this](TBlock*, TTransaction*) { Exit->Unlock(); };
    Opener->OnRouting = [this](TBlock* Sender, TTransaction*) { Sender->PassTo(Term); };
  }

  std::vector<TArrival> Arrivals;
  size_t Made = 0;
  int32_t EntriesSeen = 0;
  std::map<TTransaction*, double> Hold;
  double OpenAt = 0;
  TGenerator* Gen = Make<TGenerator>("Gen");
  TStoragePrty* S = Make<TStoragePrty>("S");
  TGate* Exit = Make<TGate>("Exit");
  TQueue* Done = Make<TQueue>("Done");
  TTerminator* Term = Make<TTerminator>("Term");
  TGenerator* Opener = Make<TGenerator>("Opener");
};

// Capacity 2, preemptive: A (1) and B (5) hold from 0 until 10. At 4 T (3,
// marked, for 2) gets in and A is pushed out: its residence is 4 and its end
// of holding at 10 is cancelled. Then S holds B and T (lowest 3): U (1,
// marked), V (9, unmarked) and W (3, marked) are refused. OnPreempt passes A
// to Aside, so OnExit fires for it before it enters there; or, unhandled, A
// goes back to the pool (and V, at 5, gets its record).
class PrtyStoragePushOut : public PrtyStorageTest, public ::testing::WithParamInterface<bool> {};

TEST_P(PrtyStoragePushOut, OldestHeldOfLowestPriorityIsPushedOut) {
  const bool RouteVictim = GetParam();
  auto* Aside = Make<TQueue>("Aside");
  Aside->OnEnter = Noting("enter");
  if (RouteVictim) {
    S->OnPreempt = [this, Aside](TBlock* Sender, TTransaction* T) {
      Note(Sender, T, "preempt");
      EXPECT_EQ(S->Transaction(), T);
      EXPECT_TRUE(Sender->PassTo(Aside));
    };
  }
  S->SetCapacity(2);
  S->SetPreemptive(true);
  Arrivals = {{0, 1, false, 10}, {0, 5, false, 10}, {4, 3, true, 2},
              {5, 1, true, 1},   {5, 9, false, 1},  {5, 3, true, 1}};
  At({4.5}, [this, RouteVictim] {
    EXPECT_EQ(S->PreemptExits(), 1);
    EXPECT_EQ(S->Exits(), 1);
    EXPECT_EQ(S->AverageTime(), 4);
    EXPECT_EQ(S->Count(), 2);
    EXPECT_EQ(S->MinPrty(), 3);
    EXPECT_EQ(TransManager->isDeadExist(), !RouteVictim);
  });
  Model->Simulate(100);
  const int32_t V = RouteVictim ? 4 : 1; // the number U is made with
  TLog Expected = {{0, "S", 1, "enter"}, {0, "S", 2, "enter"}, {4, "S", 3, "enter"}};
  if (RouteVictim) {
    Expected.insert(Expected.end(),
                    {{4, "S", 1, "preempt"}, {4, "S", 1, "exit"}, {4, "Aside", 1, "enter"}});
  }
  Expected.insert(Expected.end(), {{5, "S", V, "refused"},
                                   {5, "S", V, "refused"},
                                   {5, "S", V, "refused"},
                                   {6, "S", 3, "exit"},
                                   {10, "S", 2, "exit"}});
  EXPECT_EQ(Log, Expected);
  EXPECT_EQ(S->Exits(), 3);
  EXPECT_EQ(S->Count(), 0);
  EXPECT_EQ(Aside->Count(), RouteVictim ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Victim, PrtyStoragePushOut, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& Info) {
                           return Info.param ? "PassedOn" : "Destroyed";
                         });

// Capacity 1 holding a finished transaction that cannot leave: nothing is
// held in a class, so even a marked transaction of priority 255 is refused.
TEST_F(PrtyStorageTest, FinishedTransactionCannotBePushedOut) {
  S->SetCapacity(1);
  S->SetPreemptive(true);
  OpenAt = 5;
  Arrivals = {{0, 0, false, 1}, {2, 255, true, 1}};
  Model->Simulate(100);
  const TLog Expected = {{0, "S", 1, "enter"}, {2, "S", 2, "refused"}, {5, "S", 1, "exit"}};
  EXPECT_EQ(Log, Expected);
  EXPECT_EQ(S->PreemptExits(), 0);
}

// A (1) finishes at 3 and B (9) at 5, and neither can leave before 10: they
// leave in the order of finishing. Count is held plus finished; the class
// queries see the held ones only. Activations ordered for a finished
// transaction (from OnRouting) and for the empty storage are ignored.
TEST_F(PrtyStorageTest, FinishedLeaveInOrderOfFinishing) {
  OpenAt = 10;
  Arrivals = {{0, 1, false, 3}, {0, 9, false, 5}};
  S->OnRouting = [this](TBlock* Sender, TTransaction*) {
    if (FSysTime < 10) Sender->NextTime(0.5);
    Sender->PassTo(Exit);
  };
  At({-0.0}, [this] { S->NextTime(1); });
  At({4}, [this] {
    EXPECT_EQ(S->Count(), 2);
    EXPECT_EQ(S->FinishedCount(), 1);
    EXPECT_EQ(S->PrtyCount(9), 1);
    EXPECT_EQ(S->PrtyCount(1), 0);
    EXPECT_EQ(S->MinPrty(), 9);
    EXPECT_EQ(S->MaxPrty(), 9);
    EXPECT_EQ(S->Transaction()->GetTransID(), 1);
  });
  Model->Simulate(100);
  const TLog Expected = {
      {0, "S", 1, "enter"}, {0, "S", 2, "enter"}, {10, "S", 1, "exit"}, {10, "S", 2, "exit"}};
  EXPECT_EQ(Log, Expected);
  EXPECT_EQ(S->Count(), 0);
  EXPECT_EQ(S->QueCount(), 0);
  EXPECT_EQ(S->AverageTime(), 10);
  EXPECT_EQ(S->MaxCount(), 2);
}

// A's priority changes from 1 to 9 while it is held: it stays in class 1,
// so the push-out by C at 2 still takes it. D, made at 3.5 on A's freed
// record, gets no holding time, so it never finishes: A's end of holding at
// 10 was cancelled and cannot end D's stay. D's OnEnter throws: the
// exception leaves Simulate, and D is held all the same.
TEST_F(PrtyStorageTest, ChangedPriorityAndThrowingOnEnter) {
  S->SetCapacity(2);
  S->SetPreemptive(true);
  Arrivals = {{0, 1, false, 10}, {0, 5, false, 4}, {2, 7, true, 1}, {3.5, 0, false, -1}};
  std::vector<TTransaction*> Held;
  S->OnEnter = [&](TBlock* Sender, TTransaction* T) {
    Note(Sender, T, "enter");
    Held.push_back(T);
    if (Held.size() == 4) throw std::runtime_error("enter");
    Sender->NextTime(Hold[T]);
  };
  At({1.5}, [&] {
    Held[0]->SetPrty(9);
    EXPECT_EQ(S->PrtyCount(1), 1);
    EXPECT_EQ(S->PrtyCount(9), 0);
  });
  S->OnPreempt = Noting("preempt");
  EXPECT_THROW(Model->Simulate(100), std::runtime_error);
  EXPECT_EQ(FSysTime, 3.5);
  EXPECT_EQ(S->PreemptExits(), 1);
  EXPECT_EQ(S->PrtyCount(0), 1);
  EXPECT_EQ(S->Count(), 2);
  Model->Simulate(100);
  const TLog Expected = {{0, "S", 1, "enter"},   {0, "S", 2, "enter"}, {2, "S", 3, "enter"},
                         {2, "S", 1, "preempt"}, {3, "S", 3, "exit"},  {3.5, "S", 1, "enter"},
                         {4, "S", 2, "exit"}};
  EXPECT_EQ(Log, Expected);
  EXPECT_EQ(S->Count(), 1);
  EXPECT_EQ(S->QueCount(), 1);
}

TEST_F(PrtyStorageTest, ResetForgetsHeldAndFinished) {
  OpenAt = -1;
  Arrivals = {{0, 1, false, 3}, {0, 9, false, -1}};
  Model->Simulate(100);
  EXPECT_EQ(S->Count(), 2);
  Model->Reset();
  EXPECT_EQ(S->Count(), 0);
  EXPECT_EQ(S->FinishedCount(), 0);
  EXPECT_EQ(S->QueCount(), 0);
  EXPECT_EQ(S->Entries(), 0);
  EXPECT_FALSE(S->HasTransaction());
  EXPECT_EQ(S->Transaction(), nullptr);
}

} // namespace
} // namespace quorin::test
