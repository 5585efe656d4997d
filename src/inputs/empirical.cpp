// Empirical distributions: the data's own distribution, continuous (linear
// between the sorted observations) or discrete (the observed frequencies).
#include <algorithm>
#include <cmath>

#include "quorin/inputs.h"

namespace quorin {

std::optional<TEmpirical> TEmpirical::Make(std::vector<double> Values, bool Discrete,
                                           std::string& Error) {
  const size_t Least = Discrete ? 1 : 2;
  if (Values.size() < Least) {
    Error = std::string("an empirical ") + (Discrete ? "discrete" : "continuous") +
            " distribution needs at least " + std::to_string(Least) + " value" +
            (Least == 1 ? "" : "s") + ", not " + std::to_string(Values.size());
    return std::nullopt;
  }
  for (double V : Values)
    if (!std::isfinite(V)) {
      Error = "an empirical distribution needs finite values";
      return std::nullopt;
    }
  std::sort(Values.begin(), Values.end());
  TEmpirical R;
  R.FDiscrete = Discrete;
  if (!Discrete) {
    R.FValues = std::move(Values);
    return R;
  }
  const double N = double(Values.size());
  for (size_t i = 0; i < Values.size(); ++i) {
    if (i + 1 < Values.size() && Values[i + 1] == Values[i]) continue;
    R.FValues.push_back(Values[i]);
    R.FCumulative.push_back(double(i + 1) / N);
  }
  R.FCumulative.back() = 1.0;
  return R;
}

std::optional<TEmpirical> TEmpirical::ReadCsv(const std::string& Path, const std::string& Column,
                                              bool Discrete, std::string& Error) {
  auto Data = ReadCsvColumn(Path, Column, Error);
  if (!Data) return std::nullopt;
  std::string Problem;
  auto R = Make(std::move(Data->Values), Discrete, Problem);
  if (!R) Error = Path + ": " + Problem;
  return R;
}

double TEmpirical::Quantile(double P) const {
  P = std::clamp(P, 0.0, 1.0);
  if (FDiscrete) {
    const auto It = std::lower_bound(FCumulative.begin(), FCumulative.end(), P);
    return FValues[std::min(size_t(It - FCumulative.begin()), FValues.size() - 1)];
  }
  const double X = P * double(FValues.size() - 1);
  const size_t i = std::min(size_t(X), FValues.size() - 2);
  return FValues[i] + (X - double(i)) * (FValues[i + 1] - FValues[i]);
}

double TEmpirical::Draw(TMultiRand& Stream) const {
  return Quantile(Stream.Uni01());
}

double TEmpirical::Mean() const {
  double Sum = 0;
  if (FDiscrete) {
    double Below = 0;
    for (size_t i = 0; i < FValues.size(); ++i) {
      Sum += FValues[i] * (FCumulative[i] - Below);
      Below = FCumulative[i];
    }
    return Sum;
  }
  // Each segment between neighbours carries 1 / (n - 1) of the probability,
  // spread evenly: its mean is its midpoint.
  for (size_t i = 0; i + 1 < FValues.size(); ++i)
    Sum += (FValues[i] + FValues[i + 1]) / 2;
  return Sum / double(FValues.size() - 1);
}

} // namespace quorin
