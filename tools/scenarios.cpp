// Comparisons of two designs and sweeps over a grid of property values.
#include "scenarios.h"

#include <cmath>
#include <map>
#include <ostream>
#include <sstream>
#include <tuple>

namespace quorin::tool {

namespace {

const double NaN = std::nan("");

// A class's priority as a table cell; empty for a block's own line.
std::string PriorityText(const TStatistic& S) {
  return S.Prty < 0 ? std::string() : std::to_string(S.Prty);
}

// Whether a sweep's tables show statistic f: a priority class that no
// combination's replications reported is left out (every combination keeps
// the same rows, so that they line up).
bool SweepShows(const TSweep& S, size_t f) {
  for (const TSweepRow& Row : S.Rows)
    if (f < Row.Statistics.size() && f < Row.Result.Figures.size() &&
        Reported(Row.Statistics[f], Row.Result.Figures[f]))
      return true;
  return false;
}

} // namespace

bool TPairedFigure::ExcludesZero() const {
  return N >= 2 && std::isfinite(HalfWidth) &&
         (Difference - HalfWidth > 0 || Difference + HalfWidth < 0);
}

std::vector<TPairedFigure> PairFigures(const std::vector<TStatistic>& StatsA,
                                       const TExperimentResult& A,
                                       const std::vector<TStatistic>& StatsB,
                                       const TExperimentResult& B, double Level) {
  // A figure is the same in both designs when its origin, block, class
  // (priority) and statistic are.
  using TKey = std::tuple<int, std::string, int32_t, std::string>;
  auto Key = [](const TStatistic& S) {
    return TKey{int(S.Origin), S.Block, S.Prty, S.Column};
  };
  std::map<TKey, size_t> InB;
  for (size_t f = 0; f < StatsB.size(); ++f)
    InB.emplace(Key(StatsB[f]), f);
  std::vector<TPairedFigure> Out;
  for (size_t fa = 0; fa < StatsA.size() && fa < A.Figures.size(); ++fa) {
    const auto It = InB.find(Key(StatsA[fa]));
    if (It == InB.end() || It->second >= B.Figures.size()) continue;
    const size_t fb = It->second;
    // Pairs: the replications of the same number that both have a value.
    std::vector<double> Xa, Xb, D;
    for (const TReplicationResult& Ra : A.Replications)
      for (const TReplicationResult& Rb : B.Replications)
        if (Ra.Number == Rb.Number && Ra.Ok && Rb.Ok && fa < Ra.Values.size() &&
            fb < Rb.Values.size() && Ra.Values[fa] && Rb.Values[fb]) {
          Xa.push_back(*Ra.Values[fa]);
          Xb.push_back(*Rb.Values[fb]);
          D.push_back(*Rb.Values[fb] - *Ra.Values[fa]);
        }
    // A priority class that no pair of replications reported is not there.
    if (StatsA[fa].Prty >= 0 && D.empty()) continue;
    TPairedFigure P;
    P.Statistic = StatsA[fa];
    P.N = int32_t(D.size());
    const TSummary Sa = Summarise(Xa, Level), Sb = Summarise(Xb, Level), Sd = Summarise(D, Level);
    P.MeanA = P.N ? Sa.Mean : NaN;
    P.MeanB = P.N ? Sb.Mean : NaN;
    P.Difference = P.N ? Sd.Mean : NaN;
    P.HalfWidth = P.N >= 2 ? (Sd.StdDev == 0 ? 0.0 : Sd.HalfWidth) : NaN;
    // Welch: the variance of a difference of independent means, with the
    // Welch-Satterthwaite degrees of freedom.
    P.IndependentHalfWidth = NaN;
    if (P.N >= 2) {
      const double N = P.N, Va = Sa.StdDev * Sa.StdDev / N, Vb = Sb.StdDev * Sb.StdDev / N;
      if (Va + Vb == 0) {
        P.IndependentHalfWidth = 0;
      } else {
        const double Df = (Va + Vb) * (Va + Vb) / (Va * Va / (N - 1) + Vb * Vb / (N - 1));
        P.IndependentHalfWidth =
            StudentTQuantile(0.5 + Level / 2, std::max(1.0, Df)) * std::sqrt(Va + Vb);
      }
    }
    Out.push_back(P);
  }
  return Out;
}

void PrintComparison(const TComparison& C, std::ostream& Out) {
  Out << "B - A: " << C.PathB << " - " << C.PathA << "\n"
      << C.Replications << " replications of each on common random numbers, paired by number ("
      << C.FailedA << " and " << C.FailedB << " failed); ";
  if (C.Warmup > 0) Out << "warm-up " << TableNumber(C.Warmup) << ", ";
  Out << "until " << TableNumber(C.Until) << "; " << TableNumber(C.Level * 100)
      << " % confidence intervals (paired t)\n\n";
  std::vector<std::vector<std::string>> Table{{"Block", "Priority", "Statistic", "Mean A",
                                               "Mean B", "B - A", "+-", "Differs",
                                               "Independent +-", "n"}};
  int32_t Narrower = 0, Compared = 0;
  double SumRatio = 0;
  for (const TPairedFigure& P : C.Figures) {
    Table.push_back({P.Statistic.Block, PriorityText(P.Statistic), P.Statistic.Column,
                     TableNumber(P.MeanA),
                     TableNumber(P.MeanB), TableNumber(P.Difference), TableNumber(P.HalfWidth),
                     P.N < 2 ? "-" : P.ExcludesZero() ? "yes" : "no",
                     TableNumber(P.IndependentHalfWidth), std::to_string(P.N)});
    if (P.N >= 2 && P.IndependentHalfWidth > 0) {
      ++Compared;
      Narrower += P.HalfWidth < P.IndependentHalfWidth;
      SumRatio += P.HalfWidth / P.IndependentHalfWidth;
    }
  }
  PrintAligned(Table, 3, Out);
  Out << "\n\"Differs\": the interval of B - A excludes 0. \"Independent +-\": the half-width "
         "that independent\nruns of the two designs would give.";
  if (Compared > 0) {
    const double Ratio = SumRatio / Compared;
    Out << "\nCommon random numbers made " << Narrower << " of " << Compared
        << " intervals narrower than independent runs would";
    if (Narrower > 0)
      Out << "; on average " << TableNumber(Ratio * 100) << " % of their width (about "
          << TableNumber(Ratio > 0 ? 1 / (Ratio * Ratio) : NaN)
          << " times fewer replications for the same precision)";
  }
  Out << ".\n";
}

void PrintComparisonCsv(const TComparison& C, std::ostream& Out) {
  Out << "block,class,statistic,mean_a,mean_b,difference,half_width,low,high,excludes_zero,"
         "independent_half_width,n,level,priority\n";
  for (const TPairedFigure& P : C.Figures)
    Out << CsvText(P.Statistic.Block) << ',' << CsvText(P.Statistic.Class) << ','
        << CsvText(P.Statistic.Column) << ',' << ExactText(P.MeanA) << ',' << ExactText(P.MeanB)
        << ',' << ExactText(P.Difference) << ',' << ExactText(P.HalfWidth) << ','
        << ExactText(P.Difference - P.HalfWidth) << ',' << ExactText(P.Difference + P.HalfWidth)
        << ',' << (P.ExcludesZero() ? "true" : "false") << ','
        << ExactText(P.IndependentHalfWidth) << ',' << P.N << ',' << ExactText(C.Level) << ','
        << PriorityText(P.Statistic) << '\n';
}

void PrintComparisonJson(const TComparison& C, std::ostream& Out) {
  Out << "{\"a\":" << JsonString(C.PathA) << ",\"b\":" << JsonString(C.PathB)
      << ",\"replications\":" << C.Replications << ",\"failed_a\":" << C.FailedA
      << ",\"failed_b\":" << C.FailedB << ",\"level\":" << JsonNumber(C.Level)
      << ",\"warmup\":" << JsonNumber(C.Warmup) << ",\"until\":" << JsonNumber(C.Until)
      << ",\"figures\":[";
  for (size_t i = 0; i < C.Figures.size(); ++i) {
    const TPairedFigure& P = C.Figures[i];
    Out << (i ? "," : "") << "{\"block\":" << JsonString(P.Statistic.Block);
    if (P.Statistic.Prty >= 0) Out << ",\"priority\":" << P.Statistic.Prty;
    Out << ",\"class\":" << JsonString(P.Statistic.Class)
        << ",\"statistic\":" << JsonString(P.Statistic.Column)
        << ",\"mean_a\":" << JsonNumber(P.MeanA) << ",\"mean_b\":" << JsonNumber(P.MeanB)
        << ",\"difference\":" << JsonNumber(P.Difference)
        << ",\"half_width\":" << JsonNumber(P.HalfWidth)
        << ",\"low\":" << JsonNumber(P.Difference - P.HalfWidth)
        << ",\"high\":" << JsonNumber(P.Difference + P.HalfWidth)
        << ",\"excludes_zero\":" << (P.ExcludesZero() ? "true" : "false")
        << ",\"independent_half_width\":" << JsonNumber(P.IndependentHalfWidth)
        << ",\"n\":" << P.N << "}";
  }
  Out << "]}\n";
}

bool ParseSetting(const std::string& Text, TSetting& S, std::string& Error) {
  const size_t Dot = Text.find('.'), Eq = Text.find('=');
  if (Dot == std::string::npos || Eq == std::string::npos || Dot > Eq || Dot == 0 ||
      Eq == Dot + 1) {
    Error = "--set " + Text + ": expected Block.Property=value,value,... such as "
            "Clerk.Capacity=1,2,3";
    return false;
  }
  S.Component = Text.substr(0, Dot);
  S.Property = Text.substr(Dot + 1, Eq - Dot - 1);
  S.Values.clear();
  std::stringstream In(Text.substr(Eq + 1));
  std::string V;
  while (std::getline(In, V, ','))
    S.Values.push_back(V);
  if (Text.back() == ',') S.Values.push_back("");
  if (S.Values.empty()) S.Values.push_back("");
  for (const std::string& Value : S.Values)
    if (Value.empty()) {
      Error = "--set " + Text + ": an empty value";
      return false;
    }
  return true;
}

std::vector<std::vector<std::string>> Grid(const std::vector<TSetting>& Settings) {
  std::vector<std::vector<std::string>> Rows{{}};
  for (const TSetting& S : Settings) {
    std::vector<std::vector<std::string>> Next;
    for (const auto& Row : Rows)
      for (const std::string& V : S.Values) {
        Next.push_back(Row);
        Next.back().push_back(V);
      }
    Rows = std::move(Next);
  }
  return Rows;
}

void PrintSweep(const TSweep& S, std::ostream& Out) {
  Out << S.Path << ": " << S.Rows.size() << " combination" << (S.Rows.size() == 1 ? "" : "s")
      << " x " << S.Replications << " replications; ";
  if (S.Warmup > 0) Out << "warm-up " << TableNumber(S.Warmup) << ", ";
  Out << "until " << TableNumber(S.Until) << "; means with " << TableNumber(S.Level * 100)
      << " % confidence intervals\n\n";
  std::vector<std::vector<std::string>> Table{{}};
  for (const TSetting& Setting : S.Settings)
    Table[0].push_back(Setting.Component + "." + Setting.Property);
  for (const char* Title :
       {"Block", "Priority", "Statistic", "Mean", "+-", "Std dev", "n", "Failed"})
    Table[0].push_back(Title);
  for (const TSweepRow& Row : S.Rows)
    for (size_t f = 0; f < Row.Statistics.size() && f < Row.Result.Figures.size(); ++f) {
      if (!SweepShows(S, f)) continue;
      std::vector<std::string> Cells = Row.Values;
      const TSummary& M = Row.Result.Figures[f].Summary;
      for (const std::string& C :
           {Row.Statistics[f].Block, PriorityText(Row.Statistics[f]), Row.Statistics[f].Column,
            TableNumber(M.Mean),
            TableNumber(M.HalfWidth), TableNumber(M.StdDev), std::to_string(M.N),
            std::to_string(Row.Result.Failed)})
        Cells.push_back(C);
      Table.push_back(Cells);
    }
  PrintAligned(Table, S.Settings.size() + 3, Out);
}

void PrintSweepCsv(const TSweep& S, std::ostream& Out) {
  for (const TSetting& Setting : S.Settings)
    Out << CsvText(Setting.Component + "." + Setting.Property) << ',';
  Out << "block,class,statistic,mean,half_width,low,high,std_dev,n,missing,failed,level,"
         "priority\n";
  for (const TSweepRow& Row : S.Rows)
    for (size_t f = 0; f < Row.Statistics.size() && f < Row.Result.Figures.size(); ++f) {
      if (!SweepShows(S, f)) continue;
      for (const std::string& V : Row.Values)
        Out << CsvText(V) << ',';
      const TStatistic& St = Row.Statistics[f];
      const TSummary& M = Row.Result.Figures[f].Summary;
      Out << CsvText(St.Block) << ',' << CsvText(St.Class) << ',' << CsvText(St.Column) << ','
          << ExactText(M.Mean) << ',' << ExactText(M.HalfWidth) << ',' << ExactText(M.Low) << ','
          << ExactText(M.High) << ',' << ExactText(M.StdDev) << ',' << M.N << ','
          << Row.Result.Figures[f].Missing << ',' << Row.Result.Failed << ','
          << ExactText(S.Level) << ',' << PriorityText(St) << '\n';
    }
}

void PrintSweepJson(const TSweep& S, std::ostream& Out) {
  Out << "{\"file\":" << JsonString(S.Path) << ",\"replications\":" << S.Replications
      << ",\"level\":" << JsonNumber(S.Level) << ",\"warmup\":" << JsonNumber(S.Warmup)
      << ",\"until\":" << JsonNumber(S.Until) << ",\"settings\":[";
  for (size_t i = 0; i < S.Settings.size(); ++i)
    Out << (i ? "," : "") << JsonString(S.Settings[i].Component + "." + S.Settings[i].Property);
  Out << "],\"combinations\":[";
  for (size_t r = 0; r < S.Rows.size(); ++r) {
    const TSweepRow& Row = S.Rows[r];
    Out << (r ? "," : "") << "{\"values\":[";
    for (size_t i = 0; i < Row.Values.size(); ++i)
      Out << (i ? "," : "") << JsonString(Row.Values[i]);
    Out << "],\"failed\":" << Row.Result.Failed << ",\"statistics\":[";
    bool First = true;
    for (size_t f = 0; f < Row.Statistics.size() && f < Row.Result.Figures.size(); ++f) {
      if (!SweepShows(S, f)) continue;
      const TStatistic& St = Row.Statistics[f];
      const TSummary& M = Row.Result.Figures[f].Summary;
      Out << (First ? "" : ",") << "{\"block\":" << JsonString(St.Block);
      First = false;
      if (St.Prty >= 0) Out << ",\"priority\":" << St.Prty;
      Out << ",\"class\":" << JsonString(St.Class) << ",\"statistic\":" << JsonString(St.Column)
          << ",\"mean\":" << JsonNumber(M.Mean) << ",\"half_width\":" << JsonNumber(M.HalfWidth)
          << ",\"low\":" << JsonNumber(M.Low) << ",\"high\":" << JsonNumber(M.High)
          << ",\"std_dev\":" << JsonNumber(M.StdDev) << ",\"n\":" << M.N
          << ",\"missing\":" << Row.Result.Figures[f].Missing << "}";
    }
    Out << "],\"failures\":";
    PrintFailuresJson(Row.Result, Out);
    Out << "}";
  }
  Out << "]}\n";
}

} // namespace quorin::tool
