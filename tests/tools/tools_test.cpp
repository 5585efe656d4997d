// The quorin command, run as a user runs it.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

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
  std::ostringstream MM1, MM3, Barber, Priority;
  RunMM1(MM1);
  RunMM3(MM3);
  RunBarber(Barber);
  RunPriority(Priority);

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

TEST(QuorinCommand, OptionsOverrideTheRunSectionAndCsvIsWritten) {
  const std::string Csv = Temp("mm1.csv");
  std::remove(Csv.c_str());
  auto R = Quorin("run " + Example("mm1.qm") + " --warmup 10 --until 500 --csv '" + Csv + "'");
  EXPECT_EQ(R.Status, 0) << R.Err;
  EXPECT_NE(R.Out.find("Model time 50"), std::string::npos) << R.Out;
  std::ifstream File(Csv);
  std::stringstream Text;
  Text << File.rdbuf();
  EXPECT_EQ(Text.str().rfind("Model time,50", 0), 0u) << Text.str();
  EXPECT_NE(Text.str().find("\nClerk,TServer,"), std::string::npos);

  // A seed changes every stream, the same way each time.
  const auto A = Quorin("run " + Example("mm1.qm") + " --warmup 0 --until 500 --seed 17");
  const auto B = Quorin("run " + Example("mm1.qm") + " --warmup 0 --until 500 --seed 17");
  const auto C = Quorin("run " + Example("mm1.qm") + " --warmup 0 --until 500");
  EXPECT_EQ(A.Out, B.Out);
  EXPECT_NE(A.Out, C.Out);
  EXPECT_NE(A.Out.find("Model time 50"), std::string::npos) << A.Err;
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

} // namespace
