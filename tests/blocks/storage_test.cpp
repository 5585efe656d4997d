#include "fixture.h"
#include "quorin/detail/current.h"
#include "quorin/detail/future.h"

namespace quorin::test {
namespace {

// Gen makes one transaction at each of Times (sorted) and passes it into S,
// whose OnEnter orders the holding time Holds[k] for its k-th entry (none
// when negative). Finished transactions go through Exit, a gate locked until
// the Opener's activation at OpenAt, to the terminator.
class StorageTest : public BlockTest {
protected:
  void SetUp() override {
    ArriveAt(Gen, Times);
    Gen->OnRouting = [this](TBlock* Sender, TTransaction*) { Sender->PassTo(S); };
    S->OnEnter = [this](TBlock* Sender, TTransaction* T) {
      Note(Sender, T, "enter");
      const size_t K = static_cast<size_t>(S->Entries()) - 1;
      if (K < Holds.size() && Holds[K] >= 0) Sender->NextTime(Holds[K]);
    };
    S->OnExit = Noting("exit");
    S->OnRouting = [this](TBlock* Sender, TTransaction*) { Sender->PassTo(Exit); };
    Exit->Lock();
    Exit->OnRouting = [this](TBlock* Sender, TTransaction*) { Sender->PassTo(Term); };
    Opener->OnBeforeTimeGoOn = [this](TAggregate* Self) {
      if (OpenAt >= 0) Self->NextTime(OpenAt);
    };
    Opener->OnAfterGeneration = [this](TBlock*, TTransaction*) { Exit->Unlock(); };
    Opener->OnRouting = [this](TBlock* Sender, TTransaction*) { Sender->PassTo(Term); };
  }

  std::vector<double> Times, Holds;
  double OpenAt = -1;
  TGenerator* Gen = Make<TGenerator>("Gen");
  TStorage* S = Make<TStorage>("S");
  TGate* Exit = Make<TGate>("Exit");
  TTerminator* Term = Make<TTerminator>("Term");
  TGenerator* Opener = Make<TGenerator>("Opener");
};

// Capacity 2: A holds 5, B 3, both from 0; C (at 1, for 2) is refused. B
// finishes at 3 but keeps its unit until Exit opens at 4; then C gets in.
TEST_F(StorageTest, FinishedTransactionKeepsItsUnit) {
  S->SetCapacity(2);
  Times = {0, 0, 1};
  Holds = {5, 3, 2};
  OpenAt = 4;
  At({3.5}, [this] {
    EXPECT_EQ(S->Count(), 2);
    EXPECT_EQ(S->FinishedCount(), 1);
    EXPECT_EQ(S->Transaction()->GetTransID(), 2);
    EXPECT_FALSE(S->IsReadyToReceive(nullptr));
    EXPECT_TRUE(Gen->HasTransaction());
  });
  Model->Simulate(100);
  const TLog Expected = {{0, "S", 1, "enter"}, {0, "S", 2, "enter"}, {4, "S", 2, "exit"},
                         {4, "S", 3, "enter"}, {5, "S", 1, "exit"},  {6, "S", 3, "exit"}};
  EXPECT_EQ(Log, Expected);
  EXPECT_EQ(S->Count(), 0);
  EXPECT_FALSE(S->HasTransaction());
  EXPECT_EQ(S->Exits(), 3);
  EXPECT_EQ(S->AverageTime(), (4 + 5 + 2) / 3.0L);
  EXPECT_EQ(S->MaxCount(), 2);
}

// A 5, B 3, C 4 from 0 and D 2 from 1: they finish B, D (same time as B,
// ordered after it), C, A, and nobody can leave before 10. They leave in the
// order of finishing. The storage joins the chain once, at the first finish.
TEST_F(StorageTest, OfferedInOrderOfFinishing) {
  Times = {0, 0, 0, 1};
  Holds = {5, 3, 4, 2};
  OpenAt = 10;
  At({2}, [this] {
    EXPECT_EQ(CurrentManager->Count(), 0);
    EXPECT_FALSE(S->HasTransaction());
  });
  At({6}, [this] {
    EXPECT_EQ(CurrentManager->Count(), 1);
    EXPECT_EQ(CurrentManager->First()->Block, S);
    EXPECT_EQ(S->Count(), 4);
    EXPECT_EQ(S->FinishedCount(), 4);
    EXPECT_EQ(S->MaxCount(), 4);
  });
  Model->Simulate(100);
  const TLog Expected = {{0, "S", 1, "enter"}, {0, "S", 2, "enter"}, {0, "S", 3, "enter"},
                         {1, "S", 4, "enter"}, {10, "S", 2, "exit"}, {10, "S", 4, "exit"},
                         {10, "S", 3, "exit"}, {10, "S", 1, "exit"}};
  EXPECT_EQ(Log, Expected);
  EXPECT_EQ(CurrentManager->Count(), 0);
}

// Entered at 2 for 3, finished at 5, left at 7: the residence is 5.
TEST_F(StorageTest, ResidenceRunsFromEntryToExit) {
  Times = {2};
  Holds = {3};
  OpenAt = 7;
  Model->Simulate(100);
  EXPECT_EQ(S->Exits(), 1);
  EXPECT_EQ(S->AverageTime(), 5);
  EXPECT_NEAR(double(S->AverageCount()), 5.0 / 7, 1e-15);
  EXPECT_NEAR(double(S->Usage()), 5.0 / 7, 1e-15);
}

// Without a holding time a transaction never finishes and keeps its unit;
// Reset forgets it.
TEST_F(StorageTest, NoHoldingTimeNeverFinishes) {
  Times = {0, 1};
  Holds = {-1, 2};
  OpenAt = 0;
  Model->Simulate(100);
  EXPECT_EQ(S->Count(), 1);
  EXPECT_EQ(S->Exits(), 1);
  EXPECT_FALSE(S->HasTransaction());
  Model->Reset();
  EXPECT_EQ(S->Count(), 0);
  EXPECT_EQ(S->FinishedCount(), 0);
  EXPECT_EQ(S->Entries(), 0);
  EXPECT_EQ(S->Transaction(), nullptr);
}

// OnRouting orders an activation for the finished transaction it is offered
// (and one comes for an empty storage): both are ignored, and the lists
// stay whole. A finishes at 2, B at 5 while A still waits; at 10 they leave
// A first. Were A's second activation taken as the end of a holding time, it
// would be unlinked from the holding list where B is.
TEST_F(StorageTest, ActivationForFinishedTransactionIsIgnored) {
  Times = {0, 0};
  Holds = {2, 5};
  OpenAt = 10;
  S->OnRouting = [this](TBlock* Sender, TTransaction*) {
    if (FSysTime < 10) Sender->NextTime(1);
    Sender->PassTo(Exit);
  };
  At({0.5}, [this] { S->NextTime(0.1); });
  At({4}, [this] {
    EXPECT_EQ(S->Count(), 2);
    EXPECT_EQ(S->FinishedCount(), 1);
  });
  Model->Simulate(100);
  const TLog Expected = {
      {0, "S", 1, "enter"}, {0, "S", 2, "enter"}, {10, "S", 1, "exit"}, {10, "S", 2, "exit"}};
  EXPECT_EQ(Log, Expected);
  EXPECT_EQ(S->Count(), 0);
  EXPECT_EQ(S->FinishedCount(), 0);
}

} // namespace
} // namespace quorin::test
