#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "message_capture.h"
#include "quorin/blocks.h"
#include "quorin/detail/future.h"
#include "quorin/detail/memoman.h"

using namespace quorin;

namespace {

// A private heap of a given maximum for the managers under test.
class Pool : public testing::Test {
protected:
  void UseHeap(std::size_t Maximum) {
    if (GlobalHeap) HeapDestroy(GlobalHeap);
    GlobalHeap = HeapCreate(0, 2048, Maximum);
    CountPages = 0;
  }
  void SetUp() override { UseHeap(1 << 20); }
  void TearDown() override {
    HeapDestroy(GlobalHeap);
    GlobalHeap = nullptr;
    FSysTime = 0.0;
  }
  char* Addr(void* P) { return static_cast<char*>(P); }
  test::TMessageCapture Capture;
};

TEST_F(Pool, CarvesInAddressOrderAndOpensPagesWhenFull) {
  TMemoManager M(1024, 24);
  EXPECT_EQ(M.TotalMemoSize(), 0);
  EXPECT_EQ(M.LiveMemoSize(), 0);
  EXPECT_EQ(M.DeadMemoSize(), 0);
  EXPECT_EQ(M.TotalItemCount(), 0);
  EXPECT_FALSE(M.isDeadExist());

  void* First = M.Add();
  EXPECT_EQ(M.LiveMemoSize(), 1024);
  EXPECT_EQ(M.TotalItemCount(), 1);
  EXPECT_EQ(Addr(M.Add()), Addr(First) + 24);
  for (int i = 3; i <= 42; ++i)
    M.Add();
  EXPECT_EQ(M.LiveMemoSize(), 1024);
  EXPECT_EQ(CountPages, 1);
  M.Add(); // the 43rd record needs a second page
  EXPECT_EQ(M.LiveMemoSize(), 2048);
  EXPECT_EQ(M.TotalMemoSize(), 2048);
  EXPECT_EQ(M.TotalItemCount(), 43);
  EXPECT_EQ(CountPages, 2);
  EXPECT_TRUE(Capture.Messages.empty());
}

TEST_F(Pool, ReusesLastInFirstOutAndCountsOnlyCarvedRecords) {
  TMemoManager M(1024, 24);
  void* A = M.Add();
  void* B = M.Add();
  M.Delete(A);
  M.Delete(B);
  EXPECT_TRUE(M.isDeadExist());
  EXPECT_EQ(M.Add(), B);
  EXPECT_EQ(M.Add(), A);
  EXPECT_EQ(M.TotalItemCount(), 2);
  void* C = M.Add();
  EXPECT_EQ(Addr(C), Addr(B) + 24);
  EXPECT_EQ(M.TotalItemCount(), 3);

  // A record given back twice is handed out twice.
  M.Delete(C);
  M.Delete(C);
  EXPECT_EQ(M.Add(), C);
  EXPECT_EQ(M.Add(), C);
  EXPECT_FALSE(M.isDeadExist());
}

// Made with a free list (the fast engine's pools), a manager keeps
// given-back records on a list threaded through them: last in, first out,
// and no dead pages.
TEST_F(Pool, FreeListKeepsGivenBackRecordsThreadedThroughThem) {
  TMemoManager M(1024, 24, true);
  void* A = M.Add();
  void* B = M.Add();
  M.Delete(A);
  M.Delete(B);
  EXPECT_TRUE(M.isDeadExist());
  EXPECT_EQ(M.DeadMemoSize(), 0);
  std::vector<void*> Dead;
  M.ForEachDead([&](void* R) { Dead.push_back(R); });
  EXPECT_EQ(Dead, (std::vector<void*>{B, A}));
  EXPECT_EQ(M.Add(), B);
  EXPECT_EQ(M.Add(), A);
  EXPECT_FALSE(M.isDeadExist());
  EXPECT_EQ(M.TotalItemCount(), 2);
}

TEST_F(Pool, DeadPagesFillDrainAndAreKept) {
  // A dead page slot is one pointer: 2048 / 8 = 256 per page here.
  TMemoManager M(2048, 24);
  std::vector<void*> Records;
  for (int i = 0; i < 257; ++i)
    Records.push_back(M.Add());
  for (void* R : Records)
    M.Delete(R);
  EXPECT_EQ(M.DeadMemoSize(), 4096);
  for (int i = 256; i >= 0; --i)
    ASSERT_EQ(M.Add(), Records[std::size_t(i)]);
  EXPECT_FALSE(M.isDeadExist());
  EXPECT_EQ(M.DeadMemoSize(), 4096);
  const int32_t Pages = CountPages;
  M.Delete(Records[0]); // goes to dead page 0, no new page
  EXPECT_EQ(CountPages, Pages);
  EXPECT_EQ(M.DeadMemoSize(), 4096);
  EXPECT_EQ(M.Add(), Records[0]);
}

TEST_F(Pool, RecordLargerThanPageIsRefusedEveryTime) {
  TMemoManager M(1024, 1025);
  EXPECT_EQ(M.Add(), nullptr);
  EXPECT_EQ(M.Add(), nullptr);
  EXPECT_EQ(Capture.Messages, (std::vector<std::string>{"Quorin Error: Too small PageSize",
                                                        "Quorin Error: Too small PageSize"}));
  EXPECT_EQ(M.TotalMemoSize(), 0);
  EXPECT_EQ(M.TotalItemCount(), 0);
  EXPECT_EQ(CountPages, 0);
}

TEST_F(Pool, ExhaustedHeapReportsWithTheClockAndAddsNoPage) {
  UseHeap(2048);
  FSysTime = 12.5;
  TMemoManager M(1024, 24);
  for (int i = 0; i < 84; ++i)
    ASSERT_NE(M.Add(), nullptr);
  EXPECT_EQ(M.Add(), nullptr);
  EXPECT_EQ(Capture.Messages,
            std::vector<std::string>{
                "Quorin Error: Not enough memory in private heap at model time 12.500"});
  EXPECT_EQ(CountPages, 3); // the failed request counts too
  EXPECT_EQ(M.LiveMemoSize(), 2048);
  EXPECT_EQ(M.TotalItemCount(), 84);
}

TEST_F(Pool, DeleteWithoutRoomForADeadPageDropsThePointerSafely) {
  UseHeap(1024);
  TMemoManager M(1024, 24);
  void* A = M.Add();
  M.Delete(A); // the dead page finds the heap full
  EXPECT_EQ(Capture.Messages.size(), 1u);
  EXPECT_FALSE(M.isDeadExist());
  EXPECT_EQ(M.DeadMemoSize(), 0);
  EXPECT_NE(M.Add(), A); // carved fresh; the dropped record is never handed out twice
}

TEST_F(Pool, ZeroRecordSizeStillGivesDistinctRecords) {
  TMemoManager M(1024, 0);
  std::set<void*> Seen;
  for (int i = 0; i < 2000; ++i)
    Seen.insert(M.Add());
  EXPECT_EQ(Seen.size(), 2000u);
  EXPECT_EQ(M.LiveMemoSize(), 2048);
}

TEST_F(Pool, TransactionPoolTellsFreshFromReused) {
  TTransManager M(1024, 32);
  EXPECT_TRUE(M.NewItem());
  EXPECT_EQ(M.TotalItemCount(), 0);
  M.Add();
  void* Second = M.Add();
  M.Delete(Second);
  EXPECT_EQ(M.Add(), Second);
  EXPECT_FALSE(M.NewItem());
  EXPECT_EQ(M.TotalItemCount(), 2);
  M.Add();
  EXPECT_TRUE(M.NewItem());
  EXPECT_EQ(M.TotalItemCount(), 3);

  TTransManager Big(1024, 2000);
  Big.Add();
  Big.Add();
  EXPECT_TRUE(Big.NewItem());
  EXPECT_EQ(Big.TotalItemCount(), 0);
}

TEST_F(Pool, FailedAddLeavesNewItemAndCountUnchanged) {
  UseHeap(2048); // one live page and one dead page
  TTransManager M(1024, 32);
  void* Last = nullptr;
  for (int i = 0; i < 32; ++i)
    Last = M.Add();
  M.Delete(Last);
  EXPECT_EQ(M.Add(), Last);
  EXPECT_FALSE(M.NewItem());
  EXPECT_EQ(M.Add(), nullptr); // the page is full and the heap has no room for another
  EXPECT_FALSE(M.NewItem());
  EXPECT_EQ(M.TotalItemCount(), 32);
}

} // namespace
