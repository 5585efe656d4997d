// The umbrellas that the README recommends hold the model-facing API only:
// a program that includes quorin/quorin.h and quorin/blocks.h sees none of
// the kernel's machinery (pools, event lists, chain, private heap, run
// state) in full, and may name those names for itself.
#include <gtest/gtest.h>

namespace quorin {
class TMemoManager;
class TTransManager;
class TFutureManager;
class TCurrentManager;
class TLevelsList;
class THeapList;
struct TPrivateHeap;
} // namespace quorin

#include "quorin/blocks.h"
#include "quorin/quorin.h"

namespace {

template <class T>
concept Complete = requires {
  sizeof(T);
};

static_assert(!Complete<quorin::TMemoManager>, "an umbrella pulls in the pools");
static_assert(!Complete<quorin::TTransManager>, "an umbrella pulls in the pools");
static_assert(!Complete<quorin::TFutureManager>, "an umbrella pulls in the event list");
static_assert(!Complete<quorin::TLevelsList>, "an umbrella pulls in the event list");
static_assert(!Complete<quorin::THeapList>, "an umbrella pulls in the event list");
static_assert(!Complete<quorin::TCurrentManager>, "an umbrella pulls in the chain");
static_assert(!Complete<quorin::TPrivateHeap>, "an umbrella pulls in the private heap");

} // namespace

// Declared by the machinery's headers: a program that sees only the
// umbrellas may give these names a meaning of its own (here of file scope,
// so they do not meet the library's at link time).
namespace quorin {
[[maybe_unused]] static int FSysTime = 0;
[[maybe_unused]] static int GlobalModel = 0;
[[maybe_unused]] static int FlagPass = 0;
[[maybe_unused]] static int TransManager = 0;
[[maybe_unused]] static int QueHeadsManager = 0;
[[maybe_unused]] static int FutureManager = 0;
[[maybe_unused]] static int CurrentManager = 0;
[[maybe_unused]] static int GlobalHeap = 0;
[[maybe_unused]] static int CountPages = 0;
} // namespace quorin

namespace {

TEST(UmbrellaFacing, AModelBuiltFromTheUmbrellasRunsOnTheModelClock) {
  using namespace quorin;
  TComponent Application(nullptr);
  auto* Form = new TComponent(&Application);
  auto* Model = new TModel(Form);
  auto* Door = new TGenerator(Form);
  auto* Exit = new TTerminator(Form);
  Door->OnBeforeTimeGoOn = [=](TAggregate*) { Door->NextTime(2); };
  Door->OnAfterGeneration = [=](TBlock*, TTransaction*) {
    if (Door->Exits() < 2) Door->NextTime(2);
  };
  Door->OnRouting = [=](TBlock* Sender, TTransaction*) { Sender->PassTo(Exit); };
  Model->Simulate(100);
  EXPECT_EQ(Exit->Entries(), 3);
  EXPECT_DOUBLE_EQ(ModelTime(), 6.0);
}

} // namespace
