#include <cmath>
#include <cstdint>
#include <limits>

#include "quorin/detail/parts.h"
#include "quorin/statsim.h"

namespace quorin {

namespace {
// TModel::ClearStatistics resets the tabulators on the model's forms, except
// one that keeps its observations. Registered as this file is linked, which
// any program that can make a tabulator does.
void ClearTabulator(TComponent& X) {
  if (auto* T = dynamic_cast<TTabulator*>(&X); T && !T->KeepOnClear()) T->Reset();
}
[[maybe_unused]] const bool ClearRegistered = detail::SetClearHook(ClearTabulator);
} // namespace

TTabulator::TTabulator(TComponent* AOwner) : TComponent(AOwner) {}

void TTabulator::CalcUpper() {
  FUpperBound =
      static_cast<float>(static_cast<long double>(FIntervalCount) * FInterval + FLowerBound);
}

void TTabulator::SetLowerBound(float Value) {
  FLowerBound = Value;
  CalcUpper();
}

void TTabulator::SetInterval(float Value) {
  if (!(Value >= 0.0f)) {
    MessageDlg("Quorin Error: " + DisplayName() + ": Interval can not be negative");
    return;
  }
  FInterval = Value;
  CalcUpper();
}

void TTabulator::SetIntervalCount(uint8_t Value) {
  if (Value == 0 || Value == 255) {
    MessageDlg("Quorin Error: " + DisplayName() + ": IntervalCount must be in the range 1...254");
    return;
  }
  FIntervalCount = Value;
  CalcUpper();
}

void TTabulator::PutValue(double X) {
  // The count and every bin are 32-bit; past the largest count a value would
  // wrap them into nonsense, so it is refused and the statistics stay as they are.
  if (FCount == std::numeric_limits<int32_t>::max()) {
    MessageDlg("Quorin Error: " + DisplayName() + ": Count is at its maximum, value not tabulated");
    return;
  }
  ++FCount;
  const long double XL = X;
  FSum += XL;
  FSumSqr += XL * XL;
  if (X < static_cast<double>(FLowerBound)) {
    ++FHits[0];
    return;
  }
  // Bounds are built by repeated addition, rounded to double at each step, so
  // a value lands in the same bin as the bounds a reader would add up.
  double Bound = static_cast<double>(static_cast<long double>(FLowerBound) + FInterval);
  for (int I = 1; I <= FIntervalCount; ++I) {
    if (X < Bound) {
      ++FHits[I];
      return;
    }
    Bound = static_cast<double>(static_cast<long double>(Bound) + FInterval);
  }
  ++FHits[FIntervalCount + 1];
}

double TTabulator::Mean() const {
  if (FCount <= 0) return 0.0;
  return static_cast<double>(FSum / FCount);
}

double TTabulator::Deviation() const {
  if (FCount <= 0) return 0.0;
  const long double M = Mean();
  const long double Variance = FSumSqr / FCount - M * M;
  // Equal values can leave a tiny negative variance from rounding; the
  // deviation is then 0, not the square root of a negative number.
  if (Variance < 0.0L) return 0.0;
  return static_cast<double>(std::sqrt(Variance));
}

void TTabulator::Reset() {
  for (int I = 0; I <= FIntervalCount + 1; ++I)
    FHits[I] = 0;
  FCount = 0;
  FSum = 0.0L;
  FSumSqr = 0.0L;
}

} // namespace quorin
