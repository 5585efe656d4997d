// The hot path (event loop, pass protocol, chain, pools) takes nothing from
// the general heap: a run in its steady state makes no operator new call on
// any engine. The count covers this whole test program; only the calls
// inside the measured Simulate are compared.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "quorin/blocks.h"

namespace {
long NewCalls = 0;
} // namespace

// The sanitizer build keeps its own operator new: the count is taken in
// the normal build only.
#if !defined(__SANITIZE_ADDRESS__)
#define QUORIN_COUNT_NEW 1
// The replacements pair malloc with free; g++ sees operator new inlined
// against free and warns of a mismatch that is none.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t Size) {
  ++NewCalls;
  if (void* P = std::malloc(Size ? Size : 1)) return P;
  throw std::bad_alloc();
}
void operator delete(void* P) noexcept {
  std::free(P);
}
void operator delete(void* P, std::size_t) noexcept {
  std::free(P);
}
#endif

namespace quorin::test {
namespace {

struct TAllocationCase {
  TEngine Engine;
  bool Routes; // fixed routes instead of routing handlers
};

class Allocation : public ::testing::TestWithParam<TAllocationCase> {};

// D/D/1: one arrival per time unit, half a unit of service, so the run
// never needs more records than in its first units; every handler of the
// blocks is assigned, as a model's would be.
TEST_P(Allocation, ASteadyRunMakesNoOperatorNewCall) {
#if !defined(QUORIN_COUNT_NEW)
  GTEST_SKIP() << "operator new is counted in the build without sanitizers";
#endif
  TComponent Form(nullptr);
  auto* Model = new TModel(&Form);
  Model->SetEngine(GetParam().Engine);
  auto* Door = new TGenerator(&Form);
  auto* Line = new TQueue(&Form);
  auto* Clerk = new TServer(&Form);
  auto* Exit = new TTerminator(&Form);
  Door->OnBeforeTimeGoOn = [Door](TAggregate*) { Door->NextTime(1); };
  Door->OnAfterGeneration = [Door](TBlock*, TTransaction*) { Door->NextTime(1); };
  Clerk->OnEnter = [Clerk](TBlock*, TTransaction*) { Clerk->NextTime(0.5); };
  long Left = 0;
  Exit->OnEnter = [&Left](TBlock*, TTransaction*) { ++Left; };
  if (GetParam().Routes) {
    Door->SetRoute(Line);
    Line->SetRoute(Clerk);
    Clerk->SetRoute(Exit);
  } else {
    Door->OnRouting = [Line](TBlock* Sender, TTransaction*) { Sender->PassTo(Line); };
    Line->OnRouting = [Clerk](TBlock* Sender, TTransaction*) { Sender->PassTo(Clerk); };
    Clerk->OnRouting = [Exit](TBlock* Sender, TTransaction*) { Sender->PassTo(Exit); };
  }
  Model->Simulate(100);
  const long Before = NewCalls;
  Model->Simulate(10100);
  EXPECT_EQ(NewCalls - Before, 0);
  EXPECT_GT(Left, 10000);
}

// The documented engine is left out: its levels list adds a level now and
// then, whose two sentinels are never removed, so its pool opens a page
// (an object of the general heap) every few thousand arrivals.
const TAllocationCase AllocationCases[] = {{TEngine::Scalable, false},
                                           {TEngine::Fast, false},
                                           {TEngine::Fast, true}};

std::string AllocationCaseName(const ::testing::TestParamInfo<TAllocationCase>& Case) {
  const char* Engines[] = {"Documented", "Scalable", "Fast"};
  return std::string(Engines[int(Case.param.Engine)]) + (Case.param.Routes ? "Routes" : "Handlers");
}

INSTANTIATE_TEST_SUITE_P(Engines, Allocation, ::testing::ValuesIn(AllocationCases),
                         AllocationCaseName);

} // namespace
} // namespace quorin::test
