// Replications of a model file: the experiment, the tables and the progress
// line of `quorin run --replications N`.
#include "replications.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <map>
#include <stdexcept>

#include "quorin/modelfile.h"
#include "quorin/output.h"

namespace quorin::tool {

namespace {

// Numbers for the eye: six significant digits without an exponent and
// without trailing zeros, so that counts of a long run read as whole
// numbers; an exponent only for the very small and the very large.
std::string Number(double V) {
  if (std::isnan(V)) return "-";
  char Buffer[64];
  const double A = std::fabs(V);
  if (V == 0 || A < 1e-4 || A >= 1e15) {
    std::snprintf(Buffer, sizeof Buffer, "%.6g", V);
    return Buffer;
  }
  const int Decimals = std::max(0, 5 - int(std::floor(std::log10(A))));
  std::snprintf(Buffer, sizeof Buffer, "%.*f", Decimals, V);
  std::string Text = Buffer;
  if (Text.find('.') != std::string::npos) {
    while (Text.back() == '0')
      Text.pop_back();
    if (Text.back() == '.') Text.pop_back();
  }
  return Text;
}

std::string Duration(double Seconds) {
  char Buffer[32];
  if (Seconds < 60)
    std::snprintf(Buffer, sizeof Buffer, "%.1f s", Seconds);
  else
    std::snprintf(Buffer, sizeof Buffer, "%d min %02d s", int(Seconds / 60),
                  int(std::fmod(Seconds, 60)));
  return Buffer;
}

bool IsBin(const TStatistic& S) {
  return S.Origin == TOrigin::Tabulator && S.Column.rfind("Fraction ", 0) == 0;
}

// A special exit that no replication counted says nothing, as in the
// standard report; nor does a tabulator's bin that stayed empty.
bool Shown(const TStatistic& S, const TFigureResult& F) {
  if (!Reported(S, F)) return false;
  if (IsBin(S)) return F.Summary.N > 0 && F.Summary.Max != 0;
  if (S.Origin != TOrigin::Block) return true;
  if (S.Column != "Preempt" && S.Column != "Time limit") return true;
  return F.Summary.N > 0 && F.Summary.Max != 0;
}

// The rows of one section of the text table, aligned, under its title.
void PrintSection(const std::string& Title, const std::vector<std::vector<std::string>>& Table,
                  std::ostream& Out) {
  if (Table.size() == 1) return;
  Out << '\n' << Title << '\n';
  PrintAligned(Table, 3, Out);
}

} // namespace

bool Reported(const TStatistic& S, const TFigureResult& F) {
  // A priority class no replication reported is not there to show.
  return !(S.Prty >= 0 && F.Summary.N == 0);
}

void AddTabulatorStatistics(const TComponent& Root, std::vector<TStatistic>& Statistics) {
  for (TFigureSpec& F : TabulatorFigures(Root)) {
    TStatistic S;
    S.Block = F.Block;
    S.Class = "TTabulator";
    S.Column = F.Column;
    S.Origin = TOrigin::Tabulator;
    S.Compute = std::move(F.Compute);
    Statistics.push_back(std::move(S));
  }
}

void AddCollectedStatistics(const TExperimentResult& Result, std::vector<TStatistic>& Statistics) {
  for (size_t f = Statistics.size(); f < Result.Figures.size(); ++f) {
    TStatistic S;
    S.Column = Result.Figures[f].Name;
    S.Origin = TOrigin::Collected;
    Statistics.push_back(std::move(S));
  }
}

std::string TableNumber(double V) {
  return Number(V);
}

void PrintAligned(const std::vector<std::vector<std::string>>& Table, size_t TextColumns,
                  std::ostream& Out) {
  // Names left, numbers right; long names are cut to keep the table narrow.
  WriteColumns(Out, Table, [TextColumns](std::size_t Column) { return Column >= TextColumns; });
}

std::vector<TStatistic> ReportStatistics(const std::vector<TReportRow>& Rows, std::string& Error) {
  std::vector<TStatistic> Statistics;
  std::map<std::string, int> Seen;
  for (const TReportRow& R : Rows) {
    if (++Seen[R.Name] == 2) {
      Error = "two blocks are named " + R.Name +
              "; replications need distinct block names to tell their statistics apart";
      return {};
    }
    for (const std::string& Column : ReportColumnsOf(R))
      Statistics.push_back({R.Name, R.Class, R.Kind, Column});
    // The blocks that keep priority classes: priority blocks, servers,
    // storages, terminators and assemblers (the batch blocks with times).
    const bool Classes = R.MinPrty || R.Kind == TReportKind::Server ||
                         R.Kind == TReportKind::Storage || R.Kind == TReportKind::Terminator ||
                         (R.Kind == TReportKind::Batch && R.MeanTime);
    if (!Classes) continue;
    // The columns a class's line keeps.
    TReportRow Class;
    Class.Kind = R.Kind;
    Class.Prty = 0;
    Class.MeanContent = Class.MeanTime = Class.SMeanTime = 0;
    if (R.MaxTime) Class.MaxTime = 0;
    Class.PreemptExits = 0;
    if (R.TimeLimitExits) Class.TimeLimitExits = 0;
    const std::vector<std::string> Columns = ReportColumnsOf(Class);
    for (int32_t P = 0; P < 256; ++P)
      for (const std::string& Column : Columns)
        Statistics.push_back({R.Name, R.Class, R.Kind, Column, P});
  }
  return Statistics;
}

TExperiment ReplicationExperiment(const TReplicationSettings& Settings,
                                  const std::vector<TStatistic>& Statistics) {
  TExperiment E;
  // A model file chooses its engine itself (the loader's default, or what
  // the file says).
  E.ScalableEngine = false;
  // Each replication parses the text again onto its own form: the runner
  // owns the form, so the model and its streams are the replication's, and
  // it seeds the streams after the builder returns.
  const std::string Text = Settings.Text, Path = Settings.Path;
  E.Build = [Text, Path](TReplicationContext& C) -> TModel* {
    std::vector<std::string> Errors;
    auto File = LoadModelText(Text, Path, THandlerTable{}, Errors, *C.Form);
    if (!File)
      throw std::runtime_error(Errors.empty() ? Path + ": the model did not load" : Errors.front());
    return File->Model();
  };
  E.Replications = Settings.Replications;
  E.Jobs = Settings.Jobs;
  E.Level = Settings.Level;
  E.WarmUp = Settings.Warmup;
  // The runner ends at WarmUp + RunLength; the run length is nudged by ulps
  // until that sum is Until itself, as in a single run to Until.
  double Length = Settings.Until - Settings.Warmup;
  for (int i = 0; i < 8 && E.WarmUp + Length < Settings.Until; ++i)
    Length = std::nextafter(Length, HUGE_VAL);
  for (int i = 0; i < 8 && E.WarmUp + Length > Settings.Until && Length > 0; ++i)
    Length = std::nextafter(Length, 0.0);
  E.RunLength = Length;
  for (const TStatistic& S : Statistics) {
    if (S.Origin == TOrigin::Collected) continue; // the runner adds these itself
    if (S.Origin == TOrigin::Tabulator) {
      TFigureSpec F = TFigureSpec::User(S.Block + " " + S.Column, S.Compute);
      F.Block = S.Block;
      F.Column = S.Column;
      E.Figures.push_back(std::move(F));
    } else {
      E.Figures.push_back(S.Prty < 0 ? TFigureSpec::Report(S.Block, S.Column)
                                     : TFigureSpec::ReportClass(S.Block, S.Prty, S.Column));
    }
  }
  E.Streams.BaseSeed = Settings.BaseSeed;
  E.Streams.Seeding = TSeeding::Name;
  E.Streams.StreamSlots = std::max(1, TStreamPlan::SlotsForNames(Settings.StreamNames));
  const int64_t Period = TMultiRand::Modulus - 1;
  const int64_t Segments = int64_t(Settings.Replications) * E.Streams.StreamSlots;
  int64_t Stride = 1;
  while (Segments > 0 && Stride * 2 <= Period / Segments)
    Stride *= 2;
  E.Streams.StreamStride = Stride;
  return E;
}

void PrintReplicatedReport(const TReplicatedReport& Report, std::ostream& Out) {
  const TExperimentResult& R = Report.Result;
  if (!Report.Title.empty()) Out << Report.Title << '\n';
  const size_t Runs = R.Replications.size();
  Out << Runs << " replication" << (Runs == 1 ? "" : "s") << ", " << R.Failed << " failed; ";
  if (R.WarmUp > 0) Out << "warm-up " << Number(R.WarmUp) << ", ";
  Out << "until " << Number(Report.Until) << "; means with " << Number(R.Level * 100)
      << " % confidence intervals\n";
  // One section per kind of block, then the tabulators, then the
  // collected values.
  auto Section = [&](auto Belongs) {
    std::vector<std::vector<std::string>> Table{
        {"Block", "Class", "Statistic", "Mean", "+-", "Std dev", "Min", "Max", "n"}};
    for (size_t f = 0; f < Report.Statistics.size() && f < R.Figures.size(); ++f) {
      const TStatistic& S = Report.Statistics[f];
      const TFigureResult& F = R.Figures[f];
      if (!Belongs(S) || !Shown(S, F)) continue;
      const TSummary& M = F.Summary;
      Table.push_back({S.Prty < 0 ? S.Block : "  priority " + std::to_string(S.Prty),
                       S.Prty < 0 ? S.Class : "", S.Column, Number(M.Mean), Number(M.HalfWidth),
                       Number(M.StdDev), Number(M.Min), Number(M.Max), std::to_string(M.N)});
    }
    return Table;
  };
  for (const TReportSectionInfo& Kind : ReportSections())
    PrintSection(Kind.Title,
                 Section([&Kind](const TStatistic& S) {
                   return S.Origin == TOrigin::Block && S.Kind == Kind.Kind;
                 }),
                 Out);
  PrintSection("Tabulators",
               Section([](const TStatistic& S) { return S.Origin == TOrigin::Tabulator; }), Out);
  PrintSection("Collected values",
               Section([](const TStatistic& S) { return S.Origin == TOrigin::Collected; }), Out);
}

void PrintReplicatedCsv(const TReplicatedReport& Report, std::ostream& Out) {
  const TExperimentResult& R = Report.Result;
  Out << "block,class,statistic,mean,half_width,std_dev,min,max,n,missing,level,priority\n";
  for (size_t f = 0; f < Report.Statistics.size() && f < R.Figures.size(); ++f) {
    const TStatistic& S = Report.Statistics[f];
    const TSummary& M = R.Figures[f].Summary;
    if (!Reported(S, R.Figures[f])) continue;
    Out << CsvText(S.Block) << ',' << CsvText(S.Class) << ',' << CsvText(S.Column) << ','
        << ExactText(M.Mean) << ',' << ExactText(M.HalfWidth) << ',' << ExactText(M.StdDev) << ','
        << ExactText(M.Min) << ',' << ExactText(M.Max) << ',' << M.N << ',' << R.Figures[f].Missing
        << ',' << ExactText(R.Level) << ','
        << (S.Prty < 0 ? "" : std::to_string(S.Prty)) << '\n';
  }
}

void PrintReplicatedJson(const TReplicatedReport& Report, std::ostream& Out) {
  const TExperimentResult& R = Report.Result;
  Out << "{\"title\":" << JsonString(Report.Title) << ",\"level\":" << JsonNumber(R.Level)
      << ",\"warmup\":" << JsonNumber(R.WarmUp) << ",\"until\":" << JsonNumber(Report.Until)
      << ",\"replications\":" << R.Replications.size() << ",\"failed\":" << R.Failed
      << ",\"statistics\":[";
  bool First = true;
  for (size_t f = 0; f < Report.Statistics.size() && f < R.Figures.size(); ++f) {
    const TStatistic& S = Report.Statistics[f];
    const TSummary& M = R.Figures[f].Summary;
    if (!Reported(S, R.Figures[f])) continue;
    Out << (First ? "" : ",") << "{\"block\":" << JsonString(S.Block);
    First = false;
    if (S.Prty >= 0) Out << ",\"priority\":" << S.Prty;
    Out << ",\"class\":" << JsonString(S.Class) << ",\"statistic\":" << JsonString(S.Column)
        << ",\"mean\":" << JsonNumber(M.Mean) << ",\"half_width\":" << JsonNumber(M.HalfWidth)
        << ",\"std_dev\":" << JsonNumber(M.StdDev) << ",\"min\":" << JsonNumber(M.Min)
        << ",\"max\":" << JsonNumber(M.Max) << ",\"n\":" << M.N
        << ",\"missing\":" << R.Figures[f].Missing << "}";
  }
  Out << "],\"failures\":";
  PrintFailuresJson(R, Out);
  Out << "}\n";
}

void TProgressLine::Show(int32_t Done, int32_t Total, double Seconds) {
  if (!FEnabled) return;
  std::string Line = FNoun + " " + std::to_string(Done) + "/" + std::to_string(Total) + ", " +
                     Duration(Seconds) + " elapsed";
  if (Done > 0 && Done < Total)
    Line += ", about " + Duration(Seconds / Done * (Total - Done)) + " left";
  // Back to the start of the line, the new text, and the rest of the old
  // line erased.
  std::cerr << '\r' << Line << "\033[K" << std::flush;
  FShown = true;
}

void TProgressLine::Clear() {
  if (!FShown) return;
  std::cerr << "\r\033[K" << std::flush;
  FShown = false;
}

} // namespace quorin::tool
