// Fitting distributions: samples drawn by the streams themselves from each
// family are fitted back, and the family they came from ranks first.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <sstream>

#include "quorin/fit.h"
#include "quorin/statsim.h"

using namespace quorin;

namespace {

TEST(Fit, EachFamilyIsFittedBackAndRankedFirst) {
  struct TCase {
    const char* Family;
    std::function<double(TMultiRand&)> Draw;
    std::vector<double> Parameters; // as the stream takes them
    // Relative tolerance per parameter: about four standard errors of the
    // estimate at this sample size.
    std::vector<double> Tolerance;
  } Cases[] = {
      {"Exponential", [](TMultiRand& R) { return R.Exponential(2); }, {2}, {0.07}},
      {"Gamma", [](TMultiRand& R) { return R.Gamma(3, 2.5); }, {3, 2.5}, {0.05, 0.1}},
      {"Erlang", [](TMultiRand& R) { return R.Erlang(3, 3); }, {3, 3}, {0.05, 0}},
      {"Normal", [](TMultiRand& R) { return R.Normal(10, 2); }, {10, 2}, {0.01, 0.05}},
      {"Lognormal", [](TMultiRand& R) { return R.Lognormal(2, 1); }, {2, 1}, {0.06, 0.12}},
      {"Uniform", [](TMultiRand& R) { return R.Uniform(1, 5); }, {1, 5}, {0.01, 0.01}},
      {"Triangular", [](TMultiRand& R) { return R.Triangular(1, 2, 4); }, {1, 2, 4},
       {0.04, 0.1, 0.04}},
      {"Weibull", [](TMultiRand& R) { return R.Weibull(1.5, 2); }, {1.5, 2}, {0.06, 0.08}},
  };
  const int N = 4000;
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Family);
    TMultiRand Stream(nullptr);
    Stream.SetSeed(123456789);
    std::vector<double> X;
    for (int i = 0; i < N; ++i)
      X.push_back(C.Draw(Stream));
    TFitReport Report;
    std::string Error;
    ASSERT_TRUE(FitDistributions(X, {}, Report, Error)) << Error;
    ASSERT_FALSE(Report.Fits.empty());
    EXPECT_EQ(Report.Fits[0].Family, C.Family) << Report.Fits[1].Family;
    const TFit* Fit = nullptr;
    for (const TFit& F : Report.Fits)
      if (F.Family == C.Family) Fit = &F;
    ASSERT_TRUE(Fit);
    ASSERT_EQ(Fit->Parameters.size(), C.Parameters.size());
    for (size_t p = 0; p < C.Parameters.size(); ++p)
      EXPECT_NEAR(Fit->Parameters[p], C.Parameters[p], C.Tolerance[p] * C.Parameters[p])
          << Fit->Names[p];
    // A right family fits: the KS test does not reject it.
    EXPECT_GT(Fit->KsPValue, 0.01);
    EXPECT_LT(Fit->AndersonDarling, 2.5);
  }
}

TEST(Fit, GoodnessOfFitSeparatesAWrongFamily) {
  TMultiRand Stream(nullptr);
  std::vector<double> X;
  for (int i = 0; i < 1000; ++i)
    X.push_back(Stream.Exponential(1));
  TFitReport Report;
  std::string Error;
  ASSERT_TRUE(FitDistributions(X, {}, Report, Error));
  for (const TFit& F : Report.Fits)
    if (F.Family == "Normal" || F.Family == "Uniform") {
      EXPECT_LT(F.KsPValue, 1e-6) << F.Family;
      EXPECT_GT(F.AndersonDarling, 10) << F.Family;
    }
  std::ostringstream Out;
  PrintFitReport(Report, "x.csv", Out);
  EXPECT_NE(Out.str().find("  Stream." + Report.Fits[0].Draw() + "\n"), std::string::npos)
      << Out.str();
}

TEST(Fit, DataThatRuleFamiliesOutOrCannotBeFitted) {
  std::vector<double> X{1, 2, 3, 0, 5, 6, 7, -1.5, 9, 10};
  std::vector<int32_t> Lines{2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  TFitReport Report;
  std::string Error;
  ASSERT_TRUE(FitDistributions(X, Lines, Report, Error));
  ASSERT_EQ(Report.Fits.size(), 1u);
  EXPECT_EQ(Report.Fits[0].Family, "Normal");
  ASSERT_EQ(Report.NotFitted.size(), 2u);
  EXPECT_EQ(Report.NotFitted[0], "Exponential, Uniform, Triangular: line 9 holds -1.5 (these "
                                 "streams draw no negative values)");
  EXPECT_EQ(Report.NotFitted[1], "Gamma, Erlang, Lognormal, Weibull: line 5 holds 0 (these "
                                 "families take positive values only)");
  EXPECT_FALSE(FitDistributions({1, 2, 3}, {}, Report, Error));
  EXPECT_EQ(Error, "3 values: a fit needs at least 10");
  EXPECT_FALSE(FitDistributions(std::vector<double>(12, 4.0), {}, Report, Error));
  EXPECT_EQ(Error, "every value is 4: there is no spread to fit");
}

} // namespace
