#include "fixture.h"
#include "quorin/detail/future.h"

namespace quorin::test {
namespace {

class GateTest : public BlockTest {
protected:
  // Gen makes one transaction at each of Times and routes it into Q; Q
  // routes to the gate, the gate to the terminator.
  void SetUp() override {
    ArriveAt(Gen, Times);
    Gen->OnRouting = [this](TBlock* Sender, TTransaction*) { Sender->PassTo(Q); };
    Q->OnRouting = [this](TBlock* Sender, TTransaction*) { Sender->PassTo(Gate); };
    Gate->OnRouting = [this](TBlock* Sender, TTransaction*) { Sender->PassTo(Term); };
    Q->OnExit = Noting("exit");
    Gate->OnEnter = Noting("enter");
    Gate->OnExit = Noting("exit");
    Term->OnEnter = Noting("end");
  }

  std::vector<double> Times;
  TGenerator* Gen = Make<TGenerator>("Gen");
  TQueue* Q = Make<TQueue>("Q");
  TGate* Gate = Make<TGate>("Gate");
  TTerminator* Term = Make<TTerminator>("Term");
};

TEST_F(GateTest, TerminatorDestroysEveryTransactionAndTheRecordsAreReused) {
  // Three wait behind the locked gate until a generation at 2 (whose own
  // transaction stays where it is) unlocks it; the gate is locked again at
  // 2.5, so the three made at 3 wait in Q on the three freed records.
  Times = {1, 1, 1, 3, 3, 3};
  Q->OnExit = nullptr;
  Gate->OnEnter = nullptr;
  Gate->OnExit = nullptr;
  Gen->OnAfterGeneration = Noting("gen");
  Term->OnEnter = [this](TBlock* Sender, TTransaction* T) {
    // Still intact inside the handler.
    EXPECT_EQ(T->FBlock, Sender);
    Note(Sender, T, "end");
  };
  Gate->Lock();
  auto* Opener = Make<TGenerator>("Opener");
  Opener->OnBeforeTimeGoOn = [](TAggregate* Self) { Self->NextTime(2); };
  Opener->OnAfterGeneration = [this](TBlock*, TTransaction*) { Gate->Unlock(); };
  At({2.5}, [this] { Gate->Lock(); });
  Model->Simulate(100);
  const TLog Expected = {
      {1, "Gen", 1, "gen"},  {1, "Gen", 2, "gen"},  {1, "Gen", 3, "gen"},
      {2, "Term", 1, "end"}, {2, "Term", 2, "end"}, {2, "Term", 3, "end"},
      {3, "Gen", 3, "gen"},  {3, "Gen", 2, "gen"},  {3, "Gen", 1, "gen"},
  };
  EXPECT_EQ(Log, Expected);
  EXPECT_EQ(Term->Entries(), 3);
  EXPECT_EQ(Term->Count(), 0);
  EXPECT_EQ(Term->Exits(), 0);
  EXPECT_EQ(Model->TransactionCount(), 4);
}

TEST_F(GateTest, HoldsOneAndLetsItLeaveWhileLocked) {
  // Gate, unlocked, holds one: the second is refused even so.
  Times = {1, 1};
  Gate->OnRouting = nullptr;
  Model->Simulate(100);
  EXPECT_FALSE(Gate->isLocked());
  EXPECT_EQ(Gate->Count(), 1);
  EXPECT_EQ(Q->Count(), 1);
  EXPECT_FALSE(Gate->IsReadyToReceive(nullptr));

  // Locked while holding: the held transaction still leaves, then the gate
  // stays closed.
  Model->Reset();
  Log.clear();
  Times = {1, 1, 3};
  Gate->OnRouting = [this](TBlock* Sender, TTransaction*) {
    if (FSysTime >= 3) Sender->PassTo(Term);
  };
  Gate->OnEnter = [this](TBlock*, TTransaction*) { Gate->Lock(); };
  Model->Simulate(100);
  const TLog Expected = {
      {1, "Q", 1, "exit"},
      {3, "Gate", 1, "exit"},
      {3, "Term", 1, "end"},
  };
  EXPECT_EQ(Log, Expected);
  EXPECT_EQ(Gate->Count(), 0);
  EXPECT_TRUE(Gate->isLocked());
  EXPECT_FALSE(Gate->IsReadyToReceive(nullptr));
  EXPECT_EQ(Q->Count(), 2);
  EXPECT_EQ(Gate->Entries(), 1);
  EXPECT_EQ(Gate->Exits(), 1);

  // Lock, then Inverse: open.
  Gate->Lock();
  Gate->Inverse();
  EXPECT_FALSE(Gate->isLocked());
  EXPECT_TRUE(Gate->IsReadyToReceive(nullptr));
  Gate->Inverse();
  EXPECT_TRUE(Gate->isLocked());
}

TEST_F(GateTest, ResetEmptiesButKeepsTheLock) {
  Times = {1};
  Gate->OnRouting = nullptr;
  Gate->OnEnter = [this](TBlock*, TTransaction*) { Gate->Lock(); };
  Model->Simulate(100);
  ASSERT_EQ(Gate->Count(), 1);
  Model->Reset();
  EXPECT_TRUE(Gate->isLocked());
  EXPECT_EQ(Gate->Count(), 0);
  EXPECT_FALSE(Gate->HasTransaction());
  EXPECT_EQ(Gate->Transaction(), nullptr);
  EXPECT_EQ(Gate->Entries(), 0);
  Gate->Unlock();
  EXPECT_TRUE(Gate->IsReadyToReceive(nullptr));
}

// A sender held up by a locked gate passes in the first scan of the chain
// after Unlock: here Unlock comes from a block activation (a generation at
// 5), so the chain run that follows it moves both waiting transactions.
TEST_F(GateTest, BlockedSenderPassesInTheFirstScanAfterUnlock) {
  Times = {1, 2};
  Gate->Lock();
  auto* Opener = Make<TGenerator>("Opener");
  Opener->OnBeforeTimeGoOn = [](TAggregate* Self) { Self->NextTime(5); };
  Opener->OnAfterGeneration = [this](TBlock*, TTransaction*) { Gate->Unlock(); };
  Opener->OnRouting = [this](TBlock* Sender, TTransaction*) { Sender->PassTo(Term); };
  Model->Simulate(100);
  const TLog Expected = {
      // First scan: Q, then Opener (its own transaction), then the gate.
      {5, "Q", 1, "exit"},
      {5, "Gate", 1, "enter"},
      {5, "Term", 3, "end"},
      {5, "Gate", 1, "exit"},
      {5, "Term", 1, "end"},
      // Second scan.
      {5, "Q", 2, "exit"},
      {5, "Gate", 2, "enter"},
      {5, "Gate", 2, "exit"},
      {5, "Term", 2, "end"},
  };
  EXPECT_EQ(Log, Expected);
  EXPECT_EQ(Q->AverageTime(), 3.5L);
}

} // namespace
} // namespace quorin::test
