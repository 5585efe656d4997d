#include <gtest/gtest.h>

#include <sstream>

#include "blocks/fixture.h"
#include "quorin/detail/future.h"
#include "quorin/output.h"
#include "quorin/report.h"

using namespace quorin;

namespace {

// The lines of the model's report as CSV.
std::vector<std::string> CsvRows(const TModel& Model) {
  std::ostringstream Out;
  PrintReportCsv(Model, Out);
  std::istringstream Lines(Out.str());
  std::vector<std::string> Rows;
  for (std::string L; std::getline(Lines, L);)
    Rows.push_back(L);
  return Rows;
}

// Door makes a transaction at 1, 3, 5 and 7; Line holds each for 2 time
// units behind a gate that a scheduler opens in between; Exit destroys them.
class Report : public test::BlockTest {
protected:
  void SetUp() override {
    auto* Door = Make<TGenerator>("Door");
    auto* Line = Make<TQueue>("Line, main");
    auto* Exit = Make<TTerminator>("Exit");
    Door->OnBeforeTimeGoOn = [Door](TAggregate*) { Door->NextTime(1); };
    Door->OnAfterGeneration = [Door](TBlock*, TTransaction*) {
      if (FSysTime < 7) Door->NextTime(2);
    };
    Door->OnRouting = [Line](TBlock* S, TTransaction*) { S->PassTo(Line); };
    Line->OnEnter = [Line](TBlock*, TTransaction*) { Line->NextTime(2); };
    Line->OnTimeFinish = [Exit](TBlock* S, TTransaction*) { S->PassTo(Exit); };
    Model->Simulate(100);
  }
};

// One table per kind of block, each with the columns its kind keeps; the
// time-limit count shows because it is not zero, the preempt count does not.
// The queues' table, 100 columns wide in one line even with one space
// between columns, has its titles in two lines.
TEST_F(Report, TextReportHasOneAlignedSectionPerKindOfBlock) {
  std::ostringstream Out;
  PrintReport(*Model, Out);
  EXPECT_EQ(Out.str(), "Model time 9.0000\n"
                       "\n"
                       "Generators\n"
                       "Block  Class       Exits  Mean interval\n"
                       "Door   TGenerator      4         2.0000\n"
                       "\n"
                       "Queues, stacks and priority queues\n"
                       "                                             Mean                 Mean  "
                       "S-mean   Zero   Time\n"
                       "Block       Class   Count  Entries  Exits   cont.  Max   Usage    time    "
                       "time  entr.  limit\n"
                       "Line, main  TQueue      0        4      4  0.8889    2  0.8889  2.0000  "
                       "2.0000      1      4\n"
                       "\n"
                       "Terminators\n"
                       "Block  Class        Entries  Mean time  Max time\n"
                       "Exit   TTerminator        4     2.0000    2.0000\n");
}

TEST_F(Report, CsvHasEveryStatisticOfTheClassAndQuotesNames) {
  const std::vector<std::string> Rows = CsvRows(*Model);
  // One header line and nothing above it, so that readers of CSV take it as
  // the header; the model time is a column.
  ASSERT_EQ(Rows.size(), 4u);
  EXPECT_EQ(Rows[0], "Block,Class,Count,Entries,Exits,Mean cont.,Max,Usage,Mean time,S-mean time,"
                     "Zero entr.,Preempt,Time limit,Min prty,Max prty,Mean interval,Max time,"
                     "Utilisation,Priority,Model time");
  EXPECT_EQ(Rows[1], "Door,TGenerator,0,0,4,,,,,,,,,,,2.0000000000,,,,9.0000000000");
  // Four stays of 2 over 9 time units, each routed on by its time limit. At
  // 3, 5 and 7 the next arrival comes before the expiry planned after it.
  EXPECT_EQ(Rows[2], "\"Line, main\",TQueue,0,4,4,0.8888888889,2,0.8888888889,2.0000000000,"
                     "2.0000000000,1,0,4,,,,,,,9.0000000000");
  // The terminator's time in system: made at 1, 3, 5, 7, ended 2 later.
  EXPECT_EQ(Rows[3], "Exit,TTerminator,0,4,0,,,,2.0000000000,,,,,,,,2.0000000000,,,9.0000000000");
}

// A queue that nobody left has no mean time: "-" in the text, empty in CSV
// (a 0 would read as "no waiting"); a generator with one arrival has no
// interval. The closing line counts what is still inside.
TEST(ReportMeans, ABlockThatNobodyLeftHasNoMean) {
  TComponent App(nullptr);
  auto* Form = new TComponent(&App);
  auto* Model = new TModel(Form);
  auto* Door = new TGenerator(Form);
  auto* Pile = new TQueue(Form);
  Door->SetName("Door");
  Pile->SetName("Pile");
  Door->OnBeforeTimeGoOn = [](TAggregate* Self) { Self->NextTime(1); };
  Door->OnRouting = [Pile](TBlock* S, TTransaction*) { S->PassTo(Pile); };
  Model->Simulate(5); // one arrival at 1, then nothing is planned
  std::ostringstream Text, Csv;
  PrintReport(*Model, Text);
  EXPECT_NE(Text.str().find("Door   TGenerator      1              -\n"), std::string::npos)
      << Text.str();
  EXPECT_NE(Text.str().find("       -            -           1\n"), std::string::npos) << Text.str();
  EXPECT_NE(Text.str().find("\nStill inside at the end: 1 transaction (Pile 1)\n"),
            std::string::npos)
      << Text.str();
  PrintReportCsv(*Model, Csv);
  EXPECT_NE(Csv.str().find("\nDoor,TGenerator,0,0,1,,,,,,,,,,,,,,,1.0"), std::string::npos) << Csv.str();
  EXPECT_NE(Csv.str().find("\nPile,TQueue,1,1,0,0.0000000000,1,0.0000000000,,,1,0,0,,,,,,,1.0"),
            std::string::npos)
      << Csv.str();
}

// The blocks without residence statistics show their counts; the priority
// queue also shows its classes present. A creator makes 2 at 1, a divider
// splits each into 3, an assembler joins them by 4 (one set, two left
// gathering), and the set waits in the queue with its priority 7 beside one
// of priority 2: the queue's line is followed by one line per class.
TEST(ReportBlocks, CountsAndPriorityClasses) {
  TComponent App(nullptr);
  auto* Form = new TComponent(&App);
  auto* Model = new TModel(Form);
  auto Named = [Form](auto* B, const char* Name) {
    B->SetName(Name);
    return B;
  };
  auto* C = Named(new TCreator(Form), "C");
  auto* D = Named(new TDivider(Form), "D");
  auto* A = Named(new TAssembler(Form), "A");
  auto* Q = Named(new TQueuePrty(Form), "Q");
  auto* S = new TScheduler(Form);
  D->SetCapacity(3);
  A->SetCapacity(4);
  S->OnBeforeTimeGoOn = [](TAggregate* Self) { Self->NextTime(1); };
  S->OnPlanned = [C](TAggregate*) { C->Generate(2); };
  C->OnAfterGeneration = [](TBlock*, TTransaction* T) { T->SetPrty(7); };
  C->OnRouting = [D](TBlock* Sender, TTransaction*) { Sender->PassTo(D); };
  D->OnRouting = [A](TBlock* Sender, TTransaction*) { Sender->PassTo(A); };
  A->OnRouting = [Q](TBlock* Sender, TTransaction*) { Sender->PassTo(Q); };
  auto* G = Named(new TGenerator(Form), "G");
  G->OnBeforeTimeGoOn = [](TAggregate* Self) { Self->NextTime(2); };
  G->OnAfterGeneration = [](TBlock*, TTransaction* T) { T->SetPrty(2); };
  G->OnRouting = [Q](TBlock* Sender, TTransaction*) { Sender->PassTo(Q); };
  Model->Simulate(10);
  const std::vector<std::string> Rows = CsvRows(*Model);
  ASSERT_EQ(Rows.size(), 8u);
  const std::string Time = "2.0000000000"; // the run ends when nothing is planned
  EXPECT_EQ(Rows[1], "C,TCreator,0,0,2,,,,,,,,,,,,,,," + Time);
  EXPECT_EQ(Rows[2], "D,TDivider,0,2,6,,,,,,,,,,,,,,," + Time);
  // The assembler joined the 4 parts of its set at once: waits of 0.
  EXPECT_EQ(Rows[3], "A,TAssembler,2,6,1,,,,0.0000000000,,,,,,,,0.0000000000,,," + Time);
  EXPECT_EQ(Rows[4].substr(0, 17), "Q,TQueuePrty,2,2,");
  const std::string QEnd = ",0,2,7,,,,," + Time;
  EXPECT_EQ(Rows[4].substr(Rows[4].size() - QEnd.size()), QEnd);
  // One line per class: class 2 arrived at 2, when the run ends; class 7
  // waits since 1. Neither has left, so neither has a mean time.
  EXPECT_EQ(Rows[5], "Q,TQueuePrty,1,1,0,0.0000000000,,,,,,0,0,,,,,,2," + Time);
  EXPECT_EQ(Rows[6], "Q,TQueuePrty,1,1,0,0.5000000000,,,,,,0,0,,,,,,7," + Time);
  EXPECT_EQ(Rows[7], "G,TGenerator,0,0,1,,,,,,,,,,,,,,," + Time);
  // The text shows the classes in one column, as one other than 0 is held,
  // and the table stays narrow, its lines of classes included.
  std::ostringstream Text;
  PrintReport(*Model, Text);
  EXPECT_NE(Text.str().find(" Prty\n"), std::string::npos) << Text.str();
  EXPECT_NE(Text.str().find(" 2..7\n"), std::string::npos) << Text.str();
  EXPECT_NE(Text.str().find("\n  priority 2 "), std::string::npos) << Text.str();
  EXPECT_NE(Text.str().find("\n  priority 7 "), std::string::npos) << Text.str();
  std::istringstream TextLines(Text.str());
  for (std::string L; std::getline(TextLines, L);)
    EXPECT_LT(L.size(), 100u) << L;
}

// Without a class other than 0 the priority queue's table leaves the
// classes out and stays under 100 columns with its special exits shown.
TEST(ReportBlocks, PriorityClassesOnlyWhenSomeClassIsNotZero) {
  TComponent App(nullptr);
  auto* Form = new TComponent(&App);
  auto* Model = new TModel(Form);
  auto* G = new TGenerator(Form);
  auto* Q = new TQueuePrty(Form);
  G->SetName("Arrivals");
  Q->SetName("WaitingLine");
  G->OnBeforeTimeGoOn = [](TAggregate* Self) { Self->NextTime(1); };
  G->OnAfterGeneration = [](TBlock* Self, TTransaction*) { Self->NextTime(1); };
  G->OnRouting = [Q](TBlock* S, TTransaction*) { S->PassTo(Q); };
  Model->Simulate(20);
  std::ostringstream Text;
  PrintReport(*Model, Text);
  EXPECT_EQ(Text.str().find(" Prty\n"), std::string::npos) << Text.str();
  std::istringstream Lines(Text.str());
  for (std::string L; std::getline(Lines, L);)
    EXPECT_LT(L.size(), 100u) << L;
}

} // namespace

namespace {

// Long block names are cut (start and end kept) so that the text tables stay
// under 100 columns; CSV keeps them whole.
TEST(ReportBlocks, LongNamesAreCutInTheTextTablesOnly) {
  TComponent App(nullptr);
  auto* Form = new TComponent(&App);
  auto* Model = new TModel(Form);
  auto* G = new TGenerator(Form);
  auto* Q = new TQueue(Form);
  const std::string Long = "Assembly_line_" + std::string(60, 'x') + "_waiting_area_7";
  G->SetName("Arrivals");
  Q->SetName(Long);
  G->OnBeforeTimeGoOn = [](TAggregate* Self) { Self->NextTime(1); };
  G->OnAfterGeneration = [](TBlock* Self, TTransaction*) { Self->NextTime(1); };
  G->OnRouting = [Q](TBlock* S, TTransaction*) { S->PassTo(Q); };
  Q->OnEnter = [Q](TBlock*, TTransaction*) { Q->NextTime(0.5); };
  Model->Simulate(20);
  std::ostringstream Text;
  PrintReport(*Model, Text);
  std::istringstream Lines(Text.str());
  bool Cut = false;
  for (std::string L; std::getline(Lines, L);) {
    EXPECT_LT(L.size(), 100u) << L;
    Cut = Cut || (L.rfind("Assembly_line", 0) == 0 && L.find("...") != std::string::npos &&
                  L.find("_area_7 TQueue") != std::string::npos);
  }
  EXPECT_TRUE(Cut) << Text.str();
  EXPECT_EQ(Text.str().find(Long), std::string::npos);
  EXPECT_EQ(CsvRows(*Model)[2].rfind(Long + ",TQueue,", 0), 0u);

  // The runner's tables: the name column gives way, the numbers stay whole.
  std::ostringstream Table;
  WriteColumns(Table,
               {{"Figure", "Mean", "+-", "Low", "High", "Std dev", "Min", "Max", "n"},
                {Long + ".Mean time", "123456", "1234.56", "123456", "123456", "1234.56", "123456",
                 "123456", "100"}},
               [](std::size_t Column) { return Column > 0; });
  std::istringstream Rows(Table.str());
  for (std::string L; std::getline(Rows, L);)
    EXPECT_LT(L.size(), 100u) << L;
  EXPECT_NE(Table.str().find(".Mean time  123456  1234.56"), std::string::npos) << Table.str();
  EXPECT_EQ(CutText("Short", 12), "Short");
  EXPECT_EQ(CutText("abcdefghijklmnop", 12), "abcde...mnop");
}

} // namespace
