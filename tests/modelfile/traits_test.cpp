// What model files ask of a class through its traits, shown with a holding
// class that is none of the library's.
#include <gtest/gtest.h>

#include <sstream>

#include "bench_block.h"
#include "quorin/quorin.h"

using namespace quorin;

namespace {

// Door -> Desk -> Line -> Desk ...: a loop through a block that holds for a
// time, so model time moves on every round.
const char* const BenchLoop = R"(object Form: TComponent
  object Model: TModel end
  object R: TMultiRand end
  object Door: TGenerator
    OnBeforeTimeGoOn = NextArrival(R.Exponential(1))
    OnAfterGeneration = NextArrival(R.Exponential(1))
    OnRouting = PassTo(Desk)
  end
  object Desk: TBench
    Capacity = 2
    OnEnter = Hold(R.Exponential(0.5))
    OnRouting = PassFirst(Line, Out)
  end
  object Line: TQueue
    OnRouting = PassTo(Desk)
  end
  object Out: TTerminator end
end
)";

} // namespace

TEST(Traits, ANewHoldingClassHoldsAndBreaksLoopsInTheCheck) {
  RegisterBenchClass();
  std::vector<std::string> Errors;
  auto File = LoadModelText(BenchLoop, "bench.qm", {}, Errors);
  ASSERT_TRUE(File) << (Errors.empty() ? "" : Errors.front());
  EXPECT_TRUE(File->RouteFindings().empty()) << File->RouteFindings().front();

  File->Model()->Simulate(50);
  std::ostringstream Out;
  PrintReport(*File->Model(), Out);
  EXPECT_NE(Out.str().find("Desk"), std::string::npos) << Out.str();
  const auto Rows = CollectReport(*File->Model());
  const auto Desk = std::find_if(Rows.begin(), Rows.end(),
                                 [](const TReportRow& R) { return R.Name == "Desk"; });
  ASSERT_NE(Desk, Rows.end());
  EXPECT_EQ(Desk->Class, "TBench");
  EXPECT_GT(Desk->Entries, 0);
  File->Model()->Reset();
}

TEST(Traits, WhatAClassMayDoFollowsItsTraits) {
  RegisterBenchClass();
  // Messages name the library's classes with the trait.
  EXPECT_EQ(ClassesThat([](const TClassTraits& T) { return T.HoldsForTime; }),
            "a TServer, TStorage or TStoragePrty");
  struct TCase {
    const char* Body;
    const char* Error; // empty: loads
  } Cases[] = {
      {"  object B: TBench\n    OnEnter = Resume(2)\n  end\n", ""},
      {"  object B: TBench\n    OnEnter = TimeLimit(2)\n  end\n", "waiting-time limit"},
      {"  object B: TBench\n    OnRouting = PostPone\n  end\n", "displaced transaction"},
      {"  object B: TBench\n    OnExit = Hold(2)\n  end\n",
       "belongs in OnEnter of a TServer, TStorage or TStoragePrty"},
      {"  object B: TBench\n    Schedule = S\n  end\n", "a schedule drives the capacity"},
  };
  for (const TCase& C : Cases) {
    const std::string Text = "schedule S\n  Steps = \"0 1\"\nend\nobject Form: TComponent\n"
                             "  object Model: TModel end\n" +
                             std::string(C.Body) + "end\n";
    std::vector<std::string> Errors;
    auto File = LoadModelText(Text, "case.qm", {}, Errors);
    if (*C.Error == 0) {
      EXPECT_TRUE(File && Errors.empty()) << C.Body << (Errors.empty() ? "" : Errors.front());
    } else {
      ASSERT_FALSE(Errors.empty()) << C.Body;
      EXPECT_NE(Errors.front().find(C.Error), std::string::npos) << Errors.front();
    }
  }
}
