// The standard report: every gathered block's counts and the statistics its
// class keeps, as an aligned text table or as CSV.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "quorin/blocks.h"
#include "quorin/classinfo.h"

namespace quorin {

// One block's line. Statistics a class does not keep are empty; which it
// keeps, and its Kind, its class's description says (quorin/classinfo.h).
// A mean of no observations is NaN.
struct TReportRow {
  std::string Name;
  std::string Class;
  TReportKind Kind = TReportKind::Other;
  int32_t Count = 0;
  int32_t Entries = 0;
  int32_t Exits = 0;
  std::optional<long double> MeanContent;
  std::optional<int32_t> MaxContent;
  std::optional<long double> Usage;
  std::optional<long double> MeanTime;
  std::optional<long double> SMeanTime;
  std::optional<int32_t> ZeroEntries;
  std::optional<int32_t> PreemptExits;
  std::optional<int32_t> TimeLimitExits;
  // Priority blocks: the lowest and highest priority of the classes present.
  std::optional<int32_t> MinPrty;
  std::optional<int32_t> MaxPrty;
  std::optional<long double> MeanInterval;
  // Terminators: the greatest time in system; assemblers: the longest wait
  // of a part at the join. (Their Mean time and S-mean time are of the
  // same times.)
  std::optional<long double> MaxTime;
  // Servers and storages: busy units over the capacity on duty.
  std::optional<long double> Utilisation;
  // Set where the capacity on duty changed during the statistics (a
  // schedule): its mean, which Utilisation is measured over.
  std::optional<long double> MeanDutyCapacity;
  // A line of one priority class: its priority. The class's line keeps
  // Count, Entries, Exits, Mean cont., Mean time, S-mean time, Preempt and
  // Time limit of that class alone (a terminator's and an assembler's:
  // Entries, Exits, Mean time and Max time of the transactions or parts
  // of that class it finished with; Count 0).
  std::optional<int32_t> Prty;
  // The block's priority classes, in ascending priority, when it saw more
  // than one since its statistics were last cleared (priority blocks,
  // servers, storages, terminators, assemblers); empty otherwise.
  std::vector<TReportRow> Classes;
};

// One column of the standard report. The report, its CSV, the page, the
// experiment runner's tables and the Python module read their columns from
// ReportColumnTable(): a new statistic is a value of TReportColumn, a member
// of TReportRow, one line of the table and its place in the sections.
struct TReportColumnInfo {
  std::string Title;         // "Mean cont."
  bool Text = false;         // Block and Class: words, left-aligned, no value
  bool ShownWhenZero = true; // false: counts of special exits, left out while 0
  // The statistic of the class descriptions that fills it, if any.
  std::optional<TReportColumn> Statistic = std::nullopt;
  // Where a row keeps it: exactly one of these for a column that is not Text.
  int32_t TReportRow::*Counter = nullptr; // Count, Entries, Exits: every block
  std::optional<int32_t> TReportRow::*Whole = nullptr;
  std::optional<long double> TReportRow::*Real = nullptr;

  // Whether its values are whole numbers.
  bool IsWhole() const { return Counter || Whole; }
  // The value in Row; empty where Row keeps none.
  std::optional<long double> Value(const TReportRow& Row) const;
};
// Every column, in the order of the CSV: Block, Class, Count, ..., Utilisation.
const std::vector<TReportColumnInfo>& ReportColumnTable();

// One table of the text report: which blocks, its title, its columns.
struct TReportSectionInfo {
  TReportKind Kind;
  std::string Name;                 // the kind as the page names it: "Server"
  std::string Title;                // "Servers"
  std::vector<std::size_t> Columns; // into ReportColumnTable(), in the table's order
};
// The sections in the report's order (generators first, other blocks last).
const std::vector<TReportSectionInfo>& ReportSections();

// The rows of the blocks the model gathered, in gathering order.
std::vector<TReportRow> CollectReport(const TModel& Model);
// "Model time T", then one table per kind of block present (generators;
// queues; servers; storages; gates; dividers, assemblers and creators;
// terminators; other blocks), each with the columns its kind keeps, aligned.
// Counts of special exits (Preempt, Time limit) appear only when non-zero,
// the priority classes (one column, "2..7") only when a class other than 0
// is held. A priority block that saw more than one priority class is
// followed by one line per class ("  priority P"). A table that would be
// 100 columns wide or more is set with one space between columns, then with
// its titles in two lines ("Mean" over "cont."). A mean of no observations
// (a block that nobody left) shows "-". A closing line counts the
// transactions still inside, the fullest blocks first.
void PrintReport(const TModel& Model, std::ostream& Out);
// The same rows as CSV under one header line; numbers in full precision, a
// mean of no observations empty. The lines of priority classes follow their
// block's, with the block's name and class and the priority in the column
// Priority (empty for a block); the model time is the last column.
void PrintReportCsv(const TModel& Model, std::ostream& Out);
// The statistics columns that the report keeps for Row: those of its kind's
// table that its class has, by title ("Count", "Mean time", ...), in the
// report's order, without Block and Class. The text report leaves out
// Preempt and Time limit while they are 0.
std::vector<std::string> ReportColumnsOf(const TReportRow& Row);
// The value of Column (a title as above) in Row; empty where Row keeps no
// such statistic or no column has that title.
std::optional<double> ReportValue(const TReportRow& Row, const std::string& Column);
// S as one CSV field, quoted when it holds a comma, a quote or a line
// break: the report's CSV and every other CSV the library writes.
std::string CsvText(const std::string& S);
// The title of the text report's table for Kind ("Servers", ...).
std::string ReportSectionTitle(TReportKind Kind);
// The title of Column in the report ("Mean cont.", ...).
std::string ReportColumnTitle(TReportColumn Column);

} // namespace quorin
