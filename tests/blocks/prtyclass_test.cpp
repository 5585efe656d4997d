// Statistics per priority class of the priority queue and storage, against
// counts kept by hand from the blocks' own events; resuming a pushed-out
// holding for exactly what was left of it.
#include <map>

#include "fixture.h"
#include "quorin/detail/future.h"
#include "quorin/statsim.h"

namespace quorin::test {
namespace {

// What the handlers see of one class: counts, stays and content over time.
struct THand {
  int32_t Entries = 0, Exits = 0, NonZero = 0, PushOuts = 0, TimeLimits = 0, Held = 0;
  long double Sum = 0, Area = 0, Last = 0;
  void Move(int32_t By) {
    Area += Held * (FSysTime - Last);
    Last = FSysTime;
    Held += By;
  }
};

// Two classes (priority 1 and 4, the urgent ones with the preempt mark) at
// random into a priority queue of capacity 6 that pushes out and where the
// low class has a time limit, served by one clerk.
class PrtyClassTest : public BlockTest {
protected:
  void SetUp() override {
    Rand->SetSeed(97531);
    Line->SetCapacity(6);
    Line->SetPreemptive(true);
    for (auto [Gen, Prty] : {std::pair{Low, uint8_t(1)}, std::pair{High, uint8_t(4)}}) {
      TGenerator* G = Gen;
      const uint8_t P = Prty;
      G->OnBeforeTimeGoOn = [this, G](TAggregate*) { G->NextTime(Rand->Exponential(1.9)); };
      G->OnAfterGeneration = [this, G, P](TBlock*, TTransaction* T) {
        T->SetPrty(P);
        if (P == 4) T->SetPreempt();
        G->NextTime(Rand->Exponential(1.9));
      };
      G->OnRouting = [this](TBlock* S, TTransaction*) {
        if (!S->PassTo(Line)) S->PassTo(Lost);
      };
    }
    Line->OnEnter = [this](TBlock*, TTransaction* T) {
      Arrived[T] = FSysTime;
      Hand[T->GetPrty()].Move(+1);
      ++Hand[T->GetPrty()].Entries;
      if (T->GetPrty() == 1) Line->NextTime(Rand->Exponential(6));
    };
    auto Left = [this](TTransaction* T) {
      THand& H = Hand[T->GetPrty()];
      H.Move(-1);
      ++H.Exits;
      const long double R = FSysTime - Arrived[T];
      H.Sum += R;
      if (R > 0) ++H.NonZero;
    };
    Line->OnExit = [Left](TBlock*, TTransaction* T) { Left(T); };
    Line->OnPreempt = [this, Left](TBlock* S, TTransaction* T) {
      Left(T);
      ++Hand[T->GetPrty()].PushOuts;
      S->PassTo(Lost);
    };
    // Every other time-out is passed on (an exit), the rest are destroyed.
    Line->OnTimeFinish = [this](TBlock* S, TTransaction* T) {
      THand& H = Hand[T->GetPrty()];
      ++H.TimeLimits;
      if (H.TimeLimits % 2 == 0) {
        S->PassTo(Lost);
      } else {
        H.Move(-1);
      }
    };
    Line->OnRouting = [this](TBlock* S, TTransaction*) { S->PassTo(Clerk); };
    Clerk->OnEnter = [this](TBlock*, TTransaction*) { Clerk->NextTime(Rand->Exponential(0.9)); };
    Clerk->OnRouting = [this](TBlock* S, TTransaction*) { S->PassTo(Lost); };
  }

  // The block's figures of class Prty equal the hand count, to rounding.
  void ExpectHand(uint8_t Prty, long double Since) {
    SCOPED_TRACE(int(Prty));
    const THand& H = Hand[Prty];
    const TPrtyStatistics* S = Line->PrtyStatistics(Prty);
    ASSERT_NE(S, nullptr);
    EXPECT_EQ(S->Entries, H.Entries);
    EXPECT_EQ(S->Exits, H.Exits);
    EXPECT_EQ(S->PreemptExits, H.PushOuts);
    EXPECT_EQ(S->TimeLimitExits, H.TimeLimits);
    EXPECT_EQ(S->Count, H.Held);
    EXPECT_NEAR(double(S->AverageTime()), double(H.Sum / H.Exits), 1e-9);
    EXPECT_NEAR(double(S->SAverageTime()), double(H.Sum / H.NonZero), 1e-9);
    const long double Area = H.Area + H.Held * (FSysTime - H.Last);
    EXPECT_NEAR(double(Line->PrtyAverageCount(Prty)), double(Area / (FSysTime - Since)), 1e-9);
  }

  TMultiRand* Rand = Make<TMultiRand>("Rand");
  TGenerator* Low = Make<TGenerator>("Low");
  TGenerator* High = Make<TGenerator>("High");
  TQueuePrty* Line = Make<TQueuePrty>("Line");
  TServer* Clerk = Make<TServer>("Clerk");
  TTerminator* Lost = Make<TTerminator>("Lost");
  std::map<TTransaction*, double> Arrived;
  std::map<uint8_t, THand> Hand;
};

// The classes add up to the block's own figures, and each equals its hand
// count, before and after the statistics are cleared mid-run.
TEST_F(PrtyClassTest, EachClassMatchesTheHandCount) {
  Model->Simulate(2000);
  ASSERT_EQ(Line->PrtyStatistics().size(), 2u);
  EXPECT_GT(Hand[1].PushOuts, 20);
  EXPECT_GT(Hand[1].TimeLimits, 20);
  ExpectHand(1, 0);
  ExpectHand(4, 0);
  const TPrtyStatistics &A = Line->PrtyStatistics()[0], &B = Line->PrtyStatistics()[1];
  EXPECT_EQ(A.Entries + B.Entries, Line->Entries());
  EXPECT_EQ(A.Exits + B.Exits, Line->Exits());
  EXPECT_EQ(A.PreemptExits + B.PreemptExits, Line->PreemptExits());

  const long double Cleared = FSysTime;
  Model->ClearStatistics();
  for (auto& [Prty, H] : Hand) {
    H.Move(0);
    H = {0, 0, 0, 0, 0, H.Held, 0, 0, H.Last};
  }
  Model->Simulate(5000);
  ExpectHand(1, Cleared);
  ExpectHand(4, Cleared);
  EXPECT_EQ(Line->PrtyStatistics(2), nullptr);
  EXPECT_EQ(Line->PrtyAverageCount(2), 0);
  Model->Reset();
  EXPECT_TRUE(Line->PrtyStatistics().empty());
}

// A low-class job on a priority storage of one unit is pushed out twice by
// urgent jobs, waits, and each time resumes for what it had left: with
// constant holding times of 10 it spends exactly 10 holding in all and
// leaves at 30 (urgent ones hold 4-14 and 16-26; the second reuses the
// first one's record and number).
TEST_F(BlockTest, PushedOutHoldingResumesForExactlyWhatWasLeft) {
  auto* Gen = Make<TGenerator>("Gen");
  auto* Cpu = Make<TStoragePrty>("Cpu");
  auto* Wait = Make<TQueuePrty>("Wait");
  auto* Exit = Make<TTerminator>("Exit");
  Cpu->SetCapacity(1);
  Cpu->SetPreemptive(true);
  const std::vector<std::pair<double, uint8_t>> Jobs = {{0, 1}, {4, 2}, {16, 2}};
  std::size_t Made = 0;
  Gen->OnBeforeTimeGoOn = [&](TAggregate*) {
    for (auto [At, Prty] : Jobs)
      Gen->NextTime(At);
  };
  Gen->OnAfterGeneration = [&](TBlock*, TTransaction* T) {
    T->SetPrty(Jobs[Made++].second);
    if (T->GetPrty() == 2) T->SetPreempt();
  };
  Gen->OnRouting = [&](TBlock* S, TTransaction*) { S->PassTo(Cpu); };
  std::map<int32_t, double> Held, Since;
  std::vector<double> Left;
  Cpu->OnEnter = [&](TBlock*, TTransaction* T) {
    Since[T->GetTransID()] = FSysTime;
    Cpu->NextTime(T->HasRemaining() ? T->Remaining() : 10.0);
  };
  auto Stop = [&](TTransaction* T) { Held[T->GetTransID()] += FSysTime - Since[T->GetTransID()]; };
  Cpu->OnExit = [&](TBlock*, TTransaction* T) {
    // Also for the pushed-out one passed on from OnPreempt: count it there.
    if (!T->HasRemaining()) Stop(T);
  };
  Cpu->OnPreempt = [&](TBlock* S, TTransaction* T) {
    Left.push_back(T->Remaining());
    Stop(T);
    S->PassTo(Wait);
  };
  Cpu->OnRouting = [&](TBlock* S, TTransaction*) { S->PassTo(Exit); };
  Wait->OnRouting = [&](TBlock* S, TTransaction*) { S->PassTo(Cpu); };
  Exit->OnEnter = [&](TBlock* S, TTransaction* T) { Note(S, T, "done"); };
  Model->Simulate(100);
  EXPECT_EQ(Log, (TLog{{14, "Exit", 2, "done"}, {26, "Exit", 2, "done"}, {30, "Exit", 1, "done"}}));
  EXPECT_EQ(Left, (std::vector<double>{6, 4}));
  EXPECT_EQ(Held[1], 10);
  // The storage's own class figures: three stays of the low class.
  const TPrtyStatistics* L = Cpu->PrtyStatistics(1);
  ASSERT_NE(L, nullptr);
  EXPECT_EQ(L->Entries, 3);
  EXPECT_EQ(L->PreemptExits, 2);
  EXPECT_EQ(L->Exits, 3);
  EXPECT_DOUBLE_EQ(double(L->AverageTime()), 10.0 / 3);
}

// A remainder lasts only until the transaction's next activation is
// ordered: a time limit in between leaves nothing to resume.
TEST_F(BlockTest, RemainderGoesWithTheNextActivation) {
  auto* Gen = Make<TGenerator>("Gen");
  auto* Cpu = Make<TStoragePrty>("Cpu");
  auto* Wait = Make<TQueue>("Wait");
  auto* Exit = Make<TTerminator>("Exit");
  Cpu->SetCapacity(1);
  Gen->OnBeforeTimeGoOn = [&](TAggregate*) {
    Gen->NextTime(0);
    Gen->NextTime(2);
  };
  Gen->OnAfterGeneration = [&](TBlock*, TTransaction* T) {
    if (FSysTime > 0) {
      T->SetPrty(5);
      T->SetPreempt();
    }
  };
  Gen->OnRouting = [&](TBlock* S, TTransaction*) { S->PassTo(Cpu); };
  Cpu->SetPreemptive(true);
  Cpu->OnEnter = [&](TBlock*, TTransaction*) { Cpu->NextTime(10); };
  std::vector<double> Seen;
  Cpu->OnPreempt = [&](TBlock* S, TTransaction* T) {
    Seen.push_back(T->Remaining());
    S->PassTo(Wait);
  };
  Wait->OnEnter = [&](TBlock*, TTransaction* T) {
    Wait->NextTime(1);
    Seen.push_back(T->Remaining());
  };
  Wait->OnTimeFinish = [&](TBlock* S, TTransaction*) { S->PassTo(Exit); };
  Cpu->OnRouting = [&](TBlock* S, TTransaction*) { S->PassTo(Exit); };
  Model->Simulate(100);
  EXPECT_EQ(Seen, (std::vector<double>{8, -1}));
}

} // namespace
} // namespace quorin::test
