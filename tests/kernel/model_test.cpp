#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>

#include "test_blocks.h"
#include "quorin/detail/current.h"
#include "quorin/detail/future.h"
#include "quorin/detail/run.h"

using namespace quorin;
using test::TApplication;
using test::TBuffer;
using test::TSink;
using test::TSource;

namespace {

// A scheduler that logs the clock at each activation and plans what its
// handlers are given.
struct TClock : TApplication {
  TScheduler* S = Add<TScheduler>();
  std::vector<double> Times;
  TClock(std::vector<double> Initial, double Then = -1) {
    S->OnBeforeTimeGoOn = [this, Initial](TAggregate* Sender) {
      for (double D : Initial)
        Sender->NextTime(D);
    };
    S->OnPlanned = [this, Then](TAggregate* Sender) {
      Times.push_back(FSysTime);
      if (Then >= 0 && Times.size() == 2) Sender->NextTime(Then);
    };
  }
};

TEST(Model, TheEndTestComesAfterTheEvent) {
  TClock M({90, 110}, 50);
  int Deadlocks = 0;
  M.Model->OnDeadlock = [&] { ++Deadlocks; };
  M.Model->Simulate(100);
  EXPECT_EQ(M.Times, (std::vector<double>{90, 110}));
  EXPECT_EQ(ModelTime(), 110);
  EXPECT_FALSE(M.Model->Running());
  M.Model->Simulate(100); // below the clock: nothing happens
  EXPECT_EQ(M.Times.size(), 2u);
  M.Model->Simulate(200);
  EXPECT_EQ(M.Times, (std::vector<double>{90, 110, 160}));
  EXPECT_EQ(Deadlocks, 1); // the list ran dry after 160
  EXPECT_EQ(ModelTime(), 160);
  EXPECT_TRUE(M.Capture.Messages.empty());
}

// Up to a horizon: nothing after it is taken, it stays pending for a later
// run, and the clock ends at the horizon, on either event list.
TEST(Model, SimulateToTakesNothingPastTheHorizonAndEndsThere) {
  for (const TEventList List : {TEventList::Levels, TEventList::Heap}) {
    TClock M({90, 110}, 50);
    M.Model->SetEventList(List);
    int Deadlocks = 0;
    M.Model->OnDeadlock = [&] { ++Deadlocks; };
    M.Model->SimulateTo(100);
    EXPECT_EQ(M.Times, std::vector<double>{90});
    EXPECT_EQ(ModelTime(), 100);
    EXPECT_EQ(FutureManager->Count(), 1);
    M.Model->SimulateTo(110); // an event at the horizon happens
    EXPECT_EQ(M.Times, (std::vector<double>{90, 110}));
    EXPECT_EQ(ModelTime(), 110);
    M.Model->SimulateTo(100); // behind the clock: nothing happens
    EXPECT_EQ(ModelTime(), 110);
    // Nothing left before the horizon: the list runs dry (OnDeadlock, as
    // ever) and the clock still ends at the horizon.
    M.Model->SimulateTo(500);
    EXPECT_EQ(M.Times, (std::vector<double>{90, 110, 160}));
    EXPECT_EQ(Deadlocks, 1);
    EXPECT_EQ(ModelTime(), 500);
    EXPECT_EQ(M.Model->RunEnd(), TRunEnd::Normal);
    EXPECT_TRUE(M.Capture.Messages.empty());
  }
}

TEST(Model, SimulateToKeepsTheTimeOfAModelThatStoppedItself) {
  TClock M({10, 20, 30});
  M.Model->OnNewTime = [&](TAggregate*, TTransaction*) {
    if (FSysTime == 20) M.Model->Stop();
  };
  M.Model->SimulateTo(100);
  EXPECT_EQ(M.Times, (std::vector<double>{10, 20}));
  EXPECT_EQ(ModelTime(), 20);
  // A continuation goes on with what is pending.
  M.Model->OnNewTime = nullptr;
  M.Model->Simulate(25);
  EXPECT_EQ(M.Times, (std::vector<double>{10, 20, 30}));
  EXPECT_EQ(ModelTime(), 30);
}

TEST(Model, SimulateToRefusesAHorizonThatIsNoTime) {
  TClock M({1});
  const double Infinity = std::numeric_limits<double>::infinity();
  for (const double Horizon : {std::nan(""), Infinity, -Infinity})
    M.Model->SimulateTo(Horizon);
  EXPECT_EQ(M.Capture.Messages,
            (std::vector<std::string>{"Quorin Error: The end time of Simulate is not a number",
                                      "Quorin Error: The horizon of SimulateTo is not a finite number",
                                      "Quorin Error: The horizon of SimulateTo is not a finite number"}));
  EXPECT_FALSE(M.Model->MemoReady());
}

TEST(Model, NegativeFinishTimeInitialisesWithoutTakingAnEvent) {
  TClock M({5});
  int Before = 0;
  M.Model->OnBeforeTimeGoOn = [&] { ++Before; };
  M.Model->Simulate(-1);
  EXPECT_TRUE(M.Model->MemoReady());
  EXPECT_TRUE(M.Model->AggrReady());
  EXPECT_EQ(Before, 1);
  EXPECT_EQ(FutureManager->Count(), 1);
  EXPECT_TRUE(M.Times.empty());
}

TEST(Model, NotANumberEndTimeIsRefused) {
  TClock M({1, 2});
  M.Model->Simulate(std::nan(""));
  EXPECT_EQ(M.Capture.Messages,
            std::vector<std::string>{"Quorin Error: The end time of Simulate is not a number"});
  EXPECT_FALSE(M.Model->MemoReady());
  M.Model->Simulate(10);
  EXPECT_EQ(M.Times, (std::vector<double>{1, 2}));
}

TEST(Model, NothingPlannedEndsInDeadlockWithTheClockUnchanged) {
  TClock M({});
  int Deadlocks = 0;
  M.Model->OnDeadlock = [&] { ++Deadlocks; };
  M.Model->Simulate(100);
  EXPECT_EQ(Deadlocks, 1);
  EXPECT_EQ(ModelTime(), 0);
  EXPECT_FALSE(M.Model->Running());
}

TEST(Model, StopInOnNewTimeStillActivatesAndRunsTheChain) {
  TApplication M;
  auto* Source = M.Add<TSource>();
  auto* Sink = M.Add<TSink>();
  Source->OnFirstInit = [Source] {
    Source->NextTime(1);
    Source->NextTime(2);
  };
  Source->OnRouting = [Sink](TBlock* Sender, TTransaction*) { Sender->PassTo(Sink); };
  std::vector<double> Seen;
  M.Model->OnNewTime = [&](TAggregate* Sender, TTransaction*) {
    Seen.push_back(FSysTime);
    EXPECT_EQ(Sender, Source);
    M.Model->Stop();
  };
  M.Model->Stop(); // before the run: no effect
  M.Model->Simulate(100);
  EXPECT_EQ(Seen, std::vector<double>{1});
  EXPECT_EQ(Sink->Ids, std::vector<int32_t>{1}); // activated and routed in that step
  EXPECT_EQ(FutureManager->Count(), 1);
}

TEST(Model, TwoModelsRefuseToRun) {
  TClock M({1});
  auto* Second = new TModel(M.Form);
  Second->Simulate(10);
  M.Model->Simulate(10);
  EXPECT_EQ(
      M.Capture.Messages,
      std::vector<std::string>(2, "Quorin Error: There is more than one model in application"));
  EXPECT_TRUE(M.Times.empty());
  EXPECT_FALSE(M.Model->MemoReady());
  EXPECT_EQ(FutureManager, nullptr); // the refused attempt left no memory behind
}

TEST(Model, ModelsOfDifferentFormsAreFoundThroughTheApplication) {
  TClock M({1});
  auto* OtherForm = new TComponent(&M.App);
  new TModel(OtherForm);
  M.Model->Simulate(10);
  EXPECT_EQ(M.Capture.Messages.size(), 1u);

  // A model with no application still finds the blocks of its own form.
  TComponent Form(nullptr);
  auto* Model = new TModel(&Form);
  auto* S = new TScheduler(&Form);
  int Planned = 0;
  S->OnBeforeTimeGoOn = [](TAggregate* Sender) { Sender->NextTime(1); };
  S->OnPlanned = [&](TAggregate*) { ++Planned; };
  Model->Simulate(10);
  EXPECT_EQ(Planned, 1);
  EXPECT_EQ(Model->Aggregates().size(), 1u);
}

TEST(Model, NoAggregatesIsReported) {
  TApplication M;
  M.Model->Simulate(10);
  EXPECT_EQ(M.Capture.Messages,
            std::vector<std::string>{
                "Quorin Error: There are no aggregates / blocks in the application"});
  EXPECT_FALSE(M.Model->MemoReady());
}

TEST(Model, FailedFirstInitIsRepeatedFromTheStart) {
  TApplication M;
  auto* Good = M.Add<TSource>();
  auto* Bad = M.Add<TSource>();
  Bad->SetName("Bad1");
  int Before = 0, GoodInits = 0;
  bool Throw = true;
  M.Model->OnBeforeTimeGoOn = [&] { ++Before; };
  Good->OnFirstInit = [&] { ++GoodInits; };
  Bad->OnFirstInit = [&] {
    if (Throw) throw std::runtime_error("no");
  };
  M.Model->Simulate(10);
  EXPECT_EQ(M.Capture.Messages,
            std::vector<std::string>{"Quorin Error: Can not initialize the aggregate Bad1"});
  EXPECT_TRUE(M.Model->MemoReady());
  EXPECT_FALSE(M.Model->AggrReady());
  Throw = false;
  M.Model->Simulate(10);
  EXPECT_EQ(Before, 2);
  EXPECT_EQ(GoodInits, 2);
  EXPECT_TRUE(M.Model->AggrReady());
}

TEST(Model, ResetStartsAfresh) {
  TApplication M;
  auto* Source = M.Add<TSource>();
  auto* Hold = M.Add<TBuffer>();
  int Inits = 0;
  Source->OnFirstInit = [&] {
    ++Inits;
    Source->NextTime(1);
  };
  Source->OnRouting = [&](TBlock* Sender, TTransaction*) {
    if (Sender->PassTo(Hold) && FSysTime < 3) Source->NextTime(1);
  };
  M.Model->ClearStatistics(); // before any run: nothing to clear
  M.Model->Simulate(10);
  ASSERT_EQ(Hold->Held.size(), 3u);
  EXPECT_EQ(Hold->Held.back()->GetTransID(), 3);
  EXPECT_EQ(M.Model->TransactionCount(), 3);
  M.Model->ClearStatistics();
  EXPECT_EQ(Hold->Entries(), 0);
  EXPECT_EQ(Hold->Count(), 3);

  M.Model->Reset();
  EXPECT_EQ(ModelTime(), 0);
  EXPECT_FALSE(M.Model->MemoReady());
  EXPECT_EQ(Hold->Count(), 0);
  EXPECT_EQ(M.Model->TransactionCount(), 0); // no pool
  M.Model->Simulate(1);
  EXPECT_EQ(Inits, 2);
  EXPECT_EQ(Hold->Held.front()->GetTransID(), 1);
}

TEST(Model, PropertySettersCheckTheirRanges) {
  TApplication M;
  struct Case {
    bool Page;
    int32_t Value;
    int32_t Expect;
    const char* Message;
  } Cases[] = {
      {true, 32768, 32768, nullptr},
      {true, 32769, 32768, "Quorin Error: Page size can not be more than 32768"},
      {true, 1024, 1024, nullptr},
      {true, 1023, 1024, "Quorin Error: Page size can not be less than 1024"},
      {false, 128, 128, nullptr},
      {false, 129, 128, "Quorin Error: Heap size can not be more than 128"},
      {false, 1, 1, nullptr},
      {false, 0, 1, "Quorin Error: Heap size can not be less than 1M"},
  };
  for (const Case& C : Cases) {
    M.Capture.Messages.clear();
    if (C.Page) {
      M.Model->SetPageSize(C.Value);
      EXPECT_EQ(M.Model->PageSize(), C.Expect);
    } else {
      M.Model->SetHeapSize(C.Value);
      EXPECT_EQ(M.Model->HeapSize(), C.Expect);
    }
    const std::string Got = M.Capture.Messages.empty() ? "" : M.Capture.Messages[0];
    EXPECT_EQ(Got, C.Message ? C.Message : "") << C.Value;
  }
}

// HeapSize passes 128 only with the large-heap opt-in, and never passes the
// machine's memory; dropping the opt-in brings the size back within 128.
TEST(Model, LargeHeapOptInLetsHeapSizePassTheCap) {
  TApplication M;
  const std::string TooLarge = "Quorin Error: Heap size can not be more than 128";
  M.Model->SetHeapSize(4096);
  EXPECT_EQ(M.Model->HeapSize(), 4);
  EXPECT_EQ(M.Capture.Messages, std::vector<std::string>{TooLarge});
  M.Capture.Messages.clear();
  M.Model->SetLargeHeap(true);
  M.Model->SetHeapSize(4096);
  EXPECT_EQ(M.Model->HeapSize(), 4096);
  M.Model->SetHeapSize(INT32_MAX); // more than any machine here has
  EXPECT_EQ(M.Model->HeapSize(), 4096);
  ASSERT_EQ(M.Capture.Messages.size(), 1u);
  EXPECT_EQ(M.Capture.Messages[0].rfind("Quorin Error: Heap size can not be more than ", 0), 0u);
  EXPECT_NE(M.Capture.Messages[0], TooLarge);
  M.Model->SetLargeHeap(false);
  EXPECT_EQ(M.Model->HeapSize(), 128);
}

// The event list and the retry mode hold the run's pending work: they are
// chosen before the first run or after Reset, and refused in between.
TEST(Model, TheEngineIsChosenBeforeTheRunOrAfterReset) {
  TClock M({1});
  M.Model->SetName("M");
  M.Model->SetEventList(TEventList::Heap);
  M.Model->SetRetry(TRetry::OnChange);
  M.Model->Simulate(10);
  ASSERT_NE(CurrentManager, nullptr);
  EXPECT_EQ(CurrentManager->Retry(), TRetry::OnChange);
  M.Model->SetEventList(TEventList::Levels);
  M.Model->SetRetry(TRetry::EveryScan);
  M.Model->SetRetry(TRetry::OnChange); // no change: accepted
  EXPECT_EQ(M.Capture.Messages,
            (std::vector<std::string>{
                "Quorin Error: The event list of M can be chosen only before the first Simulate "
                "or after Reset",
                "Quorin Error: The retry mode of M can be chosen only before the first Simulate "
                "or after Reset"}));
  EXPECT_EQ(M.Model->EventList(), TEventList::Heap);
  EXPECT_EQ(M.Model->Retry(), TRetry::OnChange);
  M.Model->Reset();
  EXPECT_EQ(CurrentManager, nullptr); // no chain is left retrying on change
  M.Model->SetRetry(TRetry::EveryScan);
  EXPECT_EQ(M.Model->Retry(), TRetry::EveryScan);
  EXPECT_EQ(M.Capture.Messages.size(), 2u);
  // A value outside the enumeration is refused like a capacity that means
  // nothing: message, value kept.
  M.Model->SetEventList(static_cast<TEventList>(7));
  M.Model->SetRetry(static_cast<TRetry>(9));
  EXPECT_EQ(M.Model->EventList(), TEventList::Heap);
  EXPECT_EQ(M.Model->Retry(), TRetry::EveryScan);
  ASSERT_EQ(M.Capture.Messages.size(), 4u);
  EXPECT_EQ(M.Capture.Messages[2],
            "Quorin Error: The event list of M must be TEventList::Levels or TEventList::Heap");
  EXPECT_EQ(M.Capture.Messages[3],
            "Quorin Error: The retry mode of M must be TRetry::EveryScan or TRetry::OnChange");
}

// SetEngine sets the switches at once, and is chosen and refused as they are.
TEST(Model, SetEngineChoosesEverySwitchAtOnce) {
  TClock M({1});
  M.Model->SetName("M");
  EXPECT_EQ(M.Model->Engine(), TEngine::Documented);
  const struct {
    TEngine Engine;
    TEventList List;
    TRetry Retry;
  } Cases[] = {{TEngine::Scalable, TEventList::Heap, TRetry::OnChange},
               {TEngine::Fast, TEventList::Heap, TRetry::EveryScan},
               {TEngine::Documented, TEventList::Levels, TRetry::EveryScan}};
  for (const auto& C : Cases) {
    M.Model->SetEngine(C.Engine);
    EXPECT_EQ(M.Model->Engine(), C.Engine);
    EXPECT_EQ(M.Model->EventList(), C.List);
    EXPECT_EQ(M.Model->Retry(), C.Retry);
  }
  M.Model->SetEngine(TEngine::Fast);
  M.Model->Simulate(10);
  EXPECT_TRUE(detail::StatsInDouble);
  EXPECT_EQ(CurrentManager->Policy(), TRetryPolicy::SkipUnchanged);
  M.Model->SetEngine(TEngine::Fast); // no change: accepted
  M.Model->SetEngine(TEngine::Scalable);
  M.Model->SetEngine(static_cast<TEngine>(5));
  EXPECT_EQ(M.Capture.Messages,
            (std::vector<std::string>{
                "Quorin Error: The engine of M can be chosen only before the first Simulate or "
                "after Reset",
                "Quorin Error: The engine of M must be TEngine::Documented, TEngine::Scalable or "
                "TEngine::Fast"}));
  EXPECT_EQ(M.Model->Engine(), TEngine::Fast);
  M.Model->Reset();
  EXPECT_FALSE(detail::StatsInDouble);
  M.Model->SetEngine(TEngine::Documented);
  EXPECT_EQ(M.Model->EventList(), TEventList::Levels);
}

TEST(Model, SimulateAndResetAreRefusedDuringARun) {
  TClock M({1, 2});
  M.S->OnPlanned = [&](TAggregate*) {
    M.Times.push_back(FSysTime);
    M.Model->Simulate(100);
    M.Model->Reset();
  };
  M.Model->Simulate(100);
  EXPECT_EQ(M.Times, (std::vector<double>{1, 2}));
  EXPECT_EQ(M.Capture.Messages.size(), 4u);
  EXPECT_EQ(M.Capture.Messages[0], "Quorin Error: Simulate is called while the model is running");
  EXPECT_EQ(M.Capture.Messages[1], "Quorin Error: Reset is called while the model is running");
}

TEST(Model, HandlerExceptionLeavesSimulateAndTheModelUsable) {
  TClock M({1, 2});
  bool Throw = true;
  M.S->OnPlanned = [&](TAggregate*) {
    M.Times.push_back(FSysTime);
    if (Throw) throw std::runtime_error("handler");
  };
  EXPECT_THROW(M.Model->Simulate(100), std::runtime_error);
  Throw = false;
  M.Model->Simulate(100);
  EXPECT_EQ(M.Times, (std::vector<double>{1, 2}));
}

TEST(Model, PassToOnlyWhileInRouting) {
  TApplication M;
  auto* Source = M.Add<TSource>();
  auto* Sink = M.Add<TBuffer>();
  Source->OnFirstInit = [&] { Source->NextTime(1); };
  std::vector<std::string> Log;
  M.Model->OnAfterPass = [&](TBlock* From, TBlock* To, TTransaction* T) {
    EXPECT_EQ(From, Source);
    EXPECT_EQ(To, Sink);
    EXPECT_EQ(T->FBlock, Sink); // already entered
    Log.push_back("after-pass");
  };
  M.Model->OnNewTime = [&](TAggregate*, TTransaction*) {
    // Not in routing: refused, nothing moves.
    EXPECT_FALSE(Source->PassTo(Sink));
  };
  Source->OnRouting = [&](TBlock* Sender, TTransaction*) {
    EXPECT_FALSE(Source->HasTransaction() && !Source->InRouting());
    FlagPass = false;
    EXPECT_TRUE(Sender->PassTo(Sink));
    EXPECT_TRUE(FlagPass);
    EXPECT_FALSE(Sender->PassTo(Sink)); // nothing left to offer
    Log.push_back("routed");
  };
  M.Model->Simulate(10);
  EXPECT_EQ(Log, (std::vector<std::string>{"after-pass", "routed"}));
  EXPECT_EQ(Source->Exits(), 1);
  EXPECT_FALSE(Source->PassTo(Sink));
}

TEST(Model, ExhaustedHeapStopsTheRun) {
  TApplication M;
  M.Model->SetHeapSize(1);
  auto* Source = M.Add<TSource>();
  auto* Hold = M.Add<TBuffer>();
  Source->OnFirstInit = [&] { Source->NextTime(1); };
  Source->OnRouting = [&](TBlock* Sender, TTransaction*) {
    if (Sender->PassTo(Hold)) Source->NextTime(1);
  };
  M.Model->Simulate(1e9);
  ASSERT_FALSE(M.Capture.Messages.empty());
  const std::string Prefix = "Quorin Error: Not enough memory in private heap at model time ";
  EXPECT_EQ(M.Capture.Messages[0].rfind(Prefix, 0), 0u) << M.Capture.Messages[0];
  EXPECT_EQ(M.Capture.Messages[0], Prefix + FormatFloat("0.000", ModelTime()));
  EXPECT_FALSE(M.Model->Running());
  EXPECT_GT(Hold->Held.size(), 1000u);
  EXPECT_LT(ModelTime(), 1e9);
}

TEST(Model, BlockDestroyedBetweenRunsIsForgotten) {
  TApplication M;
  auto* Source = M.Add<TSource>();
  auto* Blocked = M.Add<TBuffer>(); // offers a transaction nobody takes
  auto* Doomed = M.Add<TSource>();
  Source->OnFirstInit = [&] { Source->NextTime(1); };
  Source->OnRouting = [&](TBlock* Sender, TTransaction*) {
    Sender->PassTo(Blocked);
    Source->NextTime(1);
  };
  Doomed->OnFirstInit = [&] {
    Doomed->NextTime(2);
    Doomed->NextTime(50); // still pending when it goes
  };
  M.Model->Simulate(10); // Doomed now also offers its transaction in the chain
  ASSERT_EQ(M.Model->Aggregates().size(), 3u);
  delete Doomed;
  EXPECT_EQ(M.Model->Aggregates().size(), 2u);
  M.Model->Simulate(100); // its activation at 50 fires nothing; the chain skips it
  EXPECT_EQ(ModelTime(), 101);
  M.Model->ClearStatistics();
  M.Model->Reset();
  EXPECT_EQ(Blocked->Count(), 0);

  // A model destroyed first leaves its aggregates without a model.
  delete M.Model;
  delete Source; // must not reach the destroyed model
}

TEST(Model, DestroyedModelIsNotLeftInTheGlobal) {
  {
    TClock M({1});
    M.Model->Simulate(10);
    EXPECT_EQ(GlobalModel, M.Model);
  }
  EXPECT_EQ(GlobalModel, nullptr);
  EXPECT_EQ(FutureManager, nullptr);
  EXPECT_EQ(GlobalHeap, nullptr);
}

} // namespace
