// Student-t quantiles and sample summaries for the experiment runner.
#include <algorithm>
#include <cmath>
#include <limits>

#include "quorin/experiment.h"

namespace quorin {

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// Continued fraction of the regularised incomplete beta function, evaluated
// by the modified Lentz method; converges fast for X < (A + 1) / (A + B + 2).
double BetaFraction(double A, double B, double X) {
  constexpr double Tiny = 1e-300;
  double C = 1.0;
  double D = 1.0 - (A + B) * X / (A + 1.0);
  if (std::fabs(D) < Tiny) D = Tiny;
  D = 1.0 / D;
  double H = D;
  for (int M = 1; M <= 10000; ++M) {
    const double M2 = 2.0 * M;
    double Aa = M * (B - M) * X / ((A - 1.0 + M2) * (A + M2));
    D = 1.0 + Aa * D;
    if (std::fabs(D) < Tiny) D = Tiny;
    C = 1.0 + Aa / C;
    if (std::fabs(C) < Tiny) C = Tiny;
    D = 1.0 / D;
    H *= D * C;
    Aa = -(A + M) * (A + B + M) * X / ((A + M2) * (A + 1.0 + M2));
    D = 1.0 + Aa * D;
    if (std::fabs(D) < Tiny) D = Tiny;
    C = 1.0 + Aa / C;
    if (std::fabs(C) < Tiny) C = Tiny;
    D = 1.0 / D;
    const double Delta = D * C;
    H *= Delta;
    if (std::fabs(Delta - 1.0) < 1e-16) break;
  }
  return H;
}

// I_x(a, b), the regularised incomplete beta function.
double IncompleteBeta(double A, double B, double X) {
  if (X <= 0) return 0;
  if (X >= 1) return 1;
  const double LogFront =
      std::lgamma(A + B) - std::lgamma(A) - std::lgamma(B) + A * std::log(X) + B * std::log1p(-X);
  const double Front = std::exp(LogFront);
  if (X < (A + 1.0) / (A + B + 2.0)) return Front * BetaFraction(A, B, X) / A;
  return 1.0 - Front * BetaFraction(B, A, 1.0 - X) / B;
}

} // namespace

double StudentTCdf(double T, double Df) {
  if (!(Df > 0) || std::isnan(T)) return NaN;
  if (std::isinf(T)) return T > 0 ? 1.0 : 0.0;
  // P(|t| > |T|) = I_{Df / (Df + T^2)}(Df / 2, 1 / 2).
  const double Tail = 0.5 * IncompleteBeta(Df / 2.0, 0.5, Df / (Df + T * T));
  return T >= 0 ? 1.0 - Tail : Tail;
}

double StudentTQuantile(double P, double Df) {
  if (!(P > 0 && P < 1) || !(Df >= 1)) return NaN;
  if (P == 0.5) return 0;
  if (P < 0.5) return -StudentTQuantile(1.0 - P, Df);
  // The distribution function is increasing: bisect on [0, Hi] where Hi is
  // doubled until it lies above the quantile, down to the last bit.
  double Lo = 0, Hi = 1;
  while (StudentTCdf(Hi, Df) < P && Hi < 1e300)
    Hi *= 2;
  for (int i = 0; i < 2000 && Lo < Hi; ++i) {
    const double Mid = Lo + (Hi - Lo) / 2;
    if (Mid <= Lo || Mid >= Hi) break;
    (StudentTCdf(Mid, Df) < P ? Lo : Hi) = Mid;
  }
  return Hi;
}

TSummary Summarise(const std::vector<double>& Values, double Level) {
  TSummary S;
  S.N = static_cast<int32_t>(Values.size());
  if (S.N == 0) {
    S.Mean = S.StdDev = S.HalfWidth = S.Low = S.High = S.Min = S.Max = NaN;
    return S;
  }
  // Two passes over the values: the mean first, then the squared deviations
  // from it, which keeps the variance accurate when the mean is large.
  long double Sum = 0;
  for (double V : Values)
    Sum += V;
  const long double Mean = Sum / S.N;
  long double Squares = 0;
  for (double V : Values)
    Squares += (V - Mean) * (V - Mean);
  S.Mean = double(Mean);
  S.Min = *std::min_element(Values.begin(), Values.end());
  S.Max = *std::max_element(Values.begin(), Values.end());
  if (S.N < 2) {
    S.StdDev = S.HalfWidth = S.Low = S.High = NaN;
    return S;
  }
  S.StdDev = double(std::sqrt(Squares / (S.N - 1)));
  const double T = StudentTQuantile(0.5 + Level / 2.0, S.N - 1);
  S.HalfWidth = T * S.StdDev / std::sqrt(double(S.N));
  S.Low = S.Mean - S.HalfWidth;
  S.High = S.Mean + S.HalfWidth;
  return S;
}

} // namespace quorin
