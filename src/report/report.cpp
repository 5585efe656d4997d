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
  for (const TReportColumnInfo& C : ReportColumnTable())
    if (C.Statistic == Column) {
      if (C.Whole) R.*C.Whole = static_cast<int32_t>(V);
      if (C.Real) R.*C.Real = V;
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

// The index of the column of that title in ReportColumnTable() and in Cells.
std::size_t ColumnAt(const std::string& Title) {
  const auto& Table = ReportColumnTable();
  for (std::size_t c = 0; c < Table.size(); ++c)
    if (Table[c].Title == Title) return c;
  return Table.size(); // never: the titles below are the table's
}

using TCol = std::size_t;
const TCol CBlock = 0, CClass = 1, CCount = 2, CExits = 4;

// The cells of a line as the CSV gives them: a class's line is named by its
// block.
std::vector<std::string> RawCells(const TReportRow& R, int Decimals) {
  std::vector<std::string> Row;
  for (const TReportColumnInfo& C : ReportColumnTable())
    if (C.Text)
      Row.push_back(&C == &ReportColumnTable()[CBlock] ? R.Name : R.Class);
    else if (C.Counter)
      Row.push_back(std::to_string(R.*C.Counter));
    else if (C.Whole)
      Row.push_back(Cell(R.*C.Whole, Decimals));
    else
      Row.push_back(Cell(R.*C.Real, Decimals));
  return Row;
}

// The cells of a line of the text report: a class's line is named by its
// priority, under its block's line.
std::vector<std::string> Cells(const TReportRow& R, int Decimals) {
  std::vector<std::string> Row = RawCells(R, Decimals);
  if (R.Prty) {
    Row[CBlock] = "  priority " + std::to_string(*R.Prty);
    Row[CClass] = "";
    // A terminator's or an assembler's class counts what it finished with.
    if (R.Kind == TReportKind::Terminator || R.Kind == TReportKind::Batch)
      Row[CCount] = Row[CExits] = "";
  }
  return Row;
}

// Counts of special exits are shown only when some block of the section had
// one; a column of zeros would say nothing.
bool ShownWhenZero(TCol C) {
  return ReportColumnTable()[C].ShownWhenZero;
}

} // namespace

std::optional<long double> TReportColumnInfo::Value(const TReportRow& Row) const {
  if (Counter) return Row.*Counter;
  if (Whole) {
    if (!(Row.*Whole)) return std::nullopt;
    return *(Row.*Whole);
  }
  if (Real) return Row.*Real;
  return std::nullopt;
}

const std::vector<TReportColumnInfo>& ReportColumnTable() {
  using R = TReportRow;
  using S = TReportColumn;
  static const std::vector<TReportColumnInfo> Table = {
      {.Title = "Block", .Text = true},
      {.Title = "Class", .Text = true},
      {.Title = "Count", .Counter = &R::Count},
      {.Title = "Entries", .Counter = &R::Entries},
      {.Title = "Exits", .Counter = &R::Exits},
      {.Title = "Mean cont.", .Statistic = S::MeanContent, .Real = &R::MeanContent},
      {.Title = "Max", .Statistic = S::MaxContent, .Whole = &R::MaxContent},
      {.Title = "Usage", .Statistic = S::Usage, .Real = &R::Usage},
      {.Title = "Mean time", .Statistic = S::MeanTime, .Real = &R::MeanTime},
      {.Title = "S-mean time", .Statistic = S::SMeanTime, .Real = &R::SMeanTime},
      {.Title = "Zero entr.", .Statistic = S::ZeroEntries, .Whole = &R::ZeroEntries},
      {.Title = "Preempt",
       .ShownWhenZero = false,
       .Statistic = S::PreemptExits,
       .Whole = &R::PreemptExits},
      {.Title = "Time limit",
       .ShownWhenZero = false,
       .Statistic = S::TimeLimitExits,
       .Whole = &R::TimeLimitExits},
      {.Title = "Min prty", .Statistic = S::MinPrty, .Whole = &R::MinPrty},
      {.Title = "Max prty", .Statistic = S::MaxPrty, .Whole = &R::MaxPrty},
      {.Title = "Mean interval", .Statistic = S::MeanInterval, .Real = &R::MeanInterval},
      {.Title = "Max time", .Statistic = S::MaxTime, .Real = &R::MaxTime},
      {.Title = "Utilisation", .Statistic = S::Utilisation, .Real = &R::Utilisation},
  };
  return Table;
}

const std::vector<TReportSectionInfo>& ReportSections() {
  struct TWritten {
    TReportKind Kind;
    const char* Name;
    const char* Title;
    std::vector<const char*> Columns;
  };
  static const std::vector<TReportSectionInfo> Sections = [] {
    const TWritten Written[] = {
        {TReportKind::Generator, "Generator", "Generators",
         {"Block", "Class", "Exits", "Mean interval"}},
        {TReportKind::Queue,
         "Queue",
         "Queues, stacks and priority queues",
         {"Block", "Class", "Count", "Entries", "Exits", "Mean cont.", "Max", "Usage", "Mean time",
          "S-mean time", "Zero entr.", "Preempt", "Time limit", "Min prty", "Max prty"}},
        {TReportKind::Server,
         "Server",
         "Servers",
         {"Block", "Class", "Count", "Entries", "Exits", "Mean cont.", "Max", "Usage",
          "Utilisation", "Mean time", "Zero entr.", "Preempt"}},
        {TReportKind::Storage,
         "Storage",
         "Storages and priority storages",
         {"Block", "Class", "Count", "Entries", "Exits", "Mean cont.", "Max", "Usage",
          "Utilisation", "Mean time", "S-mean time", "Zero entr.", "Preempt", "Min prty",
          "Max prty"}},
        {TReportKind::Gate, "Gate", "Gates", {"Block", "Class", "Count", "Entries", "Exits"}},
        {TReportKind::Batch,
         "Batch",
         "Dividers, assemblers and creators",
         {"Block", "Class", "Count", "Entries", "Exits", "Mean time", "Max time"}},
        {TReportKind::Terminator,
         "Terminator",
         "Terminators",
         {"Block", "Class", "Entries", "Mean time", "Max time"}},
        {TReportKind::Other,
         "Other",
         "Other blocks",
         {"Block", "Class", "Count", "Entries", "Exits"}},
    };
    std::vector<TReportSectionInfo> All;
    for (const TWritten& W : Written) {
      TReportSectionInfo Section{W.Kind, W.Name, W.Title, {}};
      for (const char* Title : W.Columns)
        Section.Columns.push_back(ColumnAt(Title));
      All.push_back(std::move(Section));
    }
    return All;
  }();
  return Sections;
}

std::vector<std::string> ReportColumnsOf(const TReportRow& Row) {
  std::vector<std::string> Titles;
  const std::vector<std::string> Text = Cells(Row, 4);
  for (const TReportSectionInfo& Section : ReportSections())
    if (Section.Kind == Row.Kind)
      for (TCol C : Section.Columns)
        if (!ReportColumnTable()[C].Text && !Text[C].empty())
          Titles.push_back(ReportColumnTable()[C].Title);
  return Titles;
}

std::string ReportSectionTitle(TReportKind Kind) {
  for (const TReportSectionInfo& Section : ReportSections())
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
  for (const TReportColumnInfo& C : ReportColumnTable())
    if (C.Statistic == Column) return C.Title;
  return "";
}

void PrintReport(const TModel& Model, std::ostream& Out) {
  const std::vector<TReportRow> Rows = CollectReport(Model);
  Out << "Model time " << Fixed(ModelTime(), 4) << '\n';
  const auto& Columns = ReportColumnTable();
  const TCol CMinPrty = ColumnAt("Min prty"), CMaxPrty = ColumnAt("Max prty");
  for (const TReportSectionInfo& Section : ReportSections()) {
    std::vector<std::vector<std::string>> Table;
    for (const TReportRow& R : Rows)
      if (R.Kind == Section.Kind) {
        Table.push_back(Cells(R, 4));
        for (const TReportRow& C : R.Classes)
          Table.push_back(Cells(C, 4));
      }
    if (Table.empty()) continue;
    std::vector<TCol> Cols;
    for (TCol C : Section.Columns) {
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
    auto Title = [&](TCol C) { return C == CMinPrty ? std::string("Prty") : Columns[C].Title; };
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
    NarrowToFit(Width, std::strlen(Gap), [&](std::size_t i) { return Columns[Cols[i]].Text; });
    auto Line = [&](auto CellAt) {
      std::string Text;
      for (std::size_t i = 0; i < Cols.size(); ++i) {
        const std::string S = CutText(CellAt(Cols[i]), Width[i]);
        const std::string Pad(Width[i] - S.size(), ' ');
        Text += i ? Gap : "";
        Text += Columns[Cols[i]].Text ? S + Pad : Pad + S;
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
  const auto& Columns = ReportColumnTable();
  for (std::size_t c = 0; c < Columns.size(); ++c)
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
