#include <stdexcept>

#include "fixture.h"
#include "quorin/detail/current.h"
#include "quorin/detail/future.h"

namespace quorin::test {
namespace {

// C passes what it makes to Exit, a gate (unlocked unless a test locks it),
// in front of Done, a queue that keeps what it gets. C notes generations and
// exits; the model counts C's activations.
class CreatorTest : public BlockTest {
protected:
  void SetUp() override {
    C->OnAfterGeneration = Noting("made");
    C->OnExit = Noting("exit");
    C->OnRouting = [this](TBlock* Sender, TTransaction*) { Sender->PassTo(Exit); };
    Exit->OnRouting = [this](TBlock* Sender, TTransaction*) { Sender->PassTo(Done); };
    Model->OnNewTime = [this](TAggregate* A, TTransaction*) {
      if (A == C) ++Activations;
    };
  }

  int Activations = 0;
  TCreator* C = Make<TCreator>("C");
  TGate* Exit = Make<TGate>("Exit");
  TQueue* Done = Make<TQueue>("Done");
};

// A batch made from a scheduler (whose activation is not followed by a run of
// the chain) leaves at the model time it was made, in creation order.
TEST_F(CreatorTest, BatchFromASchedulerLeavesAtOnce) {
  At({5}, [this] { C->Generate(3); });
  Model->Simulate(100);
  const TLog Expected = {{5, "C", 1, "made"}, {5, "C", 2, "made"}, {5, "C", 3, "made"},
                         {5, "C", 1, "exit"}, {5, "C", 2, "exit"}, {5, "C", 3, "exit"}};
  EXPECT_EQ(Log, Expected);
  EXPECT_EQ(Done->Count(), 3);
  EXPECT_EQ(C->Count(), 0);
  EXPECT_EQ(C->Entries(), 0);
  EXPECT_EQ(C->Exits(), 3);
  EXPECT_EQ(Activations, 1);
}

TEST_F(CreatorTest, NothingForZeroOrLess) {
  At({5}, [this] {
    C->Generate(0);
    C->Generate(-2);
    EXPECT_EQ(C->Count(), 0);
    EXPECT_FALSE(C->HasTransaction());
    EXPECT_EQ(CurrentManager->Count(), 0);
    EXPECT_EQ(FutureManager->Count(), 0);
  });
  Model->Simulate(100);
  EXPECT_TRUE(Log.empty());
  EXPECT_EQ(Activations, 0);
  EXPECT_EQ(Model->TransactionCount(), 0);
}

// While the target refuses, new batches queue behind the waiting ones; the
// creator is in the chain once and has one activation pending at a time,
// however often Generate is called.
TEST_F(CreatorTest, LaterBatchesQueueBehindTheWaitingOnes) {
  Exit->Lock();
  At({1}, [this] { C->Generate(2); });
  At({2}, [this] {
    C->Generate(1);
    C->Generate(1);
    EXPECT_EQ(C->Count(), 4);
    EXPECT_EQ(CurrentManager->Count(), 1);
  });
  At({3}, [this] {
    EXPECT_EQ(C->Count(), 4);
    EXPECT_EQ(C->Transaction()->GetTransID(), 1);
    Exit->Unlock();
    C->Generate(1); // its activation runs the chain
  });
  Done->OnEnter = Noting("done");
  Model->Simulate(100);
  std::vector<int32_t> Order;
  for (const TLogEntry& E : Log)
    if (std::get<3>(E) == "done") Order.push_back(std::get<2>(E));
  EXPECT_EQ(Order, (std::vector<int32_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(Activations, 3);
  EXPECT_EQ(C->Exits(), 5);
}

// A creator that makes its next batch from its own OnRouting, once the last
// one has left: it stays in the chain once, and each batch leaves at once.
TEST_F(CreatorTest, RefillFromItsOwnRoutingKeepsOneChainEntry) {
  int Batches = 1;
  auto Entries = [this] {
    int N = 0;
    for (TCurrentEvent* E = CurrentManager->First(); E; E = E->Next)
      N += E->Block == C;
    return N;
  };
  C->OnAfterGeneration = nullptr;
  C->OnRouting = [&](TBlock* Sender, TTransaction*) {
    Sender->PassTo(Exit);
    if (C->Count() == 0 && Batches < 3) {
      ++Batches;
      C->Generate(2);
      EXPECT_EQ(Entries(), 1);
    }
  };
  At({5}, [this] { C->Generate(1); });
  Model->Simulate(100);
  EXPECT_EQ(Done->Count(), 5);
  EXPECT_EQ(C->Exits(), 5);
  EXPECT_EQ(Entries(), 0);
  EXPECT_EQ(FSysTime, 5);
}

// A creator refuses entries: a transaction passed to it stays with the
// sender, never swallowed.
TEST_F(CreatorTest, RefusesEntries) {
  auto* Gen = Make<TGenerator>("Gen");
  Gen->OnBeforeTimeGoOn = [](TAggregate* Self) { Self->NextTime(1); };
  Gen->OnRouting = [this](TBlock* Sender, TTransaction*) { EXPECT_FALSE(Sender->PassTo(C)); };
  EXPECT_FALSE(C->IsReadyToReceive(nullptr));
  Model->Simulate(100);
  EXPECT_TRUE(Gen->HasTransaction());
  EXPECT_EQ(C->Count(), 0);
  EXPECT_EQ(C->Entries(), 0);
}

// An OnAfterGeneration that throws: the exception leaves Simulate, and what
// was made is on offer; the next Simulate passes it on at the same time.
TEST_F(CreatorTest, ThrowingHandlerLeavesTheBatchOnOffer) {
  C->OnAfterGeneration = [](TBlock*, TTransaction* T) {
    if (T->GetTransID() == 2) throw std::runtime_error("made");
  };
  At({5}, [this] { C->Generate(3); });
  EXPECT_THROW(Model->Simulate(100), std::runtime_error);
  EXPECT_EQ(C->Count(), 2);
  EXPECT_TRUE(C->HasTransaction());
  Model->Simulate(100);
  EXPECT_EQ(Done->Count(), 2);
  EXPECT_EQ(FSysTime, 5);
}

TEST_F(CreatorTest, ResetLeavesItIdle) {
  Exit->Lock();
  At({1}, [this] { C->Generate(2); });
  Model->Simulate(100);
  EXPECT_EQ(C->Count(), 2);
  Model->Reset();
  EXPECT_EQ(C->Count(), 0);
  EXPECT_EQ(C->Exits(), 0);
  EXPECT_FALSE(C->HasTransaction());
  EXPECT_EQ(C->Transaction(), nullptr);
  Exit->Unlock();
  Model->Simulate(100);
  EXPECT_EQ(Done->Count(), 2);
  EXPECT_EQ(Activations, 2);
}

} // namespace
} // namespace quorin::test
