#include "quorin/report.h"
#include "quorin/output.h"

#include <algorithm>
#include <cstdio>
#include <cmath>
#include <cstring>
#include <limits>
#include <ostream>

namespace quorin {

namespace {

// Puts a statistic the block's class keeps into its column of the row.
void Put(TReportRow& R, TReportColumn Column, long double V) {
  const auto Whole = static_cast<int32_t>(V);
  switch (Column) {
  case TReportColumn::MeanContent:
    R.MeanContent = V;
    break;
  case TReportColumn::MaxContent:
    R.MaxContent = Whole;
    break;
  case TReportColumn::Usage:
    R.Usage = V;
    break;
  case TReportColumn::MeanTime:
    R.MeanTime = V;
    break;
  case TReportColumn::SMeanTime:
    R.SMeanTime = V;
    break;
  case TReportColumn::ZeroEntries:
    R.ZeroEntries = Whole;
    break;
  case TReportColumn::PreemptExits:
    R.PreemptExits = Whole;
    break;
  case TReportColumn::TimeLimitExits:
    R.TimeLimitExits = Whole;
    break;
  case TReportColumn::MinPrty:
    R.MinPrty = Whole;
    break;
  case TReportColumn::MaxPrty:
    R.MaxPrty = Whole;
    break;
  case TReportColumn::MeanInterval:
    R.MeanInterval = V;
    break;
  case TReportColumn::MaxTime:
    R.MaxTime = V;
    break;
  case TReportColumn::Utilisation:
    R.Utilisation = V;
    break;
  }
}

const long double NoMean = std::numeric_limits<long double>::quiet_NaN();

// A mean of no observations is none: NaN, shown as "-" (a 0 would read as
// "no waiting").
void MarkMeansWithoutObservations(TReportRow& R, const TBlock& B) {
  if (auto* Q = dynamic_cast<const TProQueue*>(&B)) {
    if (R.MeanTime && Q->Exits() == 0) R.MeanTime = NoMean;
    if (R.SMeanTime && Q->NonZeroExits() == 0) R.SMeanTime = NoMean;
  }
  if (R.MeanInterval && dynamic_cast<const TGenerator*>(&B) && B.Exits() <= 1)
    R.MeanInterval = NoMean;
  // A greatest time of no observations is none either.
  const TTimeTally* Tally = nullptr;
  if (auto* T = dynamic_cast<const TTerminator*>(&B)) Tally = &T->TimesInSystem();
  if (auto* A = dynamic_cast<const TAssembler*>(&B)) Tally = &A->Waits();
  if (Tally && Tally->Count() == 0) {
    if (R.MaxTime) R.MaxTime = NoMean;
    if (R.SMeanTime) R.SMeanTime = NoMean;
  }
}

TReportRow ClassRow(const TReportRow& Block, uint8_t Prty) {
  TReportRow C;
  C.Name = Block.Name;
  C.Class = Block.Class;
  C.Kind = Block.Kind;
  C.Prty = Prty;
  return C;
}

// The lines of a terminator's or an assembler's classes.
std::vector<TReportRow> ClassRows(const TTimeTally& Tally, const TReportRow& Block) {
  std::vector<TReportRow> Rows;
  if (Tally.Classes().size() < 2) return Rows;
  for (const TPrtyStatistics& S : Tally.Classes()) {
    TReportRow C = ClassRow(Block, S.Prty);
    C.Entries = S.Entries;
    if (Block.MeanTime) C.MeanTime = S.Exits ? S.AverageTime() : NoMean;
    if (Block.SMeanTime) C.SMeanTime = S.NonZeroExits ? S.SAverageTime() : NoMean;
    if (Block.MaxTime) C.MaxTime = S.MaxTime;
    Rows.push_back(std::move(C));
  }
  return Rows;
}

// The lines of a block's classes, with the statistics of its own line that
// a class keeps too.
std::vector<TReportRow> ClassRows(TProQueue& Q, const TReportRow& Block) {
  std::vector<TReportRow> Rows;
  for (const TPrtyStatistics& S : Q.PrtyStatistics()) {
    TReportRow C;
    C.Name = Block.Name;
    C.Class = Block.Class;
    C.Kind = Block.Kind;
    C.Prty = S.Prty;
    C.Count = S.Count;
    C.Entries = S.Entries;
    C.Exits = S.Exits;
    C.MeanContent = Q.PrtyAverageCount(S.Prty);
    C.MeanTime = S.Exits ? S.AverageTime() : NoMean;
    C.SMeanTime = S.NonZeroExits ? S.SAverageTime() : NoMean;
    C.PreemptExits = S.PreemptExits;
    if (Block.TimeLimitExits) C.TimeLimitExits = S.TimeLimitExits;
    Rows.push_back(std::move(C));
  }
  return Rows;
}

} // namespace

std::vector<TReportRow> CollectReport(const TModel& Model) {
  std::vector<TReportRow> Rows;
  for (TAggregate* A : Model.Aggregates()) {
    auto* B = dynamic_cast<TBlock*>(A);
    if (!B) continue;
    TReportRow R;
    R.Name = B->DisplayName();
    R.Class = ClassNameOf(*B);
    R.Count = B->Count();
    R.Entries = B->Entries();
    R.Exits = B->Exits();
    // The class's description says which table the block goes to and which
    // statistics it keeps; a class of the application's goes by its nearest
    // described ancestor.
    const TClassInfo* Info = ClassInfoOf(*B);
    R.Kind = Info->Report == TReportKind::None ? TReportKind::Other : Info->Report;
    for (const TStatisticInfo& S : Info->Statistics)
      Put(R, S.Column, S.Get(*B));
    MarkMeansWithoutObservations(R, *B);
    if (auto* Q = dynamic_cast<TProQueue*>(B); Q && Q->PrtyStatistics().size() > 1)
      R.Classes = ClassRows(*Q, R);
    if (auto* T = dynamic_cast<TTerminator*>(B)) R.Classes = ClassRows(T->TimesInSystem(), R);
    if (auto* J = dynamic_cast<TAssembler*>(B)) R.Classes = ClassRows(J->Waits(), R);
    if (auto* Q = dynamic_cast<TProQueue*>(B); Q && R.Utilisation && Q->DutyVaried())
      R.MeanDutyCapacity = Q->MeanDutyCapacity();
    Rows.push_back(std::move(R));
  }
  return Rows;
}

namespace {

struct TColumn {
  const char* Title;
  bool Left; // text columns are left-aligned, numbers right-aligned
};

const TColumn Columns[] = {
    {"Block", true},       {"Class", true},        {"Count", false},      {"Entries", false},
    {"Exits", false},      {"Mean cont.", false},  {"Max", false},        {"Usage", false},
    {"Mean time", false},  {"S-mean time", false}, {"Zero entr.", false}, {"Preempt", false},
    {"Time limit", false}, {"Min prty", false},    {"Max prty", false},   {"Mean interval", false},
    {"Max time", false},   {"Utilisation", false},
};

std::string Fixed(long double V, int Decimals) {
  char Buffer[64];
  std::snprintf(Buffer, sizeof Buffer, "%.*Lf", Decimals, V);
  return Buffer;
}

// Decimals < 0: for CSV, full precision and a mean of no observations empty.
template <class T> std::string Cell(const std::optional<T>& V, int Decimals) {
  if (!V) return "";
  if constexpr (std::is_integral_v<T>) {
    return std::to_string(*V);
  } else {
    if (std::isnan(*V)) return Decimals < 0 ? "" : "-";
    return Fixed(*V, Decimals < 0 ? 10 : Decimals);
  }
}

// The cells of a line as the CSV gives them: a class's line is named by its
// block.
std::vector<std::string> RawCells(const TReportRow& R, int Decimals) {
  return {R.Name,
          R.Class,
          std::to_string(R.Count),
          std::to_string(R.Entries),
          std::to_string(R.Exits),
          Cell(R.MeanContent, Decimals),
          Cell(R.MaxContent, Decimals),
          Cell(R.Usage, Decimals),
          Cell(R.MeanTime, Decimals),
          Cell(R.SMeanTime, Decimals),
          Cell(R.ZeroEntries, Decimals),
          Cell(R.PreemptExits, Decimals),
          Cell(R.TimeLimitExits, Decimals),
          Cell(R.MinPrty, Decimals),
          Cell(R.MaxPrty, Decimals),
          Cell(R.MeanInterval, Decimals),
          Cell(R.MaxTime, Decimals),
          Cell(R.Utilisation, Decimals)};
}

// The cells of a line of the text report: a class's line is named by its
// priority, under its block's line.
std::vector<std::string> Cells(const TReportRow& R, int Decimals) {
  std::vector<std::string> Row = RawCells(R, Decimals);
  if (R.Prty) {
    Row[0] = "  priority " + std::to_string(*R.Prty);
    Row[1] = "";
    // A terminator's or an assembler's class counts what it finished with.
    if (R.Kind == TReportKind::Terminator || R.Kind == TReportKind::Batch) Row[2] = Row[4] = "";
  }
  return Row;
}

// Column indexes into Columns and Cells.
enum TCol : std::size_t {
  CBlock,
  CClass,
  CCount,
  CEntries,
  CExits,
  CMeanContent,
  CMax,
  CUsage,
  CMeanTime,
  CSMeanTime,
  CZeroEntries,
  CPreempt,
  CTimeLimit,
  CMinPrty,
  CMaxPrty,
  CMeanInterval,
  CMaxTime,
  CUtilisation
};

struct TSection {
  TReportKind Kind;
  const char* Title;
  std::vector<TCol> Cols;
};

const TSection Sections[] = {
    {TReportKind::Generator, "Generators", {CBlock, CClass, CExits, CMeanInterval}},
    {TReportKind::Queue,
     "Queues, stacks and priority queues",
     {CBlock, CClass, CCount, CEntries, CExits, CMeanContent, CMax, CUsage, CMeanTime, CSMeanTime,
      CZeroEntries, CPreempt, CTimeLimit, CMinPrty, CMaxPrty}},
    {TReportKind::Server,
     "Servers",
     {CBlock, CClass, CCount, CEntries, CExits, CMeanContent, CMax, CUsage, CUtilisation, CMeanTime,
      CZeroEntries, CPreempt}},
    {TReportKind::Storage,
     "Storages and priority storages",
     {CBlock, CClass, CCount, CEntries, CExits, CMeanContent, CMax, CUsage, CUtilisation, CMeanTime,
      CSMeanTime, CZeroEntries, CPreempt, CMinPrty, CMaxPrty}},
    {TReportKind::Gate, "Gates", {CBlock, CClass, CCount, CEntries, CExits}},
    {TReportKind::Batch,
     "Dividers, assemblers and creators",
     {CBlock, CClass, CCount, CEntries, CExits, CMeanTime, CMaxTime}},
    {TReportKind::Terminator, "Terminators", {CBlock, CClass, CEntries, CMeanTime, CMaxTime}},
    {TReportKind::Other, "Other blocks", {CBlock, CClass, CCount, CEntries, CExits}},
};

// Counts of special exits are shown only when some block of the section had
// one; a column of zeros would say nothing.
bool ShownWhenZero(TCol C) {
  return C != CPreempt && C != CTimeLimit;
}

} // namespace

std::vector<std::string> ReportColumnsOf(const TReportRow& Row) {
  std::vector<std::string> Titles;
  const std::vector<std::string> Text = Cells(Row, 4);
  for (const TSection& Section : Sections)
    if (Section.Kind == Row.Kind)
      for (TCol C : Section.Cols)
        if (C != CBlock && C != CClass && !Text[C].empty()) Titles.push_back(Columns[C].Title);
  return Titles;
}

std::string ReportSectionTitle(TReportKind Kind) {
  for (const TSection& Section : Sections)
    if (Section.Kind == Kind) return Section.Title;
  return "";
}

namespace {
// The transactions that the run left inside its blocks, the fullest blocks
// first: a model where they pile up shows it at a glance.
void PrintStillInside(const std::vector<TReportRow>& Rows, std::ostream& Out) {
  std::vector<const TReportRow*> Holding;
  int64_t Total = 0;
  for (const TReportRow& R : Rows)
    if (R.Count > 0) {
      Holding.push_back(&R);
      Total += R.Count;
    }
  if (Holding.empty()) return;
  std::stable_sort(Holding.begin(), Holding.end(),
                   [](const TReportRow* A, const TReportRow* B) { return A->Count > B->Count; });
  constexpr std::size_t Named = 5;
  Out << "\nStill inside at the end: " << Total << (Total == 1 ? " transaction (" : " transactions (");
  for (std::size_t i = 0; i < Holding.size() && i < Named; ++i)
    Out << (i ? ", " : "") << Holding[i]->Name << ' ' << Holding[i]->Count;
  if (Holding.size() > Named)
    Out << ", and " << Holding.size() - Named << " more block" << (Holding.size() - Named == 1 ? "" : "s");
  Out << ")\n";
}
// Blocks whose capacity on duty changed (a schedule): their Utilisation is
// over the capacity on duty at each time, Usage over the whole time.
void PrintDutyNotes(const std::vector<TReportRow>& Rows, std::ostream& Out) {
  for (const TReportRow& R : Rows)
    if (R.MeanDutyCapacity)
      Out << "\nNote: the capacity of " << R.Name
          << " changed during the run;\n      Utilisation is over the capacity on duty ("
          << Fixed(*R.MeanDutyCapacity, 4) << " on average), Usage over the whole time.\n";
}
} // namespace
std::string ReportColumnTitle(TReportColumn Column) {
  // The statistics columns stand in the order of TReportColumn, from Mean cont. on.
  return Columns[CMeanContent + static_cast<std::size_t>(Column)].Title;
}

void PrintReport(const TModel& Model, std::ostream& Out) {
  const std::vector<TReportRow> Rows = CollectReport(Model);
  Out << "Model time " << Fixed(ModelTime(), 4) << '\n';
  for (const TSection& Section : Sections) {
    std::vector<std::vector<std::string>> Table;
    for (const TReportRow& R : Rows)
      if (R.Kind == Section.Kind) {
        Table.push_back(Cells(R, 4));
        for (const TReportRow& C : R.Classes)
          Table.push_back(Cells(C, 4));
      }
    if (Table.empty()) continue;
    std::vector<TCol> Cols;
    for (TCol C : Section.Cols) {
      bool Shown = false;
      for (const auto& Row : Table)
        Shown = Shown || (!Row[C].empty() && (ShownWhenZero(C) || Row[C] != "0"));
      // The priority classes only when some block holds a class other than
      // 0: without them the table of queues stays under 100 columns.
      if (C == CMinPrty || C == CMaxPrty) {
        Shown = false;
        for (const auto& Row : Table)
          Shown = Shown || (!Row[CMinPrty].empty() && Row[CMinPrty] != "0") ||
                  (!Row[CMaxPrty].empty() && Row[CMaxPrty] != "0");
      }
      // The text puts the classes in one column, "2..7" (or "7").
      if (Shown && C != CMaxPrty) Cols.push_back(C);
    }
    for (auto& Row : Table)
      if (!Row[CMinPrty].empty() && Row[CMinPrty] != Row[CMaxPrty])
        Row[CMinPrty] += ".." + Row[CMaxPrty];
    auto Title = [](TCol C) { return std::string(C == CMinPrty ? "Prty" : Columns[C].Title); };
    // A title in two lines ("Mean" over "cont."), split at its last space; a
    // title of one word stands on the second.
    auto Upper = [&Title](TCol C) {
      const std::string T = Title(C);
      const std::size_t At = T.rfind(' ');
      return At == std::string::npos ? std::string() : T.substr(0, At);
    };
    auto Lower = [&Title](TCol C) {
      const std::string T = Title(C);
      return T.substr(T.rfind(' ') + 1); // the whole title when it has no space
    };
    // Two spaces between columns and the titles in one line; where that
    // makes a table 100 columns wide or more (a queue with every statistic,
    // its classes' lines, special exits), one space, then the titles in two
    // lines with two spaces, then with one.
    std::vector<std::size_t> Width;
    const char* Gap = "  ";
    bool TwoLines = false;
    for (int Layout = 0; Layout < 4; ++Layout) {
      TwoLines = Layout >= 2;
      Gap = Layout % 2 == 0 ? "  " : " ";
      Width.clear();
      std::size_t Total = 0;
      for (TCol C : Cols) {
        std::size_t W = TwoLines ? std::max(Upper(C).size(), Lower(C).size()) : Title(C).size();
        for (const auto& Row : Table)
          W = std::max(W, Row[C].size());
        Width.push_back(W);
        Total += W + std::strlen(Gap);
      }
      if (Total - std::strlen(Gap) < TableWidthLimit) break;
    }
    // Still too wide: long block names are cut.
    NarrowToFit(Width, std::strlen(Gap), [&Cols](std::size_t i) { return Columns[Cols[i]].Left; });
    auto Line = [&](auto CellAt) {
      std::string Text;
      for (std::size_t i = 0; i < Cols.size(); ++i) {
        const std::string S = CutText(CellAt(Cols[i]), Width[i]);
        const std::string Pad(Width[i] - S.size(), ' ');
        Text += i ? Gap : "";
        Text += Columns[Cols[i]].Left ? S + Pad : Pad + S;
      }
      while (!Text.empty() && Text.back() == ' ')
        Text.pop_back();
      Out << Text << '\n';
    };
    Out << '\n' << Section.Title << '\n';
    if (TwoLines) {
      Line(Upper);
      Line(Lower);
    } else {
      Line(Title);
    }
    for (const auto& Row : Table)
      Line([&Row](TCol C) { return Row[C]; });
  }
  PrintDutyNotes(Rows, Out);
  PrintStillInside(Rows, Out);
}

std::string CsvText(const std::string& S) {
  if (S.find_first_of(",\"\n\r") == std::string::npos) return S;
  std::string Quoted = "\"";
  for (char C : S) {
    if (C == '"') Quoted += '"';
    Quoted += C;
  }
  return Quoted + "\"";
}

void PrintReportCsv(const TModel& Model, std::ostream& Out) {
  // One header line, so that spreadsheets and data-frame readers take it as
  // such; the model time of the report is a column of every row.
  for (std::size_t c = 0; c < std::size(Columns); ++c)
    Out << (c ? "," : "") << Columns[c].Title;
  Out << ",Priority,Model time\n";
  const std::string Time = Fixed(ModelTime(), 10);
  auto Line = [&Out, &Time](const TReportRow& R) {
    const auto Row = RawCells(R, -1);
    for (std::size_t c = 0; c < Row.size(); ++c)
      Out << (c ? "," : "") << CsvText(Row[c]);
    Out << ',' << (R.Prty ? std::to_string(*R.Prty) : "") << ',' << Time << '\n';
  };
  for (const TReportRow& R : CollectReport(Model)) {
    Line(R);
    for (const TReportRow& C : R.Classes)
      Line(C);
  }
}

} // namespace quorin
