// Fork and join: copies that carry their original's fields, families, the
// matching assembler and the check that warns about joins that mix parts.
#include <map>

#include "fixture.h"
#include "quorin/detail/future.h"
#include "quorin/statsim.h"

namespace quorin::test {
namespace {

// A job with fields of its own, which a divider's copies must carry.
struct TJob : TTransaction {
  int32_t Job = 0;
  double Arrived = 0;
  char Label[12] = {};
};

// Jobs arrive at random into Split (Parts copies), whose parts go round
// robin to Parts lines, each with a server of random service; they meet
// again in Join and leave through Exit.
class ForkJoinTest : public BlockTest {
protected:
  void Build(int32_t Parts, bool Match) {
    Model->SetTransactionClass<TJob>();
    Split->SetCapacity(Parts);
    Join->SetCapacity(Parts);
    Join->SetMatch(Match);
    Arrivals->SetSeed(1234567);
    Service->SetSeed(7654321);
    Door->OnBeforeTimeGoOn = [this](TAggregate*) { Door->NextTime(Arrivals->Exponential(1.5)); };
    Door->OnAfterGeneration = [this](TBlock*, TTransaction* T) {
      auto* J = static_cast<TJob*>(T);
      J->Job = ++Jobs;
      J->Arrived = ModelTime();
      J->Label[0] = char('a' + Jobs % 26);
      Door->NextTime(Arrivals->Exponential(1.5));
    };
    Door->OnRouting = [this](TBlock* S, TTransaction*) { S->PassTo(Split); };
    for (int32_t i = 0; i < Parts; ++i) {
      auto* Line = Make<TQueue>("Line" + std::to_string(i));
      auto* Station = Make<TServer>("Station" + std::to_string(i));
      const double Mean = 0.5 + 0.4 * i;
      Line->OnRouting = [Station](TBlock* S, TTransaction*) { S->PassTo(Station); };
      Station->OnEnter = [this, Station, Mean](TBlock*, TTransaction*) {
        Station->NextTime(Service->Exponential(Mean));
      };
      Station->OnRouting = [this](TBlock* S, TTransaction*) { S->PassTo(Join); };
      Lines.push_back(Line);
    }
    Split->OnRouting = [this](TBlock* S, TTransaction*) {
      S->PassTo(Lines[std::size_t(Split->Count() - 1)]);
    };
    Join->OnRouting = [this](TBlock* S, TTransaction*) { S->PassTo(Exit); };
  }

  TMultiRand* Arrivals = Make<TMultiRand>("Arrivals");
  TMultiRand* Service = Make<TMultiRand>("Service");
  TGenerator* Door = Make<TGenerator>("Door");
  TDivider* Split = Make<TDivider>("Split");
  TAssembler* Join = Make<TAssembler>("Join");
  TTerminator* Exit = Make<TTerminator>("Exit");
  std::vector<TQueue*> Lines;
  int32_t Jobs = 0;
};

// Every part carries its job's own fields, although the records come back
// from the pool with an earlier job's fields in them; the original and its
// copies share the original's number as family.
TEST_F(ForkJoinTest, CopiesCarryTheOriginalsFieldsThroughReusedRecords) {
  Build(3, true);
  std::map<int32_t, std::tuple<int32_t, double, char>> AtSplit; // by original's number
  Split->OnEnter = [&](TBlock*, TTransaction* T) {
    auto* J = static_cast<TJob*>(T);
    AtSplit[T->GetTransID()] = {J->Job, J->Arrived, J->Label[0]};
  };
  int32_t Checked = 0;
  Split->OnExit = [&](TBlock*, TTransaction* T) {
    auto* J = static_cast<TJob*>(T);
    ASSERT_EQ(AtSplit.count(T->Family()), 1u);
    EXPECT_EQ(std::make_tuple(J->Job, J->Arrived, J->Label[0]), AtSplit[T->Family()]);
    if (++Checked % 3 == 0) { // the original leaves last
      EXPECT_EQ(T->Family(), T->GetTransID());
    }
    EXPECT_FALSE(T->HasRemaining());
  };
  Model->Simulate(3000);
  EXPECT_GT(Checked, 5000);
  // The pool was reused over and over: far fewer records than parts.
  EXPECT_LT(Model->TransactionCount(), 200);
}

// With Match every set is one job's parts and the job leaves as its
// original, whatever order the parts arrive in; without it, sets mix jobs
// on this model, and the check says so.
class ForkJoinMatch : public ForkJoinTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ForkJoinMatch, SetsMixFamiliesOnlyWithoutMatch) {
  const bool Match = GetParam();
  Build(2, Match);
  std::map<int32_t, int32_t> Held; // parts in Join, by family
  int32_t Mixed = 0, Sets = 0;
  Join->OnEnter = [&](TBlock*, TTransaction* T) { ++Held[T->Family()]; };
  Join->OnExit = [&](TBlock*, TTransaction* T) {
    ++Sets;
    if (Held[T->Family()] != 2) ++Mixed;
    Held[T->Family()] -= 2;
    if (Match) {
      EXPECT_EQ(T->GetTransID(), T->Family());
    }
  };
  Model->SetCheckModel(true);
  Model->Simulate(5000);
  EXPECT_GT(Sets, 3000);
  if (Match) {
    EXPECT_EQ(Mixed, 0);
    // Only parts still waiting for their sibling are held.
    EXPECT_LE(Join->Count(), Split->Exits() - 2 * Join->Exits());
    return;
  }
  EXPECT_GT(Mixed, Sets / 10);
  EXPECT_EQ(Guard.Messages,
            std::vector<std::string>{
                "Quorin Check: Join joins split transactions that reach it by more than one "
                "route (Station1, Station0), so a set can hold parts of different originals: "
                "set Match to join only the parts of one original"});
  Guard.Messages.clear();
}

INSTANTIATE_TEST_SUITE_P(Match, ForkJoinMatch, ::testing::Bool());

// Parts of several families wait side by side: a set leaves when its own
// family is complete, and Count holds the parts until the set has left.
TEST_F(ForkJoinTest, FamiliesCompleteIndependently) {
  auto* Gen = Make<TGenerator>("Gen");
  auto* Hold = Make<TStorage>("Hold");
  Split->SetCapacity(2);
  Join->SetCapacity(2);
  Join->SetMatch(true);
  Gen->OnBeforeTimeGoOn = [Gen](TAggregate*) {
    Gen->NextTime(1);
    Gen->NextTime(2);
  };
  Gen->OnRouting = [this](TBlock* S, TTransaction*) { S->PassTo(Split); };
  // The copies go to Join at once, the originals are held until 5.
  Split->OnRouting = [this, Hold](TBlock* S, TTransaction* T) {
    S->PassTo(T->Family() == T->GetTransID() ? static_cast<TBlock*>(Hold) : Join);
  };
  Hold->OnEnter = [Hold](TBlock*, TTransaction*) { Hold->NextTime(5 - FSysTime); };
  Hold->OnRouting = [this](TBlock* S, TTransaction*) { S->PassTo(Join); };
  At({4}, [&] {
    EXPECT_EQ(Join->Count(), 2);
    EXPECT_FALSE(Join->HasTransaction());
  });
  Join->OnRouting = [this](TBlock* S, TTransaction*) { S->PassTo(Exit); };
  Exit->OnEnter = [this](TBlock*, TTransaction* T) {
    EXPECT_EQ(T->Family(), T->GetTransID());
    Note(Exit, T, "out");
  };
  Model->Simulate(10);
  EXPECT_EQ(Log, (TLog{{5, "Exit", 1, "out"}, {5, "Exit", 3, "out"}}));
  EXPECT_EQ(Join->Count(), 0);
  EXPECT_EQ(Join->Entries(), 4);
  EXPECT_EQ(Join->Exits(), 2);
}

} // namespace
} // namespace quorin::test
