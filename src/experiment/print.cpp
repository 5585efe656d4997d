// The experiment's tables: text, CSV and JSON, and the failures; the exact
// number and quoting helpers that the quorin command shares.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <ostream>

#include "internal.h"
#include "quorin/output.h"
#include "quorin/page.h"

namespace quorin {

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

std::string Number(double V, int Precision = 6) {
  if (std::isnan(V)) return "-";
  char Buffer[64];
  std::snprintf(Buffer, sizeof Buffer, "%.*g", Precision, V);
  return Buffer;
}

} // namespace

std::string ExactText(double V) {
  if (!std::isfinite(V)) return "";
  char Buffer[64];
  const auto Result = std::to_chars(Buffer, Buffer + sizeof Buffer, V);
  return std::string(Buffer, Result.ptr);
}

std::string JsonNumber(double V) {
  return std::isfinite(V) ? ExactText(V) : "null";
}

std::string JsonString(const std::string& S) {
  // The page's escaper, so that every JSON the library writes escapes alike
  // (< > & too, which keeps a text from closing a script element).
  return PageString(S);
}

std::string SeedList(const std::vector<int64_t>& Seeds) {
  std::string Text;
  // Appended piece by piece: the prefix form of operator+ trips a false
  // -Wrestrict warning of g++ 12.
  for (size_t i = 0; i < Seeds.size(); ++i)
    Text.append(i ? " " : "").append(std::to_string(Seeds[i]));
  return Text.empty() ? "none" : Text;
}

void PrintFailures(const TExperimentResult& Result, std::ostream& Out) {
  for (const auto& R : Result.Replications)
    if (!R.Ok)
      Out << "Replication " << R.Number << " failed (seeds " << SeedList(R.Seeds)
          << "): " << R.Error << '\n';
}

void PrintFailuresJson(const TExperimentResult& Result, std::ostream& Out) {
  Out << '[';
  bool First = true;
  for (const auto& R : Result.Replications) {
    if (R.Ok) continue;
    Out << (First ? "" : ",") << "{\"replication\":" << R.Number << ",\"seeds\":[";
    for (size_t k = 0; k < R.Seeds.size(); ++k)
      Out << (k ? "," : "") << R.Seeds[k];
    Out << "],\"error\":" << JsonString(R.Error) << "}";
    First = false;
  }
  Out << ']';
}

void PrintExperiment(const TExperimentResult& Result, std::ostream& Out) {
  if (!Result.Error.empty()) {
    Out << "Experiment refused: " << Result.Error << '\n';
    return;
  }
  const int32_t Runs = int32_t(Result.Replications.size());
  Out << Runs << " replication" << (Runs == 1 ? "" : "s") << ", " << Result.Failed
      << " failed; warm-up " << Number(Result.WarmUp) << ", run length " << Number(Result.RunLength)
      << "; " << Number(Result.Level * 100, 4) << " % confidence intervals";
  if (Result.Sequential)
    Out << "; sequential, target " << (Result.TargetMet ? "met" : "NOT met (cap reached)");
  if (Result.Interrupted > 0)
    Out << "; interrupted: " << Result.Interrupted << " did not finish";
  Out << '\n';
  std::vector<std::vector<std::string>> Table{
      {"Figure", "Mean", "+-", "Low", "High", "Std dev", "Min", "Max", "n", "Missing"}};
  for (const TFigureResult& F : Result.Figures) {
    const TSummary& S = F.Summary;
    Table.push_back({F.Name, Number(S.Mean), Number(S.HalfWidth), Number(S.Low), Number(S.High),
                     Number(S.StdDev), Number(S.Min), Number(S.Max), std::to_string(S.N),
                     std::to_string(F.Missing)});
  }
  // The figure's name on the left, the numbers on the right.
  WriteColumns(Out, Table, [](std::size_t Column) { return Column > 0; });
  PrintFailures(Result, Out);
}

void PrintExperimentCsv(const TExperimentResult& Result, std::ostream& Out) {
  Out << "figure,mean,half_width,low,high,std_dev,min,max,n,missing,level\n";
  for (const TFigureResult& F : Result.Figures) {
    const TSummary& S = F.Summary;
    Out << CsvText(F.Name) << ',' << ExactText(S.Mean) << ',' << ExactText(S.HalfWidth) << ','
        << ExactText(S.Low) << ',' << ExactText(S.High) << ',' << ExactText(S.StdDev) << ','
        << ExactText(S.Min) << ',' << ExactText(S.Max) << ',' << S.N << ',' << F.Missing << ','
        << ExactText(Result.Level) << '\n';
  }
}

void PrintExperimentJson(const TExperimentResult& Result, std::ostream& Out) {
  Out << "{\"level\":" << JsonNumber(Result.Level) << ",\"warmup\":" << JsonNumber(Result.WarmUp)
      << ",\"run_length\":" << JsonNumber(Result.RunLength)
      << ",\"replications\":" << Result.Replications.size() << ",\"failed\":" << Result.Failed
      << ",\"sequential\":" << (Result.Sequential ? "true" : "false")
      << ",\"target_met\":" << (Result.TargetMet ? "true" : "false");
  if (!Result.Error.empty()) Out << ",\"error\":" << JsonString(Result.Error);
  Out << ",\"figures\":[";
  for (size_t f = 0; f < Result.Figures.size(); ++f) {
    const TFigureResult& F = Result.Figures[f];
    const TSummary& S = F.Summary;
    Out << (f ? "," : "") << "{\"name\":" << JsonString(F.Name)
        << ",\"mean\":" << JsonNumber(S.Mean) << ",\"half_width\":" << JsonNumber(S.HalfWidth)
        << ",\"low\":" << JsonNumber(S.Low) << ",\"high\":" << JsonNumber(S.High)
        << ",\"std_dev\":" << JsonNumber(S.StdDev) << ",\"min\":" << JsonNumber(S.Min)
        << ",\"max\":" << JsonNumber(S.Max) << ",\"n\":" << S.N << ",\"missing\":" << F.Missing
        << "}";
  }
  Out << "],\"failures\":";
  PrintFailuresJson(Result, Out);
  Out << "}\n";
}

void PrintReplicationsCsv(const TExperimentResult& Result, std::ostream& Out) {
  Out << "replication,ok,seeds,figure,value,error\n";
  for (const auto& R : Result.Replications) {
    for (size_t f = 0; f < Result.Figures.size(); ++f) {
      // A missing value is NaN here, an empty cell in the table.
      const double V = f < R.Values.size() ? R.Values[f].value_or(NaN) : NaN;
      Out << R.Number << ',' << (R.Ok ? 1 : 0) << ',' << SeedList(R.Seeds) << ','
          << CsvText(Result.Figures[f].Name) << ',' << ExactText(V) << ',' << CsvText(R.Error)
          << '\n';
    }
  }
}

} // namespace quorin
