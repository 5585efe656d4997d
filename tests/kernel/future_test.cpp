#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <type_traits>
#include <utility>

#include "test_blocks.h"
#include "quorin/detail/future.h"

using namespace quorin;

namespace {

// A future events list over its own heap, with no model around it.
class FutureList : public testing::Test {
protected:
  void SetUp() override {
    GlobalHeap = HeapCreate(0, 2048, 64u << 20);
    FSysTime = 0.0;
    List = new TFutureManager(1024);
    A.SetName("Server1");
  }
  void TearDown() override {
    delete List;
    HeapDestroy(GlobalHeap);
    GlobalHeap = nullptr;
    FSysTime = 0.0;
  }
  TAggregate* Take() {
    TAggregate* Agg = nullptr;
    TTransaction* T = nullptr;
    List->TakeNext(Agg, T);
    return Agg;
  }
  TFutureManager* List = nullptr;
  TScheduler A{nullptr}, B{nullptr}, C{nullptr};
  test::TMessageCapture Capture;
};

TEST_F(FutureList, LevelsFollowTheSeededGenerator) {
  EXPECT_EQ(List->Seed(), 1000000000);
  List->FRand();
  EXPECT_EQ(List->Seed(), 227605715);
  List->FRand();
  EXPECT_EQ(List->Seed(), 1231612174);
  List->FRand();
  EXPECT_EQ(List->Seed(), 1600820337);

  // The state follows seed := 950706376 * seed mod (2^31 - 1) exactly.
  for (int64_t Expected = List->Seed(), i = 0; i < 100000; ++i) {
    Expected = 950706376LL * Expected % 2147483647LL;
    ASSERT_EQ(List->FRand(), double(Expected) / 2147483647.0);
    ASSERT_EQ(List->Seed(), Expected);
  }

  TFutureManager Fresh(1024);
  std::vector<int32_t> Levels;
  for (int i = 0; i < 12; ++i)
    Levels.push_back(Fresh.RandomLevel());
  EXPECT_EQ(Levels, (std::vector<int32_t>{2, 1, 2, 2, 2, 1, 2, 3, 4, 2, 1, 3}));
}

TEST_F(FutureList, FirstInsertMakesOneLevelWithSentinels) {
  List->Insert(5.0, &A, nullptr);
  EXPECT_EQ(List->Level(), 1);
  EXPECT_EQ(List->TotalItemCount(), 3);
  EXPECT_EQ(List->Count(), 1);
}

TEST_F(FutureList, EqualTimesComeOutFirstInFirstOut) {
  // Twelve activations at one time get levels 2,1,2,2,2,1,2,3,4,2,1,3;
  // zero delays are ordered after everything already due at that time.
  std::vector<TScheduler*> Aggs;
  for (int i = 0; i < 12; ++i)
    Aggs.push_back(new TScheduler(nullptr));
  for (int i = 0; i < 12; ++i)
    List->Insert(1.0, Aggs[std::size_t(i)], nullptr);
  for (int i = 0; i < 12; ++i)
    EXPECT_EQ(Take(), Aggs[std::size_t(i)]) << i;
  EXPECT_EQ(FSysTime, 1.0);
  List->Insert(0.0, &A, nullptr);
  List->Insert(0.0, &B, nullptr);
  EXPECT_EQ(Take(), &A);
  EXPECT_EQ(Take(), &B);
  for (TScheduler* S : Aggs)
    delete S;
}

TEST_F(FutureList, RefusesNegativeAndTooLateTimes) {
  FSysTime = 2.0;
  List->Insert(-0.5, &A, nullptr);
  List->Insert(std::nan(""), &A, nullptr);
  List->Insert(1e10 - 2.0, &A, nullptr);
  List->Insert(1e10 - 2.5, &B, nullptr); // below the limit: accepted
  EXPECT_EQ(
      Capture.Messages,
      (std::vector<std::string>{
          "Quorin Error: Negative activation time is ordered by Server1 at model time 2.0000000",
          "Quorin Error: Negative activation time is ordered by Server1 at model time 2.0000000",
          "Quorin Error: Value of activation time is limited by 10000000000.0"}));
  EXPECT_EQ(List->Count(), 1);
  EXPECT_EQ(List->TotalItemCount(), 3); // one activation and two sentinels
}

TEST_F(FutureList, CancelledEntryMovesTheClockOnly) {
  List->Insert(3.0, &A, nullptr);
  List->Insert(4.0, &B, nullptr);
  TTransaction Trans; // the list only links it through FEvent
  TTransaction* T = nullptr;
  TAggregate* Agg = &C;
  List->Insert(1.0, &C, &Trans);
  ASSERT_NE(Trans.FEvent, nullptr);
  Trans.CancelEvent();
  List->TakeNext(Agg, T);
  EXPECT_EQ(Agg, nullptr);
  EXPECT_EQ(FSysTime, 1.0);
  EXPECT_EQ(Take(), &A);
  EXPECT_EQ(FSysTime, 3.0);
}

TEST_F(FutureList, EmptyListAnswersNullsAndKeepsTheClock) {
  FSysTime = 7.0;
  TAggregate* Agg = &A;
  TTransaction* T = reinterpret_cast<TTransaction*>(&B);
  List->TakeNext(Agg, T);
  EXPECT_EQ(Agg, nullptr);
  EXPECT_EQ(T, nullptr);
  EXPECT_EQ(FSysTime, 7.0);

  List->Insert(1.0, &A, nullptr); // levels drawn: 2, 1, 2, then 2
  List->Insert(2.0, &B, nullptr);
  List->Insert(3.0, &C, nullptr);
  EXPECT_EQ(Take(), &A);
  EXPECT_EQ(Take(), &B);
  EXPECT_EQ(Take(), &C);
  const int32_t Levels = List->Level();
  const int32_t Records = List->TotalItemCount();
  List->Insert(1.0, &C, nullptr);
  EXPECT_EQ(List->Level(), Levels);           // levels and their sentinels stay
  EXPECT_EQ(List->TotalItemCount(), Records); // the node given back last is reused
}

// Random inserts, cancellations and takes, checked after every step against
// a plain ordered map keyed by (time, insertion number). Both kinds of list
// must give the same order.
class FutureListKinds : public FutureList, public testing::WithParamInterface<TEventList> {};

TEST_P(FutureListKinds, MatchesAReferenceOrderUnderRandomOperations) {
  ASSERT_TRUE(List->SetKind(GetParam()));
  std::mt19937_64 Rng(12345);
  std::vector<TScheduler*> Aggs;
  for (int i = 0; i < 64; ++i)
    Aggs.push_back(new TScheduler(nullptr));
  // Transactions only carry FEvent here; a cancelled entry comes out with a
  // null aggregate at its time.
  std::vector<TTransaction> Trans(32);
  std::map<std::pair<double, int64_t>, std::pair<TAggregate*, TTransaction*>> Reference;
  int64_t Seq = 0;
  for (int Step = 0; Step < 40000; ++Step) {
    // Grow, then drain to empty and refill a few times: levels empty and
    // fill again while the list keeps every level it ever had.
    const unsigned InsertShare = (Step / 5000) % 2 == 0 ? 6 : 3;
    const auto Choice = Rng() % 10;
    if (Choice < InsertShare || Reference.empty()) {
      // Coarse times give many ties.
      const double Delay = double(Rng() % 50) * 0.5;
      TScheduler* Agg = Aggs[Rng() % Aggs.size()];
      TTransaction* T = nullptr;
      if (Rng() % 4 == 0) {
        T = &Trans[Rng() % Trans.size()];
        if (T->FEvent) T = nullptr; // one pending activation per transaction
      }
      List->Insert(Delay, Agg, T);
      Reference.emplace(std::make_pair(FSysTime + Delay, Seq++), std::make_pair(Agg, T));
    } else if (Choice == 9) {
      TTransaction& T = Trans[Rng() % Trans.size()];
      for (auto& [Key, Entry] : Reference)
        if (T.FEvent && Entry.second == &T) Entry.first = nullptr;
      T.CancelEvent();
    } else {
      TAggregate* Agg = nullptr;
      TTransaction* T = nullptr;
      List->TakeNext(Agg, T);
      auto First = Reference.begin();
      ASSERT_EQ(FSysTime, First->first.first) << "step " << Step;
      ASSERT_EQ(Agg, First->second.first) << "step " << Step;
      if (Agg) {
        ASSERT_EQ(T, First->second.second) << "step " << Step;
        if (T) {
          EXPECT_EQ(T->FEvent, nullptr);
        }
      }
      Reference.erase(First);
    }
    ASSERT_EQ(List->Count(), int32_t(Reference.size()));
  }
  for (TScheduler* S : Aggs)
    delete S;
}

INSTANTIATE_TEST_SUITE_P(Kinds, FutureListKinds,
                         testing::Values(TEventList::Levels, TEventList::Heap),
                         [](const auto& Info) {
                           return Info.param == TEventList::Levels ? "Levels" : "Heap";
                         });

// The contract of both implementations, shadowed by a std::multimap keyed
// by time (which keeps equal keys in insertion order): random inserts at
// coarse times (many ties), cancellations through a transaction, Forget of
// an aggregate, HasPending, and takes, compared after every step.
template <class TList> class FutureListContract : public FutureList {};
using TListImplementations = testing::Types<TLevelsList, THeapList>;
TYPED_TEST_SUITE(FutureListContract, TListImplementations);

TYPED_TEST(FutureListContract, MatchesAMultimapUnderRandomOperations) {
  std::unique_ptr<TypeParam> Impl;
  if constexpr (std::is_same_v<TypeParam, TLevelsList>)
    Impl = std::make_unique<TLevelsList>(1024, false);
  else
    Impl = std::make_unique<THeapList>(1024);
  std::mt19937_64 Rng(2024);
  std::vector<std::unique_ptr<TScheduler>> Aggs;
  for (int i = 0; i < 16; ++i)
    Aggs.push_back(std::make_unique<TScheduler>(nullptr));
  std::vector<TTransaction> Trans(24);
  struct TPending {
    TAggregate* Aggregate; // null once cancelled
    TTransaction* Trans;
  };
  std::multimap<double, TPending> Reference;
  double Now = 0.0;
  for (int Step = 0; Step < 30000; ++Step) {
    const auto Choice = Rng() % 20;
    const unsigned InsertShare = (Step / 3000) % 2 == 0 ? 12 : 6; // grow, then drain
    if (Choice < InsertShare || Reference.empty()) {
      const double Time = Now + double(Rng() % 40) * 0.25;
      TAggregate* Agg = Aggs[Rng() % Aggs.size()].get();
      TTransaction* T = nullptr;
      if (Rng() % 3 == 0) {
        T = &Trans[Rng() % Trans.size()];
        if (T->FEvent) T = nullptr; // one pending activation per transaction
      }
      TFutureEvent* Event = Impl->Insert(Time, Agg, T);
      ASSERT_NE(Event, nullptr);
      ASSERT_EQ(Event->Aggregate, Agg);
      if (T) {
        ASSERT_EQ(T->FEvent, Event);
      }
      Reference.emplace(Time, TPending{Agg, T});
    } else if (Choice == 18) {
      TTransaction& T = Trans[Rng() % Trans.size()];
      for (auto& [Time, P] : Reference)
        if (T.FEvent && P.Trans == &T && P.Aggregate) P.Aggregate = nullptr;
      T.CancelEvent();
    } else if (Choice == 19) {
      TAggregate* Agg = Aggs[Rng() % Aggs.size()].get();
      bool Pending = false;
      for (auto& [Time, P] : Reference)
        if (P.Aggregate == Agg) {
          Pending = true;
          P.Aggregate = nullptr;
        }
      ASSERT_EQ(Impl->HasPending(Agg), Pending) << "step " << Step;
      Impl->Forget(Agg);
      ASSERT_FALSE(Impl->HasPending(Agg));
      for (TTransaction& T : Trans)
        if (T.FEvent) {
          ASSERT_NE(T.FEvent->Aggregate, Agg) << "step " << Step;
        }
    } else {
      TAggregate* Agg = nullptr;
      TTransaction* T = nullptr;
      Now = Impl->TakeNext(Agg, T);
      const auto First = Reference.begin();
      ASSERT_EQ(Now, First->first) << "step " << Step;
      ASSERT_EQ(Agg, First->second.Aggregate) << "step " << Step;
      if (Agg) {
        ASSERT_EQ(T, First->second.Trans) << "step " << Step;
        if (T) {
          ASSERT_EQ(T->FEvent, nullptr);
        }
      }
      Reference.erase(First);
    }
    ASSERT_EQ(Impl->Count(), int32_t(Reference.size()));
  }
}

TEST_F(FutureList, KindChangesOnlyWhileEmpty) {
  List->Insert(1.0, &A, nullptr);
  EXPECT_FALSE(List->SetKind(TEventList::Heap));
  EXPECT_EQ(List->Kind(), TEventList::Levels);
  EXPECT_EQ(Take(), &A);
  EXPECT_TRUE(List->SetKind(TEventList::Heap));
  List->Insert(2.0, &B, nullptr);
  EXPECT_EQ(Take(), &B);
  TFutureManager Fresh(1024);
  ASSERT_TRUE(Fresh.SetKind(TEventList::Heap));
  Fresh.Insert(1.0, &C, nullptr);
  EXPECT_EQ(Fresh.TotalItemCount(), 1); // a heap needs no sentinels
}

// The heap list numbers its entries in 32 bits; at the wrap it numbers the
// pending ones afresh, and equal times still come out first in, first out.
TEST_F(FutureList, HeapSequenceWrapKeepsTheOrderOfEqualTimes) {
  ASSERT_TRUE(List->SetKind(TEventList::Heap));
  List->SetNextSequence(UINT32_MAX - 50);
  std::vector<std::unique_ptr<TScheduler>> Aggs;
  for (int i = 0; i < 120; ++i)
    Aggs.push_back(std::make_unique<TScheduler>(nullptr));
  for (std::size_t i = 0; i < Aggs.size(); ++i)
    List->Insert(i % 3 == 0 ? 1.0 : 2.0, Aggs[i].get(), nullptr);
  std::vector<TAggregate*> Expected;
  for (double Time : {1.0, 2.0})
    for (std::size_t i = 0; i < Aggs.size(); ++i)
      if ((i % 3 == 0) == (Time == 1.0)) Expected.push_back(Aggs[i].get());
  std::vector<TAggregate*> Got;
  while (List->Count() > 0)
    Got.push_back(Take());
  EXPECT_EQ(Got, Expected);
}

// A transaction with a pending activation on the heap list costs at most
// 116 bytes: its 80-byte record and 36 for the activation, chunk slack
// included.
TEST_F(FutureList, HeapActivationCostsAtMost36Bytes) {
  delete List;
  List = new TFutureManager(32768);
  ASSERT_TRUE(List->SetKind(TEventList::Heap));
  const std::size_t Before = HeapUsed(GlobalHeap);
  constexpr int N = 100000;
  for (int i = 0; i < N; ++i)
    List->Insert(double(i % 977), &A, nullptr);
  EXPECT_LE(double(HeapUsed(GlobalHeap) - Before) / N, 36.0);
  EXPECT_EQ(sizeof(TTransaction), 80u);
}

// A heap array that the private heap cannot grow: the activation is refused
// with the allocator's message, and what was planned still comes out in order.
TEST_F(FutureList, HeapThatCannotGrowRefusesTheActivation) {
  delete List;
  HeapDestroy(GlobalHeap);
  GlobalHeap = HeapCreate(0, 2048, 4096);
  List = new TFutureManager(1024);
  ASSERT_TRUE(List->SetKind(TEventList::Heap));
  int32_t Accepted = 0;
  for (int i = 0; i < 200 && Capture.Messages.empty(); ++i) {
    List->Insert(double(200 - i), &A, nullptr);
    if (Capture.Messages.empty()) ++Accepted;
  }
  ASSERT_EQ(Capture.Messages,
            std::vector<std::string>{
                "Quorin Error: Not enough memory in private heap at model time 0.000"});
  Capture.Messages.clear();
  EXPECT_EQ(List->Count(), Accepted);
  double Last = -1.0;
  for (int32_t i = 0; i < Accepted; ++i) {
    EXPECT_EQ(Take(), &A);
    EXPECT_GT(FSysTime, Last);
    Last = FSysTime;
  }
  EXPECT_EQ(List->Count(), 0);
}

} // namespace
