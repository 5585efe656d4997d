// The model check: wrongly wired models and the exact findings they give.
#include <memory>

#include "fixture.h"
#include "quorin/detail/future.h"
#include "quorin/statsim.h"

namespace quorin::test {
namespace {

class CheckTest : public BlockTest {
protected:
  // A generator with an arrival every Interval from time Interval on.
  TGenerator* Every(const std::string& Name, double Interval) {
    auto* G = Make<TGenerator>(Name);
    G->OnBeforeTimeGoOn = [G, Interval](TAggregate*) { G->NextTime(Interval); };
    G->OnAfterGeneration = [G, Interval](TBlock*, TTransaction*) { G->NextTime(Interval); };
    return G;
  }
  // Runs with the check on; answers the messages and clears them.
  std::vector<std::string> RunChecked(double Until) {
    Model->SetCheckModel(true);
    Model->Simulate(Until);
    std::vector<std::string> Messages = Guard.Messages;
    Guard.Messages.clear();
    return Messages;
  }
  using TStrings = std::vector<std::string>;
};

TEST_F(CheckTest, QueueWithoutRoutingHoldsTransactionsThatCannotLeave) {
  auto* Door = Every("Door", 1.0);
  auto* Line = Make<TQueue>("Line");
  Door->OnRouting = [Line](TBlock* S, TTransaction*) { S->PassTo(Line); };
  EXPECT_EQ(RunChecked(4.5), TStrings{"Quorin Check: Line holds 5 transactions that cannot leave: "
                                      "it has no OnRouting handler"});
}

TEST_F(CheckTest, ServiceAndHoldingWithoutAnEnd) {
  auto* Door = Every("Door", 1.0);
  auto* Clerk = Make<TServer>("Clerk");
  auto* Tellers = Make<TStorage>("Tellers");
  auto* Exit = Make<TTerminator>("Exit");
  Tellers->SetCapacity(2);
  Door->OnRouting = [=](TBlock* S, TTransaction*) {
    if (!S->PassTo(Clerk)) S->PassTo(Tellers);
  };
  Clerk->OnRouting = [Exit](TBlock* S, TTransaction*) { S->PassTo(Exit); };
  Tellers->OnRouting = [Exit](TBlock* S, TTransaction*) { S->PassTo(Exit); };
  EXPECT_EQ(RunChecked(10),
            (TStrings{"Quorin Check: Clerk serves a transaction whose service never ends: its "
                      "OnEnter handler orders no NextTime",
                      "Quorin Check: Tellers holds 2 transactions whose holding never ends: its "
                      "OnEnter handler orders no NextTime"}));
}

TEST_F(CheckTest, GeneratorsThatNeverStartOrAreFedInto) {
  auto* Door = Every("Door", 1.0);
  auto* Idle = Make<TGenerator>("Idle"); // no first arrival
  Door->OnRouting = [Idle](TBlock* S, TTransaction*) { S->PassTo(Idle); };
  Door->OnAfterGeneration = nullptr; // one arrival only, then deadlock
  EXPECT_EQ(RunChecked(10),
            (TStrings{"Quorin Check: Door made 1 transaction and planned no next arrival: its "
                      "OnAfterGeneration handler orders no NextTime",
                      "Quorin Check: Idle never planned an arrival: its OnBeforeTimeGoOn handler "
                      "orders no NextTime",
                      "Quorin Check: Idle refused 1 pass into it: a generator cannot receive "
                      "transactions"}));
}

TEST_F(CheckTest, PreemptedTransactionsDestroyedForWantOfAHandler) {
  auto* Clerk = Make<TServer>("Clerk");
  auto* Exit = Make<TTerminator>("Exit");
  Clerk->SetPreemptive(true);
  Clerk->OnEnter = [Clerk](TBlock*, TTransaction*) { Clerk->NextTime(5); };
  Clerk->OnRouting = [Exit](TBlock* S, TTransaction*) { S->PassTo(Exit); };
  auto* Door = Every("Door", 1.0);
  Door->OnAfterGeneration = [Door](TBlock*, TTransaction* T) {
    // Every arrival outranks the holder and displaces it.
    T->SetPrty(uint8_t(FSysTime));
    T->SetPreempt();
    Door->NextTime(1.0);
  };
  Door->OnRouting = [Clerk](TBlock* S, TTransaction*) { S->PassTo(Clerk); };
  EXPECT_EQ(RunChecked(3.5), TStrings{"Quorin Check: Clerk destroyed 3 preempted transactions: it "
                                      "has no OnPreempt handler"});
}

// The priority blocks and the creator: a priority queue that destroys what
// it pushes out (arrival 1, pushed out by arrival 2), a priority storage
// whose holdings have no end (arrivals 3 and 4, each first offered to a
// creator, which refuses it).
TEST_F(CheckTest, PushOutsWithoutHandlerEndlessHoldingsAndAFedCreator) {
  auto* Door = Every("Door", 1.0);
  auto* Line = Make<TQueuePrty>("Line");
  auto* Store = Make<TStoragePrty>("Store");
  auto* Batch = Make<TCreator>("Batch");
  Line->SetCapacity(1);
  Line->SetPreemptive(true);
  Door->OnAfterGeneration = [Door](TBlock*, TTransaction* T) {
    T->SetPrty(uint8_t(FSysTime));
    T->SetPreempt();
    Door->NextTime(1.0);
  };
  Door->OnRouting = [=](TBlock* S, TTransaction*) {
    if (FSysTime <= 2) {
      S->PassTo(Line);
    } else if (!S->PassTo(Batch)) {
      S->PassTo(Store);
    }
  };
  Line->OnRouting = [](TBlock*, TTransaction*) {};
  Store->OnRouting = [](TBlock*, TTransaction*) {};
  EXPECT_EQ(RunChecked(3.5),
            (TStrings{"Quorin Check: Line destroyed 1 pushed-out transaction: it has no "
                      "OnPreempt handler",
                      "Quorin Check: Store holds 2 transactions whose holding never ends: its "
                      "OnEnter handler orders no NextTime",
                      "Quorin Check: Batch refused 2 passes into it: a creator cannot receive "
                      "transactions"}));
}

TEST_F(CheckTest, StreamThatRefusedItsParametersAndUnnamedComponents) {
  new TMultiRand(Form);
  auto* Arrivals = new TMultiRand(Form); // unnamed: "TMultiRand#2"
  auto* Door = Make<TGenerator>("Door");
  auto* Exit = Make<TTerminator>("Exit");
  Door->OnBeforeTimeGoOn = [=](TAggregate*) { Door->NextTime(Arrivals->Exponential(-1.0)); };
  Door->OnRouting = [Exit](TBlock* S, TTransaction*) { S->PassTo(Exit); };
  const TStrings Findings{"Quorin Check: Door made 1 transaction and planned no next arrival: its "
                          "OnAfterGeneration handler orders no NextTime",
                          "Quorin Check: TMultiRand#2 refused the parameters of 1 draw and "
                          "returned 0.0 instead"};
  TStrings Expected{"Quorin Error: Incorrect parameter of TMultiRand#2.Exponential"};
  Expected.insert(Expected.end(), Findings.begin(), Findings.end());
  EXPECT_EQ(RunChecked(10), Expected);
  // A draw refused between runs is reported by the call that made it, and
  // the check of the next run counts only the draws of the runs.
  EXPECT_EQ(Arrivals->Exponential(-2.0), 0.0);
  EXPECT_EQ(Guard.Messages, TStrings{"Quorin Error: Incorrect parameter of TMultiRand#2.Exponential"});
  Guard.Messages.clear();
  EXPECT_EQ(RunChecked(20), Findings);
  EXPECT_EQ(Model->RunCheck(), (TStrings{Findings[0].substr(14), Findings[1].substr(14)}));
  Guard.Messages.clear();
}

// A sound model gives no finding, and the check is off unless switched on.
TEST_F(CheckTest, SoundModelGivesNoFindingAndTheCheckIsOffByDefault) {
  auto* Door = Every("Door", 1.0);
  auto* Clerk = Make<TServer>("Clerk");
  auto* Exit = Make<TTerminator>("Exit");
  Door->OnRouting = [Clerk](TBlock* S, TTransaction*) { S->PassTo(Clerk); };
  Clerk->OnEnter = [Clerk](TBlock*, TTransaction*) { Clerk->NextTime(0.5); };
  Clerk->OnRouting = [Exit](TBlock* S, TTransaction*) { S->PassTo(Exit); };
  EXPECT_TRUE(RunChecked(10).empty());
  EXPECT_TRUE(Model->RunCheck().empty());

  auto* Line = Make<TQueue>("Line"); // joins at the next gathering: none here
  (void)Line;
  Model->SetCheckModel(false);
  Clerk->OnRouting = nullptr;
  Model->Simulate(20);
  EXPECT_TRUE(Guard.Messages.empty());
  EXPECT_EQ(Model->RunCheck().size(), 1u);
  Guard.Messages.clear();
}

// Many blocked blocks on retry at every scan (the documented and the fast
// engine): the check names the switch; with retry on change (the scalable
// engine) they cost nothing and there is nothing to report.
TEST_F(CheckTest, ManyBlockedBlocksOnRetryAtEveryScanNameTheSwitch) {
  auto* Shut = Make<TGate>("Shut");
  Shut->Lock();
  for (int i = 0; i < 120; ++i) {
    std::string Name = "G";
    Name += std::to_string(i);
    auto* G = Make<TGenerator>(Name);
    G->OnBeforeTimeGoOn = [G](TAggregate*) { G->NextTime(1.0); };
    G->OnAfterGeneration = [G](TBlock*, TTransaction*) { G->NextTime(100.0); };
    G->OnRouting = [Shut](TBlock* S, TTransaction*) { S->PassTo(Shut); };
  }
  for (const TEngine Engine : {TEngine::Documented, TEngine::Scalable, TEngine::Fast}) {
    SCOPED_TRACE(int(Engine));
    Model->Reset();
    Model->SetEngine(Engine);
    const TStrings Found = RunChecked(5);
    if (Engine == TEngine::Scalable) {
      EXPECT_TRUE(Found.empty()) << Found.front();
      continue;
    }
    ASSERT_EQ(Found.size(), 1u);
    EXPECT_EQ(Found[0],
              "Quorin Check: up to 120 blocks waited blocked in the current events chain at once, "
              "each routed again at every scan; TModel::SetRetry(TRetry::OnChange) (RetryOnChange "
              "= true in a model file) lets a blocked block wait for a change of the receivers "
              "that refused it");
  }
}

// A routing that picks its receiver by other state (here, by turns) tries
// different receivers for one transaction: the check names it, as retry on
// change would route it otherwise, on every engine. The head of the line
// waits through A (never open) and B (open from 2.5 on) until a turn of B.
TEST_F(CheckTest, RoutingThatChoosesByOtherStateIsNamedOnEveryEngine) {
  auto* Door = Every("Door", 1.0);
  auto* Line = Make<TQueue>("Line");
  auto* A = Make<TGate>("A");
  auto* B = Make<TGate>("B");
  auto* Exit = Make<TTerminator>("Exit");
  A->Lock();
  B->Lock();
  Door->OnRouting = [=](TBlock* S, TTransaction*) { S->PassTo(Line); };
  auto Turn = std::make_shared<int>(0);
  Line->OnRouting = [=](TBlock* S, TTransaction*) { S->PassTo(++*Turn % 2 ? A : B); };
  B->OnRouting = [=](TBlock* S, TTransaction*) { S->PassTo(Exit); };
  auto* Clock = Make<TScheduler>("Clock");
  Clock->OnBeforeTimeGoOn = [Clock](TAggregate*) { Clock->NextTime(0.5); };
  Clock->OnPlanned = [=](TAggregate*) {
    A->Unlock(); // a change that wakes the line's waits, and passes nothing
    A->Lock();
    if (ModelTime() == 2.5) B->Unlock();
    Clock->NextTime(0.5);
  };
  for (const TEngine Engine : {TEngine::Documented, TEngine::Scalable, TEngine::Fast}) {
    SCOPED_TRACE(int(Engine));
    Model->Reset();
    Model->SetEngine(Engine);
    *Turn = 0;
    B->Lock();
    EXPECT_EQ(RunChecked(4.5),
              TStrings{"Quorin Check: Line's routing tried different receivers for one "
                       "transaction: it decides by more than whether its receivers take the "
                       "transaction, so retry on change may route it otherwise than retry at "
                       "every scan; run it with TRetry::EveryScan (RetryOnChange = false in a "
                       "model file)"});
    EXPECT_EQ(Exit->Entries(), 3); // from 4 on, every other routing of the line moves
  }
}

// Release asked for from inside the server's own handlers is refused aloud.
TEST_F(CheckTest, ReleaseInsideTheServersOwnHandlerIsRefusedWithAMessage) {
  auto* Door = Every("Door", 1.0);
  auto* Clerk = Make<TServer>("Clerk");
  Door->OnRouting = [Clerk](TBlock* S, TTransaction*) { S->PassTo(Clerk); };
  Clerk->OnEnter = [Clerk](TBlock*, TTransaction*) {
    Clerk->Release();
    Clerk->ReleaseOne();
    Clerk->NextTime(10);
  };
  Model->Simulate(1.5);
  EXPECT_EQ(Clerk->Count(), 1);
  EXPECT_EQ(Guard.Messages,
            (TStrings{"Quorin Error: Clerk.Release is refused inside the server's own OnEnter, "
                      "OnExit, OnPreempt or OnRelease handler, while its holder is changing",
                      "Quorin Error: Clerk.ReleaseOne is refused inside the server's own OnEnter, "
                      "OnExit, OnPreempt or OnRelease handler, while its holder is changing"}));
  Guard.Messages.clear();
}

} // namespace
} // namespace quorin::test
