#include "quorin/framework.h"

#include <cmath>
#include <cstdio>

namespace quorin {

std::string FormatFloat(const std::string& Pattern, double Value) {
  const auto Point = Pattern.find('.');
  const int Decimals =
      Point == std::string::npos ? 0 : static_cast<int>(Pattern.size() - Point - 1);
  if (!std::isfinite(Value)) return std::isnan(Value) ? "NAN" : (Value > 0 ? "INF" : "-INF");
  // printf rounds the exact binary value half to even; a model clock of
  // 2.0005 should read 2.001 as a person expects, so round half away first.
  const double Scale = std::pow(10.0, Decimals);
  double Rounded = Value;
  if (std::fabs(Value) * Scale < 9.0e15) Rounded = std::round(Value * Scale) / Scale;
  if (Rounded == 0.0) Rounded = 0.0; // no "-0.000"
  char Buffer[64];
  std::snprintf(Buffer, sizeof Buffer, "%.*f", Decimals, Rounded);
  return Buffer;
}

} // namespace quorin
