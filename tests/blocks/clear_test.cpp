// Clearing a run's statistics clears everything that gathers them: the
// blocks and the tabulators on the model's forms, unless one keeps its own.
#include "fixture.h"
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

} // namespace
} // namespace quorin::test
