// Fitting distributions: samples drawn by the streams themselves from each
// family are fitted back, and the family they came from ranks first.
#include <gtest/gtest.h>

#include <algorithm>
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

// One draw of Family with parameters P from the stream.
double DrawOf(const std::string& Family, const std::vector<double>& P, TMultiRand& R) {
  if (Family == "Normal") return R.Normal(P[0], P[1]);
  if (Family == "Exponential") return R.Exponential(P[0]);
  if (Family == "Uniform") return R.Uniform(P[0], P[1]);
  if (Family == "Triangular") return R.Triangular(P[0], P[1], P[2]);
  if (Family == "Gamma") return R.Gamma(P[0], P[1]);
  if (Family == "Erlang") return R.Erlang(P[0], int32_t(P[1]));
  if (Family == "Lognormal") return R.Lognormal(P[0], P[1]);
  if (Family == "Weibull") return R.Weibull(P[0], P[1]);
  ADD_FAILURE() << "no family " << Family;
  return 0;
}

// Mean and deviation of draws from a stream seeded alike each time, so
// that two close parameter sets draw close values. A gamma or an Erlang of
// shape k takes about k uniforms a draw: fewer draws then.
std::pair<double, double> Sampled(const std::string& Family, const std::vector<double>& P) {
  TMultiRand R(nullptr);
  R.SetSeed(987654321);
  double Sum = 0, Sq = 0;
  const bool Shaped = Family == "Gamma" || Family == "Erlang";
  const int N = Shaped ? int(std::clamp(4e6 / P[1], 50.0, 20000.0)) : 20000;
  std::vector<double> X(N);
  for (double& V : X) {
    V = DrawOf(Family, P, R);
    Sum += V;
  }
  const double Mean = Sum / N;
  for (double V : X)
    Sq += (V - Mean) * (V - Mean);
  return {Mean, std::sqrt(Sq / (N - 1))};
}

TEST(Fit, EveryPrintedDrawReadsBackAsTheFit) {
  // Data far from 0 with little spread need more than a few digits, and a
  // concentrated sample makes the Weibull's beta (scale^alpha) overflow.
  struct TCase {
    const char* Name;
    std::function<double(int, TMultiRand&)> Value;
  } Cases[] = {
      {"offset uniform", [](int i, TMultiRand&) { return 1000000.0 + 10.0 * (i % 101) / 100; }},
      {"concentrated", [](int, TMultiRand& R) { return R.Normal(1000000, 10000); }},
      {"ordinary", [](int, TMultiRand& R) { return R.Gamma(2, 3); }},
  };
  std::vector<std::string> Messages; // a draw the stream refuses says so
  const TMessageHandler Previous =
      SetMessageHandler([&Messages](const std::string& Text) { Messages.push_back(Text); });
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    TMultiRand Stream(nullptr);
    std::vector<double> X;
    for (int i = 0; i < 500; ++i)
      X.push_back(C.Value(i, Stream));
    TFitReport Report;
    std::string Error;
    ASSERT_TRUE(FitDistributions(X, {}, Report, Error)) << Error;
    std::ostringstream Out;
    PrintFitReport(Report, "x.csv", Out);
    for (const TFit& F : Report.Fits) {
      const std::string Draw = F.Draw();
      if (Draw.empty()) {
        EXPECT_NE(Out.str().find("No draw: " + F.Family), std::string::npos) << Out.str();
        continue;
      }
      // Read the draw back as a model file would: its name and numbers.
      ASSERT_EQ(Draw.rfind(F.Family + "(", 0), 0u) << Draw;
      std::vector<double> Read;
      std::istringstream In(Draw.substr(F.Family.size() + 1));
      for (std::string Number; std::getline(In, Number, ',');)
        Read.push_back(std::stod(Number));
      ASSERT_EQ(Read.size(), F.Parameters.size()) << Draw;
      for (double V : Read)
        ASSERT_TRUE(std::isfinite(V)) << Draw;
      const auto [Mean, Sd] = Sampled(F.Family, F.Parameters);
      const auto [ReadMean, ReadSd] = Sampled(F.Family, Read);
      EXPECT_NEAR(ReadMean, Mean, 0.01 * Sd) << Draw;
      EXPECT_NEAR(ReadSd, Sd, 0.01 * Sd) << Draw;
      EXPECT_TRUE(Messages.empty()) << Draw << ": " << Messages[0];
      Messages.clear();
    }
  }
  SetMessageHandler(Previous);
}

} // namespace
