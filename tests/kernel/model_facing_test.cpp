// A model that includes only the headers of the blocks it uses compiles
// against their model-facing API: none of the kernel's machinery (pools,
// event lists, chain, private heap) is declared in full here.
#include <gtest/gtest.h>

namespace quorin {
class TMemoManager;
class TTransManager;
class TFutureManager;
class TCurrentManager;
struct TPrivateHeap;
} // namespace quorin

#include "quorin/blocks/gate.h"
#include "quorin/blocks/generator.h"
#include "quorin/blocks/queue.h"
#include "quorin/blocks/server.h"

namespace {

template <class T>
concept Complete = requires {
  sizeof(T);
};

static_assert(!Complete<quorin::TMemoManager>, "a block header pulls in the pools");
static_assert(!Complete<quorin::TTransManager>, "a block header pulls in the pools");
static_assert(!Complete<quorin::TFutureManager>, "a block header pulls in the event list");
static_assert(!Complete<quorin::TCurrentManager>, "a block header pulls in the chain");
static_assert(!Complete<quorin::TPrivateHeap>, "a block header pulls in the private heap");

TEST(ModelFacing, AModelBuiltFromBlockHeadersAloneRuns) {
  using namespace quorin;
  TComponent Application(nullptr);
  auto* Form = new TComponent(&Application);
  auto* Model = new TModel(Form);
  auto* Door = new TGenerator(Form);
  auto* Line = new TQueue(Form);
  auto* Desk = new TServer(Form);
  auto* Exit = new TTerminator(Form);
  Door->OnBeforeTimeGoOn = [=](TAggregate*) { Door->NextTime(1); };
  Door->OnAfterGeneration = [=](TBlock*, TTransaction*) {
    if (Door->Exits() < 4) Door->NextTime(1);
  };
  Door->OnRouting = [=](TBlock* Sender, TTransaction*) { Sender->PassTo(Line); };
  Line->OnRouting = [=](TBlock* Sender, TTransaction*) { Sender->PassTo(Desk); };
  Desk->OnEnter = [=](TBlock*, TTransaction*) { Desk->NextTime(1.5); };
  Desk->OnRouting = [=](TBlock* Sender, TTransaction*) { Sender->PassTo(Exit); };
  Model->Simulate(100);
  // Arrivals at 1, 2, 3, 4, 5; one server of 1.5 each: the last leaves at 8.5.
  EXPECT_EQ(Exit->Entries(), 5);
  EXPECT_DOUBLE_EQ(ModelTime(), 8.5);
}

} // namespace
