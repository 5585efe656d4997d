// Sample moments of every distribution family against the true ones. Each
// case uses a fixed seed, so the outcome is deterministic; the bounds are five
// standard errors of the sample mean (from the true variance) and of the
// sample variance (from the sample's fourth central moment), tight enough
// that a wrong scale, shape or branch in a formula falls outside them.
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "message_capture.h"
#include "quorin/statsim.h"

namespace quorin {
namespace {

struct Family {
  std::string Call;
  std::function<double(TMultiRand&)> Draw;
  double Mean;
  double Variance;
  int Samples = 100000;
};

void CheckMoments(const Family& F) {
  TMultiRand R(nullptr);
  R.SetSeed(20240601);
  std::vector<double> X(static_cast<std::size_t>(F.Samples));
  double Sum = 0.0;
  for (double& V : X) {
    V = F.Draw(R);
    Sum += V;
  }
  const double N = F.Samples;
  const double Mean = Sum / N;
  double M2 = 0.0;
  double M4 = 0.0;
  for (double V : X) {
    const double D2 = (V - Mean) * (V - Mean);
    M2 += D2;
    M4 += D2 * D2;
  }
  M2 /= N;
  M4 /= N;
  EXPECT_NEAR(Mean, F.Mean, 5.0 * std::sqrt(F.Variance / N)) << F.Call << " mean";
  EXPECT_NEAR(M2, F.Variance, 5.0 * std::sqrt((M4 - M2 * M2) / N)) << F.Call << " variance";
}

TEST(DistributionMoments, EveryFamily) {
  const double Pi = std::acos(-1.0);
  const std::vector<Family> Families = {
      {"Uni01", [](TMultiRand& R) { return R.Uni01(); }, 0.5, 1.0 / 12.0},
      {"Uniform(2, 5)", [](TMultiRand& R) { return R.Uniform(2, 5); }, 3.5, 0.75},
      {"Exponential(3)", [](TMultiRand& R) { return R.Exponential(3); }, 3.0, 9.0},
      // Order k, mean m: variance m^2 / k.
      {"Erlang(6, 3)", [](TMultiRand& R) { return R.Erlang(6, 3); }, 6.0, 12.0},
      {"Erlang(1, 3000)", [](TMultiRand& R) { return R.Erlang(1, 3000); }, 1.0, 1.0 / 3000.0, 2000},
      {"Normal(10, 2)", [](TMultiRand& R) { return R.Normal(10, 2); }, 10.0, 4.0},
      {"Normal(-3, 0.5)", [](TMultiRand& R) { return R.Normal(-3, 0.5); }, -3.0, 0.25},
      // Shape a, scale 1: mean a, variance a.
      {"GammaJonk(0.3)", [](TMultiRand& R) { return R.GammaJonk(0.3); }, 0.3, 0.3},
      {"GammaJonk(0.9)", [](TMultiRand& R) { return R.GammaJonk(0.9); }, 0.9, 0.9},
      {"GammaJonk(2.5)", [](TMultiRand& R) { return R.GammaJonk(2.5); }, 2.5, 2.5},
      // Mean m, shape a: variance m^2 / a.
      {"Gamma(2, 0.5)", [](TMultiRand& R) { return R.Gamma(2, 0.5); }, 2.0, 8.0},
      {"Gamma(3, 1)", [](TMultiRand& R) { return R.Gamma(3, 1); }, 3.0, 9.0},
      {"Gamma(4, 2.5)", [](TMultiRand& R) { return R.Gamma(4, 2.5); }, 4.0, 6.4},
      {"Gamma(5, 3)", [](TMultiRand& R) { return R.Gamma(5, 3); }, 5.0, 25.0 / 3.0},
      {"Gamma(1, 2000.5)", [](TMultiRand& R) { return R.Gamma(1, 2000.5); }, 1.0, 1.0 / 2000.5,
       2000},
      // Beta(a, b) on [lo, hi]: mean lo + (hi - lo) a / (a + b),
      // variance (hi - lo)^2 ab / ((a + b)^2 (a + b + 1)).
      {"Beta(2, 3, 1, 4)", [](TMultiRand& R) { return R.Beta(2, 3, 1, 4); }, 2.2, 0.36},
      {"Beta(0.5, 0.7, 0, 1)", [](TMultiRand& R) { return R.Beta(0.5, 0.7, 0, 1); }, 0.5 / 1.2,
       0.35 / (1.44 * 2.2)},
      // P(X > x) = exp(-x^a / b): X = (b E)^(1/a), mean b^(1/a) G(1 + 1/a),
      // variance b^(2/a) (G(1 + 2/a) - G(1 + 1/a)^2).
      {"Weibull(2, 3)", [](TMultiRand& R) { return R.Weibull(2, 3); },
       std::sqrt(3.0) * std::sqrt(Pi) / 2.0, 3.0 * (1.0 - Pi / 4.0)},
      {"Weibull(0.5, 1)", [](TMultiRand& R) { return R.Weibull(0.5, 1); }, 2.0, 20.0},
      {"Lognormal(3, 1.5)", [](TMultiRand& R) { return R.Lognormal(3, 1.5); }, 3.0, 2.25},
      // Triangular(a, c, b): mean (a + b + c) / 3,
      // variance (a^2 + b^2 + c^2 - ab - ac - bc) / 18.
      {"Triangular(1, 2, 4)", [](TMultiRand& R) { return R.Triangular(1, 2, 4); }, 7.0 / 3.0,
       7.0 / 18.0},
      {"Triangular(0, 0, 3)", [](TMultiRand& R) { return R.Triangular(0, 0, 3); }, 1.0, 0.5},
  };
  test::TMessageCapture Capture;
  for (const Family& F : Families)
    CheckMoments(F);
  EXPECT_TRUE(Capture.Messages.empty());
}

} // namespace
} // namespace quorin
