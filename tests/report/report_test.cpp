#include <gtest/gtest.h>

#include <sstream>

#include "blocks/fixture.h"
#include "quorin/report.h"

using namespace quorin;

namespace {

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
                       "Block       Class   Count  Entries  Exits  Mean cont.  Max   Usage  "
                       "Mean time  S-mean time  Zero entr.  Time limit\n"
                       "Line, main  TQueue      0        4      4      0.8889    2  0.8889     "
                       "2.0000       2.0000           1           4\n"
                       "\n"
                       "Terminators\n"
                       "Block  Class        Entries\n"
                       "Exit   TTerminator        4\n");
}

TEST_F(Report, CsvHasEveryStatisticOfTheClassAndQuotesNames) {
  std::ostringstream Out;
  PrintReportCsv(*Model, Out);
  std::istringstream Lines(Out.str());
  std::vector<std::string> Rows;
  for (std::string L; std::getline(Lines, L);)
    Rows.push_back(L);
  ASSERT_EQ(Rows.size(), 5u);
  EXPECT_EQ(Rows[0], "Model time,9.0000000000");
  EXPECT_EQ(Rows[1], "Block,Class,Count,Entries,Exits,Mean cont.,Max,Usage,Mean time,S-mean time,"
                     "Zero entr.,Preempt,Time limit,Min prty,Max prty,Mean interval,Priority");
  EXPECT_EQ(Rows[2], "Door,TGenerator,0,0,4,,,,,,,,,,,2.0000000000,");
  // Four stays of 2 over 9 time units, each routed on by its time limit. At
  // 3, 5 and 7 the next arrival comes before the expiry planned after it.
  EXPECT_EQ(Rows[3], "\"Line, main\",TQueue,0,4,4,0.8888888889,2,0.8888888889,2.0000000000,"
                     "2.0000000000,1,0,4,,,,");
  EXPECT_EQ(Rows[4], "Exit,TTerminator,0,4,0,,,,,,,,,,,,");
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
  std::ostringstream Out;
  PrintReportCsv(*Model, Out);
  std::istringstream Lines(Out.str());
  std::vector<std::string> Rows;
  for (std::string L; std::getline(Lines, L);)
    Rows.push_back(L);
  ASSERT_EQ(Rows.size(), 9u);
  EXPECT_EQ(Rows[2], "C,TCreator,0,0,2,,,,,,,,,,,,");
  EXPECT_EQ(Rows[3], "D,TDivider,0,2,6,,,,,,,,,,,,");
  EXPECT_EQ(Rows[4], "A,TAssembler,2,6,1,,,,,,,,,,,,");
  EXPECT_EQ(Rows[5].substr(0, 17), "Q,TQueuePrty,2,2,");
  EXPECT_EQ(Rows[5].substr(Rows[5].size() - 8), ",0,2,7,,");
  // Class 2 arrived at 2, when the run ends; class 7 waits since 1.
  EXPECT_EQ(Rows[6], "Q,TQueuePrty,1,1,0,0.0000000000,,,0.0000000000,0.0000000000,,0,0,,,,2");
  EXPECT_EQ(Rows[7], "Q,TQueuePrty,1,1,0,0.5000000000,,,0.0000000000,0.0000000000,,0,0,,,,7");
  EXPECT_EQ(Rows[8], "G,TGenerator,0,0,1,,,,,,,,,,,0.0000000000,");
  std::ostringstream Text;
  PrintReport(*Model, Text);
  EXPECT_NE(Text.str().find("\n  priority 2                  1        1      0      0.0000"), std::string::npos)
      << Text.str();
}

} // namespace
