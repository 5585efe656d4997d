// Schedules, Poisson arrivals at a scheduled rate, shifts and opening hours,
// CSV columns and empirical distributions.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>

#include "quorin/quorin.h"

using namespace quorin;

namespace {

TSchedule Must(const std::string& Steps, double Period) {
  std::string Error;
  auto S = TSchedule::Parse(Steps, Period, Error);
  EXPECT_TRUE(S) << Error;
  return S ? *S : TSchedule{};
}

std::string WriteTemp(const std::string& Name, const std::string& Text) {
  const std::string Path = testing::TempDir() + "quorin_" + std::to_string(getpid()) + "_" + Name;
  std::ofstream(Path) << Text;
  return Path;
}

TEST(Schedule, AnswersValuesChangesAndIntegralsAcrossPeriods) {
  const TSchedule S = Must("0 2, 4 0, 6 5", 10); // 2 on [0,4), 0 on [4,6), 5 on [6,10)
  struct TCase {
    double T, Value, Next, IntegralFrom0;
  } Cases[] = {
      {0, 2, 4, 0}, {3.5, 2, 4, 7}, {4, 0, 6, 8}, {6, 5, 10, 8}, {9, 5, 10, 23},
      {10, 2, 14, 28}, {24.5, 0, 26, 2 * 28 + 8}, // third period, in the gap
  };
  for (const TCase& C : Cases) {
    EXPECT_DOUBLE_EQ(S.ValueAt(C.T), C.Value) << C.T;
    EXPECT_DOUBLE_EQ(S.NextChange(C.T), C.Next) << C.T;
    EXPECT_NEAR(S.Integral(0, C.T), C.IntegralFrom0, 1e-9) << C.T;
  }
  // Inverting the integral skips the gap and whole periods.
  EXPECT_NEAR(S.TimeOfIntegral(3, 3), 6 + 0.2, 1e-12);
  EXPECT_NEAR(S.TimeOfIntegral(0, 28 * 100 + 8), 1004, 1e-6);
  // Without a period the last value holds for ever; a last 0 means never.
  EXPECT_DOUBLE_EQ(Must("0 1, 5 3", 0).TimeOfIntegral(0, 11), 7);
  EXPECT_TRUE(std::isinf(Must("0 1, 5 0", 0).TimeOfIntegral(0, 6)));
  EXPECT_TRUE(std::isinf(Must("0 0", 10).TimeOfIntegral(0, 1)));
  EXPECT_EQ(Must(S.Text(), 10).Steps().size(), 3u);
}

TEST(Schedule, NextChangeMovesOnAtEveryScaleUpToTheHorizon) {
  // The shortest period accepted and longer ones, asked near 0 and near the
  // horizon, where a period spans only a few doubles.
  for (const double Period : {2e-5, 0.1, 7.0, 1e6}) {
    const TSchedule S = Must("0 1, " + std::to_string(Period / 2) + " 2", Period);
    for (const double T : {0.0, 1.0, 123456.789, 9.99e9, 9999999999.0}) {
      const double Next = S.NextChange(T);
      EXPECT_GT(Next, T) << Period << " at " << T;
      EXPECT_LE(Next - T, Period + 1e-5) << Period << " at " << T;
      EXPECT_GT(S.TimeOfIntegral(T, 1.0), T) << Period << " at " << T;
    }
  }
}

TEST(Schedule, RefusesMalformedStepsWithTheReason) {
  struct TCase {
    const char* Steps;
    double Period;
    const char* Message;
  } Cases[] = {
      {"1 2", 0, "the first step must start at time 0"},
      {"0 2, 5 1, 5 3", 0, "step 3: times must increase"},
      {"0 2, 12 1", 10, "step 2: the time 12 is not below the period 10"},
      {"0 -1", 0, "step 1: the value must be 0 or more"},
      {"0 2 3", 0, "must be a time and a value"},
      {"0 x", 0, "must be a time and a value"},
      {"0 1", -5, "the period must be"},
      // Boundaries that one double at the clock's horizon cannot hold apart.
      {"0 1", 1e-8, "the period 1e-08 is too short"},
      {"0 1, 1e-7 2", 1, "step 2: the time 1e-07 lies too close to the step before"},
      {"0 1, 4.9999999 2", 5, "the period 5 lies too close to the last step's time"},
  };
  for (const TCase& C : Cases) {
    std::string Error;
    EXPECT_FALSE(TSchedule::Parse(C.Steps, C.Period, Error)) << C.Steps;
    EXPECT_NE(Error.find(C.Message), std::string::npos) << Error;
  }
  std::string Error;
  const std::string Bad = WriteTemp("bad_schedule.csv", "time,rate\n0,1\n5,2\n3,4\n");
  EXPECT_FALSE(TSchedule::ReadCsv(Bad, 0, Error));
  EXPECT_EQ(Error, Bad + ":4: step 3: times must increase (3 follows 5)");
  const std::string Good = WriteTemp("schedule.csv", "time,rate\n0,1\n# lunch\n5,2\n");
  auto S = TSchedule::ReadCsv(Good, 8, Error);
  ASSERT_TRUE(S) << Error;
  EXPECT_EQ(S->Text(), "0 1, 5 2");
}

// A generator with a two-level periodic rate into an infinite-server
// storage with unit-rate holding times: the M(t)/M/inf queue.
struct TInfiniteServer {
  TComponent Application{nullptr};
  TComponent* Form = new TComponent(&Application);
  TModel* Model = new TModel(Form);
  TMultiRand* Arrivals = new TMultiRand(Form);
  TMultiRand* Holding = new TMultiRand(Form);
  TGenerator* Door = new TGenerator(Form);
  TStorage* Room = new TStorage(Form);
  TTerminator* Exit = new TTerminator(Form);
  TScheduler* Probe = new TScheduler(Form);

  explicit TInfiniteServer(const TSchedule& Rate) {
    Holding->SetSeed(1234567891);
    SetArrivalRate(*Door, Rate, *Arrivals);
    Door->OnRouting = [this](TBlock* S, TTransaction*) { S->PassTo(Room); };
    Room->OnEnter = [this](TBlock*, TTransaction*) { Room->NextTime(Holding->Exponential(1.0)); };
    Room->OnRouting = [this](TBlock* S, TTransaction*) { S->PassTo(Exit); };
  }
};

TEST(PoissonArrivals, CountPerIntervalMatchesTheIntegratedRate) {
  // Rate 3 in the first 2 time units of every 5, then 0.5.
  const TSchedule Rate = Must("0 3, 2 0.5", 5);
  TInfiniteServer M(Rate);
  std::map<int, int> Counts; // arrivals by phase: 0 high, 1 low
  M.Door->OnExit = [&](TBlock*, TTransaction*) {
    ++Counts[std::fmod(ModelTime(), 5.0) < 2 ? 0 : 1];
  };
  const int Periods = 4000;
  M.Model->Simulate(5.0 * Periods);
  // Counts are Poisson: the means 6 and 1.5 per period, within 4 deviations.
  EXPECT_NEAR(Counts[0] / double(Periods), 6.0, 4 * std::sqrt(6.0 / Periods));
  EXPECT_NEAR(Counts[1] / double(Periods), 1.5, 4 * std::sqrt(1.5 / Periods));
}

TEST(PoissonArrivals, InfiniteServerOccupancyFollowsItsClosedForm) {
  // Rate L1 on [0, A), L2 on [A, P); unit service rate. The mean occupancy m
  // obeys m' = rate - m; over a periodic steady state m(P) = m(0).
  const double L1 = 10, L2 = 2, A = 5, P = 10;
  const double E1 = std::exp(-A), E2 = std::exp(-(P - A));
  // m(A) = L1 + (m0 - L1) E1, m(P) = L2 + (m(A) - L2) E2 = m0.
  const double M0 = (L2 + (L1 - L1 * E1 - L2) * E2) / (1 - E1 * E2);
  const double MA = L1 + (M0 - L1) * E1;
  TInfiniteServer M(Must("0 10, 5 2", P));
  double SumA = 0, SumP = 0;
  int Samples = 0;
  const int Periods = 3000, Skip = 5;
  M.Probe->OnBeforeTimeGoOn = [&](TAggregate* S) { S->NextTime(A); };
  M.Probe->OnPlanned = [&](TAggregate* S) {
    const bool AtA = std::fmod(ModelTime(), P) > 1;
    if (ModelTime() > Skip * P) {
      (AtA ? SumA : SumP) += M.Room->Count();
      Samples += !AtA;
    }
    S->NextTime(AtA ? P - A : A);
  };
  M.Model->Simulate(P * Periods + 1);
  // The occupancy at a point is Poisson with mean m: deviation sqrt(m / n).
  EXPECT_NEAR(SumA / Samples, MA, 4 * std::sqrt(MA / Samples));
  EXPECT_NEAR(SumP / Samples, M0, 4 * std::sqrt(M0 / Samples));
}

TEST(PoissonArrivals, StopWhenTheRateStaysZero) {
  TInfiniteServer M(Must("0 1, 50 0", 0));
  M.Model->Simulate(1000);
  EXPECT_GT(M.Door->Exits(), 25);
  EXPECT_LT(M.Door->Exits(), 80);
  EXPECT_LT(ModelTime(), 1000); // nothing left to do: the run ended early
}

// A queue in front of a block driven by a schedule; arrivals at fixed
// times, fixed holding times. Records when each transaction entered and left
// the block.
TEST(ScheduleDriver, ShiftsFinishTheirHoldersAndAdmitNoMore) {
  enum TKind { Storage, Server, Gate };
  struct TCase {
    const char* Name;
    TKind Kind;
    const char* Steps;
    double Hold;
    std::vector<double> Entries;
  } Cases[] = {
      // Two units, one from 10: both holders finish (15, 16); the next enters
      // only when none is left, the fourth when the second unit returns at 30.
      {"storage drops to 1", Storage, "0 2, 10 1, 30 2", 15, {0, 1, 16, 30}},
      // Closed from 10 to 20: the holders finish, nobody enters until 20.
      {"storage closes", Storage, "0 2, 10 0, 20 2", 15, {0, 1, 20, 20}},
      // Off duty from 5 to 12: the holder finishes at 8, the next waits.
      {"server off duty", Server, "0 1, 5 0, 12 1", 8, {0, 12, 20, 28}},
      // A gate locked until 7: the four waiting pass when it opens.
      {"gate hours", Gate, "0 0, 7 1, 7.5 0", 0, {7, 7, 7, 7}},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    TComponent Application(nullptr);
    auto* Form = new TComponent(&Application);
    auto* Model = new TModel(Form);
    auto* Door = new TGenerator(Form);
    auto* Line = new TQueue(Form);
    TBlock* Block = C.Kind == Storage  ? static_cast<TBlock*>(new TStorage(Form))
                    : C.Kind == Server ? static_cast<TBlock*>(new TServer(Form))
                                       : static_cast<TBlock*>(new TGate(Form));
    auto* Exit = new TTerminator(Form);
    std::string Error;
    ASSERT_TRUE(TScheduleDriver::Attach(*Block, Must(C.Steps, 0), Error)) << Error;
    const double Arrivals[] = {0, 1, 2, 3};
    int Next = 0;
    Door->OnBeforeTimeGoOn = [&](TAggregate* S) { S->NextTime(0); };
    Door->OnAfterGeneration = [&](TBlock* S, TTransaction*) {
      if (++Next < 4) static_cast<TAggregate*>(S)->NextTime(Arrivals[Next] - ModelTime());
    };
    Door->OnRouting = [&](TBlock* S, TTransaction*) { S->PassTo(Line); };
    Line->OnRouting = [&](TBlock* S, TTransaction*) { S->PassTo(Block); };
    std::vector<double> Entered, Held;
    auto Enter = [&](TBlock*, TTransaction*) {
      Entered.push_back(ModelTime());
      if (C.Kind != Gate) Block->NextTime(C.Hold);
    };
    auto Leave = [&](TBlock*, TTransaction* T) { Held.push_back(ModelTime() - T->FEnterTime); };
    if (auto* S = dynamic_cast<TStorage*>(Block)) S->OnEnter = Enter, S->OnExit = Leave;
    if (auto* S = dynamic_cast<TServer*>(Block)) S->OnEnter = Enter, S->OnExit = Leave;
    if (auto* G = dynamic_cast<TGate*>(Block)) G->OnEnter = Enter, G->OnExit = Leave;
    Block->OnRouting = [&](TBlock* S, TTransaction*) { S->PassTo(Exit); };
    Model->Simulate(100);
    EXPECT_EQ(Entered, C.Entries);
    // Every holder finished its whole holding time: none was cut short.
    if (C.Kind != Gate) {
      EXPECT_EQ(Held, std::vector<double>(4, C.Hold));
    }
  }
}

TEST(ScheduleDriver, LeavesABlockDestroyedBeforeItAlone) {
  TComponent Application(nullptr);
  auto* Form = new TComponent(&Application);
  auto* Model = new TModel(Form);
  auto* Room = new TStorage(Form);
  std::string Error;
  TScheduleDriver* Driver = TScheduleDriver::Attach(*Room, Must("0 1, 5 2, 9 0", 0), Error);
  ASSERT_TRUE(Driver) << Error;
  Model->Simulate(6); // applied at 0 and at 5
  EXPECT_EQ(Room->Capacity(), 2);
  delete Room;
  Model->Simulate(20); // the change at 9 finds no block: nothing happens
  EXPECT_DOUBLE_EQ(ModelTime(), 9); // then nothing is left to do
}

TEST(ScheduleDriver, RefusesValuesThatDoNotSuitTheBlock) {
  TComponent Form(nullptr);
  TServer Clerk(&Form);
  TTerminator Exit(&Form);
  TStorage Room(&Form);
  std::string Error;
  EXPECT_FALSE(TScheduleDriver::Attach(Clerk, Must("0 2", 0), Error));
  EXPECT_EQ(Error, "a server is on duty (1) or off (0), not 2");
  EXPECT_FALSE(TScheduleDriver::Attach(Room, Must("0 1.5", 0), Error));
  EXPECT_EQ(Error, "a capacity must be a whole number, not 1.5");
  EXPECT_FALSE(TScheduleDriver::Attach(Exit, Must("0 1", 0), Error));
}

TEST(Empirical, ContinuousAndDiscreteGiveTheDataMeanAndQuantiles) {
  std::string Error;
  const std::string Path = WriteTemp("waits.csv", "wait\n4\n2\n# a note\n5\n1\n3\n");
  auto C = TEmpirical::ReadCsv(Path, "wait", false, Error);
  ASSERT_TRUE(C) << Error;
  EXPECT_DOUBLE_EQ(C->Mean(), 3);
  for (auto [P, Q] : {std::pair{0.0, 1.0}, {0.125, 1.5}, {0.5, 3.0}, {0.9, 4.6}, {1.0, 5.0}})
    EXPECT_DOUBLE_EQ(C->Quantile(P), Q) << P;
  auto D = TEmpirical::Make({1, 1, 2, 4}, true, Error);
  ASSERT_TRUE(D) << Error;
  EXPECT_DOUBLE_EQ(D->Mean(), 2);
  TMultiRand Stream(nullptr);
  double SumC = 0;
  std::map<double, int> Seen;
  const int N = 40000;
  for (int i = 0; i < N; ++i) {
    SumC += C->Draw(Stream);
    ++Seen[D->Draw(Stream)];
  }
  EXPECT_NEAR(SumC / N, 3, 0.03);
  EXPECT_EQ(Seen.size(), 3u);
  EXPECT_NEAR(Seen[1] / double(N), 0.5, 0.015);
  EXPECT_NEAR(Seen[4] / double(N), 0.25, 0.015);
}

TEST(CsvColumn, RefusesBadDataAtItsLine) {
  struct TCase {
    const char* Text;
    const char* Column;
    const char* Error; // after "file:"
  } Cases[] = {
      {"x\n1\n2\nabc\n", "", "4: 'abc' is not a number"},
      {"1\n\n2,\n,3\n", "", "4: an empty field"},
      {"a,b\n1,2\n3\n", "b", "3: expected 2 fields, found 1"},
      {"a,b\n1,2\n", "c", " no column named 'c' (the header has: a, b)"},
      {"1\n2\n", "c", " no column named 'c'"},
  };
  for (const TCase& C : Cases) {
    std::string Error;
    EXPECT_FALSE(ParseCsvColumn(C.Text, "d.csv", C.Column, Error)) << C.Text;
    EXPECT_EQ(Error.rfind(std::string("d.csv:") + C.Error, 0), 0u) << Error;
  }
  std::string Error;
  EXPECT_FALSE(TEmpirical::Make({1}, false, Error));
  // Files that cannot be read say why; a folder is not read as an empty file.
  EXPECT_FALSE(ReadCsvColumn("/nonexistent/x.csv", "", Error));
  EXPECT_EQ(Error, "/nonexistent/x.csv: cannot be read (no such file)");
  EXPECT_FALSE(ReadCsvColumn(testing::TempDir(), "", Error));
  EXPECT_EQ(Error, testing::TempDir() + ": cannot be read (a folder, not a file)");
  EXPECT_FALSE(TSchedule::ReadCsv(testing::TempDir(), 0, Error));
  EXPECT_NE(Error.find("a folder, not a file"), std::string::npos) << Error;
  auto Col = ParseCsvColumn("id,v\nA,1\nB,2.5\n", "d.csv", "v", Error);
  ASSERT_TRUE(Col) << Error;
  EXPECT_EQ(Col->Values, (std::vector<double>{1, 2.5}));
  EXPECT_EQ(Col->Lines, (std::vector<int32_t>{2, 3}));
}

} // namespace
