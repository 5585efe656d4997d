#include <cfloat>
#include <cmath>
#include <string>

#include "quorin/detail/parts.h"
#include "quorin/statsim.h"

namespace quorin {

namespace {

// The model check counts the draws that the streams on the model's forms
// refused. Registered as this file is linked, which any program that can
// make a stream does.
int32_t StreamRefusals(const TComponent& X) {
  const auto* R = dynamic_cast<const TMultiRand*>(&X);
  return R ? R->Refusals() : -1;
}
[[maybe_unused]] const bool RefusalsRegistered = detail::SetRefusalsHook(StreamRefusals);

// Bound on the rejection loops of Normal and of Joehnk's method. With a
// full-cycle multiplier a loop is rejected with probability below 0.22 per
// attempt, so the bound is never reached; a multiplier whose cycle is only a
// few values long could otherwise repeat the same rejected draws forever.
constexpr int kMaxRejections = 1000;

// Bound on Beta's attempts to get a defined ratio G1 / (G1 + G2). Both gamma
// variates come out as exactly 0 only for shapes near 1e-8 and below.
constexpr int kBetaAttempts = 10000;

// Gamma shapes that the sum-of-exponentials method can serve: positive and
// with an integer part that fits the order of Erlang (32-bit). NaN and
// infinity fail.
bool ShapeOK(double Shape) {
  return Shape > 0.0 && Shape < 2147483648.0;
}

// Infinite (or NaN) parameters are refused like other bad ones: the draw
// would come out infinite or NaN and reach NextTime.
bool Finite(double Value) {
  return std::isfinite(Value);
}

} // namespace

TMultiRand::TMultiRand(TComponent* AOwner) : TComponent(AOwner) {}

void TMultiRand::Reset() {
  FSeed = FInitSeed;
  FNewPair = true;
}

void TMultiRand::SetSeed(int64_t Value) {
  if (Value >= 1 && Value <= Modulus - 1) {
    FSeed = Value;
  } else {
    MessageDlg(DisplayName() + ": Seed must be in the range 2...2147483646");
    FSeed = DefaultSeed;
  }
  FInitSeed = FSeed;
}

void TMultiRand::SetMultiplier(int64_t Value) {
  if (Value >= 2 && Value <= Modulus - 1) {
    FMultiplier = Value;
  } else {
    MessageDlg(DisplayName() + ": Multuplier must be in the range 2...2147483646");
    FMultiplier = DefaultMultiplier;
  }
}

void TMultiRand::Refuse(const char* Prefix, const char* Method) const {
  ++FRefusals;
  MessageDlg(std::string(Prefix) + DisplayName() + "." + Method);
}

void TMultiRand::ReportCycle(const char* Method) const {
  MessageDlg("Quorin Error: No acceptable draw in " + DisplayName() + "." + Method +
             ": the cycle of its Multiplier is too short");
}

double TMultiRand::Uni01() {
  // Both factors are below 2^31, so the product fits in 63 bits.
  FSeed = (FMultiplier * FSeed) % Modulus;
  return static_cast<double>(FSeed) / static_cast<double>(Modulus);
}

double TMultiRand::Uniform(double Low, double High) {
  if (!(Low >= 0.0 && High >= Low && Finite(High))) {
    Refuse("Incorrect parameters of ", "Uniform");
    return 0.0;
  }
  return Low + Uni01() * (High - Low);
}

double TMultiRand::Exponential(double Mean) {
  if (!(Mean >= 0.0 && Finite(Mean))) {
    Refuse("Quorin Error: Incorrect parameter of ", "Exponential");
    return 0.0;
  }
  return -Mean * std::log(Uni01());
}

double TMultiRand::MinusLnProduct(int32_t N) {
  // The running product of uniforms would underflow to 0 after some 700 to
  // 1000 factors. Before it leaves the normal range, its logarithm is moved to
  // an accumulator and the product restarts, so -ln stays finite for every
  // order. Orders whose product stays normal give exactly -ln(product).
  double P = 1.0;
  double Folded = 0.0;
  for (int32_t I = 0; I < N; ++I) {
    const double U = Uni01();
    const double Next = U * P;
    if (Next < DBL_MIN) {
      Folded -= std::log(P);
      P = U;
    } else {
      P = Next;
    }
  }
  return Folded - std::log(P);
}

double TMultiRand::Erlang(double Mean, int32_t K) {
  if (!(Mean >= 0.0 && Finite(Mean) && K >= 1)) {
    Refuse("Quorin Error: Incorrect parameters of ", "Erlang");
    return 0.0;
  }
  return MinusLnProduct(K) * (Mean / K);
}

bool TMultiRand::NormalDraw(double Mean, double Deviation, double& Result) {
  if (!FNewPair) {
    // The second variate of the last pair, scaled by the call that made it.
    FNewPair = true;
    Result = FSecondNormal;
    return true;
  }
  for (int Attempt = 0; Attempt < kMaxRejections; ++Attempt) {
    const double A = 2.0 * Uni01() - 1.0;
    const double B = 2.0 * Uni01() - 1.0;
    const double S = A * A + B * B;
    // S = 0 cannot come from this generator (2U - 1 is never 0); refusing it
    // keeps the logarithm finite all the same.
    if (S < 1.0 && S > 0.0) {
      const double F = std::sqrt(-2.0 * std::log(S) / S);
      Result = Mean + Deviation * A * F;
      FSecondNormal = Mean + Deviation * B * F;
      FNewPair = false;
      return true;
    }
  }
  return false;
}

double TMultiRand::Normal(double Mean, double Deviation) {
  if (!(Deviation > 0.0 && Finite(Deviation))) {
    Refuse("Quorin Error: Incorrect parameter Deviation of ", "Normal");
    return 0.0;
  }
  if (!Finite(Mean)) {
    Refuse("Quorin Error: Incorrect parameter Mean of ", "Normal");
    return 0.0;
  }
  double Result;
  if (!NormalDraw(Mean, Deviation, Result)) {
    ReportCycle("Normal");
    return 0.0;
  }
  return Result;
}

bool TMultiRand::Joehnk(double Shape, double& Result) {
  for (int Attempt = 0; Attempt < kMaxRejections; ++Attempt) {
    const double U1 = Uni01();
    const double U2 = Uni01();
    if (U1 <= 1e-30 || U2 <= 1e-30) continue;
    // Exponents below -1000 would only underflow inside exp.
    const double EX = std::log(U2) / Shape;
    const double X = EX < -1000.0 ? 0.0 : std::exp(EX);
    const double EY = std::log(U1) / (1.0 - Shape);
    const double Y = EY < -1000.0 ? 0.0 : std::exp(EY);
    if (X + Y > 1.0) continue;
    // One draw: a uniform of this generator is at least 1 / (2^31 - 1), always
    // above the 1e-20 that the method requires.
    const double U3 = Uni01();
    Result = -std::log(U3) * X / (X + Y);
    return true;
  }
  return false;
}

bool TMultiRand::GammaUnit(double Shape, double& Result) {
  if (Shape < 1.0) return Joehnk(Shape, Result);
  if (Shape == 1.0) {
    Result = -std::log(Uni01());
    return true;
  }
  const double Whole = std::floor(Shape);
  const double Fraction = Shape - Whole;
  const double LnPart = MinusLnProduct(static_cast<int32_t>(Whole));
  if (Fraction > 0.0) {
    double Jonk;
    if (!Joehnk(Fraction, Jonk)) return false;
    Result = LnPart + Jonk;
  } else {
    Result = LnPart;
  }
  return true;
}

double TMultiRand::GammaJonk(double Shape) {
  // Meant for shapes in (0, 1). Shapes of 1 and above get the gamma variate
  // of that shape and scale 1 by the method of Gamma; shapes that are not
  // positive (or too large for that method) have no gamma distribution and
  // are refused like the parameters of the other distributions.
  if (!ShapeOK(Shape)) {
    Refuse("Quorin Error: Incorrect parameter of ", "GammaJonk");
    return 0.0;
  }
  double Result;
  if (!GammaUnit(Shape, Result)) {
    ReportCycle("GammaJonk");
    return 0.0;
  }
  return Result;
}

double TMultiRand::Gamma(double Mean, double Shape) {
  // Shapes of 2^31 and more are refused: the integer part is drawn as that
  // many uniforms.
  if (!(Mean > 0.0 && Finite(Mean) && ShapeOK(Shape))) {
    Refuse("Quorin Error: Incorrect parameters of ", "Gamma");
    return 0.0;
  }
  double Result;
  if (!GammaUnit(Shape, Result)) {
    ReportCycle("Gamma");
    return 0.0;
  }
  return Result * (Mean / Shape);
}

double TMultiRand::Beta(double Shape1, double Shape2, double Low, double High) {
  if (!(ShapeOK(Shape1) && ShapeOK(Shape2) && Low >= 0.0 && Low <= High && Finite(High))) {
    Refuse("Quorin Error: Incorrect parameters of ", "Beta");
    return 0.0;
  }
  for (int Attempt = 0; Attempt < kBetaAttempts; ++Attempt) {
    double G1;
    double G2;
    if (!GammaUnit(Shape1, G1) || !GammaUnit(Shape2, G2)) {
      ReportCycle("Beta");
      return 0.0;
    }
    const double X = G1 / (G1 + G2);
    if (X >= 0.0 && X <= 1.0) return Low + X * (High - Low);
  }
  // Both gamma variates were 0 every time: the shapes are so small that the
  // beta variate lies at one end of the range, the upper end with
  // probability Shape1 / (Shape1 + Shape2).
  return Uni01() * (Shape1 + Shape2) < Shape1 ? High : Low;
}

double TMultiRand::Weibull(double Alpha, double Beta) {
  if (!(Alpha > 0.0 && Beta > 0.0 && Finite(Alpha) && Finite(Beta))) {
    Refuse("Quorin Error: Incorrect parameters of ", "Weibull");
    return 0.0;
  }
  return std::exp(std::log(-Beta * std::log(Uni01())) / Alpha);
}

double TMultiRand::Lognormal(double Mean, double Deviation) {
  if (!(Mean > 0.0 && Deviation > 0.0 && Finite(Mean) && Finite(Deviation))) {
    Refuse("Quorin Error: Incorrect parameters of ", "Lognormal");
    return 0.0;
  }
  // log1p keeps a small Deviation / Mean from rounding Sigma2 to 0, which
  // would have asked Normal for a zero deviation. Should it still be 0 (the
  // ratio underflows), the normal draw is made with deviation 0 and the
  // result is Mean itself.
  const double Ratio = Deviation / Mean;
  const double Sigma2 = std::log1p(Ratio * Ratio);
  const double Mu = std::log(Mean) - Sigma2 / 2.0;
  double Result;
  if (!NormalDraw(Mu, std::sqrt(Sigma2), Result)) {
    ReportCycle("Lognormal");
    return 0.0;
  }
  return std::exp(Result);
}

double TMultiRand::Triangular(double Low, double Mode, double High) {
  if (!(Low >= 0.0 && Low <= Mode && Mode <= High && Finite(High))) {
    Refuse("Quorin Error: Incorrect parameters of ", "Triangular");
    return 0.0;
  }
  const double D1 = Mode - Low;
  const double D2 = High - Mode;
  const double D = High - Low;
  const double U = Uni01();
  // A range of width 0 has the single value Low; the draw is still made so
  // that every call advances the stream by one.
  if (D == 0.0) return Low;
  if (U > D1 / D) return High - std::sqrt(D2 * D * (1.0 - U));
  return Low + std::sqrt(D1 * D * U);
}

} // namespace quorin
