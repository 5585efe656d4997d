#include <cmath>
#include <map>

#include "fixture.h"
#include "quorin/detail/current.h"
#include "quorin/detail/future.h"

namespace quorin::test {
namespace {

// One arrival of the generator: when, with which priority and preempt mark,
// and the service time the server's OnEnter orders for it.
struct TArrival {
  double Time;
  uint8_t Prty;
  bool Preempt;
  double Service;
};

// Gen makes the Arrivals (sorted by time) and passes each into Srv; one that
// Srv refuses is noted and terminated. Srv notes entries and exits, orders
// each service from OnEnter and passes finished holders to Done, a queue
// that keeps them (so their records are not reused).
class ServerTest : public BlockTest {
protected:
  void SetUp() override {
    Feed<TArrival>(Gen, Arrivals, Made, Srv, Term, [this](TTransaction* T, const TArrival& A) {
      Service[T->GetTransID()] = A.Service;
    });
    Srv->OnEnter = [this](TBlock* Sender, TTransaction* T) {
      Note(Sender, T, "enter");
      Sender->NextTime(Service[T->GetTransID()]);
    };
    Srv->OnExit = Noting("exit");
    Srv->OnRouting = [this](TBlock* Sender, TTransaction*) { Sender->PassTo(Done); };
    Srv->SetPreemptive(true);
  }

  // OnPreempt that notes the displaced holder and postpones it.
  void Postponing() {
    Srv->OnPreempt = [this](TBlock* Sender, TTransaction* T) {
      Note(Sender, T, "preempt");
      Sender->PostPone();
    };
  }

  std::vector<TArrival> Arrivals;
  size_t Made = 0;
  std::map<int32_t, double> Service;
  TGenerator* Gen = Make<TGenerator>("Gen");
  TServer* Srv = Make<TServer>("Srv");
  TQueue* Done = Make<TQueue>("Done");
  TTerminator* Term = Make<TTerminator>("Term");
};

TEST_F(ServerTest, NonPreemptiveRefusesEveryNewcomer) {
  Srv->SetPreemptive(false);
  EXPECT_TRUE(Srv->IsReadyToReceive(nullptr));
  Arrivals = {{0, 1, false, 10}, {1, 255, true, 1}, {2, 0, false, 1}};
  Model->Simulate(100);
  const TLog Expected = {{0, "Srv", 1, "enter"},
                         {1, "Srv", 2, "refused"},
                         {2, "Srv", 2, "refused"},
                         {10, "Srv", 1, "exit"}};
  EXPECT_EQ(Log, Expected);
}

// Holder of priority 1; only a marked newcomer of strictly higher priority
// gets in. 255 is the highest priority, not a negative one.
TEST_F(ServerTest, PreemptiveAcceptsOnlyMarkedHigherPriority) {
  Arrivals = {
      {0, 1, false, 10}, {1, 1, true, 1}, {2, 2, false, 1}, {3, 0, true, 1}, {4, 255, true, 1}};
  Model->Simulate(100);
  // Without OnPreempt the holder is destroyed; its record goes to the
  // newcomer's successor, not to anyone here.
  const TLog Expected = {{0, "Srv", 1, "enter"},   {1, "Srv", 2, "refused"},
                         {2, "Srv", 2, "refused"}, {3, "Srv", 2, "refused"},
                         {4, "Srv", 2, "enter"},   {5, "Srv", 2, "exit"}};
  EXPECT_EQ(Log, Expected);
}

// Holder entered at 0 for 10, preempted at 4 and postponed; the newcomer is
// served for 3 and leaves at 7; the holder resumes for its remaining 6.
TEST_F(ServerTest, PostponedHolderResumesWithItsRemainingTime) {
  Postponing();
  Arrivals = {{0, 0, false, 10}, {4, 1, true, 3}};
  At({5}, [this] {
    EXPECT_EQ(Srv->Count(), 2);
    ASSERT_NE(Srv->Interrupted(), nullptr);
    EXPECT_EQ(Srv->Interrupted()->GetTransID(), 1);
    EXPECT_EQ(Srv->Interrupted()->FActivateTime, 6); // remaining service
    // Outside OnPreempt PostPone changes nothing.
    Srv->PostPone();
    EXPECT_EQ(Srv->Transaction()->GetTransID(), 2);
    EXPECT_EQ(Srv->Interrupted()->FNext, nullptr);
  });
  Model->Simulate(100);

  const TLog Expected = {{0, "Srv", 1, "enter"},
                         {4, "Srv", 1, "preempt"},
                         {4, "Srv", 2, "enter"},
                         {7, "Srv", 2, "exit"},
                         {13, "Srv", 1, "exit"}};
  EXPECT_EQ(Log, Expected);
  ASSERT_EQ(FSysTime, 13);
  EXPECT_EQ(Srv->Entries(), 2);
  EXPECT_EQ(Srv->Exits(), 2);
  EXPECT_EQ(Srv->PreemptExits(), 0);
  EXPECT_EQ(Srv->AverageTime(), (3 + 13) / 2.0L);
  // Content 1 on [0,4), 2 on [4,7), 1 on [7,13): interrupted ones count.
  EXPECT_NEAR(double(Srv->AverageCount()), 16.0 / 13, 1e-15);
  EXPECT_EQ(Srv->Usage(), 1);
  EXPECT_EQ(Srv->MaxCount(), 2);
  EXPECT_EQ(Srv->Count(), 0);
  EXPECT_EQ(Srv->Transaction(), nullptr);
}

// A for 10 at 0, B for 10 at 2 (A has 8 left), C for 2 at 3 (B has 9 left):
// C ends at 5, then B (last in) at 14, then A at 22.
TEST_F(ServerTest, NestedPostponementsResumeLastInFirstOut) {
  Postponing();
  Arrivals = {{0, 0, false, 10}, {2, 1, true, 10}, {3, 2, true, 2}};
  At({4}, [this] { EXPECT_EQ(Srv->Count(), 3); });
  Model->Simulate(100);
  const TLog Expected = {{0, "Srv", 1, "enter"},   {2, "Srv", 1, "preempt"}, {2, "Srv", 2, "enter"},
                         {3, "Srv", 2, "preempt"}, {3, "Srv", 3, "enter"},   {5, "Srv", 3, "exit"},
                         {14, "Srv", 2, "exit"},   {22, "Srv", 1, "exit"}};
  EXPECT_EQ(Log, Expected);
  EXPECT_EQ(Srv->AverageTime(), (2 + 12 + 22) / 3.0L);
  // 1x2 + 2x1 + 3x2 + 2x9 + 1x8 over 22.
  EXPECT_NEAR(double(Srv->AverageCount()), 36.0 / 22, 1e-15);
  EXPECT_EQ(Srv->MaxCount(), 3);
  EXPECT_EQ(Done->Count(), 3);
}

// What becomes of a holder displaced at 4 by a newcomer served for 3, by
// what OnPreempt does. Measured at 5, and the whole log.
enum class TOnPreemptDoes { Nothing, PassAccepted, PassRefused, Postpone };
struct TDisplaceCase {
  const char* Name;
  TOnPreemptDoes Does;
  int32_t Count, Exits, PreemptExits;
  TLog Log;
};

class DisplaceTest : public ServerTest, public ::testing::WithParamInterface<TDisplaceCase> {};

TEST_P(DisplaceTest, HolderIsPassedPostponedOrDestroyed) {
  const TDisplaceCase& Case = GetParam();
  auto* Aside = Make<TQueue>("Aside");
  auto* Shut = Make<TGate>("Shut");
  Shut->Lock();
  if (Case.Does != TOnPreemptDoes::Nothing) {
    Srv->OnPreempt = [&, Aside, Shut](TBlock* Sender, TTransaction* T) {
      Note(Sender, T, "preempt");
      switch (Case.Does) {
      case TOnPreemptDoes::PassAccepted:
        EXPECT_TRUE(Sender->PassTo(Aside));
        // Handled: neither a second pass nor a postponement applies.
        EXPECT_FALSE(Sender->PassTo(Aside));
        Sender->PostPone();
        break;
      case TOnPreemptDoes::PassRefused:
        EXPECT_FALSE(Sender->PassTo(Shut));
        break;
      case TOnPreemptDoes::Postpone:
        Sender->PostPone();
        EXPECT_FALSE(Sender->PassTo(Aside));
        break;
      case TOnPreemptDoes::Nothing:
        break;
      }
    };
  }
  Arrivals = {{0, 0, false, 10}, {4, 1, true, 3}};
  At({5}, [&] {
    EXPECT_EQ(Srv->Count(), Case.Count);
    EXPECT_EQ(Srv->Entries(), 2);
    EXPECT_EQ(Srv->Exits(), Case.Exits);
    EXPECT_EQ(Srv->PreemptExits(), Case.PreemptExits);
  });
  Model->Simulate(100);
  EXPECT_EQ(Log, Case.Log);
  EXPECT_EQ(Aside->Count(), Case.Does == TOnPreemptDoes::PassAccepted ? 1 : 0);
}

const TLogEntry Enter1{0, "Srv", 1, "enter"}, Preempt1{4, "Srv", 1, "preempt"},
    Enter2{4, "Srv", 2, "enter"}, Exit2{7, "Srv", 2, "exit"};

// clang-format off
const TDisplaceCase DisplaceCases[] = {
    // name                  OnPreempt does                Count Exits PreemptExits
    {"NoHandlerDestroys",    TOnPreemptDoes::Nothing,      1, 1, 1, {Enter1, Enter2, Exit2}},
    {"PassedOnWithOnExit",   TOnPreemptDoes::PassAccepted, 1, 1, 1,
     {Enter1, Preempt1, {4, "Srv", 1, "exit"}, Enter2, Exit2}},
    {"RefusedPassDestroys",  TOnPreemptDoes::PassRefused,  1, 1, 1, {Enter1, Preempt1, Enter2, Exit2}},
    {"Postponed",            TOnPreemptDoes::Postpone,     2, 0, 0,
     {Enter1, Preempt1, Enter2, Exit2, {13, "Srv", 1, "exit"}}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cases, DisplaceTest, ::testing::ValuesIn(DisplaceCases),
                         [](const ::testing::TestParamInfo<TDisplaceCase>& Info) {
                           return std::string(Info.param.Name);
                         });

// The destroyed holder's service end (due at 10) is cancelled: the arrival
// at 8, made on its freed record, is served its full 5.
TEST_F(ServerTest, DestroyedHolderServiceEndNeverFiresForTheRecordsNextHolder) {
  Arrivals = {{0, 0, false, 10}, {4, 1, true, 3}, {8, 0, false, 5}};
  Model->Simulate(100);
  const TLog Expected = {{0, "Srv", 1, "enter"},
                         {4, "Srv", 2, "enter"},
                         {7, "Srv", 2, "exit"},
                         {8, "Srv", 1, "enter"},
                         {13, "Srv", 1, "exit"}};
  EXPECT_EQ(Log, Expected);
}

// A finishes at 5 but cannot leave until 7; B displaces it at 6. B has not
// been served, so it is not offered before its service ends at 8; then A
// resumes with nothing left and leaves at once.
TEST_F(ServerTest, HolderDisplacedAfterItsServiceEndedResumesAtOnce) {
  Postponing();
  auto* Exit = Make<TGate>("Exit");
  auto* Opener = Make<TGenerator>("Opener");
  Exit->Lock();
  Exit->OnRouting = [this](TBlock* Sender, TTransaction*) { Sender->PassTo(Done); };
  Srv->OnRouting = [Exit](TBlock* Sender, TTransaction*) { Sender->PassTo(Exit); };
  Opener->OnBeforeTimeGoOn = [](TAggregate* Self) { Self->NextTime(7); };
  Opener->OnAfterGeneration = [Exit](TBlock*, TTransaction*) { Exit->Unlock(); };
  Opener->OnRouting = [this](TBlock* Sender, TTransaction*) { Sender->PassTo(Term); };
  Arrivals = {{0, 0, false, 5}, {6, 1, true, 2}};
  At({5.5}, [this] { EXPECT_TRUE(Srv->IdleForExit()); });
  At({6.5}, [this] {
    EXPECT_FALSE(Srv->HasTransaction());
    EXPECT_FALSE(Srv->IdleForExit());
  });
  Model->Simulate(100);
  const TLog Expected = {{0, "Srv", 1, "enter"},
                         {6, "Srv", 1, "preempt"},
                         {6, "Srv", 2, "enter"},
                         {8, "Srv", 2, "exit"},
                         {8, "Srv", 1, "exit"}};
  EXPECT_EQ(Log, Expected);
  EXPECT_EQ(Done->Count(), 2);
}

// A holder that got no service end resumes without one, as it was, instead
// of with a service made up from an unrelated activation time.
TEST_F(ServerTest, HolderWithoutServiceEndResumesWithoutOne) {
  Postponing();
  Arrivals = {{0, 0, false, -1}, {4, 1, true, 3}};
  Srv->OnEnter = [this](TBlock* Sender, TTransaction* T) {
    Note(Sender, T, "enter");
    if (Service[T->GetTransID()] >= 0) Sender->NextTime(Service[T->GetTransID()]);
  };
  Model->Simulate(100);
  const TLog Expected = {{0, "Srv", 1, "enter"},
                         {4, "Srv", 1, "preempt"},
                         {4, "Srv", 2, "enter"},
                         {7, "Srv", 2, "exit"}};
  EXPECT_EQ(Log, Expected);
  EXPECT_EQ(Srv->Count(), 1);
  EXPECT_EQ(Srv->Transaction()->GetTransID(), 1);
  EXPECT_FALSE(Srv->HasTransaction());
}

TEST_F(ServerTest, IdleForExitAtTheServiceEndBeforeActivation) {
  Arrivals = {{0, 0, false, 5}};
  std::vector<bool> Seen;
  Model->OnNewTime = [&](TAggregate* Sender, TTransaction*) {
    if (Sender == Srv) Seen.push_back(Srv->IdleForExit() && !Srv->HasTransaction());
  };
  At({2}, [&] { Seen.push_back(Srv->IdleForExit()); });
  Model->Simulate(100);
  EXPECT_EQ(Seen, (std::vector<bool>{false, true}));
  EXPECT_FALSE(Srv->IdleForExit());
}

// An activation ordered on an empty server carries no transaction and is
// ignored; a second NextTime replaces the first service end.
TEST_F(ServerTest, EmptyServerActivationIgnoredAndLaterServiceEndReplaces) {
  At({1}, [this] { Srv->NextTime(1); });
  Arrivals = {{3, 0, false, 0}};
  Srv->OnEnter = [this](TBlock* Sender, TTransaction* T) {
    Note(Sender, T, "enter");
    Sender->NextTime(5);
    Sender->NextTime(2);
  };
  Model->Simulate(100);
  const TLog Expected = {{3, "Srv", 1, "enter"}, {5, "Srv", 1, "exit"}};
  EXPECT_EQ(Log, Expected);
  EXPECT_EQ(FSysTime, 8); // the replaced end still moved the clock
}

// Holder C with B and A interrupted below it (as in the nested case),
// released at 4.
class ReleaseTest : public ServerTest {
protected:
  void SetUp() override {
    ServerTest::SetUp();
    Postponing();
    Arrivals = {{0, 0, false, 10}, {2, 1, true, 10}, {3, 2, true, 2}};
  }
};

TEST_F(ReleaseTest, ReleaseWithoutHandlerDestroysAll) {
  At({4}, [this] {
    Srv->Release();
    EXPECT_EQ(Srv->Count(), 0);
    EXPECT_EQ(Srv->Exits(), 3);
    EXPECT_EQ(Srv->PreemptExits(), 0);
    EXPECT_EQ(Srv->Transaction(), nullptr);
    EXPECT_EQ(Srv->Interrupted(), nullptr);
    EXPECT_TRUE(Srv->IsReadyToReceive(nullptr));
    Srv->Release(); // an empty server: nothing happens
    EXPECT_EQ(Srv->Exits(), 3);
  });
  // The server takes a newcomer at once (on A's freed record) and serves it.
  Arrivals.push_back({4.5, 0, false, 1});
  Model->Simulate(100);
  const TLog Expected = {{0, "Srv", 1, "enter"}, {2, "Srv", 1, "preempt"},
                         {2, "Srv", 2, "enter"}, {3, "Srv", 2, "preempt"},
                         {3, "Srv", 3, "enter"}, {4.5, "Srv", 1, "enter"},
                         {5.5, "Srv", 1, "exit"}};
  EXPECT_EQ(Log, Expected);
  EXPECT_EQ(Srv->AverageTime(), (1 + 2 + 4 + 1) / 4.0L);
}

// OnRelease passes the holder on and leaves the interrupted ones: the
// release goes on with them (top first) and orders no service end for them.
TEST_F(ReleaseTest, OnReleaseCanPassSome) {
  Srv->OnRelease = [this](TBlock* Sender, TTransaction* T) {
    Note(Sender, T, "release");
    if (T->GetTransID() == 3) {
      EXPECT_TRUE(Sender->PassTo(Done));
    }
  };
  At({4}, [this] { Srv->Release(); });
  Model->Simulate(100);
  const TLog Expected = {
      {0, "Srv", 1, "enter"},   {2, "Srv", 1, "preempt"}, {2, "Srv", 2, "enter"},
      {3, "Srv", 2, "preempt"}, {3, "Srv", 3, "enter"},   {4, "Srv", 3, "release"},
      {4, "Srv", 3, "exit"},    {4, "Srv", 2, "release"}, {4, "Srv", 1, "release"}};
  EXPECT_EQ(Log, Expected);
  EXPECT_EQ(Srv->Count(), 0);
  EXPECT_EQ(Srv->Exits(), 3);
  EXPECT_EQ(Done->Count(), 1);
  // The last activation is B's cancelled first service end at 12; a resumed
  // B would have had its end ordered at 13.
  EXPECT_EQ(FSysTime, 12);
}

// ReleaseOne releases the holder only; B resumes for its remaining 9, then A
// for its 8.
TEST_F(ReleaseTest, ReleaseOneResumesTheNextInterrupted) {
  At({4}, [this] {
    Srv->ReleaseOne();
    EXPECT_EQ(Srv->Count(), 2);
    EXPECT_EQ(Srv->Transaction()->GetTransID(), 2);
  });
  Model->Simulate(100);
  const TLog Expected = {{0, "Srv", 1, "enter"},   {2, "Srv", 1, "preempt"}, {2, "Srv", 2, "enter"},
                         {3, "Srv", 2, "preempt"}, {3, "Srv", 3, "enter"},   {13, "Srv", 2, "exit"},
                         {21, "Srv", 1, "exit"}};
  EXPECT_EQ(Log, Expected);
  EXPECT_EQ(Srv->Exits(), 3);
}

// A holder that finished but cannot leave is released: the server stops
// offering it (its record is gone) and leaves the chain.
TEST_F(ServerTest, ReleasedFinishedHolderIsNoLongerOffered) {
  auto* Shut = Make<TGate>("Shut");
  auto* Ticker = Make<TGenerator>("Ticker");
  Shut->Lock();
  int Offers = 0;
  Srv->OnRouting = [&](TBlock* Sender, TTransaction*) {
    ++Offers;
    Sender->PassTo(Shut);
  };
  Ticker->OnBeforeTimeGoOn = [](TAggregate* Self) { Self->NextTime(2); };
  Ticker->OnAfterGeneration = [&](TBlock* Sender, TTransaction*) {
    if (FSysTime == 3) {
      Srv->Release();
      Shut->Unlock();
    }
    if (FSysTime < 4) Sender->NextTime(1);
  };
  Ticker->OnRouting = [this](TBlock* Sender, TTransaction*) { Sender->PassTo(Term); };
  Arrivals = {{0, 0, false, 1}};
  Model->Simulate(100);
  // At 1, and twice at 2 (the Ticker's pass makes the chain scan again);
  // none after the release at 3.
  EXPECT_EQ(Offers, 3);
  EXPECT_EQ(Shut->Entries(), 0);
  EXPECT_FALSE(Srv->HasTransaction());
  EXPECT_EQ(CurrentManager->Count(), 0);
  EXPECT_EQ(Srv->Exits(), 1);
}

TEST_F(ServerTest, ResetEmptiesTheServer) {
  Postponing();
  Arrivals = {{0, 0, false, 10}, {2, 1, true, 10}};
  Model->Simulate(3);
  ASSERT_EQ(Srv->Count(), 2);
  Model->Reset();
  EXPECT_EQ(Srv->Count(), 0);
  EXPECT_EQ(Srv->Interrupted(), nullptr);
  EXPECT_EQ(Srv->Transaction(), nullptr);
  EXPECT_EQ(Srv->Entries(), 0);
  EXPECT_TRUE(Srv->IsReadyToReceive(nullptr));
}

// Generator (every 4 from 0 to 16) -> queue -> server -> terminator, with
// services alternating 3 and 6:
//
//   arrival   0  4  8  12 16      start  0  4 10 13 19      end  3 10 13 19 22
//   queue wait 0 0 2 1 3; queue content 1 on [8,10), [12,13), [16,19)
//   server busy on [0,3) and [4,22)
// Records are reused once freed: the numbers run 1 1 2 1 2.
TEST_F(BlockTest, GeneratorQueueServerTerminator) {
  auto* Gen = Make<TGenerator>("Gen");
  auto* Q = Make<TQueue>("Q");
  auto* Srv = Make<TServer>("Srv");
  auto* Term = Make<TTerminator>("Term");
  Gen->OnBeforeTimeGoOn = [](TAggregate* Self) { Self->NextTime(0); };
  Gen->OnAfterGeneration = [](TBlock* Sender, TTransaction*) {
    if (FSysTime < 16) Sender->NextTime(4);
  };
  Gen->OnRouting = [&](TBlock* Sender, TTransaction*) { Sender->PassTo(Q); };
  Q->OnRouting = [&](TBlock* Sender, TTransaction*) { Sender->PassTo(Srv); };
  Srv->OnEnter = [&](TBlock* Sender, TTransaction* T) {
    Note(Sender, T, "enter");
    Sender->NextTime(Srv->Entries() % 2 == 1 ? 3 : 6);
  };
  Srv->OnExit = Noting("exit");
  Srv->OnRouting = [&](TBlock* Sender, TTransaction*) { Sender->PassTo(Term); };

  Model->Simulate(100);

  const TLog Expected = {{0, "Srv", 1, "enter"},  {3, "Srv", 1, "exit"},   {4, "Srv", 1, "enter"},
                         {10, "Srv", 1, "exit"},  {10, "Srv", 2, "enter"}, {13, "Srv", 2, "exit"},
                         {13, "Srv", 1, "enter"}, {19, "Srv", 1, "exit"},  {19, "Srv", 2, "enter"},
                         {22, "Srv", 2, "exit"}};
  EXPECT_EQ(Log, Expected);
  ASSERT_EQ(FSysTime, 22);
  EXPECT_EQ(Model->TransactionCount(), 2);

  EXPECT_EQ(Q->Entries(), 5);
  EXPECT_EQ(Q->Exits(), 5);
  EXPECT_NEAR(double(Q->AverageTime()), 1.2, 1e-15);
  EXPECT_NEAR(double(Q->SAverageTime()), 2, 1e-15);
  EXPECT_NEAR(double(Q->AverageCount()), 6.0 / 22, 1e-15);
  EXPECT_NEAR(double(Q->Usage()), 6.0 / 22, 1e-15);
  EXPECT_EQ(Q->MaxCount(), 1);
  EXPECT_EQ(Q->ZeroEntries(), 5);

  EXPECT_EQ(Srv->Entries(), 5);
  EXPECT_EQ(Srv->Exits(), 5);
  EXPECT_EQ(Srv->Count(), 0);
  EXPECT_NEAR(double(Srv->AverageTime()), 4.2, 1e-15);
  EXPECT_NEAR(double(Srv->DeviationTime()), std::sqrt(99.0 / 5 - 4.2 * 4.2), 1e-12);
  EXPECT_NEAR(double(Srv->AverageCount()), 21.0 / 22, 1e-15);
  EXPECT_NEAR(double(Srv->Usage()), 21.0 / 22, 1e-15);
  EXPECT_EQ(Srv->MaxCount(), 1);
  EXPECT_EQ(Srv->ZeroEntries(), 5);
  EXPECT_EQ(Srv->PreemptExits(), 0);
  EXPECT_EQ(Term->Entries(), 5);
}

} // namespace
} // namespace quorin::test
