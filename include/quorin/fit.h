// Fitting the random streams' distributions to data: maximum-likelihood
// estimates for every family that suits the data, each with the
// Kolmogorov-Smirnov statistic and its p-value, the Anderson-Darling
// statistic and Akaike's information criterion, ranked best first, and the
// draw to paste into a model file. For `quorin fit`; the special functions
// and distribution functions come from Boost.Math (library quorin::fit,
// above the units: nothing in the units includes it).
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace quorin {

// The least number of values a fit accepts.
inline constexpr size_t MinFitValues = 10;

struct TFit {
  std::string Family;                  // as the stream's method: "Gamma", "Weibull", ...
  std::vector<double> Parameters;      // the stream method's parameters, in its order
  std::vector<std::string> Names;      // their names ("mean", "shape", ...)
  double LogLikelihood = 0;
  double Aic = 0;                      // 2 k - 2 log-likelihood: lower is better
  double Ks = 0, KsPValue = 0;         // Kolmogorov-Smirnov D and its p-value
  double AndersonDarling = 0;          // A^2
  // The draw for a model file, such as "Gamma(2.1, 0.47)" (after "Stream."),
  // with as many digits as it takes for the draw, read back, to have the
  // fit's mean and deviation to 1 % of the deviation; "" when the family's
  // parameters cannot be written so (a Weibull beta beyond the doubles, a
  // gamma shape a stream refuses).
  std::string Draw() const;
};

struct TFitReport {
  size_t N = 0;
  double Mean = 0, StdDev = 0, Min = 0, Max = 0;
  std::vector<TFit> Fits;             // best (lowest AIC) first
  std::vector<std::string> NotFitted; // families refused by the data, with the reason
};

// Fits every family to Values; Lines gives each value's line in its file,
// for the reasons of families that a value rules out. Answers false with
// Error when there are fewer than MinFitValues values or one is not finite.
bool FitDistributions(const std::vector<double>& Values, const std::vector<int32_t>& Lines,
                      TFitReport& Report, std::string& Error);

// The report as an aligned table and the line to paste.
void PrintFitReport(const TFitReport& Report, const std::string& What, std::ostream& Out);

} // namespace quorin
