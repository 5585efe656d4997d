#include "quorin/report.h"

#include <cxxabi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <typeinfo>

namespace quorin {

std::string ClassNameOf(const TAggregate& Aggregate) {
  const char* Mangled = typeid(Aggregate).name();
  int Status = 0;
  std::unique_ptr<char, void (*)(void*)> Plain(
      abi::__cxa_demangle(Mangled, nullptr, nullptr, &Status), std::free);
  std::string Name = Status == 0 && Plain ? Plain.get() : Mangled;
  const std::string Prefix = "quorin::";
  if (Name.rfind(Prefix, 0) == 0) Name.erase(0, Prefix.size());
  return Name;
}

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
    if (auto* Q = dynamic_cast<TProQueue*>(B)) {
      R.MeanContent = Q->AverageCount();
      R.MaxContent = Q->MaxCount();
      R.Usage = Q->Usage();
      R.MeanTime = Q->AverageTime();
      R.SMeanTime = Q->SAverageTime();
      R.ZeroEntries = Q->ZeroEntries();
      R.PreemptExits = Q->PreemptExits();
    }
    if (auto* Q = dynamic_cast<TQueue*>(B)) R.TimeLimitExits = Q->TimeLimitExits();
    if (auto* G = dynamic_cast<TGenerator*>(B)) R.MeanInterval = G->AverageTime();
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
    {"Block", true},       {"Class", true},          {"Count", false},      {"Entries", false},
    {"Exits", false},      {"Mean cont.", false},    {"Max", false},        {"Usage", false},
    {"Mean time", false},  {"S-mean time", false},   {"Zero entr.", false}, {"Preempt", false},
    {"Time limit", false}, {"Mean interval", false},
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

std::vector<std::string> Cells(const TReportRow& R, int Decimals) {
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
          Cell(R.MeanInterval, Decimals)};
}

// CSV quoting for names that hold a separator, a quote or a line break.
std::string CsvField(const std::string& S) {
  if (S.find_first_of(",\"\n\r") == std::string::npos) return S;
  std::string Quoted = "\"";
  for (char C : S) {
    if (C == '"') Quoted += '"';
    Quoted += C;
  }
  return Quoted + "\"";
}

} // namespace

void PrintReport(const TModel& Model, std::ostream& Out) {
  constexpr std::size_t N = std::size(Columns);
  std::vector<std::vector<std::string>> Table;
  for (const TReportRow& R : CollectReport(Model))
    Table.push_back(Cells(R, 4));
  std::size_t Width[N];
  for (std::size_t c = 0; c < N; ++c) {
    Width[c] = std::char_traits<char>::length(Columns[c].Title);
    for (const auto& Row : Table)
      Width[c] = std::max(Width[c], Row[c].size());
  }
  auto Line = [&](auto CellAt) {
    std::string Text;
    for (std::size_t c = 0; c < N; ++c) {
      const std::string S = CellAt(c);
      const std::string Pad(Width[c] - S.size(), ' ');
      Text += c ? "  " : "";
      Text += Columns[c].Left ? S + Pad : Pad + S;
    }
    while (!Text.empty() && Text.back() == ' ')
      Text.pop_back();
    Out << Text << '\n';
  };
  Out << "Model time " << Fixed(ModelTime(), 4) << '\n';
  Line([](std::size_t c) { return std::string(Columns[c].Title); });
  for (const auto& Row : Table)
    Line([&Row](std::size_t c) { return Row[c]; });
}

void PrintReportCsv(const TModel& Model, std::ostream& Out) {
  Out << "Model time," << Fixed(ModelTime(), 10) << '\n';
  for (std::size_t c = 0; c < std::size(Columns); ++c)
    Out << (c ? "," : "") << Columns[c].Title;
  Out << '\n';
  for (const TReportRow& R : CollectReport(Model)) {
    const auto Row = Cells(R, 10);
    for (std::size_t c = 0; c < Row.size(); ++c)
      Out << (c ? "," : "") << CsvField(Row[c]);
    Out << '\n';
  }
}

} // namespace quorin
