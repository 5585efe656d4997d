// Runs that a careless model would make hang, crash or leak: loops that take
// no time, a creator that generates from its own handler, handlers that
// throw, and transaction classes whose members own memory.
#include <stdexcept>
#include <string>

#include "fixture.h"

namespace quorin {
namespace {

class Trust : public test::BlockTest {
protected:
  // Messages the test expects; the fixture fails on any left over.
  std::vector<std::string> TakeMessages() {
    std::vector<std::string> Taken;
    Taken.swap(Guard.Messages);
    return Taken;
  }
};

// Two queues that pass to each other move one transaction for ever at one
// model time: the move limit stops the run, names both and the time, and
// the model does not run on until Reset.
TEST_F(Trust, AZeroTimeLoopOfPassesIsStoppedAndNamed) {
  auto* Door = Make<TGenerator>("Door");
  auto* Line = Make<TQueue>("Line");
  auto* Line2 = Make<TQueue>("Line2");
  Model->SetMoveLimit(1000);
  Door->OnBeforeTimeGoOn = [](TAggregate* Self) { Self->NextTime(2.5); };
  Door->OnRouting = [Line](TBlock* S, TTransaction*) { S->PassTo(Line); };
  Line->OnRouting = [Line2](TBlock* S, TTransaction*) { S->PassTo(Line2); };
  Line2->OnRouting = [Line](TBlock* S, TTransaction*) { S->PassTo(Line); };
  Model->Simulate(100);
  const auto Messages = TakeMessages();
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_EQ(Messages[0], "Quorin Error: Model made more than 1000 moves at model time 2.5000000 "
                         "without the time advancing, among Line2, Line: a loop that takes no "
                         "time? The run is stopped; a model that needs more moves at one time "
                         "raises MoveLimit");
  EXPECT_EQ(Model->RunEnd(), TRunEnd::MoveLimit);
  EXPECT_FALSE(Model->Running());
  EXPECT_EQ(ModelTime(), 2.5);
  EXPECT_EQ(Line->Count() + Line2->Count(), 1); // the transaction is whole
  Model->Simulate(200);                         // refused until Reset
  EXPECT_EQ(ModelTime(), 2.5);
  Model->Reset();
  Model->SetMoveLimit(0); // no limit: the same model would hang, so stop it by hand
  int Passes = 0;
  Model->OnAfterPass = [this, &Passes](TBlock*, TBlock*, TTransaction*) {
    if (++Passes == 5000) Model->Stop();
  };
  Line2->OnRouting = [this](TBlock*, TTransaction*) {}; // and keep the chain from looping
  Model->Simulate(3);
  EXPECT_TRUE(TakeMessages().empty());
  EXPECT_EQ(Model->RunEnd(), TRunEnd::Normal);
}

// A Stop from a handler ends the run after the step under way, but a loop of
// passes never ends its step: the move limit stops it all the same. (The
// test lets the loop go after many passes rather than hang without it.)
TEST_F(Trust, AZeroTimeLoopGoesOnAfterStopUntilTheMoveLimit) {
  auto* Door = Make<TGenerator>("Door");
  auto* Line = Make<TQueue>("Line");
  auto* Line2 = Make<TQueue>("Line2");
  Model->SetMoveLimit(1000);
  int Passes = 0;
  Door->OnBeforeTimeGoOn = [](TAggregate* Self) { Self->NextTime(2.5); };
  Door->OnRouting = [Line](TBlock* S, TTransaction*) { S->PassTo(Line); };
  Line->OnRouting = [Line2](TBlock* S, TTransaction*) { S->PassTo(Line2); };
  Line2->OnRouting = [Line, &Passes](TBlock* S, TTransaction*) {
    if (Passes < 100000) S->PassTo(Line);
  };
  Model->OnAfterPass = [this, &Passes](TBlock*, TBlock*, TTransaction*) {
    if (++Passes == 10) Model->Stop();
  };
  Model->Simulate(100);
  EXPECT_LE(Passes, 1100);
  const auto Messages = TakeMessages();
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_NE(Messages[0].find("made more than 1000 moves at model time 2.5000000"),
            std::string::npos)
      << Messages[0];
  EXPECT_EQ(Model->RunEnd(), TRunEnd::MoveLimit);
}

// A generator with interval 0 and a scheduler that plans itself with no
// delay make activations, not loops of passes: they count as moves too.
TEST_F(Trust, ActivationsWithNoDelayAreStoppedToo) {
  auto* Door = Make<TGenerator>("Door");
  auto* Exit = Make<TTerminator>("Exit");
  Model->SetMoveLimit(500);
  Door->OnBeforeTimeGoOn = [](TAggregate* Self) { Self->NextTime(1); };
  Door->OnAfterGeneration = [](TBlock* Self, TTransaction*) { Self->NextTime(0); };
  Door->OnRouting = [Exit](TBlock* S, TTransaction*) { S->PassTo(Exit); };
  Model->Simulate(10);
  auto Messages = TakeMessages();
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_NE(Messages[0].find("moves at model time 1.0000000 without the time advancing, among "
                             "Door, Exit"),
            std::string::npos)
      << Messages[0];

  Model->Reset();
  Door->OnBeforeTimeGoOn = nullptr;
  auto* Ticker = Make<TScheduler>("Ticker");
  Ticker->OnBeforeTimeGoOn = [](TAggregate* Self) { Self->NextTime(4); };
  Ticker->OnPlanned = [](TAggregate* Self) { Self->NextTime(0); };
  Model->Simulate(10);
  Messages = TakeMessages();
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_NE(Messages[0].find("at model time 4.0000000 without the time advancing, among Ticker:"),
            std::string::npos)
      << Messages[0];
}

// A generator that plans its next arrival with no delay into a queue fills
// the heap before the move limit: the exhaustion is followed by a message
// that names the generator; one refused while the time advances is not named.
TEST_F(Trust, AGeneratorThatFillsTheHeapAtOneTimeIsNamed) {
  auto* Door = Make<TGenerator>("Door");
  auto* Line = Make<TQueue>("Line");
  Model->SetHeapSize(1);
  Door->OnBeforeTimeGoOn = [](TAggregate* Self) { Self->NextTime(1); };
  Door->OnAfterGeneration = [](TBlock* Self, TTransaction*) { Self->NextTime(0); };
  Door->SetRoute(Line);
  Model->Simulate(10);
  auto Messages = TakeMessages();
  ASSERT_EQ(Messages.size(), 2u);
  EXPECT_NE(Messages[0].find("Not enough memory in private heap at model time 1.000"),
            std::string::npos)
      << Messages[0];
  EXPECT_NE(Messages[1].find("the private heap ran out while Door made transactions at model "
                             "time 1.0000000 without the time advancing"),
            std::string::npos)
      << Messages[1];
  EXPECT_TRUE(Model->Exhausted());

  Model->Reset();
  Door->OnAfterGeneration = [](TBlock* Self, TTransaction*) { Self->NextTime(0.001); };
  Model->Simulate(1e9);
  Messages = TakeMessages();
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_NE(Messages[0].find("Not enough memory in private heap"), std::string::npos)
      << Messages[0];
}

// Many moves at one time, each at its own time, are no loop: the count
// starts again whenever the time advances.
TEST_F(Trust, TheMoveCountStartsAgainWhenTheTimeAdvances) {
  auto* Door = Make<TGenerator>("Door");
  auto* Exit = Make<TTerminator>("Exit");
  Model->SetMoveLimit(10);
  Door->OnBeforeTimeGoOn = [](TAggregate* Self) { Self->NextTime(1); };
  Door->OnAfterGeneration = [](TBlock* Self, TTransaction*) { Self->NextTime(1); };
  Door->OnRouting = [Exit](TBlock* S, TTransaction*) { S->PassTo(Exit); };
  Model->Simulate(1000);
  EXPECT_EQ(Exit->Entries(), 1001); // the first arrival past the end included
  EXPECT_EQ(Model->RunEnd(), TRunEnd::Normal);
  Model->SetMoveLimit(-1);
  EXPECT_EQ(TakeMessages(), std::vector<std::string>{
                                "Quorin Error: The move limit of Model can not be negative"});
  EXPECT_EQ(Model->MoveLimit(), 10);
}

// A creator that generates from its own OnAfterGeneration would nest once
// per transaction until the stack overflows: the nested call is refused.
TEST_F(Trust, GenerateFromTheCreatorsOwnHandlerIsRefused) {
  auto* C = Make<TCreator>("C");
  auto* Exit = Make<TTerminator>("Exit");
  C->OnAfterGeneration = [C](TBlock*, TTransaction*) { C->Generate(1); };
  C->OnRouting = [Exit](TBlock* S, TTransaction*) { S->PassTo(Exit); };
  At({1}, [C] { C->Generate(3); });
  Model->Simulate(10);
  const auto Messages = TakeMessages();
  ASSERT_EQ(Messages.size(), 3u);
  EXPECT_EQ(Messages[0], "Quorin Error: Generate of C is called while it generates (from its "
                         "OnAfterGeneration); the call is refused");
  EXPECT_EQ(Exit->Entries(), 3);
}

// After a handler's exception Simulate has returned: the model is not
// running, says how the run ended, and runs on when asked; every block is
// whole and nothing leaks (the model is destroyed normally).
TEST_F(Trust, AHandlersExceptionEndsTheRunCleanly) {
  auto* Door = Make<TGenerator>("Door");
  auto* Line = Make<TQueue>("Line");
  auto* Exit = Make<TTerminator>("Exit");
  Door->OnBeforeTimeGoOn = [](TAggregate* Self) { Self->NextTime(1); };
  Door->OnAfterGeneration = [](TBlock* Self, TTransaction*) { Self->NextTime(1); };
  Door->OnRouting = [Line](TBlock* S, TTransaction*) { S->PassTo(Line); };
  int Entered = 0;
  Line->OnEnter = [&Entered](TBlock*, TTransaction*) {
    if (++Entered == 3) throw std::runtime_error("broken");
  };
  Line->OnRouting = [Exit](TBlock* S, TTransaction*) { S->PassTo(Exit); };
  EXPECT_THROW(Model->Simulate(10), std::runtime_error);
  EXPECT_FALSE(Model->Running());
  EXPECT_EQ(Model->RunEnd(), TRunEnd::HandlerException);
  EXPECT_EQ(Line->Entries(), 3);
  EXPECT_EQ(Door->Exits(), 3);
  Model->Simulate(10);
  EXPECT_EQ(Model->RunEnd(), TRunEnd::Normal);
  EXPECT_EQ(Exit->Entries(), Line->Exits());
  EXPECT_GE(Exit->Entries(), 9);
}

// A transaction class with a member that owns memory: every record's
// destructor runs when the pool goes (Reset, or the model's end), once, and
// a record reused in between keeps its fields. Under LeakSanitizer a leak of
// the strings fails the sanitizer build as well.
struct TTagged : TTransaction {
  TTagged() { ++Made; }
  ~TTagged() override { ++Gone; }
  std::string Label = std::string(100, 'x'); // on the general heap
  static int Made, Gone;
};
int TTagged::Made = 0;
int TTagged::Gone = 0;

TEST_F(Trust, TheDestructorsOfPooledTransactionsRunWhenThePoolGoes) {
  TTagged::Made = TTagged::Gone = 0;
  Model->SetTransactionClass<TTagged>();
  auto* Door = Make<TGenerator>("Door");
  auto* Exit = Make<TTerminator>("Exit");
  std::string Seen;
  Door->OnBeforeTimeGoOn = [](TAggregate* Self) { Self->NextTime(1); };
  Door->OnAfterGeneration = [&Seen](TBlock* Self, TTransaction* T) {
    auto* Mine = dynamic_cast<TTagged*>(T);
    ASSERT_NE(Mine, nullptr);
    Seen = Mine->Label; // a reused record keeps what its last holder left
    Mine->Label = "used " + std::to_string(T->GetTransID()) + std::string(60, '-');
    Self->NextTime(1);
  };
  Door->OnRouting = [Exit](TBlock* S, TTransaction*) { S->PassTo(Exit); };
  Model->Simulate(50);
  EXPECT_GT(TTagged::Made, 0);
  EXPECT_EQ(Seen.rfind("used ", 0), 0u);
  EXPECT_EQ(TTagged::Gone, 0);
  Model->Reset();
  EXPECT_EQ(TTagged::Gone, TTagged::Made);
  Model->Simulate(20);
  const int Made = TTagged::Made;
  delete Model; // the model's end drops the pool as well
  Model = nullptr;
  EXPECT_EQ(TTagged::Gone, Made);
}

} // namespace
} // namespace quorin
