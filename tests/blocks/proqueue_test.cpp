#include <cmath>

#include "fixture.h"
#include "quorin/detail/future.h"

namespace quorin::test {
namespace {

// The statistics hooks driven directly, with the clock set by hand: Enter
// and Leave do what a holding block does around EnterStat and ExitStat.
class TProbe : public TProQueue {
public:
  using TProQueue::TProQueue;
  void Enter(TTransaction& T) {
    EnterStat(&T);
    ++FCount;
  }
  void Leave(TTransaction& T) {
    ExitStat(&T);
    --FCount;
  }
};

class ProQueueTest : public ::testing::Test {
protected:
  ~ProQueueTest() override { FSysTime = 0.0; }
  void At(double Time) { FSysTime = Time; }

  TProbe Q{nullptr};
  TTransaction A, B, C;
};

TEST_F(ProQueueTest, NothingSeenGivesZeroEverywhere) {
  At(7);
  EXPECT_EQ(Q.AverageTime(), 0);
  EXPECT_EQ(Q.DeviationTime(), 0);
  EXPECT_EQ(Q.SAverageTime(), 0);
  EXPECT_EQ(Q.SDeviationTime(), 0);
  EXPECT_EQ(Q.AverageCount(), 0); // nothing accumulated since 0
  EXPECT_EQ(Q.Usage(), 0);
  EXPECT_EQ(Q.MaxCount(), 0);
  EXPECT_EQ(Q.ZeroEntries(), 0);
  EXPECT_EQ(Q.PreemptExits(), 0);
  EXPECT_EQ(Q.Entries(), 0);
  EXPECT_EQ(Q.Exits(), 0);
}

TEST_F(ProQueueTest, ZeroResidenceCountsInExitsButNotInTheSMeasures) {
  Q.Enter(A);
  Q.Leave(A);
  EXPECT_EQ(Q.Entries(), 1);
  EXPECT_EQ(Q.Exits(), 1);
  EXPECT_EQ(Q.AverageTime(), 0);
  EXPECT_EQ(Q.SAverageTime(), 0);
  EXPECT_EQ(Q.ZeroEntries(), 1);
}

TEST_F(ProQueueTest, ResidenceTimeMeansAndDeviations) {
  // Residence 2 (A, 0..2), then 4 (B, 0..4).
  Q.Enter(A);
  Q.Enter(B);
  At(2);
  Q.Leave(A);
  EXPECT_EQ(Q.DeviationTime(), 0);  // one exit
  EXPECT_EQ(Q.SDeviationTime(), 0); // one positive residence time
  EXPECT_EQ(Q.AverageTime(), 2);
  At(4);
  Q.Leave(B);
  EXPECT_EQ(Q.AverageTime(), 3);
  EXPECT_EQ(Q.DeviationTime(), 1);
  // Then residence 0: the plain measures move, the S-measures do not.
  Q.Enter(C);
  Q.Leave(C);
  EXPECT_EQ(Q.Exits(), 3);
  EXPECT_EQ(Q.AverageTime(), 2);
  EXPECT_NEAR(double(Q.DeviationTime()), std::sqrt(8.0 / 3.0), 1e-15);
  EXPECT_EQ(Q.SAverageTime(), 3);
  EXPECT_EQ(Q.SDeviationTime(), 1);
  EXPECT_EQ(Q.ZeroEntries(), 2); // A at 0 and C at 4 found it empty, B did not
}

TEST_F(ProQueueTest, TimeWeightedContent) {
  // One inside from 0 on, asked twice at 10.
  Q.Enter(A);
  At(10);
  EXPECT_EQ(Q.AverageCount(), 1);
  EXPECT_EQ(Q.Usage(), 1);
  EXPECT_EQ(Q.AverageCount(), 1);
  EXPECT_EQ(Q.Usage(), 1);
  EXPECT_EQ(Q.MaxCount(), 1);

  // Two enter at 0 and leave at 5; asked at 10.
  TProbe R{nullptr};
  At(0);
  R.Enter(A);
  R.Enter(B);
  At(5);
  R.Leave(A);
  R.Leave(B);
  At(10);
  EXPECT_EQ(R.AverageCount(), 1);
  EXPECT_EQ(R.Usage(), 0.5L);
  EXPECT_EQ(R.MaxCount(), 2);
}

TEST_F(ProQueueTest, MaxCountIncludesThePresentContent) {
  Q.Enter(A);
  Q.Enter(B);
  Q.Enter(C);
  EXPECT_EQ(Q.MaxCount(), 3); // the updates saw 0, 1 and 2 only
  EXPECT_EQ(Q.ZeroEntries(), 1);
}

TEST_F(ProQueueTest, ClearingKeepsTheContentAndItsEntryTimes) {
  At(4);
  Q.Enter(A);
  At(10);
  Q.ClearStatistics();
  // Asked at the very time of clearing.
  EXPECT_EQ(Q.AverageCount(), 0);
  EXPECT_EQ(Q.Usage(), 0);
  EXPECT_EQ(Q.Entries(), 0);
  EXPECT_EQ(Q.Count(), 1);
  At(12);
  Q.Leave(A);
  EXPECT_EQ(Q.Exits(), 1);
  EXPECT_EQ(Q.AverageTime(), 8);
  // From 10 to 12 the block held one.
  EXPECT_EQ(Q.AverageCount(), 1);
  EXPECT_EQ(Q.Usage(), 1);
  At(14);
  EXPECT_EQ(Q.AverageCount(), 0.5L);
  EXPECT_EQ(Q.Usage(), 0.5L);
}

} // namespace
} // namespace quorin::test
