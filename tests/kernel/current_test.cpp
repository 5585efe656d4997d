#include <gtest/gtest.h>

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

// A block is in the chain at most once: joining again answers its entry,
// which keeps its place; leaving and the chain's end forget the entry.
TEST_F(Chain, ABlockIsInTheChainOnce) {
  auto* A = new TBuffer(&Form);
  auto* B = new TBuffer(&Form);
  TCurrentEvent* EntryA = CurrentManager->Add(A);
  TCurrentEvent* EntryB = CurrentManager->Add(B);
  EXPECT_EQ(CurrentManager->Add(A), EntryA);
  EXPECT_EQ(CurrentManager->InsertFirst(B), EntryB);
  EXPECT_EQ(CurrentManager->Count(), 2);
  EXPECT_EQ(CurrentManager->First(), EntryA);
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

} // namespace
