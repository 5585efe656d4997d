// Random streams and the tabulator: the statistical components that a model's
// handlers use directly. Neither depends on the model or its clock.
#pragma once

#include <cstdint>

#include "quorin/framework.h"

namespace quorin {

// One reproducible stream of random variates. The uniform source is the
// multiplicative congruential generator x := m * x mod (2^31 - 1), exact in
// 64-bit integers; the ten distributions draw from it in a fixed order, so a
// stream with a given Seed and Multiplier always yields the same variates.
//
// Failures (refused parameters) show a message and answer 0.0 without
// drawing; the stored second normal variate is kept. Every rejection loop is
// bounded, so a Multiplier with a short cycle cannot make a call spin forever.
class TMultiRand : public TComponent {
public:
  static constexpr int64_t Modulus = 2147483647;
  static constexpr int64_t DefaultSeed = 1000000000;
  static constexpr int64_t DefaultMultiplier = 950706376;

  explicit TMultiRand(TComponent* AOwner);

  // Back to the last seed set; drops a stored normal variate.
  void Reset();

  // Seed: 1...2147483646; anything else is reported and replaced by the
  // default. Setting it also sets the point that Reset returns to.
  void SetSeed(int64_t Value);
  // The current state of the stream (not the seed last set).
  int64_t GetSeed() const { return FSeed; }
  // Multiplier: 2...2147483646; anything else is reported and replaced by the
  // default. The seed is not touched.
  void SetMultiplier(int64_t Value);
  int64_t GetMultiplier() const { return FMultiplier; }

  double Uni01();
  double Uniform(double Low, double High);
  double Exponential(double Mean);
  double Erlang(double Mean, int32_t K);
  double Normal(double Mean, double Deviation);
  double GammaJonk(double Shape);
  double Gamma(double Mean, double Shape);
  double Beta(double Shape1, double Shape2, double Low, double High);
  double Weibull(double Alpha, double Beta);
  double Lognormal(double Mean, double Deviation);
  double Triangular(double Low, double Mode, double High);

  // Draws refused for their parameters (each answered 0.0) since creation.
  int32_t Refusals() const { return FRefusals; }

protected:
  int64_t FSeed = DefaultSeed;
  int64_t FInitSeed = DefaultSeed;
  int64_t FMultiplier = DefaultMultiplier;
  bool FNewPair = true;
  double FSecondNormal = 0.0;
  mutable int32_t FRefusals = 0;

private:
  // -ln of the product of N uniforms, drawn one by one.
  double MinusLnProduct(int32_t N);
  // Gamma variate of scale 1; false when the stream's cycle defeated the
  // rejection loop of the fractional part.
  bool GammaUnit(double Shape, double& Result);
  bool Joehnk(double Shape, double& Result);
  // Normal variate without the parameter check (Deviation may be 0).
  bool NormalDraw(double Mean, double Deviation, double& Result);
  void Refuse(const char* Prefix, const char* Method) const;
  void ReportCycle(const char* Method) const;
};

// Histogram of values: one bin below LowerBound, IntervalCount bins of width
// Interval, and one overflow bin at IntervalCount + 1. Keeps the count, mean
// and (population) standard deviation of every value fed. PutValue costs one
// comparison per interval up to the matching one and allocates nothing.
class TTabulator : public TComponent {
public:
  explicit TTabulator(TComponent* AOwner);

  // FUpperBound := IntervalCount * Interval + LowerBound.
  void CalcUpper();

  float LowerBound() const { return FLowerBound; }
  void SetLowerBound(float Value);
  float Interval() const { return FInterval; }
  // Width: 0 or more; a negative value is reported and ignored.
  void SetInterval(float Value);
  uint8_t IntervalCount() const { return FIntervalCount; }
  // 1...254; 0 and 255 are reported and ignored.
  void SetIntervalCount(uint8_t Value);

  void PutValue(double X);
  // Counter at Index, whatever IntervalCount is.
  int32_t Hits(uint8_t Index) const { return FHits[Index]; }
  double Mean() const;
  double Deviation() const;
  int32_t Count() const { return FCount; }
  // Clears bins 0...IntervalCount + 1 and the sums; higher bins keep theirs.
  void Reset();
  // Whether TModel::ClearStatistics leaves this tabulator alone. By default
  // clearing a run's statistics (a warm-up) resets every tabulator of the
  // model's form with its blocks; set this for one that must keep every
  // observation of the run.
  bool KeepOnClear() const { return FKeepOnClear; }
  void SetKeepOnClear(bool Value) { FKeepOnClear = Value; }

protected:
  float FLowerBound = 0.0f;
  float FUpperBound = 0.0f;
  float FInterval = 0.0f;
  uint8_t FIntervalCount = 1;
  int32_t FHits[256] = {};
  int32_t FCount = 0;
  long double FSum = 0.0L;
  long double FSumSqr = 0.0L;
  bool FKeepOnClear = false;
};

} // namespace quorin
