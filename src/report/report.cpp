#include "quorin/report.h"

#include <algorithm>
#include <cstdio>
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
  }
}

// The lines of a priority block's classes, with the statistics of its own
// line that a class keeps too.
std::vector<TReportRow> ClassRows(TQueuePrtyCustom& Q, const TReportRow& Block) {
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
    C.MeanTime = S.AverageTime();
    C.SMeanTime = S.SAverageTime();
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
    if (auto* Q = dynamic_cast<TQueuePrtyCustom*>(B); Q && Q->PrtyStatistics().size() > 1)
      R.Classes = ClassRows(*Q, R);
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
};

std::string Fixed(long double V, int Decimals) {
  char Buffer[64];
  std::snprintf(Buffer, sizeof Buffer, "%.*Lf", Decimals, V);
  return Buffer;
}

template <class T> std::string Cell(const std::optional<T>& V, int Decimals) {
  if (!V) return "";
  if constexpr (std::is_integral_v<T>)
    return std::to_string(*V);
  else
    return Fixed(*V, Decimals);
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
          Cell(R.MeanInterval, Decimals)};
}

// The cells of a line of the text report: a class's line is named by its
// priority, under its block's line.
std::vector<std::string> Cells(const TReportRow& R, int Decimals) {
  std::vector<std::string> Row = RawCells(R, Decimals);
  if (R.Prty) {
    Row[0] = "  priority " + std::to_string(*R.Prty);
    Row[1] = "";
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
  CMeanInterval
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
     {CBlock, CClass, CCount, CEntries, CExits, CMeanContent, CMax, CUsage, CMeanTime, CZeroEntries,
      CPreempt}},
    {TReportKind::Storage,
     "Storages and priority storages",
     {CBlock, CClass, CCount, CEntries, CExits, CMeanContent, CMax, CUsage, CMeanTime, CSMeanTime,
      CZeroEntries, CPreempt, CMinPrty, CMaxPrty}},
    {TReportKind::Gate, "Gates", {CBlock, CClass, CCount, CEntries, CExits}},
    {TReportKind::Batch,
     "Dividers, assemblers and creators",
     {CBlock, CClass, CCount, CEntries, CExits}},
    {TReportKind::Terminator, "Terminators", {CBlock, CClass, CEntries}},
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
      if (Shown) Cols.push_back(C);
    }
    std::vector<std::size_t> Width;
    for (TCol C : Cols) {
      std::size_t W = std::char_traits<char>::length(Columns[C].Title);
      for (const auto& Row : Table)
        W = std::max(W, Row[C].size());
      Width.push_back(W);
    }
    auto Line = [&](auto CellAt) {
      std::string Text;
      for (std::size_t i = 0; i < Cols.size(); ++i) {
        const std::string S = CellAt(Cols[i]);
        const std::string Pad(Width[i] - S.size(), ' ');
        Text += i ? "  " : "";
        Text += Columns[Cols[i]].Left ? S + Pad : Pad + S;
      }
      while (!Text.empty() && Text.back() == ' ')
        Text.pop_back();
      Out << Text << '\n';
    };
    Out << '\n' << Section.Title << '\n';
    Line([](TCol C) { return std::string(Columns[C].Title); });
    for (const auto& Row : Table)
      Line([&Row](TCol C) { return Row[C]; });
  }
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
  Out << "Model time," << Fixed(ModelTime(), 10) << '\n';
  for (std::size_t c = 0; c < std::size(Columns); ++c)
    Out << (c ? "," : "") << Columns[c].Title;
  Out << ",Priority\n";
  auto Line = [&Out](const TReportRow& R) {
    const auto Row = RawCells(R, 10);
    for (std::size_t c = 0; c < Row.size(); ++c)
      Out << (c ? "," : "") << CsvText(Row[c]);
    Out << ',' << (R.Prty ? std::to_string(*R.Prty) : "") << '\n';
  };
  for (const TReportRow& R : CollectReport(Model)) {
    Line(R);
    for (const TReportRow& C : R.Classes)
      Line(C);
  }
}

} // namespace quorin
