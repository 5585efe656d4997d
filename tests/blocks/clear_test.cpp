// Clearing a run's statistics clears everything that gathers them: the
// blocks and the tabulators on the model's forms, unless one keeps its own.
#include "fixture.h"
#include "quorin/detail/future.h"
#include "quorin/statsim.h"

namespace quorin::test {
namespace {

TEST_F(BlockTest, WarmupClearsTabulatorsExceptThoseThatKeepTheirs) {
  auto* Door = Make<TGenerator>("Door");
  auto* Exit = Make<TTerminator>("Exit");
  auto* Waits = Make<TTabulator>("Waits");
  auto* All = Make<TTabulator>("All");
  All->SetKeepOnClear(true);
  for (TTabulator* T : {Waits, All}) {
    T->SetInterval(1);
    T->SetIntervalCount(10);
  }
  Door->OnBeforeTimeGoOn = [Door](TAggregate*) { Door->NextTime(1); };
  Door->OnAfterGeneration = [=](TBlock*, TTransaction*) {
    // One observation per arrival: its time, so warm-up ones are small.
    Waits->PutValue(FSysTime / 10);
    All->PutValue(FSysTime / 10);
    Door->NextTime(1);
  };
  Door->OnRouting = [Exit](TBlock* S, TTransaction*) { S->PassTo(Exit); };
  // A run ends after its first event past the end: arrivals 1 to 21.
  Model->Simulate(20);
  EXPECT_EQ(Waits->Count(), 21);
  Model->ClearStatistics();
  EXPECT_EQ(Waits->Count(), 0);
  EXPECT_EQ(Waits->Hits(1), 0);
  EXPECT_EQ(All->Count(), 21);
  EXPECT_EQ(Exit->Entries(), 0);
  Model->Simulate(40);
  EXPECT_EQ(Waits->Count(), 20);
  EXPECT_DOUBLE_EQ(Waits->Mean(), 3.15); // arrivals 22 to 41 only
  EXPECT_EQ(All->Count(), 41);
}

// A window from a warm-up to a horizon whose last event comes long before
// the horizon: the time-weighted figures cover the whole window.
TEST_F(BlockTest, AveragesCoverTheWindowUpToTheHorizon) {
  auto* Door = Make<TGenerator>("Door");
  auto* Line = Make<TQueue>("Line");
  auto* Clerk = Make<TServer>("Clerk");
  auto* Exit = Make<TTerminator>("Exit");
  const std::vector<double> Arrivals{10, 20, 30};
  ArriveAt(Door, Arrivals);
  Door->OnRouting = [Line](TBlock* S, TTransaction*) { S->PassTo(Line); };
  Line->OnRouting = [Clerk](TBlock* S, TTransaction*) { S->PassTo(Clerk); };
  Clerk->OnEnter = [Clerk](TBlock*, TTransaction*) { Clerk->NextTime(FSysTime < 25 ? 5 : 1000); };
  Clerk->OnRouting = [Exit](TBlock* S, TTransaction*) { S->PassTo(Exit); };
  // Window 12..100: the clerk busy 12..15, 20..25 and 30..100 (the last
  // service ends at 1030, after the horizon, and stays pending).
  Model->SimulateTo(12);
  Model->ClearStatistics();
  Model->SimulateTo(100);
  EXPECT_EQ(ModelTime(), 100);
  EXPECT_DOUBLE_EQ(double(Clerk->Usage()), (3 + 5 + 70) / 88.0);
  EXPECT_DOUBLE_EQ(double(Clerk->AverageCount()), (3 + 5 + 70) / 88.0);
  EXPECT_EQ(Exit->Entries(), 2); // the services that ended at 15 and 25
  EXPECT_EQ(FutureManager->Count(), 1);
  // Going on past the horizon finishes the pending service.
  Model->SimulateTo(2000);
  EXPECT_EQ(Exit->Entries(), 3);
  EXPECT_EQ(ModelTime(), 2000);
  EXPECT_DOUBLE_EQ(double(Line->AverageCount()), 0);
}

} // namespace
} // namespace quorin::test
