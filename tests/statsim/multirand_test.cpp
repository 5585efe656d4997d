#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "message_capture.h"
#include "quorin/statsim.h"

namespace quorin {
namespace {

using MessageCapture = quorin::test::TMessageCapture;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct Stream : TMultiRand {
  Stream() : TMultiRand(nullptr) { SetName("Rand1"); }
};

TEST(MultiRand, NewStreamUniformsAndStates) {
  Stream R;
  EXPECT_EQ(R.GetSeed(), 1000000000);
  EXPECT_EQ(R.GetMultiplier(), 950706376);
  const double Values[] = {0.105987170, 0.573514111, 0.745440059, 0.229077653};
  const int64_t States[] = {227605715, 1231612174, 1600820337};
  for (int I = 0; I < 4; ++I) {
    EXPECT_NEAR(R.Uni01(), Values[I], 1e-9) << "draw " << I;
    if (I < 3) {
      EXPECT_EQ(R.GetSeed(), States[I]) << "draw " << I;
    }
  }
}

TEST(MultiRand, FirstValueOfEveryDistribution) {
  struct Case {
    const char* Call;
    std::function<double(TMultiRand&)> Draw;
    double Expected;
  };
  const std::vector<Case> Cases = {
      {"Exponential(1)", [](TMultiRand& R) { return R.Exponential(1); }, 2.2444372},
      {"Uniform(2, 4)", [](TMultiRand& R) { return R.Uniform(2, 4); }, 2.2119743},
      {"Erlang(3, 2)", [](TMultiRand& R) { return R.Erlang(3, 2); }, 4.2006149},
      {"Triangular(1, 2, 4)", [](TMultiRand& R) { return R.Triangular(1, 2, 4); }, 1.5638808},
      {"Weibull(2, 1)", [](TMultiRand& R) { return R.Weibull(2, 1); }, 1.4981446},
      {"Gamma(2, 2.5)", [](TMultiRand& R) { return R.Gamma(2, 2.5); }, 2.2409096},
      {"Gamma(2, 0.5)", [](TMultiRand& R) { return R.Gamma(2, 0.5); }, 1.1363146},
      {"GammaJonk(0.5)", [](TMultiRand& R) { return R.GammaJonk(0.5); }, 0.2840786},
      {"Beta(2, 3, 0, 1)", [](TMultiRand& R) { return R.Beta(2, 3, 0, 1); }, 0.6119362},
      {"Lognormal(1, 0.5)", [](TMultiRand& R) { return R.Lognormal(1, 0.5); }, 0.5779376},
      {"Normal(10, 2)", [](TMultiRand& R) { return R.Normal(10, 2); }, 8.1509929},
  };
  MessageCapture Capture;
  for (const Case& C : Cases) {
    Stream R;
    EXPECT_NEAR(C.Draw(R), C.Expected, 1e-7) << C.Call;
  }
  EXPECT_TRUE(Capture.Messages.empty());
}

TEST(MultiRand, NormalGivesStoredSecondVariateWithoutDraw) {
  Stream R;
  EXPECT_NEAR(R.Normal(10, 2), 8.1509929, 1e-7);
  const int64_t AfterPair = R.GetSeed();
  // The stored variate keeps the scaling of the call that made the pair.
  EXPECT_NEAR(R.Normal(0, 1), 10.3449840, 1e-7);
  EXPECT_EQ(R.GetSeed(), AfterPair);
  R.Normal(10, 2);
  EXPECT_NE(R.GetSeed(), AfterPair);
}

TEST(MultiRand, ResetRepeatsTheStreamAndDropsStoredNormal) {
  Stream R;
  R.SetSeed(12345);
  auto Run = [&R] {
    return std::vector<double>{R.Uni01(),      R.Normal(0, 1), R.Gamma(3, 1.7), R.Beta(2, 5, 0, 1),
                               R.Erlang(1, 4), R.Normal(0, 1), R.Normal(0, 1),  R.Lognormal(2, 1)};
  };
  const std::vector<double> First = Run();
  R.Reset();
  EXPECT_EQ(Run(), First);

  // A pair left half used is dropped: the first Normal after Reset draws.
  R.Reset();
  R.Normal(0, 1);
  R.Reset();
  EXPECT_EQ(R.Uni01(), First[0]);
}

TEST(MultiRand, GetSeedIsTheCurrentStateAndCanBeWrittenBack) {
  Stream R;
  R.Uni01();
  R.Uni01();
  const int64_t Here = R.GetSeed();
  EXPECT_EQ(Here, 1231612174);
  R.SetSeed(Here);
  const double Next = R.Uni01();
  R.Uni01();
  R.Reset();
  EXPECT_EQ(R.Uni01(), Next);
}

TEST(MultiRand, SeedRange) {
  MessageCapture Capture;
  Stream R;
  for (int64_t Good : {int64_t{1}, int64_t{2147483646}}) {
    R.SetSeed(Good);
    EXPECT_EQ(R.GetSeed(), Good);
  }
  for (int64_t Bad : {int64_t{0}, int64_t{2147483647}, int64_t{-5}}) {
    Capture.Messages.clear();
    R.SetSeed(5);
    R.SetSeed(Bad);
    ASSERT_EQ(Capture.Messages.size(), 1u) << Bad;
    EXPECT_EQ(Capture.Messages[0], "Rand1: Seed must be in the range 2...2147483646");
    EXPECT_EQ(R.GetSeed(), 1000000000);
    R.Uni01();
    R.Reset();
    EXPECT_EQ(R.GetSeed(), 1000000000) << "Reset returns to the default, not to 5";
  }
}

TEST(MultiRand, MultiplierRange) {
  MessageCapture Capture;
  Stream R;
  R.SetSeed(777);
  for (int64_t Good : {int64_t{2}, int64_t{2147483646}}) {
    R.SetMultiplier(Good);
    EXPECT_EQ(R.GetMultiplier(), Good);
  }
  EXPECT_TRUE(Capture.Messages.empty());
  for (int64_t Bad : {int64_t{1}, int64_t{2147483647}, int64_t{0}}) {
    Capture.Messages.clear();
    R.SetMultiplier(5);
    R.SetMultiplier(Bad);
    ASSERT_EQ(Capture.Messages.size(), 1u) << Bad;
    EXPECT_EQ(Capture.Messages[0], "Rand1: Multuplier must be in the range 2...2147483646");
    EXPECT_EQ(R.GetMultiplier(), 950706376);
    EXPECT_EQ(R.GetSeed(), 777);
  }
  // The multiplier drives the next state: 2 * 777.
  R.SetMultiplier(2);
  R.Uni01();
  EXPECT_EQ(R.GetSeed(), 1554);
}

TEST(MultiRand, RefusalsReturnZeroDrawNothingAndKeepStoredNormal) {
  const std::string Params = "Quorin Error: Incorrect parameters of Rand1.";
  struct Case {
    const char* Call;
    std::function<double(TMultiRand&)> Draw;
    std::string Message;
  };
  const std::vector<Case> Cases = {
      {"Uniform(-1, 1)", [](TMultiRand& R) { return R.Uniform(-1, 1); },
       "Incorrect parameters of Rand1.Uniform"},
      {"Uniform(2, 1)", [](TMultiRand& R) { return R.Uniform(2, 1); },
       "Incorrect parameters of Rand1.Uniform"},
      {"Uniform(NaN, 1)", [](TMultiRand& R) { return R.Uniform(kNaN, 1); },
       "Incorrect parameters of Rand1.Uniform"},
      {"Exponential(-1)", [](TMultiRand& R) { return R.Exponential(-1); },
       "Quorin Error: Incorrect parameter of Rand1.Exponential"},
      {"Erlang(2, 0)", [](TMultiRand& R) { return R.Erlang(2, 0); }, Params + "Erlang"},
      {"Erlang(-1, 2)", [](TMultiRand& R) { return R.Erlang(-1, 2); }, Params + "Erlang"},
      {"Normal(5, 0)", [](TMultiRand& R) { return R.Normal(5, 0); },
       "Quorin Error: Incorrect parameter Deviation of Rand1.Normal"},
      {"Normal(5, NaN)", [](TMultiRand& R) { return R.Normal(5, kNaN); },
       "Quorin Error: Incorrect parameter Deviation of Rand1.Normal"},
      {"Gamma(0, 1)", [](TMultiRand& R) { return R.Gamma(0, 1); }, Params + "Gamma"},
      {"Gamma(1, 0)", [](TMultiRand& R) { return R.Gamma(1, 0); }, Params + "Gamma"},
      {"Gamma(1, inf)", [](TMultiRand& R) { return R.Gamma(1, kInf); }, Params + "Gamma"},
      {"Gamma(1, 3e9)", [](TMultiRand& R) { return R.Gamma(1, 3e9); }, Params + "Gamma"},
      {"Beta(0, 1, 0, 1)", [](TMultiRand& R) { return R.Beta(0, 1, 0, 1); }, Params + "Beta"},
      {"Beta(1, 1, -1, 1)", [](TMultiRand& R) { return R.Beta(1, 1, -1, 1); }, Params + "Beta"},
      {"Beta(1, 1, 2, 1)", [](TMultiRand& R) { return R.Beta(1, 1, 2, 1); }, Params + "Beta"},
      {"Weibull(0, 1)", [](TMultiRand& R) { return R.Weibull(0, 1); }, Params + "Weibull"},
      {"Weibull(1, -1)", [](TMultiRand& R) { return R.Weibull(1, -1); }, Params + "Weibull"},
      {"Lognormal(0, 1)", [](TMultiRand& R) { return R.Lognormal(0, 1); }, Params + "Lognormal"},
      {"Lognormal(1, 0)", [](TMultiRand& R) { return R.Lognormal(1, 0); }, Params + "Lognormal"},
      {"Triangular(-1, 0, 1)", [](TMultiRand& R) { return R.Triangular(-1, 0, 1); },
       Params + "Triangular"},
      {"Triangular(0, 2, 1)", [](TMultiRand& R) { return R.Triangular(0, 2, 1); },
       Params + "Triangular"},
      {"Triangular(1, 0, 2)", [](TMultiRand& R) { return R.Triangular(1, 0, 2); },
       Params + "Triangular"},
      {"GammaJonk(0)", [](TMultiRand& R) { return R.GammaJonk(0); },
       "Quorin Error: Incorrect parameter of Rand1.GammaJonk"},
      {"GammaJonk(-0.5)", [](TMultiRand& R) { return R.GammaJonk(-0.5); },
       "Quorin Error: Incorrect parameter of Rand1.GammaJonk"},
      {"GammaJonk(NaN)", [](TMultiRand& R) { return R.GammaJonk(kNaN); },
       "Quorin Error: Incorrect parameter of Rand1.GammaJonk"},
  };
  MessageCapture Capture;
  for (const Case& C : Cases) {
    Stream R;
    R.Normal(10, 2); // leaves 10.3449840 stored
    const int64_t Before = R.GetSeed();
    Capture.Messages.clear();
    EXPECT_EQ(C.Draw(R), 0.0) << C.Call;
    EXPECT_EQ(R.GetSeed(), Before) << C.Call;
    ASSERT_EQ(Capture.Messages.size(), 1u) << C.Call;
    EXPECT_EQ(Capture.Messages[0], C.Message) << C.Call;
    EXPECT_NEAR(R.Normal(10, 2), 10.3449840, 1e-7) << C.Call;
  }
}

TEST(MultiRand, DegenerateButAcceptedParameters) {
  MessageCapture Capture;
  {
    Stream R;
    EXPECT_EQ(R.Uniform(3, 3), 3.0);
  }
  {
    Stream R;
    EXPECT_EQ(R.Exponential(0), 0.0);
    EXPECT_EQ(R.GetSeed(), 227605715) << "Exponential(0) still draws";
  }
  {
    // Single-valued range: Low, with the one draw of every Triangular call.
    Stream R;
    EXPECT_EQ(R.Triangular(2, 2, 2), 2.0);
    EXPECT_EQ(R.GetSeed(), 227605715);
  }
  {
    // Mode at an end of the range.
    Stream R;
    const double AtLow = R.Triangular(1, 1, 3);
    const double AtHigh = R.Triangular(1, 3, 3);
    EXPECT_GE(AtLow, 1.0);
    EXPECT_LE(AtLow, 3.0);
    EXPECT_GE(AtHigh, 1.0);
    EXPECT_LE(AtHigh, 3.0);
  }
  EXPECT_TRUE(Capture.Messages.empty());
}

TEST(MultiRand, GammaJonkOutsideItsRangeGivesTheGammaVariate) {
  MessageCapture Capture;
  Stream A;
  Stream B;
  EXPECT_EQ(A.GammaJonk(1), -std::log(B.Uni01()));
  Stream C;
  Stream D;
  EXPECT_EQ(C.GammaJonk(2.5), D.Gamma(2.5, 2.5));
  EXPECT_EQ(C.GetSeed(), D.GetSeed());
  EXPECT_TRUE(Capture.Messages.empty());
}

TEST(MultiRand, LargeOrdersStayFinite) {
  // A running product of 3000 uniforms would be 0 in double precision.
  MessageCapture Capture;
  Stream R;
  for (int I = 0; I < 20; ++I) {
    const double E = R.Erlang(1, 3000);
    EXPECT_TRUE(std::isfinite(E));
    EXPECT_NEAR(E, 1.0, 0.15);
    const double G = R.Gamma(1, 2500.5);
    EXPECT_TRUE(std::isfinite(G));
    EXPECT_NEAR(G, 1.0, 0.15);
  }
  EXPECT_TRUE(Capture.Messages.empty());
}

TEST(MultiRand, LognormalWithSmallRelativeDeviation) {
  MessageCapture Capture;
  Stream R;
  // Deviation / Mean of 1e-9 must not collapse into a zero normal deviation.
  const double Small = R.Lognormal(1e6, 1e-3);
  EXPECT_NEAR(Small, 1e6, 1e-1);
  EXPECT_NE(Small, 1e6);
  // A ratio whose square underflows: the variate is the mean itself. (A
  // fresh stream: the pair stored above belongs to the first call.)
  Stream Fresh;
  EXPECT_NEAR(Fresh.Lognormal(5, 1e-200), 5.0, 1e-12);
  EXPECT_TRUE(Capture.Messages.empty());
}

TEST(MultiRand, BetaWithVanishingShapesEnds) {
  // Both gamma variates are exactly 0 for such shapes; the result lies at an end.
  MessageCapture Capture;
  Stream R;
  for (int I = 0; I < 4; ++I) {
    const double X = R.Beta(1e-300, 1e-300, 2, 3);
    EXPECT_TRUE(X == 2.0 || X == 3.0) << X;
  }
  EXPECT_TRUE(Capture.Messages.empty());
  // Far smaller first shape: the variate is at the low end.
  EXPECT_EQ(R.Beta(1e-300, 1e-200, 2, 3), 2.0);
}

TEST(MultiRand, ShortCycleMultiplierCannotHangRejectionLoops) {
  // Multiplier -1 (mod 2^31 - 1) alternates the states 100 and 2^31 - 101:
  // the polar method sees the same rejected pair forever.
  MessageCapture Capture;
  Stream R;
  R.SetMultiplier(2147483646);
  R.SetSeed(100);
  EXPECT_EQ(R.Normal(0, 1), 0.0);
  EXPECT_EQ(R.Lognormal(1, 1), 0.0);
  ASSERT_EQ(Capture.Messages.size(), 2u);
  EXPECT_EQ(Capture.Messages[0],
            "Quorin Error: No acceptable draw in Rand1.Normal: the cycle of its Multiplier is too "
            "short");
  EXPECT_EQ(Capture.Messages[1],
            "Quorin Error: No acceptable draw in Rand1.Lognormal: the cycle of its Multiplier is "
            "too short");
}

} // namespace
} // namespace quorin
