#include <gtest/gtest.h>

#include <stdexcept>

#include "quorin/blocks/gate.h"
#include "quorin/blocks/queue.h"
#include "quorin/detail/current.h"
#include "test_blocks.h"

using namespace quorin;
using test::TBuffer;
using test::TSink;

namespace {

// A chain over its own heap; blocks join it through the global CurrentManager.
class Chain : public testing::Test {
protected:
  void SetUp() override {
    GlobalHeap = HeapCreate(0, 2048, 1 << 20);
    CurrentManager = new TCurrentManager(1024);
    LCECount = LCESum = LCESumCount = 0;
  }
  void TearDown() override {
    delete CurrentManager;
    CurrentManager = nullptr;
    HeapDestroy(GlobalHeap);
    GlobalHeap = nullptr;
  }
  // Routing that logs each try as "<name>-><receiver>" plus "+" or "-".
  void Route(TBlock* From, TBlock* To) {
    From->OnRouting = [this, To](TBlock* Sender, TTransaction*) {
      const bool Moved = Sender->PassTo(To);
      Log.push_back(Sender->Name() + "->" + To->Name() + (Moved ? "+" : "-"));
    };
  }
  std::vector<std::string> Log;
  TComponent Form{nullptr};
  test::TMessageCapture Capture;
};

TEST_F(Chain, EmptyRunCountsTheCallOnly) {
  FlagPass = true;
  CurrentManager->Run();
  EXPECT_EQ(LCESumCount, 1);
  EXPECT_EQ(LCESum, 0);
  EXPECT_EQ(LCECount, 0);
  EXPECT_FALSE(FlagPass);
}

TEST_F(Chain, RescansWhileSomethingMovesAndDropsEmptyBlocks) {
  // A waits for R, which is full; R's own exit makes room in the first scan,
  // and the second scan moves A into R, which then passes on in that scan.
  auto* A = new TBuffer(&Form);
  auto* R = new TBuffer(&Form, 1);
  auto* Sink = new TSink(&Form);
  A->SetName("A");
  R->SetName("R");
  Sink->SetName("S");
  TTransaction X, Y;
  A->EnterToBlock(&X);
  R->EnterToBlock(&Y);
  Route(A, R);
  Route(R, Sink);
  ASSERT_EQ(CurrentManager->Count(), 2);
  CurrentManager->Run();
  EXPECT_EQ(Log, (std::vector<std::string>{"A->R-", "R->S+", "A->R+", "R->S+"}));
  EXPECT_EQ(CurrentManager->Count(), 0);
  EXPECT_EQ(LCECount, 4);
  EXPECT_EQ(LCESum, 2);
  EXPECT_FALSE(FlagPass);
}

TEST_F(Chain, BlockedBlocksStayAndAreVisitedOncePerScan) {
  auto* Stuck = new TBuffer(&Form);
  auto* Full = new TBuffer(&Form, 1);
  auto* Mover = new TBuffer(&Form);
  auto* Sink = new TSink(&Form);
  Stuck->SetName("Stuck");
  Full->SetName("Full");
  Mover->SetName("Mover");
  Sink->SetName("S");
  TTransaction T1, T2, T3, T4;
  Full->EnterToBlock(&T1); // joins the chain, offers T1 but has no routing
  Stuck->EnterToBlock(&T2);
  Mover->EnterToBlock(&T3);
  Mover->EnterToBlock(&T4);
  Route(Stuck, Full);
  Route(Mover, Sink);
  CurrentManager->Run();
  // Mover passes one transaction per scan; Stuck is retried each time.
  EXPECT_EQ(Log, (std::vector<std::string>{"Stuck->Full-", "Mover->S+", "Stuck->Full-", "Mover->S+",
                                           "Stuck->Full-"}));
  EXPECT_EQ(CurrentManager->Count(), 2);
  EXPECT_EQ(LCECount, 8);
}

TEST_F(Chain, InsertFirstIsRetriedFirst) {
  auto* Late = new TBuffer(&Form);
  auto* Early = new TBuffer(&Form);
  auto* Sink = new TSink(&Form);
  Late->SetName("Late");
  Early->SetName("Early");
  Sink->SetName("S");
  TTransaction T1, T2;
  Late->EnterToBlock(&T1);
  Early->Held.push_back(&T2);
  Early->FTransaction = &T2;
  Early->FHasTransaction = true;
  CurrentManager->InsertFirst(Early);
  Route(Late, Sink);
  Route(Early, Sink);
  CurrentManager->Run();
  EXPECT_EQ(Log, (std::vector<std::string>{"Early->S+", "Late->S+"}));
}

// A block already in the chain that the application puts first is moved to
// the front: retried before the others in the next scan, and still once per
// scan, also when it moves itself from its own routing in mid-scan.
TEST_F(Chain, InsertFirstMovesABlockOfTheChainToTheFront) {
  auto* Full = new TBuffer(&Form, 1);
  auto* A = new TBuffer(&Form);
  auto* Mover = new TBuffer(&Form);
  auto* Sink = new TSink(&Form);
  Full->SetName("Full");
  A->SetName("A");
  Mover->SetName("Mover");
  Sink->SetName("S");
  TTransaction T1, T2, T3, T4;
  Full->EnterToBlock(&T1); // offers, has no routing
  A->EnterToBlock(&T2);
  Mover->EnterToBlock(&T3);
  Mover->EnterToBlock(&T4);
  Route(Mover, Sink);
  A->OnRouting = [this, Full](TBlock* Sender, TTransaction*) {
    const bool Moved = Sender->PassTo(Full);
    Log.push_back("A->Full" + std::string(Moved ? "+" : "-"));
    CurrentManager->InsertFirst(Sender);
  };
  CurrentManager->InsertFirst(Mover); // from the back to the front
  EXPECT_EQ(CurrentManager->Count(), 3);
  EXPECT_EQ(CurrentManager->First(), Mover->ChainEntry());
  CurrentManager->Run();
  EXPECT_EQ(Log, (std::vector<std::string>{"Mover->S+", "A->Full-", "A->Full-", "Mover->S+",
                                           "A->Full-"}));
  EXPECT_EQ(CurrentManager->Count(), 2); // A first, then Full
  EXPECT_EQ(CurrentManager->First(), A->ChainEntry());
  EXPECT_EQ(CurrentManager->First()->Next, Full->ChainEntry());
}

// A block is in the chain at most once: joining again answers its entry,
// which keeps its place; leaving and the chain's end forget the entry.
TEST_F(Chain, ABlockIsInTheChainOnce) {
  auto* A = new TBuffer(&Form);
  auto* B = new TBuffer(&Form);
  TCurrentEvent* EntryA = CurrentManager->Add(A);
  TCurrentEvent* EntryB = CurrentManager->Add(B);
  EXPECT_EQ(CurrentManager->Add(A), EntryA);
  EXPECT_EQ(CurrentManager->First(), EntryA);
  // InsertFirst of a block in the chain moves it to the front, once.
  EXPECT_NE(CurrentManager->InsertFirst(B), nullptr);
  EntryB = B->ChainEntry();
  EXPECT_EQ(CurrentManager->Count(), 2);
  EXPECT_EQ(CurrentManager->First(), EntryB);
  EXPECT_EQ(EntryB->Next, EntryA);
  EXPECT_EQ(CurrentManager->InsertFirst(B), EntryB); // first already
  EXPECT_EQ(CurrentManager->Count(), 2);
  EXPECT_EQ(A->ChainEntry(), EntryA);
  CurrentManager->Run(); // neither offers anything: both are dropped
  EXPECT_EQ(CurrentManager->Count(), 0);
  EXPECT_EQ(A->ChainEntry(), nullptr);
  CurrentManager->Add(B);
  delete CurrentManager;
  CurrentManager = nullptr;
  EXPECT_EQ(B->ChainEntry(), nullptr);
  CurrentManager = new TCurrentManager(1024);
}

TEST_F(Chain, AfterAnAllocationFailureRunDoesNothing) {
  HeapDestroy(GlobalHeap);
  GlobalHeap = HeapCreate(0, 2048, 1024); // room for one page of entries
  delete CurrentManager;
  CurrentManager = new TCurrentManager(1024);
  const int PerPage = 1024 / int(sizeof(TCurrentEvent));
  for (int i = 0; i < PerPage; ++i)
    ASSERT_NE(CurrentManager->Add(new TBuffer(&Form)), nullptr);
  auto* B = new TBuffer(&Form);
  EXPECT_EQ(CurrentManager->Add(B), nullptr);
  EXPECT_EQ(B->ChainEntry(), nullptr);
  EXPECT_FALSE(CurrentManager->Ok());
  EXPECT_EQ(CurrentManager->Count(), PerPage);
  CurrentManager->Run();
  EXPECT_EQ(LCESum, PerPage);
  EXPECT_EQ(LCESumCount, 1);
  EXPECT_EQ(LCECount, 0);
  EXPECT_TRUE(FlagPass);
  EXPECT_EQ(CurrentManager->Count(), PerPage);
  FlagPass = false;
}

// A receiver of a block class of the model's own, which tells the chain
// when it opens.
class TSwitch : public TBlock {
public:
  explicit TSwitch(TComponent* Owner, const std::string& Name) : TBlock(Owner) { SetName(Name); }
  void Open() {
    FOpen = true;
    WakeWaiters();
  }
  bool IsReadyToReceive(TTransaction*) override { return FOpen; }
  void EnterToBlock(TTransaction* Trans) override {
    TBlock::EnterToBlock(Trans);
    ++FEntries;
  }

private:
  bool FOpen = false;
};

// The chain retrying on change: a blocked block waits on the receivers that
// refused it and is routed again only after one of them, or it, changed.
class RetryOnChange : public Chain {
protected:
  void SetUp() override {
    Chain::SetUp();
    CurrentManager->SetRetry(TRetry::OnChange);
  }
  // A buffer named Name holding a transaction of its own, so it offers.
  TBuffer* Holding(const std::string& Name, std::size_t Capacity = 0) {
    auto* B = new TBuffer(&Form, Capacity);
    B->SetName(Name);
    Own.emplace_back();
    B->EnterToBlock(&Own.back());
    return B;
  }
  std::deque<TTransaction> Own;
};

TEST_F(RetryOnChange, ABlockedBlockWaitsUntilAReceiverItTriedSignals) {
  struct TCase {
    const char* Name;
    std::function<TBlock*(TComponent&)> MakeFull; // a receiver with no room
    std::function<void(TBlock*)> Signal;          // what gives it room
  } Cases[] = {
      {"unlock",
       [](TComponent& F) {
         auto* G = new TGate(&F);
         G->Lock();
         return G;
       },
       [](TBlock* R) { static_cast<TGate*>(R)->Unlock(); }},
      {"capacity",
       [this](TComponent& F) {
         auto* Q = new TQueue(&F);
         Q->SetCapacity(1);
         Own.emplace_back();
         Q->EnterToBlock(&Own.back());
         return Q;
       },
       [](TBlock* R) { static_cast<TQueue*>(R)->SetCapacity(2); }},
      {"a block class's own signal", [](TComponent& F) { return new TSwitch(&F, "R"); },
       [](TBlock* R) { static_cast<TSwitch*>(R)->Open(); }},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    Log.clear();
    TBlock* Full = C.MakeFull(Form);
    Full->SetName("R");
    TBuffer* Stuck = Holding("Stuck");
    Route(Stuck, Full);
    CurrentManager->Run();
    EXPECT_EQ(Log, (std::vector<std::string>{"Stuck->R-"}));
    EXPECT_TRUE(Stuck->Parked());
    EXPECT_EQ(CurrentManager->ParkedCount(), 1);
    EXPECT_EQ(Stuck->ChainEntry()->Block, Stuck); // keeps its entry while parked
    CurrentManager->Run();
    CurrentManager->Run();
    EXPECT_EQ(Log.size(), 1u); // not routed while nothing changed
    C.Signal(Full);
    EXPECT_FALSE(Stuck->Parked());
    EXPECT_EQ(CurrentManager->ParkedCount(), 0);
    CurrentManager->Run();
    EXPECT_EQ(Log, (std::vector<std::string>{"Stuck->R-", "Stuck->R+"}));
    EXPECT_EQ(Stuck->ChainEntry(), nullptr);
    delete Full; // its transactions are the test's own
    delete Stuck;
    delete CurrentManager;
    CurrentManager = new TCurrentManager(1024);
    CurrentManager->SetRetry(TRetry::OnChange);
  }
}

// Woken blocks take their places in the order they joined the chain, so the
// routing runs as with a retry at every scan, minus the refused calls: here
// the very same log.
TEST_F(RetryOnChange, WokenBlocksAreRoutedInTheOrderTheyJoined) {
  auto* Sink = new TSink(&Form);
  Sink->SetName("S");
  TBuffer* Full = Holding("Full", 1);
  TBuffer* A = Holding("A");
  TBuffer* C = Holding("C");
  TBuffer* B = Holding("B");
  for (TBuffer* X : {A, C, B})
    Route(X, Full);
  CurrentManager->Run();
  EXPECT_EQ(CurrentManager->ParkedCount(), 3);
  EXPECT_EQ(CurrentManager->Count(), 1); // Full: its routing tries nothing
  Log.clear();
  Route(Full, Sink);
  CurrentManager->Run();
  EXPECT_EQ(Log, (std::vector<std::string>{"Full->S+", "A->Full+", "C->Full-", "B->Full-",
                                           "Full->S+", "C->Full+", "B->Full-", "Full->S+",
                                           "B->Full+", "Full->S+"}));
  EXPECT_EQ(Sink->Ids.size(), 4u);
  EXPECT_EQ(CurrentManager->Count() + CurrentManager->ParkedCount(), 0);
}

TEST_F(RetryOnChange, WaitsOnEveryReceiverTriedAndOnlyOnThose) {
  auto* R1 = new TSwitch(&Form, "R1");
  auto* R2 = new TSwitch(&Form, "R2");
  TBuffer* Either = Holding("Either");
  TBuffer* Idle = Holding("Idle");
  Either->OnRouting = [&](TBlock* S, TTransaction*) {
    Log.push_back("Either");
    if (!S->PassTo(R1)) S->PassTo(R2);
  };
  // Decides by something else than a receiver's room: never parked.
  Idle->OnRouting = [&](TBlock*, TTransaction*) { Log.push_back("Idle"); };
  CurrentManager->Run();
  CurrentManager->Run();
  EXPECT_EQ(Log, (std::vector<std::string>{"Either", "Idle", "Idle"}));
  EXPECT_TRUE(Either->Parked());
  EXPECT_FALSE(Idle->Parked());
  R2->Open();
  EXPECT_FALSE(Either->Parked());
  Log.clear();
  CurrentManager->Run(); // Either moves, so the scan is repeated
  EXPECT_EQ(Log, (std::vector<std::string>{"Either", "Idle", "Idle"}));
  EXPECT_EQ(R2->Entries(), 1);
}

// Destroying a parked block, or a receiver that blocks wait on, leaves no
// link behind (the sanitizer build sees any); the waiters are routed again.
TEST_F(RetryOnChange, DestroyedBlocksLeaveNoWaits) {
  TBuffer* Full = Holding("Full", 1);
  TBuffer* A = Holding("A");
  TBuffer* B = Holding("B");
  Route(A, Full);
  Route(B, Full);
  CurrentManager->Run();
  ASSERT_EQ(CurrentManager->ParkedCount(), 2);
  delete A;
  EXPECT_EQ(CurrentManager->ParkedCount(), 1);
  delete Full;
  EXPECT_FALSE(B->Parked());
  B->OnRouting = nullptr;
  CurrentManager->Run();
  EXPECT_EQ(CurrentManager->ParkedCount(), 0);
  EXPECT_EQ(CurrentManager->Count(), 1); // B, still offering
}

TEST_F(RetryOnChange, AThrowingRoutingParksNothing) {
  TBuffer* Full = Holding("Full", 1);
  TBuffer* A = Holding("A");
  bool Throw = true;
  A->OnRouting = [&](TBlock* S, TTransaction*) {
    S->PassTo(Full);
    if (Throw) throw std::runtime_error("routing");
  };
  EXPECT_THROW(CurrentManager->Run(), std::runtime_error);
  EXPECT_FALSE(A->Parked());
  Throw = false;
  CurrentManager->Run();
  EXPECT_TRUE(A->Parked());
  // The chain's end leaves no block parked or pointing into its pools.
  delete CurrentManager;
  CurrentManager = nullptr;
  EXPECT_FALSE(A->Parked());
  EXPECT_EQ(A->ChainEntry(), nullptr);
  CurrentManager = new TCurrentManager(1024);
}

} // namespace
