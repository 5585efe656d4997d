#include <set>
#include <stdexcept>

#include "fixture.h"
#include "quorin/detail/future.h"

namespace quorin::test {
namespace {

// Gen makes one transaction at each of Times (sorted) and passes it into B,
// a divider or an assembler; one that B refuses stays in Gen. B passes to
// Exit, a gate locked until OpenAt, in front of Done, a queue that keeps
// what it gets. B notes entries and exits.
template <class TB> class SplitJoinTest : public BlockTest {
protected:
  void SetUp() override {
    ArriveAt(Gen, Times);
    Gen->OnRouting = [this](TBlock* Sender, TTransaction*) { Sender->PassTo(B); };
    B->OnEnter = Noting("enter");
    B->OnExit = Noting("exit");
    B->OnRouting = [this](TBlock* Sender, TTransaction*) { Sender->PassTo(Exit); };
    Exit->OnRouting = [this](TBlock* Sender, TTransaction*) { Sender->PassTo(Done); };
    Opener->OnBeforeTimeGoOn = [this](TAggregate* Self) {
      if (OpenAt >= 0)
        Self->NextTime(OpenAt);
      else
        Exit->Unlock();
    };
    Opener->OnAfterGeneration = [this](TBlock*, TTransaction*) { Exit->Unlock(); };
    Opener->OnRouting = [this](TBlock* Sender, TTransaction*) { Sender->PassTo(Term); };
    Exit->Lock();
  }

  std::vector<double> Times;
  double OpenAt = -1; // open from the start
  TGenerator* Gen = Make<TGenerator>("Gen");
  TB* B = Make<TB>("B");
  TGate* Exit = Make<TGate>("Exit");
  TQueue* Done = Make<TQueue>("Done");
  TTerminator* Term = Make<TTerminator>("Term");
  TGenerator* Opener = Make<TGenerator>("Opener");
};

using DividerTest = SplitJoinTest<TDivider>;
using AssemblerTest = SplitJoinTest<TAssembler>;

// One entry (priority 7, marked) leaves as three: the two copies first, the
// last made first, then the entering transaction.
TEST_F(DividerTest, SplitsIntoCapacityWithPriorityAndMark) {
  EXPECT_EQ(B->Capacity(), 1);
  B->SetCapacity(3);
  Times = {1};
  Gen->OnAfterGeneration = [](TBlock*, TTransaction* T) {
    T->SetPrty(7);
    T->SetPreempt();
  };
  Model->Simulate(100);
  const TLog Expected = {
      {1, "B", 1, "enter"}, {1, "B", 3, "exit"}, {1, "B", 2, "exit"}, {1, "B", 1, "exit"}};
  EXPECT_EQ(Log, Expected);
  EXPECT_EQ(B->Entries(), 1);
  EXPECT_EQ(B->Exits(), 3);
  EXPECT_EQ(B->Count(), 0);
  EXPECT_TRUE(B->IsReadyToReceive(nullptr));
  ASSERT_EQ(Done->Count(), 3);
  for (TTransaction* T = Done->Transaction(); T; T = T->FNext) {
    EXPECT_EQ(T->GetPrty(), 7);
    EXPECT_TRUE(T->IsPreempt());
    EXPECT_EQ(T->FBlock, Done);
  }
}

// Capacity 1 or less: the transaction passes through unchanged.
TEST_F(DividerTest, CapacityOneOrLessPassesThrough) {
  for (int32_t Capacity : {1, 0, -4}) {
    B->SetCapacity(Capacity);
    Times = {1};
    Model->Simulate(100);
    EXPECT_EQ(Done->Count(), 1) << Capacity;
    EXPECT_EQ(B->Exits(), 1) << Capacity;
    EXPECT_EQ(Model->TransactionCount(), 1) << Capacity;
    Model->Reset();
  }
  EXPECT_EQ(Log.size(), 6u);
}

// The target refuses until 5: the divider keeps its three, refuses the
// arrival at 2 (which waits in Gen) and takes it after the last departure.
// Capacity raised to 4 at 3, while it offers, changes nothing for the split
// under way: it is read at the next entry.
TEST_F(DividerTest, RefusesEntriesWhileOffering) {
  B->SetCapacity(3);
  Times = {1, 2};
  OpenAt = 5;
  At({3}, [this] {
    EXPECT_EQ(B->Count(), 3);
    EXPECT_FALSE(B->IsReadyToReceive(nullptr));
    EXPECT_TRUE(Gen->HasTransaction());
    B->SetCapacity(4);
  });
  Model->Simulate(100);
  EXPECT_EQ(Done->Count(), 7);
  EXPECT_EQ(B->Entries(), 2);
  EXPECT_EQ(B->Exits(), 7);
  EXPECT_EQ(B->Count(), 0);
}

// Copies are made as a generator makes transactions: with three freed
// records waiting (numbers 1 to 3), the arrival at 1 takes one and its two
// copies the others, so the three live transactions carry distinct numbers.
TEST_F(DividerTest, CopiesNeverShareANumberWithALiveTransaction) {
  B->SetCapacity(3);
  Times = {0, 0, 0, 1};
  Gen->OnRouting = [this](TBlock* Sender, TTransaction*) {
    Sender->PassTo(FSysTime < 1 ? static_cast<TBlock*>(Term) : B);
  };
  Model->Simulate(100);
  std::set<int32_t> Numbers;
  for (TTransaction* T = Done->Transaction(); T; T = T->FNext)
    Numbers.insert(T->GetTransID());
  EXPECT_EQ(Numbers, (std::set<int32_t>{1, 2, 3}));
  EXPECT_EQ(Model->TransactionCount(), 3);
}

// An OnEnter that throws: the exception leaves Simulate and the split is
// complete all the same, offered and refusing further entries.
TEST_F(DividerTest, ThrowingOnEnterStillCompletesTheSplit) {
  B->SetCapacity(3);
  OpenAt = 10;
  Times = {1};
  B->OnEnter = [](TBlock*, TTransaction*) { throw std::runtime_error("enter"); };
  EXPECT_THROW(Model->Simulate(100), std::runtime_error);
  EXPECT_EQ(B->Count(), 3);
  EXPECT_TRUE(B->HasTransaction());
  EXPECT_FALSE(B->IsReadyToReceive(nullptr));
}

// Reset of an offering divider leaves nothing behind: the next run starts
// with an empty, ready divider and splits normally.
TEST_F(DividerTest, ResetLeavesNothingStale) {
  B->SetCapacity(2);
  Times = {1};
  OpenAt = 1000;
  At({20}, [] {}); // the run stops there, long before the gate opens
  Model->Simulate(10);
  EXPECT_EQ(B->Count(), 2);
  Model->Reset();
  EXPECT_EQ(B->Count(), 0);
  EXPECT_EQ(B->Entries(), 0);
  EXPECT_EQ(B->Exits(), 0);
  EXPECT_FALSE(B->HasTransaction());
  EXPECT_EQ(B->Transaction(), nullptr);
  EXPECT_TRUE(B->IsReadyToReceive(nullptr));
  OpenAt = -1;
  Log.clear();
  Model->Simulate(100);
  const TLog Expected = {{1, "B", 1, "enter"}, {1, "B", 2, "exit"}, {1, "B", 1, "exit"}};
  EXPECT_EQ(Log, Expected);
  EXPECT_EQ(Done->Count(), 2);
}

// Three entries make one set: the first two go back to the pool, the third
// is offered, and Count reads 3 until it leaves at 5. The freed records
// serve the later arrivals, the last freed (2) first.
TEST_F(AssemblerTest, JoinsCapacityIntoTheLastOne) {
  B->SetCapacity(3);
  Times = {1, 2, 3, 6, 7};
  OpenAt = 5;
  At({2.5}, [this] {
    EXPECT_EQ(B->Count(), 2);
    EXPECT_FALSE(B->HasTransaction());
    EXPECT_TRUE(B->IsReadyToReceive(nullptr));
  });
  At({4}, [this] {
    EXPECT_EQ(B->Count(), 3);
    EXPECT_TRUE(B->HasTransaction());
    EXPECT_FALSE(B->IsReadyToReceive(nullptr));
    EXPECT_TRUE(TransManager->isDeadExist());
  });
  Model->Simulate(100);
  const TLog Expected = {{1, "B", 1, "enter"}, {2, "B", 2, "enter"}, {3, "B", 3, "enter"},
                         {5, "B", 3, "exit"},  {6, "B", 2, "enter"}, {7, "B", 1, "enter"}};
  EXPECT_EQ(Log, Expected);
  EXPECT_EQ(B->Count(), 2);
  EXPECT_EQ(B->Entries(), 5);
  EXPECT_EQ(B->Exits(), 1);
  EXPECT_EQ(Model->TransactionCount(), 3); // nothing more was ever carved
}

// Capacity 1 or less: every entering transaction is offered at once.
TEST_F(AssemblerTest, CapacityOneOrLessPassesThrough) {
  B->SetCapacity(0);
  Times = {1, 2};
  Model->Simulate(100);
  EXPECT_EQ(Done->Count(), 2);
  EXPECT_EQ(B->Exits(), 2);
  EXPECT_EQ(B->Count(), 0);
}

// Capacity lowered to 2 while 3 are gathered: the next entry completes the
// set of 4, keeping the newest.
TEST_F(AssemblerTest, LoweredCapacityCompletesAtNextEntry) {
  B->SetCapacity(5);
  Times = {1, 2, 3, 5};
  At({4}, [this] {
    B->SetCapacity(2);
    EXPECT_EQ(B->Count(), 3);
    EXPECT_FALSE(B->HasTransaction());
  });
  Done->OnEnter = Noting("done");
  Model->Simulate(100);
  EXPECT_EQ(Log.back(), TLogEntry(5, "Done", 4, "done"));
  EXPECT_EQ(Done->Count(), 1);
  EXPECT_EQ(B->Count(), 0);
  EXPECT_EQ(B->Entries(), 4);
  EXPECT_EQ(B->Exits(), 1);
}

// Reset while gathering: the next run starts with an empty assembler.
TEST_F(AssemblerTest, ResetLeavesNothingStale) {
  B->SetCapacity(3);
  Times = {1, 2};
  Model->Simulate(100);
  EXPECT_EQ(B->Count(), 2);
  Model->Reset();
  EXPECT_EQ(B->Count(), 0);
  EXPECT_EQ(B->Entries(), 0);
  EXPECT_TRUE(B->IsReadyToReceive(nullptr));
  Times = {1, 2, 3};
  Model->Simulate(100);
  EXPECT_EQ(Done->Count(), 1);
  EXPECT_EQ(B->Count(), 0);
}

} // namespace
} // namespace quorin::test
