#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "message_capture.h"
#include "quorin/statsim.h"

namespace quorin {
namespace {

using MessageCapture = quorin::test::TMessageCapture;

// Reaches the fields that have no property.
struct Tab : TTabulator {
  Tab() : TTabulator(nullptr) { SetName("Tab1"); }
  float Upper() const { return FUpperBound; }
  void ForceSums(int32_t Count, long double Sum, long double SumSqr) {
    FCount = Count;
    FSum = Sum;
    FSumSqr = SumSqr;
  }
};

std::vector<int32_t> AllHits(const TTabulator& T) {
  std::vector<int32_t> H(256);
  for (int I = 0; I < 256; ++I)
    H[static_cast<std::size_t>(I)] = T.Hits(static_cast<uint8_t>(I));
  return H;
}

TEST(Tabulator, NewTabulator) {
  Tab T;
  EXPECT_EQ(T.IntervalCount(), 1);
  EXPECT_EQ(T.LowerBound(), 0.0f);
  EXPECT_EQ(T.Interval(), 0.0f);
  EXPECT_EQ(T.Upper(), 0.0f);
  EXPECT_EQ(T.Count(), 0);
  EXPECT_EQ(T.Mean(), 0.0);
  EXPECT_EQ(T.Deviation(), 0.0);
  EXPECT_EQ(AllHits(T), std::vector<int32_t>(256, 0));
}

TEST(Tabulator, BinsIncludeLowerAndExcludeUpperBound) {
  Tab T;
  T.SetLowerBound(0);
  T.SetInterval(10);
  T.SetIntervalCount(5);
  EXPECT_EQ(T.Upper(), 50.0f);
  for (double X : {-1.0, 0.0, 9.99, 10.0, 49.9, 50.0, 1000.0})
    T.PutValue(X);
  std::vector<int32_t> Expected(256, 0);
  Expected[0] = 1;
  Expected[1] = 2;
  Expected[2] = 1;
  Expected[5] = 1;
  Expected[6] = 2;
  EXPECT_EQ(AllHits(T), Expected);
  EXPECT_EQ(T.Count(), 7);
}

TEST(Tabulator, BoundsAreDoubleSumsOfTheSingleWidth) {
  // 0.1f is 0.100000001490116 as a double; three additions in double give
  // 0.30000000447, while adding in single precision would give 0.30000001192.
  Tab T;
  T.SetInterval(0.1f);
  T.SetIntervalCount(10);
  T.PutValue(0.300000008);
  EXPECT_EQ(T.Hits(4), 1);
  T.PutValue(0.300000004);
  EXPECT_EQ(T.Hits(3), 1);
}

TEST(Tabulator, UpperBoundFollowsTheSetters) {
  Tab T;
  T.SetLowerBound(1.5f);
  T.SetInterval(0.25f);
  T.SetIntervalCount(4);
  EXPECT_EQ(T.Upper(), 2.5f);
  T.SetLowerBound(-3.0f);
  EXPECT_EQ(T.Upper(), -2.0f);
}

TEST(Tabulator, ZeroIntervalSendsEverythingAboveLowerBoundToOverflow) {
  Tab T;
  T.SetLowerBound(2);
  T.SetIntervalCount(3);
  T.SetInterval(0);
  for (double X : {1.0, 2.0, 2.5, 1e9})
    T.PutValue(X);
  EXPECT_EQ(T.Hits(0), 1);
  EXPECT_EQ(T.Hits(1) + T.Hits(2) + T.Hits(3), 0);
  EXPECT_EQ(T.Hits(4), 3);
}

TEST(Tabulator, LargestIntervalCountUsesLastCounter) {
  MessageCapture Capture;
  Tab T;
  T.SetInterval(1);
  T.SetIntervalCount(254);
  EXPECT_EQ(T.IntervalCount(), 254);
  T.PutValue(253.5);
  T.PutValue(254);
  EXPECT_EQ(T.Hits(254), 1);
  EXPECT_EQ(T.Hits(255), 1);
  EXPECT_TRUE(Capture.Messages.empty());
}

TEST(Tabulator, SettersRefuseOutOfRangeValues) {
  MessageCapture Capture;
  Tab T;
  T.SetInterval(2);
  T.SetIntervalCount(7);
  const float Upper = T.Upper();
  for (uint8_t Bad : {uint8_t{0}, uint8_t{255}}) {
    Capture.Messages.clear();
    T.SetIntervalCount(Bad);
    ASSERT_EQ(Capture.Messages.size(), 1u);
    EXPECT_EQ(Capture.Messages[0],
              "Quorin Error: Tab1: IntervalCount must be in the range 1...254");
    EXPECT_EQ(T.IntervalCount(), 7);
  }
  for (float Bad : {-0.5f, std::numeric_limits<float>::quiet_NaN()}) {
    Capture.Messages.clear();
    T.SetInterval(Bad);
    ASSERT_EQ(Capture.Messages.size(), 1u);
    EXPECT_EQ(Capture.Messages[0], "Quorin Error: Tab1: Interval can not be negative");
    EXPECT_EQ(T.Interval(), 2.0f);
  }
  EXPECT_EQ(T.Upper(), Upper);
  Capture.Messages.clear();
  T.SetInterval(0);
  EXPECT_EQ(T.Interval(), 0.0f);
  EXPECT_TRUE(Capture.Messages.empty());
}

TEST(Tabulator, MeanAndPopulationDeviation) {
  Tab T;
  for (double X : {2, 4, 4, 4, 5, 5, 7, 9})
    T.PutValue(X);
  EXPECT_DOUBLE_EQ(T.Mean(), 5.0);
  EXPECT_DOUBLE_EQ(T.Deviation(), 2.0);
  T.Reset();
  EXPECT_EQ(T.Count(), 0);
  EXPECT_EQ(T.Mean(), 0.0);
  EXPECT_EQ(T.Deviation(), 0.0);
}

TEST(Tabulator, RoundingBelowZeroVarianceGivesZeroDeviation) {
  Tab T;
  // Sum of squares a hair below Sum^2 / Count, as rounding can leave it.
  T.ForceSums(3, 0.3L, 0.03L - 1e-19L);
  EXPECT_EQ(T.Deviation(), 0.0);
  T.Reset();
  for (int I = 0; I < 1000; ++I)
    T.PutValue(0.1);
  EXPECT_GE(T.Deviation(), 0.0);
  EXPECT_LT(T.Deviation(), 1e-9);
}

TEST(Tabulator, ResetClearsOnlyTheCurrentLayout) {
  Tab T;
  T.SetInterval(1);
  T.SetIntervalCount(10);
  for (int X = -1; X <= 10; ++X)
    T.PutValue(X); // one value in each of bins 0..11
  T.SetIntervalCount(3);
  T.Reset();
  for (int I = 0; I <= 4; ++I)
    EXPECT_EQ(T.Hits(static_cast<uint8_t>(I)), 0) << I;
  for (int I = 5; I <= 11; ++I)
    EXPECT_EQ(T.Hits(static_cast<uint8_t>(I)), 1) << I;
  EXPECT_EQ(T.Count(), 0);
}

TEST(Tabulator, FullCountRefusesFurtherValues) {
  MessageCapture Capture;
  Tab T;
  T.ForceSums(std::numeric_limits<int32_t>::max(), 0.0L, 0.0L);
  T.PutValue(1.0);
  EXPECT_EQ(T.Count(), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(T.Hits(2), 0);
  ASSERT_EQ(Capture.Messages.size(), 1u);
  EXPECT_EQ(Capture.Messages[0],
            "Quorin Error: Tab1: Count is at its maximum, value not tabulated");
}

} // namespace
} // namespace quorin
