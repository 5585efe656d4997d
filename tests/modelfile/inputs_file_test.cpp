// Schedules and empirical distributions in model files: what loads, what is
// refused with its line, and that a file gives the same runs as C++.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "quorin/quorin.h"

using namespace quorin;

namespace {

std::string Temp(const std::string& Name, const std::string& Text) {
  // A folder of this process's own: the model files name their data files
  // relative to it, and other test runs may use the same temporary folder.
  const std::string Folder = testing::TempDir() + "quorin_inputs_" + std::to_string(getpid());
  mkdir(Folder.c_str(), 0700);
  const std::string Path = Folder + "/" + Name;
  std::ofstream(Path) << Text;
  return Path;
}

std::unique_ptr<TModelFile> LoadAt(const std::string& Name, const std::string& Text,
                                   std::vector<std::string>& Errors) {
  return LoadModelFile(Temp(Name, Text), THandlerTable{}, Errors);
}

const char* const Shop = R"(run
  Until = 100
end

schedule Rate
  Period = 20
  Steps = "0 2, 10 0.5"
end

schedule Duty
  File = "duty.csv"
end

object Form: TComponent
  object Model: TModel end
  object Calls: TMultiRand end
  object Work: TMultiRand
    Seed = 7
  end
  object Door: TGenerator
    OnBeforeTimeGoOn = NextArrivalAtRate(Calls, Rate)
    OnAfterGeneration = NextArrivalAtRate(Calls, Rate)
    OnRouting = PassTo(Line)
  end
  object Line: TQueue
    OnRouting = PassTo(Desk)
  end
  object Desk: TStorage
    Schedule = Duty
    OnEnter = Hold(Work.Empirical("work.csv"))
    OnRouting = PassTo(Done)
  end
  object Done: TTerminator end
end
)";

TEST(ModelFileInputs, LoadSaveAndRunAsTheSameModelInCpp) {
  Temp("duty.csv", "time,agents\n0,2\n30,0\n40,3\n");
  Temp("work.csv", "0.5\n1.5\n2.5\n4\n");
  std::vector<std::string> Errors;
  auto File = LoadAt("shop.qm", Shop, Errors);
  ASSERT_TRUE(File) << (Errors.empty() ? "" : Errors[0]);
  std::string Text;
  ASSERT_TRUE(SaveModelText(*File, Text, Errors));
  EXPECT_NE(Text.find("schedule Rate\n  Period = 20\n  Steps = \"0 2, 10 0.5\"\nend\n"),
            std::string::npos)
      << Text;
  EXPECT_NE(Text.find("    Schedule = Duty\n"), std::string::npos) << Text;
  EXPECT_NE(Text.find("Hold(Work.Empirical(\"work.csv\"))"), std::string::npos) << Text;
  auto Again = LoadAt("shop2.qm", Text, Errors);
  ASSERT_TRUE(Again) << (Errors.empty() ? "" : Errors[0]);
  std::string Text2;
  ASSERT_TRUE(SaveModelText(*Again, Text2, Errors));
  EXPECT_EQ(Text, Text2);
  // The block's schedule is drawn as part of the block, not as a component.
  std::ostringstream Svg;
  WriteDiagramSvg(*File, Svg);
  EXPECT_EQ(Svg.str().find("TScheduleDriver"), std::string::npos);
  File->Model()->Simulate(100);
  std::vector<double> FromFile;
  auto* Desk = dynamic_cast<TStorage*>(File->Resolve(File->Model(), "Desk"));
  ASSERT_TRUE(Desk);
  const int32_t FileEntries = Desk->Entries();
  const int32_t FileArrivals =
      dynamic_cast<TGenerator*>(File->Resolve(File->Model(), "Door"))->Exits();
  File.reset();
  Again.reset();

  // The same model in C++.
  TComponent Application(nullptr);
  auto* Form = new TComponent(&Application);
  auto* Model = new TModel(Form);
  auto* Calls = new TMultiRand(Form);
  auto* Work = new TMultiRand(Form);
  Work->SetSeed(7);
  auto* Door = new TGenerator(Form);
  auto* Line = new TQueue(Form);
  auto* Room = new TStorage(Form);
  auto* Done = new TTerminator(Form);
  std::string Error;
  SetArrivalRate(*Door, *TSchedule::Parse("0 2, 10 0.5", 20, Error), *Calls);
  ASSERT_TRUE(TScheduleDriver::Attach(*Room, *TSchedule::Parse("0 2, 30 0, 40 3", 0, Error), Error));
  auto Durations = TEmpirical::Make({0.5, 1.5, 2.5, 4}, false, Error);
  Door->OnRouting = [=](TBlock* S, TTransaction*) { S->PassTo(Line); };
  Line->OnRouting = [=](TBlock* S, TTransaction*) { S->PassTo(Room); };
  Room->OnEnter = [=](TBlock*, TTransaction*) { Room->NextTime(Durations->Draw(*Work)); };
  Room->OnRouting = [=](TBlock* S, TTransaction*) { S->PassTo(Done); };
  Model->Simulate(100);
  EXPECT_EQ(Door->Exits(), FileArrivals);
  EXPECT_EQ(Room->Entries(), FileEntries);
  EXPECT_GT(FileEntries, 50);
}

TEST(ModelFileInputs, ASavedModelFindsItsDataFromAnotherFolder) {
  Temp("duty.csv", "time,agents\n0,2\n30,0\n40,3\n");
  Temp("work.csv", "0.5\n1.5\n2.5\n4\n");
  std::vector<std::string> Errors;
  const std::string Model = Temp("shop.qm", Shop);
  const std::string Folder = Model.substr(0, Model.rfind('/'));
  auto File = LoadModelFile(Model, THandlerTable{}, Errors);
  ASSERT_TRUE(File) << (Errors.empty() ? "" : Errors[0]);
  // Below the model's folder, beside it, and named relative to the current one.
  const std::string Elsewhere = testing::TempDir() + "quorin_elsewhere_" + std::to_string(getpid());
  mkdir((Folder + "/sub").c_str(), 0700);
  mkdir(Elsewhere.c_str(), 0700);
  const std::string Relative =
      std::filesystem::relative(Elsewhere + "/rel.qm", std::filesystem::current_path()).string();
  for (const std::string& Path : {Folder + "/sub/shop.qm", Elsewhere + "/shop.qm", Relative}) {
    std::string Text;
    ASSERT_TRUE(SaveModelText(*File, Text, Errors, Path));
    std::ofstream(Path) << Text;
    auto Again = LoadModelFile(Path, THandlerTable{}, Errors);
    ASSERT_TRUE(Again) << Path << ": " << (Errors.empty() ? "" : Errors[0]);
  }
  std::string Text;
  ASSERT_TRUE(SaveModelText(*File, Text, Errors, Folder + "/sub/shop.qm"));
  EXPECT_NE(Text.find("File = \"../duty.csv\""), std::string::npos) << Text;
  EXPECT_NE(Text.find("Work.Empirical(\"../work.csv\")"), std::string::npos) << Text;
}

TEST(ModelFileInputs, ABadScheduleIsReportedOnceNotByEveryUser) {
  const std::string Text = R"(schedule Shifts
  Steps = "0 1, 0 2"
end
object Form: TComponent
  object Model: TModel end
  object R: TMultiRand end
  object Door: TGenerator
    OnBeforeTimeGoOn = NextArrivalAtRate(R, Shifts)
  end
  object A: TServer
    Schedule = Shifts
  end
  object B: TServer
    Schedule = Shifts
  end
end
)";
  std::vector<std::string> Errors;
  EXPECT_FALSE(LoadAt("once.qm", Text, Errors));
  ASSERT_EQ(Errors.size(), 1u) << Errors[0] << " / " << Errors.back();
  EXPECT_NE(Errors[0].find(":2: schedule Shifts: step 2: times must increase"), std::string::npos)
      << Errors[0];
}

TEST(ModelFileInputs, RefusesBadSchedulesAndDataAtTheirLines) {
  Temp("bad.csv", "x\n1\n2\nabc\n");
  Temp("neg.csv", "1\n-2\n");
  Temp("rates.csv", "0,1\n5,x\n");
  const std::string Model = "object Form: TComponent\n  object Model: TModel end\n"
                            "  object R: TMultiRand end\n";
  struct TCase {
    const char* Text; // after the model's lines 1-3
    const char* Error;
  } Cases[] = {
      {"  object G: TGenerator\n    OnBeforeTimeGoOn = NextArrivalAtRate(R, Nope)\n  end\nend\n",
       ":5: G (TGenerator): OnBeforeTimeGoOn: NextArrivalAtRate: argument 2 must name a schedule "
       "section (the rate)"},
      {"  object S: TServer\n    Schedule = Nope\n  end\nend\n",
       ":5: S (TServer): Schedule: no schedule section named 'Nope'"},
      {"  object S: TServer\n    Schedule = Two\n  end\nend\nschedule Two\n  Steps = \"0 2\"\nend\n",
       ":5: S (TServer): Schedule = Two: a server is on duty (1) or off (0), not 2"},
      {"  object S: TStorage\n    OnEnter = Hold(R.Empirical(\"bad.csv\"))\n  end\nend\n",
       "bad.csv:4: 'abc' is not a number"},
      {"  object S: TStorage\n    OnEnter = Hold(R.Empirical(\"neg.csv\"))\n  end\nend\n",
       "Hold: R.Empirical: a delay cannot be negative"},
      {"  object S: TStorage\n    OnEnter = Hold(R.Empirical(2))\n  end\nend\n",
       "Hold: R.Empirical takes one quoted file name"},
      {"end\nschedule A\n  Steps = \"0 1, 0 2\"\nend\n",
       ":6: schedule A: step 2: times must increase (0 follows 0)"},
      {"end\nschedule A\n  Steps = \"0 1\"\n  File = \"rates.csv\"\nend\n",
       ":5: schedule A: give either Steps or File"},
      {"end\nschedule A\n  File = \"rates.csv\"\nend\n", "rates.csv:2: 'x' is not a number (column 2)"},
      {"end\nschedule A\n  Repeat = 3\nend\n", ":6: schedule A: unknown setting 'Repeat'"},
      {"end\nschedule A\n  Period = 1e-8\n  Steps = \"0 1\"\nend\n",
       ":7: schedule A: the period 1e-08 is too short"},
      {"end\nschedule A\n  Steps = \"0 1\"\n", ":5: schedule A has no 'end'"},
      {"end\nschedule A\n  Steps = \"0 1\"\nend\nschedule A\n  Steps = \"0 1\"\nend\n",
       ":8: a second schedule named A"},
  };
  for (const TCase& C : Cases) {
    std::vector<std::string> Errors;
    EXPECT_FALSE(LoadAt("bad.qm", Model + C.Text, Errors)) << C.Text;
    ASSERT_FALSE(Errors.empty()) << C.Text;
    EXPECT_NE(Errors[0].find(C.Error), std::string::npos) << Errors[0];
  }
}

} // namespace
