// Maximum-likelihood fits of the streams' distributions, with goodness of
// fit. Parameters are reported as the streams take them (TMultiRand): a
// gamma by its mean and shape, a lognormal by its mean and deviation, a
// Weibull by alpha and beta with P(X > x) = exp(-x^alpha / beta).
#include "quorin/fit.h"
#include "quorin/output.h"

#include <algorithm>
#include <boost/math/distributions/exponential.hpp>
#include <boost/math/distributions/gamma.hpp>
#include <boost/math/distributions/lognormal.hpp>
#include <boost/math/distributions/normal.hpp>
#include <boost/math/distributions/triangular.hpp>
#include <boost/math/distributions/uniform.hpp>
#include <boost/math/distributions/weibull.hpp>
#include <boost/math/special_functions/digamma.hpp>
#include <boost/math/special_functions/trigamma.hpp>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <numeric>
#include <ostream>

namespace quorin {

namespace {

namespace bm = boost::math;
// Domain and range errors answer NaN or infinity instead of throwing: the
// fits check their results themselves.
using TPolicy = bm::policies::policy<bm::policies::domain_error<bm::policies::ignore_error>,
                                     bm::policies::overflow_error<bm::policies::ignore_error>,
                                     bm::policies::evaluation_error<bm::policies::ignore_error>,
                                     bm::policies::pole_error<bm::policies::ignore_error>>;

std::string Short(double V) {
  char Buffer[32];
  std::snprintf(Buffer, sizeof Buffer, "%.5g", V);
  return Buffer;
}

// A fitted family: its distribution function and log density.
struct TModel {
  std::function<double(double)> Cdf;
  std::function<double(double)> LogPdf;
};

// Goodness of fit of Model to the sorted sample X with k free parameters.
void Score(const std::vector<double>& X, const TModel& M, int K, TFit& Fit) {
  const double N = double(X.size());
  double LogL = 0, D = 0, A = 0;
  std::vector<double> F(X.size());
  for (size_t i = 0; i < X.size(); ++i) {
    LogL += M.LogPdf(X[i]);
    F[i] = std::clamp(M.Cdf(X[i]), 1e-300, 1.0 - 1e-16);
    D = std::max({D, F[i] - double(i) / N, double(i + 1) / N - F[i]});
  }
  for (size_t i = 0; i < X.size(); ++i)
    A += (2.0 * double(i) + 1) * (std::log(F[i]) + std::log1p(-F[X.size() - 1 - i]));
  Fit.LogLikelihood = LogL;
  Fit.Aic = 2.0 * K - 2.0 * LogL;
  Fit.Ks = D;
  Fit.AndersonDarling = -N - A / N;
  // The limiting Kolmogorov distribution at Stephens' modified statistic.
  // With parameters estimated from the same data the p-value is
  // conservative (too large): read it as a guide, not an exact test.
  const double Lambda = (std::sqrt(N) + 0.12 + 0.11 / std::sqrt(N)) * D;
  double P = 0;
  if (Lambda < 1.18) {
    // The form that converges fast for small lambda: 1 - sqrt(2 pi) / lambda
    // * sum exp(-(2k - 1)^2 pi^2 / (8 lambda^2)).
    if (Lambda > 0) {
      double Sum = 0;
      for (int k = 1; k <= 20; ++k)
        Sum += std::exp(-std::pow(2.0 * k - 1, 2) * M_PI * M_PI / (8 * Lambda * Lambda));
      P = 1 - std::sqrt(2 * M_PI) / Lambda * Sum;
    } else {
      P = 1;
    }
  } else {
    for (int k = 1; k <= 100; ++k)
      P += 2 * ((k % 2) ? 1 : -1) * std::exp(-2.0 * k * k * Lambda * Lambda);
  }
  Fit.KsPValue = std::clamp(P, 0.0, 1.0);
}

struct TMoments {
  double Mean = 0, Var = 0, MeanLog = 0;
};

TMoments Moments(const std::vector<double>& X, bool Logs) {
  TMoments M;
  const double N = double(X.size());
  M.Mean = std::accumulate(X.begin(), X.end(), 0.0) / N;
  for (double V : X)
    M.Var += (V - M.Mean) * (V - M.Mean);
  M.Var /= N; // the maximum-likelihood variance
  if (Logs) {
    for (double V : X)
      M.MeanLog += std::log(V);
    M.MeanLog /= N;
  }
  return M;
}

// The gamma shape k of largest likelihood: ln k - digamma(k) = s, by
// Newton's method from the usual closed-form start.
double GammaShape(double S) {
  double K = (3 - S + std::sqrt((S - 3) * (S - 3) + 24 * S)) / (12 * S);
  for (int i = 0; i < 100; ++i) {
    const double F = std::log(K) - bm::digamma(K, TPolicy()) - S;
    const double Df = 1 / K - bm::trigamma(K, TPolicy());
    const double Next = std::max(K / 10, K - F / Df);
    if (std::fabs(Next - K) < 1e-12 * K) return Next;
    K = Next;
  }
  return K;
}

double GammaLogLik(const std::vector<double>& X, double Shape, double Scale) {
  const bm::gamma_distribution<double, TPolicy> G(Shape, Scale);
  double L = 0;
  for (double V : X)
    L += std::log(bm::pdf(G, V));
  return L;
}

// The Weibull shape of largest likelihood: the root of
// sum x^k ln x / sum x^k - 1/k - mean ln x, which rises with k. The data are
// scaled by their maximum so that x^k stays finite.
double WeibullShape(const std::vector<double>& X) {
  const double Top = X.back();
  std::vector<double> L(X.size());
  double MeanLog = 0;
  for (size_t i = 0; i < X.size(); ++i) {
    L[i] = std::log(X[i] / Top);
    MeanLog += L[i];
  }
  MeanLog /= double(X.size());
  auto G = [&](double K) {
    double A = 0, B = 0;
    for (double l : L) {
      const double P = std::exp(K * l);
      A += P * l;
      B += P;
    }
    return A / B - 1 / K - MeanLog;
  };
  double Lo = 1e-3, Hi = 1e3;
  for (int i = 0; i < 200 && Hi - Lo > 1e-12 * Hi; ++i) {
    const double Mid = std::sqrt(Lo * Hi);
    (G(Mid) > 0 ? Hi : Lo) = Mid;
  }
  return std::sqrt(Lo * Hi);
}

// The mean and deviation of Family with the stream's parameters P; false
// when a stream would not take them (a Weibull beta that overflowed, a
// gamma shape too large).
bool FamilyMoments(const std::string& Family, const std::vector<double>& P, double& Mean,
                   double& Sd) {
  for (double V : P)
    if (!std::isfinite(V)) return false;
  if (Family == "Normal" || Family == "Lognormal") {
    Mean = P[0], Sd = P[1];
  } else if (Family == "Exponential") {
    Mean = Sd = P[0];
  } else if (Family == "Uniform") {
    Mean = (P[0] + P[1]) / 2, Sd = (P[1] - P[0]) / std::sqrt(12.0);
  } else if (Family == "Triangular") {
    const double A = P[0], C = P[1], B = P[2];
    Mean = (A + B + C) / 3;
    // In the form of differences, which keeps its digits for data far from 0.
    Sd = std::sqrt(((B - A) * (B - A) + (C - A) * (C - B)) / 18);
  } else if (Family == "Gamma" || Family == "Erlang") {
    // A stream refuses shapes of 2^31 and more (data far from 0 with
    // little spread).
    if (!(P[1] > 0 && P[1] < 2147483648.0)) return false;
    Mean = P[0], Sd = P[0] / std::sqrt(P[1]);
  } else if (Family == "Weibull") {
    // P(X > x) = exp(-x^alpha / beta): scale beta^(1 / alpha).
    const double Scale = std::pow(P[1], 1 / P[0]);
    const double G1 = std::tgamma(1 + 1 / P[0]), G2 = std::tgamma(1 + 2 / P[0]);
    Mean = Scale * G1, Sd = Scale * std::sqrt(std::max(0.0, G2 - G1 * G1));
  } else {
    return false;
  }
  return std::isfinite(Mean) && std::isfinite(Sd);
}

} // namespace

std::string TFit::Draw() const {
  // The fewest significant digits (five at least) whose numbers, read back,
  // give the fitted mean and deviation to 1 % of the deviation: data far
  // from 0 need more than five.
  double Mean = 0, Sd = 0;
  if (!FamilyMoments(Family, Parameters, Mean, Sd)) return "";
  for (int Digits = 5; Digits <= 17; ++Digits) {
    std::string Out = Family + "(";
    std::vector<double> Read;
    for (size_t i = 0; i < Parameters.size(); ++i) {
      char Buffer[40];
      std::snprintf(Buffer, sizeof Buffer, "%.*g", Digits, Parameters[i]);
      Read.push_back(std::strtod(Buffer, nullptr));
      if (i) Out += ", ";
      Out += Buffer;
    }
    double M = 0, S = 0;
    if (FamilyMoments(Family, Read, M, S) && std::abs(M - Mean) <= 0.01 * Sd &&
        std::abs(S - Sd) <= 0.01 * Sd)
      return Out + ")";
  }
  return "";
}

bool FitDistributions(const std::vector<double>& Values, const std::vector<int32_t>& Lines,
                      TFitReport& Report, std::string& Error) {
  Report = TFitReport{};
  if (Values.size() < MinFitValues) {
    Error = std::to_string(Values.size()) + " value" + (Values.size() == 1 ? "" : "s") +
            ": a fit needs at least " + std::to_string(MinFitValues);
    return false;
  }
  for (double V : Values)
    if (!std::isfinite(V)) {
      Error = "the values must be finite numbers";
      return false;
    }
  std::vector<double> X = Values;
  std::sort(X.begin(), X.end());
  const TMoments M = Moments(X, false);
  Report.N = X.size();
  Report.Mean = M.Mean;
  Report.StdDev = std::sqrt(M.Var * double(X.size()) / double(X.size() - 1));
  Report.Min = X.front();
  Report.Max = X.back();
  if (X.front() == X.back()) {
    Error = "every value is " + Short(X.front()) + ": there is no spread to fit";
    return false;
  }

  // The first value that rules out the families of non-negative or of
  // positive values, as "line N holds V".
  auto Where = [&](auto Bad) -> std::string {
    for (size_t i = 0; i < Values.size(); ++i)
      if (Bad(Values[i]))
        return "line " + (i < Lines.size() ? std::to_string(Lines[i]) : std::to_string(i + 1)) +
               " holds " + Short(Values[i]);
    return "";
  };
  const std::string Negative = Where([](double V) { return V < 0; });
  const std::string NotPositive = Where([](double V) { return V <= 0; });
  auto Add = [&Report, &X](TFit Fit, const TModel& Model, int K) {
    Score(X, Model, K, Fit);
    if (std::isfinite(Fit.LogLikelihood)) Report.Fits.push_back(std::move(Fit));
  };

  // Normal: any values.
  {
    const double Sd = std::sqrt(M.Var);
    const bm::normal_distribution<double, TPolicy> D(M.Mean, Sd);
    Add({"Normal", {M.Mean, Sd}, {"mean", "deviation"}},
        {[D](double x) { return bm::cdf(D, x); }, [D](double x) { return std::log(bm::pdf(D, x)); }},
        2);
  }
  if (!Negative.empty()) {
    Report.NotFitted.push_back("Exponential, Uniform, Triangular: " + Negative +
                               " (these streams draw no negative values)");
  } else {
    const bm::exponential_distribution<double, TPolicy> E(1 / M.Mean);
    Add({"Exponential", {M.Mean}, {"mean"}},
        {[E](double x) { return bm::cdf(E, x); }, [E](double x) { return std::log(bm::pdf(E, x)); }},
        1);
    const bm::uniform_distribution<double, TPolicy> U(X.front(), X.back());
    Add({"Uniform", {X.front(), X.back()}, {"low", "high"}},
        {[U](double x) { return bm::cdf(U, x); }, [U](double x) { return std::log(bm::pdf(U, x)); }},
        2);
    // Triangular: the density vanishes at the ends, so they lie outside the
    // data. Each end is found by golden-section search of the likelihood
    // (a few rounds, one end at a time, not below 0 as the stream wants);
    // for given ends the mode of largest likelihood lies at an observation,
    // found in O(n) with prefix and suffix sums.
    const size_t N = X.size();
    const double Range = X.back() - X.front();
    std::vector<double> Below(N + 1), Above(N + 1);
    auto BestMode = [&](double Lo, double Hi, double& Mode) {
      for (size_t i = 0; i < N; ++i)
        Below[i + 1] = Below[i] + std::log(X[i] - Lo);
      Above[N] = 0;
      for (size_t i = N; i-- > 0;)
        Above[i] = Above[i + 1] + std::log(Hi - X[i]);
      double Best = -INFINITY;
      for (size_t r = 0; r < N; ++r) {
        const double C = X[r];
        // Values before r rise toward the mode, values after fall from it.
        const double L = Below[r] - double(r) * std::log(C - Lo) + Above[r + 1] -
                         double(N - 1 - r) * std::log(Hi - C);
        if (L > Best) Best = L, Mode = C;
      }
      return Best + double(N) * (std::log(2.0) - std::log(Hi - Lo));
    };
    auto Golden = [](double A, double B, const std::function<double(double)>& F) {
      const double G = (std::sqrt(5.0) - 1) / 2;
      double C = B - G * (B - A), D = A + G * (B - A);
      double Fc = F(C), Fd = F(D);
      for (int i = 0; i < 40; ++i) {
        if (Fc > Fd) {
          B = D, D = C, Fd = Fc;
          C = B - G * (B - A), Fc = F(C);
        } else {
          A = C, C = D, Fc = Fd;
          D = A + G * (B - A), Fd = F(D);
        }
      }
      return (A + B) / 2;
    };
    double Lo = std::max(0.0, X.front() - Range / double(N)), Hi = X.back() + Range / double(N);
    double Mode = X.front();
    for (int Round = 0; Round < 4; ++Round) {
      const double Floor = std::max(0.0, X.front() - Range);
      if (X.front() > Floor)
        Lo = Golden(Floor, X.front() - 1e-9 * Range,
                    [&](double A) { return BestMode(A, Hi, Mode); });
      Hi = Golden(X.back() + 1e-9 * Range, X.back() + Range,
                  [&](double B) { return BestMode(Lo, B, Mode); });
    }
    BestMode(Lo, Hi, Mode);
    const bm::triangular_distribution<double, TPolicy> T(Lo, Mode, Hi);
    Add({"Triangular", {Lo, Mode, Hi}, {"low", "mode", "high"}},
        {[T](double x) { return bm::cdf(T, x); }, [T](double x) { return std::log(bm::pdf(T, x)); }},
        3);
  }
  if (!NotPositive.empty()) {
    Report.NotFitted.push_back("Gamma, Erlang, Lognormal, Weibull: " + NotPositive +
                               " (these families take positive values only)");
  } else {
    const TMoments L = Moments(X, true);
    const double Shape = GammaShape(std::log(M.Mean) - L.MeanLog);
    const bm::gamma_distribution<double, TPolicy> G(Shape, M.Mean / Shape);
    Add({"Gamma", {M.Mean, Shape}, {"mean", "shape"}},
        {[G](double x) { return bm::cdf(G, x); }, [G](double x) { return std::log(bm::pdf(G, x)); }},
        2);
    // Erlang: the whole order next to the gamma shape with the larger
    // likelihood (the mean stays the sample mean); order 1 is the exponential.
    // Its order is a whole number picked next to the gamma's shape, not a
    // free real parameter: it counts as one parameter, so that data from an
    // Erlang rank it above the gamma, which always fits a little closer.
    const double K1 = std::max(1.0, std::floor(Shape)), K2 = std::max(1.0, std::ceil(Shape));
    const double K =
        GammaLogLik(X, K1, M.Mean / K1) >= GammaLogLik(X, K2, M.Mean / K2) ? K1 : K2;
    if (K >= 2 && K < 2147483647.0) {
      const bm::gamma_distribution<double, TPolicy> Er(K, M.Mean / K);
      Add({"Erlang", {M.Mean, K}, {"mean", "k"}},
          {[Er](double x) { return bm::cdf(Er, x); },
           [Er](double x) { return std::log(bm::pdf(Er, x)); }},
          1);
    }
    const double Sigma = std::sqrt(std::max(0.0, [&] {
      double S = 0;
      for (double V : X)
        S += (std::log(V) - L.MeanLog) * (std::log(V) - L.MeanLog);
      return S / double(X.size());
    }()));
    if (Sigma > 0) {
      const bm::lognormal_distribution<double, TPolicy> Ln(L.MeanLog, Sigma);
      const double Mean = std::exp(L.MeanLog + Sigma * Sigma / 2);
      Add({"Lognormal", {Mean, Mean * std::sqrt(std::expm1(Sigma * Sigma))}, {"mean", "deviation"}},
          {[Ln](double x) { return bm::cdf(Ln, x); },
           [Ln](double x) { return std::log(bm::pdf(Ln, x)); }},
          2);
    }
    const double Alpha = WeibullShape(X);
    double Sum = 0; // of (x / max)^alpha
    for (double V : X)
      Sum += std::pow(V / X.back(), Alpha);
    const double Scale = X.back() * std::pow(Sum / double(X.size()), 1 / Alpha);
    const bm::weibull_distribution<double, TPolicy> W(Alpha, Scale);
    // The stream's beta is scale^alpha.
    Add({"Weibull", {Alpha, std::pow(Scale, Alpha)}, {"alpha", "beta"}},
        {[W](double x) { return bm::cdf(W, x); }, [W](double x) { return std::log(bm::pdf(W, x)); }},
        2);
  }
  std::stable_sort(Report.Fits.begin(), Report.Fits.end(),
                   [](const TFit& A, const TFit& B) { return A.Aic < B.Aic; });
  return true;
}

void PrintFitReport(const TFitReport& R, const std::string& What, std::ostream& Out) {
  Out << What << ": " << R.N << " values, mean " << Short(R.Mean) << ", std dev "
      << Short(R.StdDev) << ", min " << Short(R.Min) << ", max " << Short(R.Max) << "\n";
  Out << "Maximum-likelihood fits, best first (lowest AIC); KS p-values are conservative, the\n"
         "parameters having been estimated from the same data.\n\n";
  std::vector<std::vector<std::string>> Table{
      {"Rank", "Family", "Parameters", "KS D", "KS p", "A-D", "AIC", "Draw"}};
  for (size_t i = 0; i < R.Fits.size(); ++i) {
    const TFit& F = R.Fits[i];
    std::string Params;
    for (size_t p = 0; p < F.Parameters.size(); ++p)
      Params += (p ? ", " : "") + F.Names[p] + " " + Short(F.Parameters[p]);
    char Ks[16], P[16], Ad[16], Aic[24];
    std::snprintf(Ks, sizeof Ks, "%.4f", F.Ks);
    std::snprintf(P, sizeof P, "%.3f", F.KsPValue);
    std::snprintf(Ad, sizeof Ad, "%.3f", F.AndersonDarling);
    std::snprintf(Aic, sizeof Aic, "%.1f", F.Aic);
    const std::string Draw = F.Draw();
    Table.push_back({std::to_string(i + 1), F.Family, Params, Ks, P, Ad, Aic,
                     Draw.empty() ? "-" : Draw});
  }
  // The figures (KS D to AIC) on the right, the words on the left.
  WriteColumns(Out, Table, [](std::size_t Column) { return Column >= 3 && Column <= 6; });
  for (const std::string& N : R.NotFitted)
    Out << "Not fitted: " << N << '\n';
  const TFit* Best = nullptr;
  for (const TFit& F : R.Fits) {
    if (!F.Draw().empty()) {
      if (!Best) Best = &F;
      continue;
    }
    Out << "No draw: " << F.Family
        << ": no draw that a stream takes has the fit's mean and deviation (a parameter lies "
           "beyond what a stream takes)\n";
  }
  if (Best)
    Out << "\nFor a model file (Stream: a TMultiRand of yours):\n  Stream." << Best->Draw()
        << "\n  e.g. OnEnter = Hold(Stream." << Best->Draw() << ")\n";
}

} // namespace quorin
