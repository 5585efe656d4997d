// The quorin command, run as a user runs it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <tuple>

#include "models.h"

namespace {

// A scratch file of this process: CTest runs the tests of this file, and
// other build folders theirs, side by side.
std::string Temp(const std::string& Name) {
  return ::testing::TempDir() + "quorin_" + std::to_string(getpid()) + "_" + Name;
}

struct TResult {
  int Status;
  std::string Out; // standard output; standard error goes to Err
  std::string Err;
};

// Runs the command with Arguments (already quoted for the shell).
TResult Quorin(const std::string& Arguments) {
  const std::string ErrFile = Temp("stderr.txt");
  const std::string Command =
      std::string("'") + QUORIN_COMMAND + "' " + Arguments + " 2>'" + ErrFile + "'";
  TResult R{-1, "", ""};
  FILE* Pipe = popen(Command.c_str(), "r");
  if (!Pipe) return R;
  char Buffer[4096];
  std::size_t N;
  while ((N = fread(Buffer, 1, sizeof Buffer, Pipe)) > 0)
    R.Out.append(Buffer, N);
  const int Raw = pclose(Pipe);
  R.Status = WIFEXITED(Raw) ? WEXITSTATUS(Raw) : -1;
  std::ifstream Err(ErrFile);
  std::stringstream S;
  S << Err.rdbuf();
  R.Err = S.str();
  std::remove(ErrFile.c_str());
  return R;
}

std::string ReadFile(const std::string& Path) {
  std::ifstream File(Path);
  std::stringstream Text;
  Text << File.rdbuf();
  return Text.str();
}

std::string Example(const char* Name) {
  return std::string("'") + QUORIN_EXAMPLES_DIR + "/" + Name + "'";
}

// Out (the command's output: a title line and a report) matches the C++
// example's output Cpp: the title is the line before the Nth report, the
// report is the same to the last digit and complete (what follows it in Cpp
// is a blank line and the figures or the next part).
void ExpectSameReport(const std::string& Out, const std::string& Cpp, int Nth,
                      const std::string& Title) {
  const std::size_t Break = Out.find('\n');
  ASSERT_NE(Break, std::string::npos) << Out;
  EXPECT_EQ(Out.substr(0, Break), Title);
  const std::string Report = Out.substr(Break + 1);
  ASSERT_EQ(Report.rfind("Model time ", 0), 0u) << Out;
  std::size_t At = std::string::npos;
  for (int i = 0; i < Nth; ++i)
    At = Cpp.find("Model time ", At == std::string::npos ? 0 : At + 1);
  ASSERT_NE(At, std::string::npos);
  EXPECT_EQ(Cpp.substr(At, Report.size()), Report);
  const std::string After = Cpp.substr(At + Report.size(), 7);
  EXPECT_TRUE(After == "\nFigure" || After == "\nBarber") << After;
}

TEST(QuorinCommand, ShowcaseFilesPrintTheReportOfTheCppModels) {
  using namespace quorin::examples;
  std::ostringstream MM1, MM3, Barber, Priority, Cobham, ForkJoin, Bus;
  RunMM1(MM1);
  RunMM3(MM3);
  RunBarber(Barber);
  RunPriority(Priority);
  RunCobham(Cobham);
  RunForkJoin(ForkJoin);
  RunBus(Bus);

  auto R = Quorin("run " + Example("mm1.qm"));
  EXPECT_EQ(R.Status, 0) << R.Err;
  ExpectSameReport(R.Out, MM1.str(), 1, "M/M/1 (arrival rate 1, service rate 1.25)");
  R = Quorin("run " + Example("mm3.qm"));
  EXPECT_EQ(R.Status, 0) << R.Err;
  ExpectSameReport(R.Out, MM3.str(), 1, "M/M/3 (arrival rate 1, service mean 2.4, three tellers)");
  R = Quorin("run " + Example("priority.qm"));
  EXPECT_EQ(R.Status, 0) << R.Err;
  ExpectSameReport(R.Out, Priority.str(), 1,
                   "Priority M/M/1 (two classes at rate 0.25, service rate 1, preemptive resume)");
  R = Quorin("run " + Example("cobham.qm"));
  EXPECT_EQ(R.Status, 0) << R.Err;
  ExpectSameReport(
      R.Out, Cobham.str(), 1,
      "Non-preemptive priority M/M/1 (two classes, arrival rate 0.6 in all, service rate 1)");
  EXPECT_NE(R.Out.find("\n  priority 2 "), std::string::npos) << R.Out;
  R = Quorin("run " + Example("forkjoin.qm"));
  EXPECT_EQ(R.Status, 0) << R.Err;
  ExpectSameReport(
      R.Out, ForkJoin.str(), 1,
      "Fork and join (jobs at rate 0.5, two tasks matched at the join, service rate 1)");
  R = Quorin("run " + Example("bus.qm"));
  EXPECT_EQ(R.Status, 0) << R.Err;
  ExpectSameReport(R.Out, Bus.str(), 1,
                   "Bus passengers (1 to 9 every 15 minutes, one clerk, tickets of 2.4 minutes)");
  // The barber's first day, then the long run: the C++ model continues to
  // 1001 days without clearing, as a run to that time does.
  const std::string Day =
      "Barber shop (arrivals every 18 +- 6 minutes, haircuts of 16 +- 4), one 480-minute day";
  R = Quorin("run " + Example("barber.qm"));
  EXPECT_EQ(R.Status, 0) << R.Err;
  ExpectSameReport(R.Out, Barber.str(), 1, Day);
  R = Quorin("run " + Example("barber.qm") + " --until 480480");
  EXPECT_EQ(R.Status, 0) << R.Err;
  ExpectSameReport(R.Out, Barber.str(), 2, Day);
}

// Every table of every example's report, of one run and of replications,
// stays under 100 columns: the widest, a priority queue with its classes
// and every statistic, included.
TEST(QuorinCommand, EveryTableOfTheExamplesIsUnder100Columns) {
  int Files = 0;
  for (const auto& Entry : std::filesystem::directory_iterator(QUORIN_EXAMPLES_DIR)) {
    if (Entry.path().extension() != ".qm") continue;
    ++Files;
    const std::string File = "'" + Entry.path().string() + "'";
    for (const std::string& Options : {std::string(), std::string(" --replications 2 --jobs 2")}) {
      const auto R = Quorin("run " + File + Options);
      EXPECT_EQ(R.Status, 0) << File << Options << "\n" << R.Err;
      std::istringstream Lines(R.Out);
      for (std::string L; std::getline(Lines, L);)
        EXPECT_LT(L.size(), 100u) << File << Options << "\n" << L;
    }
  }
  EXPECT_GE(Files, 10);
}

TEST(QuorinCommand, OptionsOverrideTheRunSectionAndCsvIsWritten) {
  const std::string Csv = Temp("mm1.csv");
  std::remove(Csv.c_str());
  auto R = Quorin("run " + Example("mm1.qm") + " --warmup 10 --until 500 --csv '" + Csv + "'");
  EXPECT_EQ(R.Status, 0) << R.Err;
  EXPECT_NE(R.Out.find("Model time 50"), std::string::npos) << R.Out;
  std::ifstream File(Csv);
  std::stringstream Text;
  Text << File.rdbuf();
  EXPECT_EQ(Text.str().rfind("Block,Class,", 0), 0u) << Text.str();
  EXPECT_NE(Text.str().find("\nClerk,TServer,"), std::string::npos);
  EXPECT_NE(Text.str().find(",Model time\n"), std::string::npos);
  EXPECT_NE(Text.str().find(",50"), std::string::npos);

  // A seed changes every stream, the same way each time.
  const auto A = Quorin("run " + Example("mm1.qm") + " --warmup 0 --until 500 --seed 17");
  const auto B = Quorin("run " + Example("mm1.qm") + " --warmup 0 --until 500 --seed 17");
  const auto C = Quorin("run " + Example("mm1.qm") + " --warmup 0 --until 500");
  EXPECT_EQ(A.Out, B.Out);
  EXPECT_NE(A.Out, C.Out);
  EXPECT_NE(A.Out.find("Model time 50"), std::string::npos) << A.Err;
}

// --json and --html of one run: the report as printed, the same numbers in
// both files, and the printed report unchanged by recording for the page.
TEST(QuorinCommand, JsonAndHtmlOfOneRun) {
  const std::string Json = Temp("mm1.json"), Html = Temp("mm1.html");
  const auto Plain = Quorin("run " + Example("mm1.qm") + " --until 3000");
  const auto R = Quorin("run " + Example("mm1.qm") + " --until 3000 --json '" + Json +
                        "' --html '" + Html + "'");
  EXPECT_EQ(R.Status, 0) << R.Err;
  EXPECT_EQ(R.Out, Plain.Out);
  std::stringstream J, H;
  J << std::ifstream(Json).rdbuf();
  H << std::ifstream(Html).rdbuf();
  std::string Report = J.str();
  ASSERT_EQ(Report.rfind("{\"title\":\"M/M/1", 0), 0u) << Report;
  Report.pop_back(); // the line break
  EXPECT_NE(H.str().find("{\"report\":" + Report + ","), std::string::npos);
  EXPECT_NE(Report.find("\"seeds\":[{\"stream\":\"Arrivals\",\"seed\":1000000000},"),
            std::string::npos);
  // The JSON alone has the same seeds, also after --seed.
  const auto Alone = Quorin("run " + Example("mm1.qm") + " --until 3000 --json '" + Json + "'");
  EXPECT_EQ(Alone.Status, 0) << Alone.Err;
  EXPECT_EQ(ReadFile(Json), J.str());
  Quorin("run " + Example("mm1.qm") + " --until 3000 --seed 5 --json '" + Json + "'");
  EXPECT_NE(ReadFile(Json).find("\"seeds\":[{\"stream\":\"Arrivals\",\"seed\":"), std::string::npos);
  EXPECT_EQ(ReadFile(Json).find("\"seed\":1000000000"), std::string::npos);
  // A page that cannot be written fails the command, with the path named.
  const auto W = Quorin("run " + Example("mm1.qm") + " --until 3000 --html /nonexistent/x.html");
  EXPECT_EQ(W.Status, 1);
  EXPECT_NE(W.Err.find("/nonexistent/x.html: cannot be written"), std::string::npos) << W.Err;
}

TEST(QuorinCommand, CheckPaletteAndFailures) {
  auto R = Quorin("check " + Example("mm3.qm"));
  EXPECT_EQ(R.Status, 0);
  EXPECT_NE(R.Out.find("mm3.qm: ok"), std::string::npos);

  const std::string Svg = Temp("mm3.svg");
  R = Quorin("diagram " + Example("mm3.qm") + " -o '" + Svg + "'");
  EXPECT_EQ(R.Status, 0) << R.Err;
  std::ifstream Picture(Svg);
  std::stringstream Drawn;
  Drawn << Picture.rdbuf();
  EXPECT_EQ(Drawn.str().rfind("<?xml", 0), 0u);
  EXPECT_NE(Drawn.str().find("<title>Line -&gt; Tellers</title>"), std::string::npos);

  // What the standard handlers show wired wrong: a generator that plans its
  // first arrival and no next one, and a join without Match reached by
  // parts on two routes. The file loads all the same.
  const std::string Traps = Temp("traps.qm");
  std::ofstream(Traps) << "object Form: TComponent\n"
                          "  object Model: TModel\n    CheckModel = true\n  end\n"
                          "  object Door: TGenerator\n    OnBeforeTimeGoOn = NextArrival(1)\n"
                          "    OnRouting = PassTo(Split)\n  end\n"
                          "  object Split: TDivider\n    Capacity = 2\n"
                          "    OnRouting = PassFirst(A, B)\n  end\n"
                          "  object A: TQueue\n    OnRouting = PassTo(Join)\n  end\n"
                          "  object B: TQueue\n    OnRouting = PassTo(Join)\n  end\n"
                          "  object Join: TAssembler\n    Capacity = 2\n"
                          "    OnRouting = PassTo(Exit)\n  end\n"
                          "  object Exit: TTerminator end\nend\n";
  R = Quorin("check '" + Traps + "'");
  EXPECT_EQ(R.Status, 0);
  EXPECT_EQ(R.Err,
            "Quorin Check: Door plans its first arrival in OnBeforeTimeGoOn, but none of its "
            "handlers plans the next one: it makes 1 transaction and no more (order the next "
            "arrival in OnAfterGeneration, e.g. NextArrival(Delay))\n"
            "Quorin Check: Join joins split transactions that can reach it by more than one route "
            "(A, B), so a set can hold parts of different originals: set Match = true to join "
            "only the parts of one original\n");
  // The run's check finds the generator from what happened; a generator
  // that plans its next arrival, and a join with Match, are no finding.
  R = Quorin("run '" + Traps + "' --until 10");
  EXPECT_NE(R.Err.find("Quorin Check: Door made 1 transaction and planned no next arrival"),
            std::string::npos)
      << R.Err;
  std::ofstream(Traps) << "object Form: TComponent\n  object Model: TModel end\n"
                          "  object Door: TGenerator\n    OnBeforeTimeGoOn = NextArrival(1)\n"
                          "    OnAfterGeneration = NextArrival(1)\n"
                          "    OnRouting = PassTo(Split)\n  end\n"
                          "  object Split: TDivider\n    OnRouting = PassFirst(A, B)\n  end\n"
                          "  object A: TQueue\n    OnRouting = PassTo(Join)\n  end\n"
                          "  object B: TQueue\n    OnRouting = PassTo(Join)\n  end\n"
                          "  object Join: TAssembler\n    Match = true\n"
                          "    OnRouting = PassTo(Exit)\n  end\n"
                          "  object Exit: TTerminator end\nend\n";
  R = Quorin("check '" + Traps + "'");
  EXPECT_EQ(R.Err, "");

  R = Quorin("palette");
  EXPECT_EQ(R.Status, 0);
  EXPECT_EQ(R.Out.rfind("Quorin\n  TModel\n  TScheduler\n  TGenerator\n", 0), 0u) << R.Out;
  EXPECT_NE(R.Out.find("  TMultiRand\n  TTabulator\n"), std::string::npos);

  const std::string Bad = Temp("bad.qm");
  std::ofstream(Bad) << "object Form: TComponent\n  object Model: TModel end\n"
                        "  object Q: TQueue\n    OnRouting = PassTo(Nowhere)\n  end\nend\n";
  for (const char* Command : {"check", "run", "diagram -o /dev/null"}) {
    R = Quorin(std::string(Command) + " '" + Bad + "'");
    EXPECT_EQ(R.Status, 1) << Command;
    EXPECT_EQ(R.Out, "") << Command; // nothing ran
    EXPECT_NE(R.Err.find("_bad.qm:4: Q (TQueue): OnRouting: PassTo: no component named"),
              std::string::npos)
        << R.Err;
  }
  // An error of the library during the run: the report is printed, but the
  // run does not count as a success.
  const std::string Full = Temp("full.qm");
  std::ofstream(Full) << "object Form: TComponent\n  object Model: TModel\n    HeapSize = 1\n"
                         "  end\n  object Door: TGenerator\n"
                         "    OnBeforeTimeGoOn = NextArrival(0.01)\n"
                         "    OnAfterGeneration = NextArrival(0.01)\n    OnRouting = PassTo(Line)\n"
                         "  end\n  object Line: TQueue end\nend\n";
  R = Quorin("run '" + Full + "' --until 1000000");
  EXPECT_EQ(R.Status, 1);
  EXPECT_NE(R.Out.find("Line"), std::string::npos);
  EXPECT_NE(R.Err.find("Quorin Error"), std::string::npos) << R.Err;

  R = Quorin("run " + Example("mm1.qm") + " --until 100 --warmup 200");
  EXPECT_EQ(R.Status, 2);
  EXPECT_EQ(R.Out, "");
  R = Quorin("run " + Example("mm1.qm") + " --seed 0");
  EXPECT_EQ(R.Status, 2);
  R = Quorin("frobnicate");
  EXPECT_EQ(R.Status, 2);
}

// A line of the replications' table: the block, the statistic, and the
// numbers in their printed order (mean, half-width, std dev, min, max, n).
using TTable = std::map<std::pair<std::string, std::string>, std::vector<double>>;

TTable ParseTable(const std::string& Out) {
  TTable Table;
  std::istringstream In(Out);
  std::string Line;
  while (std::getline(In, Line)) {
    // Statistic names hold a space at most once ("Mean time"); the class
    // column starts with T.
    std::istringstream Words(Line);
    std::vector<std::string> W;
    for (std::string X; Words >> X;)
      W.push_back(X);
    if (W.size() < 9 || W[1].rfind('T', 0) != 0 || W[0] == "Block") continue;
    const size_t Names = W.size() - 6;
    std::string Statistic = W[2];
    for (size_t i = 3; i < Names; ++i)
      Statistic += " " + W[i];
    std::vector<double> Numbers;
    for (size_t i = Names; i < W.size(); ++i)
      Numbers.push_back(W[i] == "-" ? NAN : std::stod(W[i]));
    Table[{W[0], Statistic}] = Numbers;
  }
  return Table;
}

// The classes of a priority block have rows of their own in the table, the
// CSV and the JSON, with their priority; Cobham's waits lie in the intervals.
TEST(QuorinReplications, PriorityClassesHaveRowsOfTheirOwn) {
  const std::string Csv = Temp("classes.csv"), Json = Temp("classes.json");
  const auto R = Quorin("run " + Example("cobham.qm") +
                        " --replications 10 --jobs 2 --warmup 1000 --until 41000 --csv '" + Csv +
                        "' --json '" + Json + "'");
  ASSERT_EQ(R.Status, 0) << R.Err;
  EXPECT_NE(R.Out.find("\n  priority 2              Mean time "), std::string::npos) << R.Out;
  const std::string CsvText = ReadFile(Csv);
  EXPECT_NE(CsvText.find("\nLine,TQueuePrty,Mean time,"), std::string::npos);
  for (const auto& [Prty, Theory] : {std::pair{1, 15.0 / 7}, std::pair{2, 6.0 / 7}}) {
    const std::string Key = "{\"block\":\"Line\",\"priority\":" + std::to_string(Prty) +
                            ",\"class\":\"TQueuePrty\",\"statistic\":\"Mean time\",\"mean\":";
    const std::string JsonText = ReadFile(Json);
    const std::size_t At = JsonText.find(Key);
    ASSERT_NE(At, std::string::npos) << JsonText;
    const double Mean = std::stod(JsonText.substr(At + Key.size()));
    const std::size_t H = JsonText.find("\"half_width\":", At);
    const double Half = std::stod(JsonText.substr(H + 13));
    EXPECT_LE(std::fabs(Mean - Theory), Half) << Prty << " " << Mean;
    EXPECT_NE(CsvText.find(",0.95," + std::to_string(Prty) + "\n"), std::string::npos);
  }
  // Classes nobody saw have no rows.
  EXPECT_EQ(CsvText.find(",0.95,0\n"), std::string::npos);
  EXPECT_EQ(ReadFile(Json).find("\"priority\":3,"), std::string::npos);
}

TEST(QuorinReplications, TableOfEveryStatisticWithIntervalsThatHoldTheTheory) {
  const std::string Csv = Temp("reps.csv"), Json = Temp("reps.json");
  const auto R = Quorin("run " + Example("mm1.qm") +
                        " --replications 20 --jobs 2 --warmup 1000 --until 21000 --csv '" + Csv +
                        "' --json '" + Json + "'");
  EXPECT_EQ(R.Status, 0) << R.Err;
  EXPECT_EQ(R.Err, ""); // standard error is not a terminal here: no progress line
  EXPECT_EQ(R.Out.rfind("M/M/1 (arrival rate 1, service rate 1.25)\n"
                        "20 replications, 0 failed; warm-up 1000, until 21000; means with 95 % "
                        "confidence intervals\n\nGenerators\n",
                        0),
            0u)
      << R.Out;
  for (const char* Section :
       {"\nQueues, stacks and priority queues\n", "\nServers\n", "\nTerminators\n"})
    EXPECT_NE(R.Out.find(Section), std::string::npos) << Section;

  // Every column that each kind keeps, and nothing else: a queue's count of
  // time-limit exits stays out while it is 0, as in the single report.
  const TTable Table = ParseTable(R.Out);
  std::map<std::string, std::vector<std::string>> Columns;
  for (const auto& [Key, Numbers] : Table) {
    Columns[Key.first].push_back(Key.second);
    EXPECT_EQ(Numbers[5], 20) << Key.first << " " << Key.second;
  }
  using V = std::vector<std::string>;
  EXPECT_EQ(Columns["Door"], (V{"Exits", "Mean interval"}));
  EXPECT_EQ(Columns["Exit"], (V{"Entries", "Max time", "Mean time"}));
  std::sort(Columns["Line"].begin(), Columns["Line"].end());
  EXPECT_EQ(Columns["Line"], (V{"Count", "Entries", "Exits", "Max", "Mean cont.", "Mean time",
                                "S-mean time", "Usage", "Zero entr."}));
  EXPECT_EQ(Columns["Clerk"].size(), 9u); // with Utilisation

  // M/M/1 at load 0.8: utilisation 0.8, Wq 3.2, Lq 3.2, mean interarrival 1,
  // each inside its 99 % interval (a seeded check: a 95 % one misses one
  // figure in twenty); replications differ, so the intervals have width.
  const TTable Table99 = ParseTable(Quorin("run " + Example("mm1.qm") +
                                           " --replications 20 --warmup 1000 --until 21000 "
                                           "--level 0.99")
                                        .Out);
  for (const auto& [Block, Statistic, Theory] :
       std::vector<std::tuple<std::string, std::string, double>>{{"Clerk", "Usage", 0.8},
                                                                 {"Line", "Mean time", 3.2},
                                                                 {"Line", "Mean cont.", 3.2},
                                                                 {"Door", "Mean interval", 1.0}}) {
    const auto It = Table.find({Block, Statistic});
    ASSERT_NE(It, Table.end()) << Block << " " << Statistic;
    const double Mean = It->second[0], Half = It->second[1];
    EXPECT_GT(Half, 0) << Block << " " << Statistic;
    EXPECT_LT(Half, 0.1 * Theory) << Block << " " << Statistic;
    EXPECT_LE(std::fabs(Mean - Theory), Table99.at({Block, Statistic})[1])
        << Block << " " << Statistic << " " << Mean;
  }

  // The CSV and the JSON hold the same table, all columns of each kind.
  const std::string CsvText = ReadFile(Csv);
  EXPECT_EQ(CsvText.rfind("block,class,statistic,mean,half_width,std_dev,min,max,n,missing,level,"
                          "priority\nDoor,TGenerator,Exits,",
                          0),
            0u)
      << CsvText;
  EXPECT_NE(CsvText.find("\nLine,TQueue,Time limit,0,0,0,0,0,20,0,0.95,\n"), std::string::npos);
  const size_t Rows = size_t(std::count(CsvText.begin(), CsvText.end(), '\n')) - 1;
  EXPECT_EQ(Rows, Table.size() + 3); // with the special exits of Line and Clerk, all 0
  const std::string JsonText = ReadFile(Json);
  EXPECT_EQ(JsonText.rfind("{\"title\":\"M/M/1 (arrival rate 1, service rate 1.25)\","
                           "\"level\":0.95,\"warmup\":1000,\"until\":21000,"
                           "\"replications\":20,\"failed\":0,\"statistics\":[{\"block\":\"Door\"",
                           0),
            0u)
      << JsonText;
  EXPECT_NE(JsonText.find("\"failures\":[]}"), std::string::npos);
  EXPECT_EQ(size_t(std::count(JsonText.begin(), JsonText.end(), '{')), Rows + 1);

  // A higher level widens the same intervals around the same means.
  const auto Wide = Quorin("run " + Example("mm1.qm") +
                           " --replications 20 --warmup 1000 --until 21000 --level 0.99");
  const TTable WideTable = ParseTable(Wide.Out);
  const auto It = WideTable.find({"Clerk", "Usage"});
  ASSERT_NE(It, WideTable.end());
  EXPECT_EQ(It->second[0], Table.at({"Clerk", "Usage"})[0]);
  EXPECT_GT(It->second[1], Table.at({"Clerk", "Usage"})[1]);
}

TEST(QuorinReplications, ResultsDoNotDependOnTheNumberOfWorkers) {
  std::vector<std::string> Texts;
  for (const char* Jobs : {"1", "2", "3"}) {
    const std::string Csv = Temp(std::string("jobs") + Jobs + ".csv");
    const auto R = Quorin("run " + Example("mm3.qm") + " --replications 5 --until 3000 --jobs " +
                          Jobs + " --csv '" + Csv + "'");
    EXPECT_EQ(R.Status, 0) << R.Err;
    Texts.push_back(ReadFile(Csv));
  }
  EXPECT_GT(Texts[0].size(), 200u);
  EXPECT_EQ(Texts[0], Texts[1]);
  EXPECT_EQ(Texts[0], Texts[2]);
  // --seed moves every replication's streams, reproducibly.
  const auto A = Quorin("run " + Example("mm3.qm") + " --replications 3 --until 3000 --seed 17");
  const auto B = Quorin("run " + Example("mm3.qm") + " --replications 3 --until 3000 --seed 17");
  const auto C = Quorin("run " + Example("mm3.qm") + " --replications 3 --until 3000");
  EXPECT_EQ(A.Out, B.Out);
  EXPECT_NE(A.Out, C.Out);
}

TEST(QuorinReplications, AFailedReplicationIsNamedWithItsSeedsAndTheOthersReported) {
  // The terminator stops the run at the 12th arrival, near time 12 on
  // average: replications that stop before the warm-up ends fail.
  const std::string Model = Temp("stops.qm"), Json = Temp("stops.json");
  std::ofstream(Model) << "run\n  Warmup = 12\n  Until = 1000\nend\n"
                          "object Form: TComponent\n  object Model: TModel end\n"
                          "  object Arrivals: TMultiRand end\n  object Door: TGenerator\n"
                          "    OnBeforeTimeGoOn = NextArrival(Arrivals.Exponential(1))\n"
                          "    OnAfterGeneration = NextArrival(Arrivals.Exponential(1))\n"
                          "    OnRouting = PassTo(Exit)\n  end\n"
                          "  object Exit: TTerminator\n    OnEnter = StopAfter(12)\n  end\nend\n";
  const auto R = Quorin("run '" + Model + "' --replications 8 --jobs 2 --json '" + Json + "'");
  EXPECT_EQ(R.Status, 1);
  std::istringstream Err(R.Err);
  std::vector<int> Failed;
  for (std::string Line; std::getline(Err, Line);) {
    int Number = -1;
    long long Seed = 0;
    char Rest[16] = "";
    ASSERT_EQ(
        std::sscanf(Line.c_str(), "Replication %d failed (seeds %lld)%15s", &Number, &Seed, Rest),
        3)
        << Line;
    EXPECT_GT(Seed, 0);
    EXPECT_NE(Line.find("before the warm-up was over"), std::string::npos) << Line;
    Failed.push_back(Number);
  }
  ASSERT_GT(Failed.size(), 0u);
  ASSERT_LT(Failed.size(), 8u);
  const std::string Failures = std::to_string(Failed.size()) + " failed";
  EXPECT_NE(R.Out.find("8 replications, " + Failures), std::string::npos) << R.Out;
  const auto Entries = ParseTable(R.Out).at({"Exit", "Entries"});
  EXPECT_EQ(Entries[5], double(8 - Failed.size())); // n: the others' values
  EXPECT_LT(Entries[0], 12); // stopped at the 12th, counted after the warm-up
  const std::string JsonText = ReadFile(Json);
  EXPECT_NE(JsonText.find("\"failed\":" + std::to_string(Failed.size())), std::string::npos);
  EXPECT_NE(JsonText.find("{\"replication\":" + std::to_string(Failed[0]) + ",\"seeds\":["),
            std::string::npos);

  // Options of replications need --replications; a single replication has no interval.
  for (const char* Wrong : {" --jobs 2", " --replications 1",
                            " --replications 4 --level 1.5", " --replications 4 --jobs 0"}) {
    const auto W = Quorin("run " + Example("mm1.qm") + Wrong);
    EXPECT_EQ(W.Status, 2) << Wrong;
    EXPECT_EQ(W.Out, "") << Wrong;
  }
}

TEST(QuorinReplications, ProgressLineOnlyOnATerminalAndClearedAtTheEnd) {
  // Standard error on a pseudo terminal, standard output to a file.
  const std::string Out = Temp("progress.txt");
  const std::string Command = std::string("'") + QUORIN_COMMAND + "' run " + Example("mm1.qm") +
                              " --replications 4 --jobs 2 --until 2000 >'" + Out + "'";
  int Master = -1;
  const pid_t Pid = forkpty(&Master, nullptr, nullptr, nullptr);
  ASSERT_GE(Pid, 0);
  if (Pid == 0) {
    execl("/bin/sh", "sh", "-c", Command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  std::string Terminal;
  char Buffer[4096];
  for (;;) {
    const ssize_t N = read(Master, Buffer, sizeof Buffer);
    if (N > 0)
      Terminal.append(Buffer, size_t(N));
    else if (N == 0 || errno != EINTR)
      break; // EIO once the command has ended
  }
  close(Master);
  int Status = 0;
  waitpid(Pid, &Status, 0);
  EXPECT_TRUE(WIFEXITED(Status) && WEXITSTATUS(Status) == 0);
  EXPECT_EQ(Terminal.rfind("\rreplications 0/4, 0.0 s elapsed\033[K", 0), 0u) << Terminal;
  EXPECT_NE(Terminal.find("\rreplications 4/4, "), std::string::npos) << Terminal;
  EXPECT_NE(Terminal.find(" left\033[K"), std::string::npos) << Terminal;
  // One line, overwritten: no line break, and cleared at the end.
  EXPECT_EQ(Terminal.find('\n'), std::string::npos) << Terminal;
  EXPECT_EQ(Terminal.substr(Terminal.size() - 4), "\r\033[K") << Terminal;
  EXPECT_NE(ReadFile(Out).find("4 replications, 0 failed"), std::string::npos);
}

// The processes whose parent is Parent, from /proc.
std::vector<pid_t> ChildrenOf(pid_t Parent) {
  std::vector<pid_t> Found;
  std::error_code Error;
  for (const auto& E : std::filesystem::directory_iterator("/proc", Error)) {
    const pid_t Pid = pid_t(std::atoi(E.path().filename().c_str()));
    if (Pid <= 0) continue;
    std::ifstream Stat("/proc/" + std::to_string(Pid) + "/stat");
    std::string Line;
    std::getline(Stat, Line);
    // pid (command) state ppid ...: the command may hold spaces and parentheses.
    const std::size_t Close = Line.rfind(')');
    if (Close == std::string::npos) continue;
    char State = 0;
    int PPid = 0;
    if (std::sscanf(Line.c_str() + Close + 1, " %c %d", &State, &PPid) == 2 && PPid == Parent)
      Found.push_back(Pid);
  }
  return Found;
}

// A process has ended once it is gone or a zombie (its new parent, which
// may be any process, has not reaped it yet).
bool Ended(pid_t Pid) {
  std::ifstream Stat("/proc/" + std::to_string(Pid) + "/stat");
  std::string Line;
  if (!std::getline(Stat, Line)) return true;
  const std::size_t Close = Line.rfind(')');
  return Close == std::string::npos || Line.find(" Z ", Close) == Close + 1;
}

// Polls Done every 20 ms, for at most Seconds: answers whether it came true.
template <class F> bool Within(double Seconds, F&& Done) {
  for (int i = 0; i < int(Seconds * 50); ++i) {
    if (Done()) return true;
    usleep(20000);
  }
  return Done();
}

// A command started by StartOnTerminal: the leader of the terminal's
// session, and the command itself, which the leader waits for.
struct TOnTerminal {
  pid_t Leader = -1;
  int Master = -1;
  std::string Terminal; // what the command wrote on it so far
  void Drain() {
    char Buffer[4096];
    ssize_t N;
    while ((N = read(Master, Buffer, sizeof Buffer)) > 0)
      Terminal.append(Buffer, size_t(N));
  }
  // The leader's exit status: the command's, or 128 + N for signal N.
  int Wait() {
    int Status = 0;
    waitpid(Leader, &Status, 0);
    close(Master);
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
  }
};

// Starts the command with Arguments, its standard error on a pseudo terminal
// and standard output to /dev/null, in a process group of its own: the
// hangup that the terminal's end sends to its foreground group reaches
// neither the command nor its workers, only the test's signals do.
// IgnoreHangup starts it as nohup would.
TOnTerminal StartOnTerminal(const std::vector<std::string>& Arguments, bool IgnoreHangup) {
  TOnTerminal T;
  T.Leader = forkpty(&T.Master, nullptr, nullptr, nullptr);
  if (T.Leader != 0) {
    if (T.Master >= 0) fcntl(T.Master, F_SETFL, fcntl(T.Master, F_GETFL) | O_NONBLOCK);
    return T;
  }
  const pid_t Command = fork();
  if (Command == 0) {
    setpgid(0, 0);
    if (IgnoreHangup) signal(SIGHUP, SIG_IGN);
    const int Null = open("/dev/null", O_WRONLY);
    dup2(Null, STDOUT_FILENO);
    std::vector<char*> Argv{const_cast<char*>(QUORIN_COMMAND)};
    for (const std::string& A : Arguments)
      Argv.push_back(const_cast<char*>(A.c_str()));
    Argv.push_back(nullptr);
    execv(QUORIN_COMMAND, Argv.data());
    _exit(127);
  }
  int Status = 0;
  while (waitpid(Command, &Status, 0) < 0 && errno == EINTR) {
  }
  _exit(WIFSIGNALED(Status) ? 128 + WTERMSIG(Status) : WEXITSTATUS(Status));
}

// The replications of a model that does not end in any time a test waits,
// in workers: a signal to the command ends the workers with it, and on a
// terminal the progress line is cleared first. A killed command cannot
// clear anything, but its workers end all the same (parent-death signal).
TEST(QuorinReplications, WorkersEndWithTheCommandWhateverEndsIt) {
  const std::string Model = std::string(QUORIN_EXAMPLES_DIR) + "/mm1.qm";
  for (const int Signal : {SIGTERM, SIGINT, SIGHUP, SIGKILL}) {
    SCOPED_TRACE(strsignal(Signal));
    TOnTerminal T = StartOnTerminal(
        {"run", Model, "--replications", "4", "--jobs", "2", "--until", "9000000000"}, false);
    ASSERT_GT(T.Leader, 0);
    pid_t Command = -1;
    std::vector<pid_t> Workers;
    const bool Started = Within(30, [&] {
      T.Drain();
      const std::vector<pid_t> Children = ChildrenOf(T.Leader);
      if (Children.size() != 1) return false;
      Command = Children[0];
      Workers = ChildrenOf(Command);
      return Workers.size() == 2 && T.Terminal.find("replications 0/4") != std::string::npos;
    });
    EXPECT_TRUE(Started) << Workers.size() << " workers; " << T.Terminal;
    if (Command > 0) kill(Command, Signal);
    const bool WorkersEnded = Within(30, [&] {
      T.Drain();
      return std::all_of(Workers.begin(), Workers.end(), Ended);
    });
    EXPECT_TRUE(WorkersEnded);
    for (const pid_t W : Workers)
      if (!Ended(W)) kill(W, SIGKILL); // leave no orphan behind a failure
    const bool CommandEnded = Within(30, [&] { return Command <= 0 || Ended(Command); });
    EXPECT_TRUE(CommandEnded);
    if (!CommandEnded) kill(Command, SIGKILL);
    T.Drain();
    // Ended by the signal, as it would have been without workers.
    EXPECT_EQ(T.Wait(), 128 + Signal);
    if (Signal != SIGKILL && Started) {
      ASSERT_GE(T.Terminal.size(), 4u);
      EXPECT_EQ(T.Terminal.substr(T.Terminal.size() - 4), "\r\033[K") << T.Terminal;
      EXPECT_EQ(T.Terminal.find('\n'), std::string::npos) << T.Terminal;
    }
  }
}

// Started as nohup starts it, the command and its workers run on after a
// hangup, and every replication ends as usual.
TEST(QuorinReplications, AnIgnoredHangupEndsNoWorker) {
  TOnTerminal T = StartOnTerminal({"run", std::string(QUORIN_EXAMPLES_DIR) + "/mm1.qm",
                                   "--replications", "4", "--jobs", "2", "--until", "400000"},
                                  true);
  ASSERT_GT(T.Leader, 0);
  pid_t Command = -1;
  const bool Started = Within(30, [&] {
    T.Drain();
    const std::vector<pid_t> Children = ChildrenOf(T.Leader);
    if (Children.size() == 1) Command = Children[0];
    return Command > 0 && !ChildrenOf(Command).empty();
  });
  EXPECT_TRUE(Started);
  if (Command > 0) kill(Command, SIGHUP);
  const bool CommandEnded = Within(120, [&] {
    T.Drain();
    return Command <= 0 || Ended(Command);
  });
  EXPECT_TRUE(CommandEnded);
  if (!CommandEnded) kill(Command, SIGKILL);
  T.Drain();
  EXPECT_EQ(T.Wait(), 0) << T.Terminal; // no replication failed
  EXPECT_EQ(T.Terminal.find("failed"), std::string::npos) << T.Terminal;
}

} // namespace

namespace {

// One bad model file or command line: what the command is given, the exit
// status it must give, and a piece of its message (for a file, with the
// file's name and the line at fault).
struct TBadInput {
  const char* What;
  std::string File;      // written to a scratch file named bad.qm, unless empty
  std::string Arguments; // BAD stands for the scratch file
  int Status;
  std::string Message;
};

std::string Form(const std::string& Body) {
  return "object Form: TComponent\n  object Model: TModel end\n" + Body + "end\n";
}

// The same with the model check on.
std::string Checked(const std::string& Body) {
  return "object Form: TComponent\n  object Model: TModel\n    CheckModel = true\n  end\n" + Body +
         "end\n";
}

} // namespace

TEST(QuorinCommand, BadFilesAndCommandLinesAreRefusedWithWhereAndWhy) {
  const std::string Bad = Temp("bad.qm");
  const std::string Mm1 = std::string(QUORIN_EXAMPLES_DIR) + "/mm1.qm";
  const TBadInput Cases[] = {
      {"unknown class", Form("  object Q: TQeue end\n"), "check BAD", 1,
       ":3: Q: unknown class 'TQeue'"},
      {"syntax", Form("  object Q: TQueue\n    Capacity = 3 @\n  end\n"), "check BAD", 1,
       ":4: unexpected character '@'"},
      {"an extra end", Form("  object Q: TQueue\n  end\n  end\n  object S: TServer end\n"),
       "check BAD", 1, ":5: an 'end' too many? It closes object Form (line 1)"},
      {"an extra end, the last end missing",
       "object Form: TComponent\n  object Model: TModel end\n  end\n  object S: TServer end\n",
       "check BAD", 1, ":4: S (TServer): stands outside the forms of the model"},
      {"a block outside any form", Form("") + "object Q: TQueue end\n", "check BAD", 1,
       ":4: Q (TQueue): stands outside the forms of the model"},
      {"a byte-order mark is accepted", "\xEF\xBB\xBF" + Form(""), "check BAD", 0, ""},
      {"a huge word is cut", Form("  object Q: T" + std::string(1 << 20, 'x') + " end\n"),
       "check BAD", 1, "... (1048579 characters)"},
      {"a negative capacity of a divider", Form("  object D: TDivider\n    Capacity = -3\n  end\n"),
       "check BAD", 1, ":4: D (TDivider): Capacity = -3 is out of the property's range"},
      {"a misspelt seed setting", Form("  object R: TMultiRand\n    Multiplier = 1\n  end\n"),
       "check BAD", 1, ":4: R (TMultiRand): Multiplier = 1 is out of the property's range 2..."},
      {"a prefix from the library is not repeated",
       Form("  object H: TTabulator\n    Interval = -1\n  end\n"), "check BAD", 1,
       ":4: H (TTabulator): Interval = -1 is refused: H: Interval can not be negative"},
      {"a zero-time loop is stopped",
       Form("  object G: TGenerator\n    OnBeforeTimeGoOn = NextArrival(1)\n"
            "    OnRouting = PassTo(A)\n  end\n  object A: TQueue\n    OnRouting = PassTo(B)\n"
            "  end\n  object B: TQueue\n    OnRouting = PassTo(A)\n  end\n"),
       "run BAD --until 10", 1, "moves at model time 1.0000000 without the time advancing, among "},
      {"a holding time past the limit names its handler",
       Form("  object G: TGenerator\n    OnBeforeTimeGoOn = NextArrival(1)\n"
            "    OnRouting = PassTo(S)\n  end\n  object S: TServer\n    OnEnter = Hold(1e300)\n"
            "  end\n"),
       "run BAD --until 10", 1, "(S.OnEnter = Hold(1e300) at BAD:8, model time 1.0000000)"},
      {"the check names a NextTime that was refused",
       Checked("  object G: TGenerator\n    OnBeforeTimeGoOn = NextArrival(1)\n"
               "    OnRouting = PassTo(S)\n  end\n  object S: TServer\n    OnEnter = Hold(1e300)\n"
               "  end\n"),
       "run BAD --until 10", 1,
       "its OnEnter handler ordered a NextTime that was refused (1 refusal in the run"},
      {"transactions that pile up", Checked("  object G: TGenerator\n"
                                            "    OnBeforeTimeGoOn = NextArrival(1)\n"
                                            "    OnAfterGeneration = NextArrival(1)\n"
                                            "    OnRouting = PassTo(Q)\n  end\n  object Q: TQueue\n"
                                            "    OnRouting = PassTo(Q)\n  end\n"),
       // Up to time 10 and no further: arrivals 1 to 10.
       "run BAD --until 10", 1, "Q received 10 transactions and let none leave (10 still inside)"},
      {"a loop of routes that takes no time is flagged",
       Form("  object A: TQueue\n    OnRouting = PassTo(B)\n  end\n  object B: TQueue\n"
            "    OnRouting = PassTo(A)\n  end\n"),
       "check BAD", 0, "Quorin Check: A, B route transactions round a loop"},
      {"a missing file", "", "check /nonexistent/model.qm", 1,
       "/nonexistent/model.qm: cannot be read (no such file)"},
      {"a missing file to draw", "", "diagram /nonexistent/model.qm -o /tmp/never.svg", 1,
       "/nonexistent/model.qm: cannot be read (no such file)"},
      {"a directory to replicate", "", "run /tmp --replications 2", 1,
       "/tmp: is a directory, not a model file"},
      {"a directory to fit", "", "fit /tmp", 2, "/tmp: cannot be read (a folder, not a file)"},
      {"a directory for the comparison's CSV", "",
       "compare " + Mm1 + " " + Mm1 + " --replications 2 --csv /tmp", 2,
       "quorin: --csv /tmp is a folder, not a file to write"},
      {"a directory to compare", "", "compare " + Mm1 + " /tmp --replications 2", 1,
       "/tmp: is a directory, not a model file"},
      {"an output onto the model file", Form(""), "run BAD --until 10 --csv BAD", 2,
       "--csv BAD names the model file BAD, which it would overwrite"},
      {"a property swept twice", "", "sweep " + Mm1 + " --replications 2 --set Clerk.Preemptive=true "
       "--set Clerk.Preemptive=false", 2, "Clerk.Preemptive is set twice"},
      {"a grid beyond any study", "",
       "sweep " + Mm1 + " --replications 2 --set A.B=1,2,3,4,5,6,7,8,9,10 --set C.D=1,2,3,4,5,6,7,8,9,10 "
       "--set E.F=1,2,3,4,5,6,7,8,9,10 --set G.H=1,2,3,4,5,6,7,8,9,10 "
       "--set I.J=1,2,3,4,5,6,7,8,9,10 --set K.L=1,2,3,4,5,6,7,8,9,10", 2,
       "make 1000000 combinations; a sweep runs at most 100000"},
      {"two outputs onto one file", Form(""),
       "run BAD --until 10 --html /tmp/quorin_same.out --json /tmp/quorin_same.out", 2,
       "--json and --html name the same file /tmp/quorin_same.out"},
      {"a directory", "", "check /tmp", 1, "/tmp: is a directory, not a model file"},
      {"an unknown subcommand", "", "rnu BAD", 2,
       "quorin: unknown subcommand 'rnu' (the subcommands: run, check, palette,"},
      {"an option without its value", "", "run BAD --until", 2, "--until"},
      {"an end time out of range", Form(""), "run BAD --until -5", 2,
       "times must lie in 0...10000000000"},
      {"a full disk for the report", "", "run " + Mm1 + " --until 2000 > /dev/full", 1,
       "standard output: cannot be written (No space left on device)"},
      {"a full disk for the CSV", "", "run " + Mm1 + " --until 2000 --csv /dev/full", 1,
       "/dev/full: cannot be written (No space left on device)"},
      {"a folder that does not exist for the CSV", "",
       "run " + Mm1 + " --until 2000 --csv /nonexistent/out.csv", 1,
       "/nonexistent/out.csv: cannot be written (No such file or directory)"},
  };
  for (const TBadInput& C : Cases) {
    if (!C.File.empty()) {
      std::ofstream Out(Bad, std::ios::binary);
      Out << C.File;
    }
    std::string Arguments = C.Arguments;
    for (std::size_t At; (At = Arguments.find("BAD")) != std::string::npos;)
      Arguments.replace(At, 3, "'" + Bad + "'");
    std::string Message = C.Message;
    for (std::size_t At; (At = Message.find("BAD")) != std::string::npos;)
      Message.replace(At, 3, Bad);
    const TResult R = Quorin(Arguments);
    EXPECT_EQ(R.Status, C.Status) << C.What << "\n" << R.Err.substr(0, 2000);
    EXPECT_NE((R.Err + R.Out).find(Message), std::string::npos)
        << C.What << "\n" << R.Err.substr(0, 2000);
    EXPECT_LT(R.Err.size(), 4000u) << C.What; // no token echoed whole
    // A message about the file names the file and the line.
    if (C.Status == 1 && !C.File.empty() && Message.rfind(":", 0) == 0) {
      EXPECT_NE(R.Err.find(Bad + Message.substr(0, Message.find(' '))), std::string::npos)
          << C.What << "\n" << R.Err.substr(0, 2000);
    }
  }
  std::remove(Bad.c_str());
}

// A file is written whole or not at all: a write that fails half-way (here
// the size limit of the process) leaves no truncated file behind, and what
// stood there before is kept.
TEST(QuorinCommand, AFailedWriteLeavesNoTruncatedFile) {
  const std::string Csv = Temp("kept.csv");
  {
    std::ofstream Old(Csv);
    Old << "old\n";
  }
  const std::string Command = std::string("sh -c \"trap '' XFSZ; ulimit -f 0; '") +
                              QUORIN_COMMAND + "' run '" + QUORIN_EXAMPLES_DIR +
                              "/mm1.qm' --until 2000 --csv '" + Csv + "' > /dev/null 2>&1\"";
  const int Raw = std::system(Command.c_str());
  EXPECT_EQ(WIFEXITED(Raw) ? WEXITSTATUS(Raw) : -1, 1);
  EXPECT_EQ(ReadFile(Csv), "old\n");
  std::remove(Csv.c_str());
}

// The rows of a CSV as lines, keyed by their first fields up to the
// statistic (Count fields), holding the rest.
std::map<std::string, std::string> CsvRows(const std::string& Text, size_t Count) {
  std::map<std::string, std::string> Rows;
  std::stringstream In(Text);
  std::string Line;
  std::getline(In, Line); // header
  while (std::getline(In, Line)) {
    size_t Cut = 0;
    for (size_t i = 0; i < Count; ++i)
      Cut = Line.find(',', Cut) + 1;
    Rows[Line.substr(0, Cut)] = Line.substr(Cut);
  }
  return Rows;
}

std::vector<std::string> Fields(const std::string& Line) {
  std::vector<std::string> F;
  std::stringstream In(Line);
  std::string X;
  while (std::getline(In, X, ','))
    F.push_back(X);
  return F;
}

TEST(QuorinFit, RanksTheFitsAndRefusesBadDataWithItsLine) {
  auto R = Quorin("fit " + Example("callcentre-durations.csv"));
  EXPECT_EQ(R.Status, 0) << R.Err;
  EXPECT_NE(R.Out.find("(column minutes): 400 values"), std::string::npos) << R.Out;
  // The durations were drawn from a gamma of shape 2, an Erlang of order 2.
  EXPECT_NE(R.Out.find("\n1     Erlang "), std::string::npos) << R.Out;
  EXPECT_NE(R.Out.find("\n2     Gamma "), std::string::npos) << R.Out;
  EXPECT_NE(R.Out.find("  Stream.Erlang(3.9259, 2)\n"), std::string::npos) << R.Out;
  EXPECT_EQ(Quorin("fit " + Example("callcentre-durations.csv") + " --column minutes").Out, R.Out);

  const std::string Bad = Temp("bad.csv"), Few = Temp("few.csv");
  std::ofstream(Bad) << "id,wait\n1,2.5\n2,3.1\n3,n/a\n";
  std::ofstream(Few) << "1\n2\n3\n";
  struct TCase {
    std::string Arguments, Error;
  } Cases[] = {
      {"'" + Bad + "' --column wait", Bad + ":4: 'n/a' is not a number (column 2)\n"},
      {"'" + Bad + "' --column time", Bad + ": no column named 'time' (the header has: id, wait)\n"},
      {"'" + Few + "'", Few + ": 3 values: a fit needs at least 10\n"},
      {"'/nonexistent/data.csv'", "/nonexistent/data.csv: cannot be read (no such file)\n"},
  };
  for (const TCase& C : Cases) {
    R = Quorin("fit " + C.Arguments);
    EXPECT_EQ(R.Status, 2) << C.Arguments;
    EXPECT_EQ(R.Err, C.Error);
    EXPECT_EQ(R.Out, "");
  }
}

TEST(QuorinCompare, IdenticalDesignsDifferByExactlyZero) {
  const std::string Csv = Temp("same.csv");
  auto R = Quorin("compare " + Example("mm1.qm") + " " + Example("mm1.qm") +
                  " --replications 5 --until 3000 --csv '" + Csv + "'");
  EXPECT_EQ(R.Status, 0) << R.Err;
  const auto Rows = CsvRows(ReadFile(Csv), 3);
  // With the terminator's time in system and the clerk's Utilisation.
  EXPECT_EQ(Rows.size(), 26u);
  for (const auto& [Key, Rest] : Rows) {
    const auto F = Fields(Rest); // mean_a, mean_b, difference, half_width, ...
    EXPECT_EQ(F[0], F[1]) << Key;
    EXPECT_EQ(F[2], "0") << Key;
    EXPECT_EQ(F[3], "0") << Key;
    EXPECT_EQ(F[6], "false") << Key;
  }
}

TEST(QuorinCompare, MM1AtTwoServiceRatesHoldsTheTheoreticalDifference) {
  const std::string Json = Temp("mm1.json"), Csv = Temp("mm1.csv");
  auto R = Quorin("compare " + Example("mm1.qm") + " " + Example("mm1-faster.qm") +
                  " --replications 30 --jobs 2 --until 51000 --csv '" + Csv + "' --json '" +
                  Json + "'");
  EXPECT_EQ(R.Status, 0) << R.Err;
  EXPECT_NE(R.Out.find("Common random numbers made "), std::string::npos) << R.Out;
  const auto Rows = CsvRows(ReadFile(Csv), 3);
  // Theory: Wq = rho / (mu - lambda) and utilisation rho = 1 / mu.
  const double WqA = 0.8 / 0.25, WqB = (1 / 1.3) / 0.3;
  for (const auto& [Key, Theory] : std::vector<std::pair<std::string, double>>{
           {"Line,TQueue,Mean time,", WqB - WqA}, {"Clerk,TServer,Usage,", 1 / 1.3 - 0.8}}) {
    const auto F = Fields(Rows.at(Key));
    const double Low = std::stod(F[4]), High = std::stod(F[5]), Half = std::stod(F[3]);
    EXPECT_LE(Low, Theory) << Key;
    EXPECT_GE(High, Theory) << Key;
    EXPECT_EQ(F[6], "true") << Key;
    // Common random numbers narrow the interval well below independent runs'.
    EXPECT_LT(Half, 0.5 * std::stod(F[7])) << Key;
  }
  const std::string Text = ReadFile(Json);
  EXPECT_EQ(Text.rfind("{\"a\":", 0), 0u) << Text;
  EXPECT_NE(Text.find("\"replications\":30,\"failed_a\":0,\"failed_b\":0"), std::string::npos);
}

TEST(QuorinCompare, ADesignWithAnAddedStreamSeesTheSameArrivals) {
  // B routes through a stream of its own, declared first: seeded by position
  // it would take the arrivals' numbers; by name the arrivals stay.
  std::string Text = ReadFile(std::string(QUORIN_EXAMPLES_DIR) + "/mm1.qm");
  const std::string Door = "  object Door: TGenerator";
  Text.replace(Text.find(Door), 0, "  object Router: TMultiRand end\n");
  const std::string Route = "OnRouting = PassTo(Line)";
  Text.replace(Text.find(Route), Route.size(), "OnRouting = PassByChance(Router, Line, 1)");
  const std::string B = Temp("router.qm"), Csv = Temp("router.csv");
  std::ofstream(B) << Text;
  auto R = Quorin("compare " + Example("mm1.qm") + " '" + B +
                  "' --replications 4 --until 3000 --csv '" + Csv + "'");
  EXPECT_EQ(R.Status, 0) << R.Err;
  const auto Rows = CsvRows(ReadFile(Csv), 3);
  for (const char* Key : {"Door,TGenerator,Exits,", "Door,TGenerator,Mean interval,",
                          "Line,TQueue,Mean time,", "Clerk,TServer,Usage,"}) {
    const auto F = Fields(Rows.at(Key));
    EXPECT_EQ(F[2], "0") << Key;
    EXPECT_EQ(F[3], "0") << Key;
  }
}

TEST(QuorinSweep, TheGridsFiguresEqualSeparateRuns) {
  const std::string Csv = Temp("sweep.csv");
  auto R = Quorin("sweep " + Example("mm3.qm") +
                  " --set Tellers.Capacity=3,4 --replications 4 --until 3000 --figure "
                  "'Line.Mean time' --figure Tellers.Usage --csv '" +
                  Csv + "'");
  EXPECT_EQ(R.Status, 0) << R.Err;
  EXPECT_EQ(R.Out.rfind("sweep: 2 combinations x 4 replications = 8 runs\n", 0), 0u) << R.Out;
  const auto Grid = CsvRows(ReadFile(Csv), 4); // value, block, class, statistic
  EXPECT_EQ(Grid.size(), 4u);
  std::string Text = ReadFile(std::string(QUORIN_EXAMPLES_DIR) + "/mm3.qm");
  for (const char* Capacity : {"3", "4"}) {
    const size_t At = Text.find("Capacity = ") + 11;
    Text.replace(At, 1, Capacity);
    const std::string File = Temp(std::string("mm3_") + Capacity + ".qm");
    const std::string Single = Temp(std::string("mm3_") + Capacity + ".csv");
    std::ofstream(File) << Text;
    EXPECT_EQ(Quorin("run '" + File + "' --replications 4 --until 3000 --csv '" + Single + "'")
                  .Status,
              0);
    const auto Run = CsvRows(ReadFile(Single), 3);
    for (const char* Key : {"Line,TQueue,Mean time,", "Tellers,TStorage,Usage,"}) {
      // block,class,statistic,mean,half_width,... against the grid's
      // value,block,class,statistic,mean,half_width,...
      const auto Separate = Fields(Run.at(Key)), InGrid = Fields(Grid.at(Capacity + (',' + std::string(Key))));
      EXPECT_EQ(InGrid[0], Separate[0]) << Capacity << " " << Key;
      EXPECT_EQ(InGrid[1], Separate[1]) << Capacity << " " << Key;
    }
  }
}

// The CSV rows whose first field is Block and whose statistic and last
// field (the priority) are as given: the fields between them.
std::vector<std::vector<std::string>> RowsOf(const std::string& Csv, const std::string& Block,
                                             const std::string& Statistic, size_t StatisticAt,
                                             const std::string& Priority) {
  std::vector<std::vector<std::string>> Found;
  std::stringstream In(Csv);
  std::string Line;
  while (std::getline(In, Line)) {
    auto F = Fields(Line);
    if (Line.back() == ',') F.push_back("");
    if (F.size() > StatisticAt && F[StatisticAt - 2] == Block && F[StatisticAt] == Statistic &&
        F.back() == Priority)
      Found.push_back(F);
  }
  return Found;
}

// Cobham's waits in line of the two classes of examples/cobham.qm: 6/7 for
// the urgent (priority 2), 15/7 for the regular (priority 1).
const std::pair<const char*, double> CobhamWaits[] = {{"2", 6.0 / 7}, {"1", 15.0 / 7}};

TEST(QuorinScenarios, ComparisonsMatchFiguresByBlockClassAndStatistic) {
  std::string Text = ReadFile(std::string(QUORIN_EXAMPLES_DIR) + "/cobham.qm");
  const std::string Service = "Hold(Services.Exponential(1))";
  Text.replace(Text.find(Service), Service.size(), "Hold(Services.Exponential(0.9))");
  const std::string B = Temp("cobham_faster.qm"), Csv = Temp("cobham.csv"),
                    Json = Temp("cobham.json"), Html = Temp("cobham.html");
  std::ofstream(B) << Text;
  const auto R = Quorin("compare " + Example("cobham.qm") + " '" + B +
                        "' --replications 8 --jobs 2 --until 21000 --csv '" + Csv + "' --json '" +
                        Json + "' --html '" + Html + "'");
  ASSERT_EQ(R.Status, 0) << R.Err;
  // No unlabelled rows of classes nobody saw: the block's lines and one
  // line per class seen, under a Priority column.
  EXPECT_LT(std::count(R.Out.begin(), R.Out.end(), '\n'), 80) << R.Out;
  EXPECT_NE(R.Out.find("Block  Priority  Statistic"), std::string::npos) << R.Out;
  const std::string Table = ReadFile(Csv);
  EXPECT_EQ(Table.substr(0, Table.find('\n')),
            "block,class,statistic,mean_a,mean_b,difference,half_width,low,high,excludes_zero,"
            "independent_half_width,n,level,priority");
  // block,class,statistic,mean_a,mean_b,difference,half_width,low,high,
  // excludes_zero,independent_half_width,n,level,priority
  const auto Own = RowsOf(Table, "Line", "Mean time", 2, "");
  ASSERT_EQ(Own.size(), 1u) << Table;
  EXPECT_EQ(Own[0][11], "8");
  for (const auto& [Prty, Wait] : CobhamWaits) {
    const auto Class = RowsOf(Table, "Line", "Mean time", 2, Prty);
    ASSERT_EQ(Class.size(), 1u) << Prty << "\n" << Table;
    EXPECT_EQ(Class[0][11], "8");
    EXPECT_NEAR(std::stod(Class[0][3]), Wait, 0.1 * Wait) << Prty;
    // A faster clerk shortens every class's wait, and the pairs show it.
    EXPECT_LT(std::stod(Class[0][8]), 0) << Prty;
  }
  const std::string J = ReadFile(Json);
  EXPECT_NE(J.find("{\"block\":\"Line\",\"priority\":2,\"class\":\"TQueuePrty\","
                   "\"statistic\":\"Mean time\""),
            std::string::npos)
      << J;
  // The page holds the comparison's data, the plots' library and no
  // request for anything beyond itself.
  const std::string Page = ReadFile(Html);
  EXPECT_NE(Page.find("{\"comparison\":{\"a\":"), std::string::npos);
  EXPECT_NE(Page.find("\"priority\":1,"), std::string::npos);
  EXPECT_NE(Page.find("uPlot"), std::string::npos);
  EXPECT_EQ(Page.find("src=\"http"), std::string::npos);
}

TEST(QuorinScenarios, SweepsShowTheClassesOfAPriorityModel) {
  const std::string Csv = Temp("cobham_sweep.csv"), Json = Temp("cobham_sweep.json"),
                    Html = Temp("cobham_sweep.html");
  const auto R = Quorin("sweep " + Example("cobham.qm") +
                        " --set Line.Capacity=50,100 --figure 'Line.Mean time' --replications 6"
                        " --jobs 2 --until 21000 --csv '" + Csv + "' --json '" + Json +
                        "' --html '" + Html + "'");
  ASSERT_EQ(R.Status, 0) << R.Err;
  // Per combination: the block's line and the two classes'.
  EXPECT_EQ(std::count(R.Out.begin(), R.Out.end(), '\n'), 4 + 2 * 3) << R.Out;
  const std::string Table = ReadFile(Csv);
  // Line.Capacity,block,class,statistic,mean,half_width,low,high,std_dev,n,
  // missing,failed,level,priority
  for (const auto& [Prty, Wait] : CobhamWaits) {
    const auto Rows = RowsOf(Table, "Line", "Mean time", 3, Prty);
    ASSERT_EQ(Rows.size(), 2u) << Table;
    for (const auto& Row : Rows) {
      EXPECT_EQ(Row[9], "6");
      EXPECT_NEAR(std::stod(Row[4]), Wait, 0.1 * Wait) << Row[0] << " " << Prty;
    }
  }
  EXPECT_NE(ReadFile(Json).find("\"priority\":2,\"class\":\"TQueuePrty\""), std::string::npos);
  const std::string Page = ReadFile(Html);
  EXPECT_NE(Page.find("{\"sweep\":{\"file\":"), std::string::npos);
  EXPECT_NE(Page.find("\"values\":[\"100\"]"), std::string::npos);
  EXPECT_NE(Page.find("\"priority\":1,"), std::string::npos);
}

TEST(QuorinReplications, TabulatorsHaveRowsOfTheirOwn) {
  std::string Text = ReadFile(std::string(QUORIN_EXAMPLES_DIR) + "/mm1.qm");
  const std::string Exit = "  object Exit: TTerminator";
  Text.replace(Text.find(Exit), 0,
               "  object Waits: TTabulator\n    Interval = 2\n    IntervalCount = 3\n  end\n");
  const std::string File = Temp("mm1_tabulator.qm"), Csv = Temp("mm1_tabulator.csv");
  std::ofstream(File) << Text;
  const auto R =
      Quorin("run '" + File + "' --replications 3 --until 1000 --csv '" + Csv + "'");
  ASSERT_EQ(R.Status, 0) << R.Err;
  EXPECT_NE(R.Out.find("\nTabulators\n"), std::string::npos) << R.Out;
  const std::string Table = ReadFile(Csv);
  // Nothing feeds this one: a count of 0 and no mean, in every replication.
  for (const char* Row :
       {"Waits,TTabulator,Count,0,0,0,0,0,3,0,", "Waits,TTabulator,Mean,,,,,,0,3,",
        "Waits,TTabulator,\"Fraction [2, 4)\",,,,,,0,3,", "Waits,TTabulator,Fraction >= 6,,,,,,0,3,"})
    EXPECT_NE(Table.find(Row), std::string::npos) << Row << "\n" << Table;
}

TEST(QuorinScenarios, BadInputsAreRefusedWithTheReason) {
  const std::string Mm1 = Example("mm1.qm"), Mm3 = Example("mm3.qm");
  const std::string Other = Temp("other.qm");
  std::ofstream(Other) << "run\n  Until = 10\nend\nobject Form: TComponent\n"
                          "  object Model: TModel end\n  object Elsewhere: TTerminator end\nend\n";
  struct TCase {
    std::string Arguments, Error;
  } Cases[] = {
      {"compare " + Mm1 + " " + Mm1 + " --replications 1",
       "--replications must be 2 or more"},
      {"compare " + Mm1 + " " + Mm1, "--replications is required"},
      {"compare " + Mm1 + " '" + Other + "' --replications 3",
       "have no figure in common (the same block, class and statistic)"},
      {"sweep " + Mm3 + " --replications 3", "give at least one --set"},
      {"sweep " + Mm3 + " --replications 3 --set Tellers.Capacity",
       "--set Tellers.Capacity: expected Block.Property=value,value,..."},
      {"sweep " + Mm3 + " --replications 3 --set Teller.Capacity=2",
       "--set Teller.Capacity=2: no component named 'Teller'"},
      {"sweep " + Mm3 + " --replications 3 --set Tellers.Capacty=2",
       "no stored property 'Capacty' (its properties: Tag, Capacity)"},
      {"sweep " + Mm3 + " --replications 3 --set Tellers.Capacity=2,-1",
       "--set Tellers.Capacity=-1: Tellers (TStorage): Capacity = -1 is refused by the component"},
      {"sweep " + Mm3 + " --replications 3 --set Tellers.Capacity=2,,3", "an empty value"},
      {"sweep " + Mm3 + " --replications 3 --set Arrivals.Seed=5,6",
       "replications seed every stream themselves"},
      {"sweep " + Mm3 + " --replications 3 --set Tellers.Capacity=2 --figure Line.Waits",
       "--figure Line.Waits: no such figure"},
  };
  for (const TCase& C : Cases) {
    const auto R = Quorin(C.Arguments);
    EXPECT_EQ(R.Status, 2) << C.Arguments;
    EXPECT_NE(R.Err.find(C.Error), std::string::npos) << C.Arguments << "\n" << R.Err;
    EXPECT_EQ(R.Out, "") << C.Arguments;
  }
}

TEST(QuorinInputs, CallCentreAnswersTheDaysExpectedCalls) {
  // The rate schedule integrates to 564 calls a day; the agents off duty
  // from 20:00 have finished their last calls by the day's end.
  const std::string Csv = Temp("callcentre.csv");
  const auto R = Quorin("run " + Example("callcentre.qm") +
                        " --replications 20 --jobs 2 --level 0.99 --csv '" + Csv + "'");
  EXPECT_EQ(R.Status, 0) << R.Err;
  const auto Rows = CsvRows(ReadFile(Csv), 3);
  const auto Calls = Fields(Rows.at("Phone,TGenerator,Exits,"));
  EXPECT_LE(std::fabs(std::stod(Calls[0]) - 564), std::stod(Calls[1])) << Calls[0];
  EXPECT_EQ(Fields(Rows.at("Agents,TStorage,Max,"))[0], "8"); // both shifts at noon
  EXPECT_EQ(Fields(Rows.at("Agents,TStorage,Count,"))[0], "0");
  // One day ends at the day's end, though the shifts and the rate plan
  // events past it: the report's model time is Until.
  const auto Day = Quorin("run " + Example("callcentre.qm"));
  EXPECT_EQ(Day.Status, 0) << Day.Err;
  EXPECT_NE(Day.Out.find("Model time 1440.0000\n"), std::string::npos) << Day.Out;
}

namespace {

// The pages of the manual and the README.
std::vector<std::filesystem::path> ManualPages() {
  const std::filesystem::path Root = std::filesystem::path(QUORIN_EXAMPLES_DIR).parent_path();
  std::vector<std::filesystem::path> Pages{Root / "README.md"};
  for (const auto& Entry : std::filesystem::directory_iterator(Root / "docs"))
    if (Entry.path().extension() == ".md") Pages.push_back(Entry.path());
  std::sort(Pages.begin(), Pages.end());
  return Pages;
}

} // namespace

// Every block of the manual that shows a command and what it prints (a
// plain ``` block whose first line is "$ quorin ...") is what the command
// prints now, run from the checkout's top folder: standard output, and the
// lines on standard error that a terminal would show too. After an intended
// change, QUORIN_UPDATE_DOCS=1 writes the blocks anew.
TEST(QuorinDocs, TheCommandsShownPrintWhatTheManualShows) {
  const char* Update = std::getenv("QUORIN_UPDATE_DOCS");
  const bool Updating = Update && *Update && std::string(Update) != "0";
  const std::string Root = std::filesystem::path(QUORIN_EXAMPLES_DIR).parent_path().string();
  int Shown = 0;
  for (const auto& Page : ManualPages()) {
    std::string Text = ReadFile(Page.string());
    const std::string Open = "```\n$ quorin ";
    bool Changed = false;
    for (size_t At = Text.find(Open); At != std::string::npos; At = Text.find(Open, At + 1)) {
      const size_t CommandAt = At + 6, CommandEnd = Text.find('\n', CommandAt);
      const size_t End = Text.find("```", CommandEnd);
      ASSERT_NE(End, std::string::npos) << Page;
      const std::string Command = Text.substr(CommandAt, CommandEnd - CommandAt);
      const std::string Shell = "cd '" + Root + "' && '" + QUORIN_COMMAND + "' " +
                                Command.substr(std::string("quorin ").size()) + " 2>&1";
      std::string Out;
      FILE* Pipe = popen(Shell.c_str(), "r");
      ASSERT_NE(Pipe, nullptr);
      char Buffer[4096];
      for (std::size_t N; (N = fread(Buffer, 1, sizeof Buffer, Pipe)) > 0;)
        Out.append(Buffer, N);
      pclose(Pipe);
      const std::string Printed = Text.substr(CommandEnd + 1, End - CommandEnd - 1);
      ++Shown;
      if (Printed == Out) continue;
      if (Updating) {
        Text.replace(CommandEnd + 1, End - CommandEnd - 1, Out);
        Changed = true;
      } else {
        ADD_FAILURE() << Page << ": $ " << Command << "\nshows:\n"
                      << Printed << "prints:\n"
                      << Out << "(QUORIN_UPDATE_DOCS=1 writes it anew)";
      }
    }
    if (Changed) std::ofstream(Page, std::ios::binary) << Text;
  }
  EXPECT_GT(Shown, 0);
}
