#include <algorithm>
#include <deque>
#include <map>
#include <random>
#include <stdexcept>

#include "fixture.h"
#include "quorin/detail/current.h"
#include "quorin/detail/future.h"

namespace quorin::test {
namespace {

// One arrival: when, with which priority and preempt mark.
struct TArrival {
  double Time;
  uint8_t Prty;
  bool Preempt = false;
};

// Gen makes the Arrivals (sorted by time) and passes each into Q; one that Q
// refuses is noted and terminated. Q passes to Done, a queue that keeps what
// it gets (so no record is reused), while Budget allows; a Ticker generation
// at each of Ticks raises Budget by one (its own transaction is terminated).
class PrtyQueueTest : public BlockTest {
protected:
  void SetUp() override {
    Feed(Gen, Arrivals, Made, Q, Term);
    Q->OnExit = Noting("exit");
    Q->OnRouting = [this](TBlock* Sender, TTransaction*) {
      if (Budget > 0 && Sender->PassTo(Done)) --Budget;
    };
    Ticker->OnBeforeTimeGoOn = [this](TAggregate*) {
      for (double T : Ticks)
        Ticker->NextTime(T);
    };
    Ticker->OnAfterGeneration = [this](TBlock*, TTransaction*) { ++Budget; };
    Ticker->OnRouting = [this](TBlock* Sender, TTransaction*) { Sender->PassTo(Term); };
  }

  std::vector<TArrival> Arrivals;
  std::vector<double> Ticks;
  size_t Made = 0;
  int Budget = 0;
  TGenerator* Gen = Make<TGenerator>("Gen");
  TQueuePrty* Q = Make<TQueuePrty>("Q");
  TQueue* Done = Make<TQueue>("Done");
  TTerminator* Term = Make<TTerminator>("Term");
  TGenerator* Ticker = Make<TGenerator>("Ticker");
};

// A 3, B 7, C 5 and D 5 wait; they leave B, C, D (equal priorities in order
// of arrival), then E 9, arriving at 11.5 (on the ticker's freed record, so
// number 5), goes before D and A.
TEST_F(PrtyQueueTest, HighestPriorityFirstOldestFirstWithin) {
  EXPECT_EQ(Q->MinPrty(), 0);
  EXPECT_EQ(Q->MaxPrty(), 0);
  EXPECT_EQ(Q->PrtyCount(0), 0);
  Arrivals = {{0, 3}, {1, 7}, {2, 5}, {3, 5}, {11.5, 9}};
  Ticks = {10, 11, 12, 13, 14};
  At({5}, [this] {
    EXPECT_EQ(Q->Count(), 4);
    EXPECT_EQ(Q->QueCount(), 3);
    EXPECT_EQ(Q->MinPrty(), 3);
    EXPECT_EQ(Q->MaxPrty(), 7);
    EXPECT_EQ(Q->PrtyCount(5), 2);
    EXPECT_EQ(Q->PrtyCount(4), 0);
    EXPECT_EQ(Q->Transaction()->GetTransID(), 2);
    EXPECT_EQ(CurrentManager->Count(), 1); // joined once, at the first entry
  });
  At({10.5}, [this] { EXPECT_EQ(Q->MaxPrty(), 5); }); // class 7 is gone
  Model->Simulate(100);
  const TLog Expected = {{10, "Q", 2, "exit"},
                         {11, "Q", 3, "exit"},
                         {12, "Q", 5, "exit"},
                         {13, "Q", 4, "exit"},
                         {14, "Q", 1, "exit"}};
  EXPECT_EQ(Log, Expected);
  EXPECT_EQ(Q->Count(), 0);
  EXPECT_EQ(Q->QueCount(), 0);
  EXPECT_EQ(Q->MinPrty(), 0);
  EXPECT_EQ(Q->MaxPrty(), 0);
  EXPECT_EQ(Q->Transaction(), nullptr);
  EXPECT_FALSE(Q->HasTransaction());
  EXPECT_EQ(Q->Entries(), 5);
  EXPECT_EQ(Q->Exits(), 5);
  EXPECT_EQ(Q->MaxCount(), 4);
  // Only Done, which keeps what it holds, is left in the chain.
  EXPECT_EQ(CurrentManager->Count(), 1);
  EXPECT_EQ(CurrentManager->First()->Block, Done);
}

// A full queue holds A (priority 1, from 0) and B (priority 5, from 1); T
// comes at 2. Shown at 3 and in the whole log.
struct TPushOutCase {
  const char* Name;
  int32_t Capacity;
  bool Preemptive;
  TArrival T;
  bool RouteVictim; // OnPreempt passes the pushed-out one to Aside
  int32_t Count, PreemptExits, Exits, AsideCount;
  TLog Log;
};

class PushOutTest : public PrtyQueueTest, public ::testing::WithParamInterface<TPushOutCase> {};

TEST_P(PushOutTest, FullQueue) {
  const TPushOutCase& Case = GetParam();
  auto* Aside = Make<TQueue>("Aside");
  Q->SetCapacity(Case.Capacity);
  Q->SetPreemptive(Case.Preemptive);
  Q->OnPreempt = [&, Aside](TBlock* Sender, TTransaction* T) {
    Note(Sender, T, "preempt");
    if (Case.RouteVictim) {
      EXPECT_TRUE(Sender->PassTo(Aside));
      EXPECT_FALSE(Sender->PassTo(Aside)); // it has gone: nothing more to pass
    }
  };
  Arrivals = {{0, 1}, {1, 5}, Case.T};
  At({3}, [&] {
    EXPECT_EQ(Q->Count(), Case.Count);
    EXPECT_EQ(Q->PreemptExits(), Case.PreemptExits);
    EXPECT_EQ(Q->Exits(), Case.Exits);
    EXPECT_EQ(Aside->Count(), Case.AsideCount);
    // A pushed-out transaction that nobody took went back to the pool (the
    // refused ones went there through the terminator).
    const bool Freed =
        Case.PreemptExits > Case.AsideCount || (Case.PreemptExits == 0 && Case.Count < 3);
    EXPECT_EQ(TransManager->isDeadExist(), Freed);
  });
  Model->Simulate(100);
  EXPECT_EQ(Log, Case.Log);
  EXPECT_EQ(Q->Entries(), Case.Count < 3 ? 2 + (Case.PreemptExits ? 1 : 0) : 3);
}

const TLogEntry PushedA{2, "Q", 1, "preempt"}, RefusedT{2, "Q", 3, "refused"};

// clang-format off
const TPushOutCase PushOutCases[] = {
    // name               cap preempt  T             route  Count PE Exits Aside
    {"MarkedHigherPushesOutOldestLowest",
                          2,  true,  {2, 3, true},  false, 2,    1, 1,    0, {PushedA}},
    {"PushedOutPassedOnWithoutOnExit",
                          2,  true,  {2, 3, true},  true,  2,    1, 1,    1, {PushedA}},
    {"MarkedEqualRefused",  2,  true,  {2, 1, true},  false, 2,    0, 0,    0, {RefusedT}},
    {"UnmarkedRefused",     2,  true,  {2, 9, false}, false, 2,    0, 0,    0, {RefusedT}},
    {"NotPreemptiveRefused",2,  false, {2, 9, true},  false, 2,    0, 0,    0, {RefusedT}},
    {"NoCapacityNoPushOut", 0,  true,  {2, 9, true},  false, 3,    0, 0,    0, {}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cases, PushOutTest, ::testing::ValuesIn(PushOutCases),
                         [](const ::testing::TestParamInfo<TPushOutCase>& Info) {
                           return std::string(Info.param.Name);
                         });

// Limits from OnEnter: B (priority 5) expires at 5 unrouted and is
// destroyed uncounted; A expires at 7 and OnTimeFinish passes it to Done.
// After each expiry the oldest of the highest class is offered. An
// activation ordered on the empty queue at 0 carries nothing and is ignored.
TEST_F(PrtyQueueTest, TimeLimits) {
  Arrivals = {{1, 1}, {2, 5}, {3, 5}, {3, 1}};
  Q->OnEnter = [](TBlock* Sender, TTransaction* T) {
    if (T->GetTransID() == 2) Sender->NextTime(3);
    if (T->GetTransID() == 1) Sender->NextTime(6);
  };
  Q->OnTimeFinish = [this](TBlock* Sender, TTransaction* T) {
    Note(Sender, T, "limit");
    if (T->GetTransID() == 1) {
      EXPECT_TRUE(Sender->PassTo(Done));
    }
  };
  At({0}, [this] { Q->NextTime(0.5); });
  At({5.5}, [this] {
    EXPECT_EQ(Q->Transaction()->GetTransID(), 3);
    EXPECT_EQ(Q->PrtyCount(5), 1);
  });
  Ticks = {10, 11};
  Model->Simulate(100);
  const TLog Expected = {{5, "Q", 2, "limit"},
                         {7, "Q", 1, "limit"},
                         {7, "Q", 1, "exit"},
                         {10, "Q", 3, "exit"},
                         {11, "Q", 4, "exit"}};
  EXPECT_EQ(Log, Expected);
  EXPECT_EQ(Q->TimeLimitExits(), 2);
  EXPECT_EQ(Q->Exits(), 3);
  EXPECT_EQ(Q->AverageTime(), (6 + 7 + 8) / 3.0L);
  EXPECT_EQ(Q->Count(), 0);
  EXPECT_EQ(Q->QueCount(), 0);
}

// An OnTimeFinish that throws: the exception leaves Simulate, and a
// transaction the handler did not pass on is destroyed as when it returns
// (counted as a time limit, gone from its class and its class's
// statistics); one it passed before throwing has left. The plain queue does
// the same (Throwing/OnTimeFinish in the robustness suite).
TEST_F(PrtyQueueTest, ThrowingTimeFinishDestroysWhatItDidNotPass) {
  Arrivals = {{1, 2}, {2.5, 2}, {4, 4}};
  Q->OnEnter = [](TBlock* Sender, TTransaction*) { Sender->NextTime(1); };
  int Limits = 0;
  Q->OnTimeFinish = [this, &Limits](TBlock* Sender, TTransaction*) {
    if (++Limits == 2) {
      EXPECT_TRUE(Sender->PassTo(Done));
    }
    throw std::runtime_error("limit");
  };
  EXPECT_THROW(Model->Simulate(100), std::runtime_error);
  EXPECT_EQ(FSysTime, 2);
  EXPECT_EQ(Q->Count(), 0);
  EXPECT_EQ(Q->QueCount(), 0);
  EXPECT_EQ(Q->TimeLimitExits(), 1);
  EXPECT_EQ(Q->PrtyStatistics(2)->Count, 0);
  EXPECT_EQ(Q->PrtyStatistics(2)->TimeLimitExits, 1);
  EXPECT_FALSE(Q->HasTransaction());
  EXPECT_TRUE(TransManager->isDeadExist());

  EXPECT_THROW(Model->Simulate(100), std::runtime_error);
  EXPECT_EQ(FSysTime, 3.5);
  EXPECT_EQ(Done->Count(), 1);
  EXPECT_EQ(Q->Count(), 0);
  EXPECT_EQ(Q->PrtyStatistics(2)->TimeLimitExits, 2);

  EXPECT_THROW(Model->Simulate(100), std::runtime_error);
  EXPECT_EQ(FSysTime, 5);
  EXPECT_EQ(Q->Count(), 0);
  EXPECT_EQ(Q->PrtyStatistics(4)->Count, 0);
  EXPECT_EQ(Q->TimeLimitExits(), 3);
}

// A (3), B (3) and C (5) wait; at 3 A's priority becomes 9 and B's 1. Both
// stay in the class they were filed under: C leaves first, then A and B in
// order of arrival; B's time limit, due at 5 in the middle of the rush,
// finds it in its class too. Nothing is torn apart: the queue ends empty.
TEST_F(PrtyQueueTest, PriorityChangedWhileWaitingKeepsItsClass) {
  Arrivals = {{0, 3}, {1, 3}, {2, 5}, {2, 3}};
  TTransaction* A = nullptr;
  TTransaction* B = nullptr;
  Q->OnEnter = [&](TBlock* Sender, TTransaction* T) {
    if (T->GetTransID() == 1) A = T;
    if (T->GetTransID() == 2) {
      B = T;
      Sender->NextTime(4);
    }
  };
  Q->OnTimeFinish = Noting("limit");
  At({3}, [&] {
    A->SetPrty(9);
    B->SetPrty(1);
    EXPECT_EQ(Q->PrtyCount(3), 3);
    EXPECT_EQ(Q->PrtyCount(9), 0);
    EXPECT_EQ(Q->MinPrty(), 3);
    EXPECT_EQ(Q->MaxPrty(), 5);
  });
  Ticks = {6, 7, 8};
  Model->Simulate(100);
  const TLog Expected = {
      {5, "Q", 2, "limit"}, {6, "Q", 3, "exit"}, {7, "Q", 1, "exit"}, {8, "Q", 4, "exit"}};
  EXPECT_EQ(Log, Expected);
  EXPECT_EQ(Q->Count(), 0);
  EXPECT_EQ(Q->QueCount(), 0);
  EXPECT_EQ(Q->Transaction(), nullptr);
}

// All 256 priorities at once (entered in a scrambled order): 256 classes,
// then every one leaves, highest first.
TEST_F(PrtyQueueTest, AllPrioritiesPresentAtOnce) {
  for (int i = 0; i < 256; ++i)
    Arrivals.push_back({0, uint8_t(i * 77 % 256)});
  std::vector<int> Left;
  Q->OnExit = [&](TBlock*, TTransaction* T) { Left.push_back(T->GetPrty()); };
  At({1}, [this] {
    EXPECT_EQ(Q->QueCount(), 256);
    EXPECT_EQ(Q->MinPrty(), 0);
    EXPECT_EQ(Q->MaxPrty(), 255);
    for (int P = 0; P < 256; ++P)
      EXPECT_EQ(Q->PrtyCount(uint8_t(P)), 1) << P;
    Budget = 1000;
  });
  Ticks = {2};
  Model->Simulate(100);
  ASSERT_EQ(Left.size(), 256u);
  for (int i = 0; i < 256; ++i)
    EXPECT_EQ(Left[size_t(i)], 255 - i);
  EXPECT_EQ(Q->QueCount(), 0);
}

// An OnEnter that throws: the exception leaves Simulate, and the
// transaction is filed all the same. An OnPreempt that throws: the
// exception leaves Simulate and the pushed-out one goes back to the pool.
TEST_F(PrtyQueueTest, ThrowingHandlersLeaveTheQueueWhole) {
  Arrivals = {{0, 4}, {1, 2}, {2, 6, true}};
  Q->SetCapacity(2);
  Q->SetPreemptive(true);
  Q->OnEnter = [](TBlock*, TTransaction* T) {
    if (T->GetTransID() == 2) throw std::runtime_error("enter");
  };
  Q->OnPreempt = [](TBlock*, TTransaction*) { throw std::runtime_error("preempt"); };
  EXPECT_THROW(Model->Simulate(100), std::runtime_error);
  EXPECT_EQ(FSysTime, 1);
  EXPECT_EQ(Q->Count(), 2);
  EXPECT_EQ(Q->PrtyCount(2), 1);
  EXPECT_TRUE(Q->HasTransaction());
  EXPECT_EQ(Q->Transaction()->GetTransID(), 1);

  EXPECT_THROW(Model->Simulate(100), std::runtime_error);
  EXPECT_EQ(FSysTime, 2);
  EXPECT_EQ(Q->Count(), 2);
  EXPECT_EQ(Q->PrtyCount(2), 0);
  EXPECT_EQ(Q->PreemptExits(), 1);
  EXPECT_EQ(Q->MaxPrty(), 6);
  EXPECT_EQ(Q->Transaction()->GetTransID(), 3);
  EXPECT_TRUE(TransManager->isDeadExist());
}

// The class operations against a plain reference (a map from priority to
// the transactions filed under it, oldest first) after every one of many
// random filings, removals from any place in a class and priority changes.
// Every class is walked both ways, so a broken link shows at once.
TEST_F(BlockTest, PriorityClassesMatchAReference) {
  struct TOpen : TQueuePrty {
    using TQueuePrty::TQueuePrty;
    using TQueuePrtyCustom::FFirstQue;
    using TQueuePrtyCustom::FLastQue;
  };
  auto* Q = Make<TOpen>("Q");
  std::map<int, std::deque<TTransaction*>> Ref;
  std::vector<TTransaction*> Held;
  auto Agrees = [&]() -> ::testing::AssertionResult {
    const TQueHead* C = Q->FFirstQue;
    const TQueHead* Prev = nullptr;
    int32_t Total = 0;
    for (const auto& [P, List] : Ref) {
      if (List.empty()) continue;
      if (!C || C->Prty != P || C->Prev != Prev || C->Count != int32_t(List.size()))
        return ::testing::AssertionFailure() << "class " << P;
      const TTransaction* T = C->First;
      const TTransaction* Back = nullptr;
      for (TTransaction* R : List) {
        if (T != R || T->FPrev != Back) return ::testing::AssertionFailure() << "in class " << P;
        Back = T;
        T = T->FNext;
      }
      if (T || C->Last != Back) return ::testing::AssertionFailure() << "end of class " << P;
      Total += C->Count;
      Prev = C;
      C = C->Next;
    }
    if (C || Q->FLastQue != Prev || Q->Count() != Total ||
        Q->QueCount() != int32_t(std::count_if(Ref.begin(), Ref.end(),
                                               [](const auto& E) { return !E.second.empty(); })))
      return ::testing::AssertionFailure() << "class list";
    return ::testing::AssertionSuccess();
  };
  At({1}, [&] {
    std::mt19937 Random(12345);
    for (int Step = 0; Step < 3000; ++Step) {
      const unsigned Op = Random() % 8;
      if (Held.empty() || Op < 4) {
        TTransaction* T = TTransaction::Create();
        T->SetPrty(uint8_t(Random() % (Step % 2 ? 8 : 256)));
        Q->AddTrans(Q->GetQue(T->GetPrty()), T);
        Ref[T->GetPrty()].push_back(T);
        Held.push_back(T);
      } else if (Op < 7) {
        const size_t K = Random() % Held.size();
        TTransaction* T = Held[K];
        TQueHead* C = Q->FindQue(T);
        ASSERT_NE(C, nullptr);
        auto& List = Ref[C->Prty];
        List.erase(std::find(List.begin(), List.end(), T));
        Q->DelTrans(T);
        Held.erase(Held.begin() + std::ptrdiff_t(K));
      } else {
        Held[Random() % Held.size()]->SetPrty(uint8_t(Random()));
      }
      ASSERT_TRUE(Agrees()) << "step " << Step;
    }
  });
  Model->Simulate(10);
}

// Reset forgets classes and statistics; the next run starts afresh.
TEST_F(PrtyQueueTest, ResetEmptiesTheQueue) {
  Arrivals = {{0, 3}, {1, 7}};
  Model->Simulate(100);
  EXPECT_EQ(Q->Count(), 2);
  Model->Reset();
  EXPECT_EQ(Q->Count(), 0);
  EXPECT_EQ(Q->QueCount(), 0);
  EXPECT_EQ(Q->MaxPrty(), 0);
  EXPECT_EQ(Q->Entries(), 0);
  EXPECT_EQ(Q->Transaction(), nullptr);
  EXPECT_FALSE(Q->HasTransaction());
  EXPECT_TRUE(Q->IsReadyToReceive(nullptr));
  // Without a run there is no pool to take a class head from.
  EXPECT_EQ(Q->GetQue(3), nullptr);
  EXPECT_EQ(Q->QueCount(), 0);
  Made = 0;
  Model->Simulate(100);
  EXPECT_EQ(Q->Count(), 2);
  EXPECT_EQ(Q->Transaction()->GetTransID(), 2);
}

} // namespace
} // namespace quorin::test
