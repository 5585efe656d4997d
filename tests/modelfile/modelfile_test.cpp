#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

#include <sstream>

#include "message_capture.h"
#include "quorin/quorin.h"

using namespace quorin;

namespace {

std::unique_ptr<TModelFile> Load(const std::string& Text, const THandlerTable& Handlers = {}) {
  std::vector<std::string> Errors;
  auto File = LoadModelText(Text, "test.qm", Handlers, Errors);
  for (const std::string& E : Errors)
    ADD_FAILURE() << E;
  return File;
}

std::string Save(const TModelFile& File) {
  std::string Text;
  std::vector<std::string> Errors;
  EXPECT_TRUE(SaveModelText(File, Text, Errors));
  for (const std::string& E : Errors)
    ADD_FAILURE() << E;
  return Text;
}

template <class T> T* Find(const TModelFile& File, const std::string& Name) {
  auto* X = dynamic_cast<T*>(File.Resolve(File.Model(), Name));
  EXPECT_NE(X, nullptr) << Name;
  return X;
}

std::string Report(const TModelFile& File, double Until) {
  File.Model()->Simulate(Until);
  std::ostringstream Out;
  PrintReport(*File.Model(), Out);
  return Out.str();
}

// Every class, every stored property away from its default, sequences of
// handlers, an application handler and names used before their objects.
const char* const Everything = R"(# A model that uses every kind of entry.
run
  Title = "All \"kinds\"\tof entry"
  Warmup = 10
  Until = 400.5
end

object Form: TComponent
  Tag = -3
  object Model: TModel
    PageSize = 2048
    HeapSize = 8
    OnDeadlock = Stop
  end
  object Door: TGenerator
    OnBeforeTimeGoOn = NextArrival(Arrivals.Exponential(1))
    OnAfterGeneration = NextArrival(Arrivals.Exponential(1)); SetPriority(3); SetPreempt
    OnRouting = PassByChance(Router, Line, 0.25, Fast, 0.75)
  end
  object Line: TQueue
    Capacity = 20
    OnEnter = TimeLimit(Arrivals.Uniform(5, 10))
    OnTimeFinish = PassTo(Exit)
    OnRouting = PassFirst(Clerk, Spare)
  end
  object Fast: TStack
    OnRouting = PassTo(Spare)
  end
  object Clerk: TServer
    Preemptive = true
    OnEnter = Hold(Services.Erlang(0.8, 2))
    OnRouting = PassTo(Exit)
  end
  object Spare: TStorage
    Capacity = 2
    OnEnter = Hold(Services.Triangular(0.5, 1, 2.5))
    OnRouting = PassTo(Exit)
  end
  object Exit: TTerminator
    OnEnter = Counted; StopAfter(100000)
  end
  object Shift: TScheduler
    OnBeforeTimeGoOn = NextArrival(50)
    OnPlanned = NextArrival(50)
  end
  object Hist: TTabulator
    LowerBound = -1.5
    Interval = 0.1
    IntervalCount = 12
  end
  object Arrivals: TMultiRand
    Seed = 42
    Multiplier = 48271
  end
  object Router: TMultiRand end
  object Services: TMultiRand
    Seed = 7
  end
end
)";

THandlerTable CountingHandlers(int& Calls) {
  THandlerTable H;
  H.Block["Counted"] = [&Calls](TBlock*, TTransaction*) { ++Calls; };
  return H;
}

TEST(ModelFile, LoadsEveryPropertyThroughItsSetter) {
  int Calls = 0;
  auto File = Load(Everything, CountingHandlers(Calls));
  ASSERT_TRUE(File);
  EXPECT_EQ(File->Run.Title, "All \"kinds\"\tof entry");
  EXPECT_EQ(File->Run.Warmup, 10);
  EXPECT_EQ(File->Run.Until, 400.5);
  EXPECT_EQ(File->Application()->ComponentCount(), 1);
  EXPECT_EQ(File->Model()->Owner()->Tag(), -3);
  EXPECT_EQ(File->Model()->PageSize(), 2048);
  EXPECT_EQ(File->Model()->HeapSize(), 8);
  EXPECT_EQ(Find<TQueue>(*File, "Line")->Capacity(), 20);
  EXPECT_TRUE(Find<TServer>(*File, "Clerk")->Preemptive());
  EXPECT_EQ(Find<TStorage>(*File, "Spare")->Capacity(), 2);
  auto* Hist = Find<TTabulator>(*File, "Hist");
  EXPECT_EQ(Hist->LowerBound(), -1.5f);
  EXPECT_EQ(Hist->Interval(), 0.1f);
  EXPECT_EQ(Hist->IntervalCount(), 12);
  EXPECT_EQ(Find<TMultiRand>(*File, "Arrivals")->GetMultiplier(), 48271);
  ASSERT_EQ(File->Streams().size(), 3u);
  EXPECT_EQ(File->Streams()[2]->GetSeed(), 7);
  Report(*File, 400);
  EXPECT_GT(Calls, 300);
}

TEST(ModelFile, SavedAndLoadedAgainIsTheSameModel) {
  int Calls = 0;
  const auto Handlers = CountingHandlers(Calls);
  auto First = Load(Everything, Handlers);
  ASSERT_TRUE(First);
  const std::string Saved = Save(*First);
  auto Second = Load(Saved, Handlers);
  ASSERT_TRUE(Second);
  EXPECT_EQ(Save(*Second), Saved);
  // Defaults are left out, set values kept, comments dropped.
  EXPECT_NE(Saved.find("    PageSize = 2048\n"), std::string::npos);
  EXPECT_NE(Saved.find("    LowerBound = -1.5\n"), std::string::npos);
  EXPECT_NE(Saved.find("  object Router: TMultiRand end\n"), std::string::npos);
  EXPECT_NE(Saved.find("OnAfterGeneration = NextArrival(Arrivals.Exponential(1)); SetPriority(3); "
                       "SetPreempt\n"),
            std::string::npos);
  EXPECT_EQ(Saved.find("Capacity = 0"), std::string::npos);
  EXPECT_EQ(Saved.find('#'), std::string::npos);
  // The same model: both runs give the same report, digit for digit.
  const std::string A = Report(*First, 300);
  First->Model()->Reset(); // one model at a time holds the run memory
  const std::string B = Report(*Second, 300);
  EXPECT_EQ(A, B);
  EXPECT_NE(A.find("Spare"), std::string::npos);
}

// Every class on the palette stands in a model file and is saved as it was
// loaded, and every block class has its row in the report, of its
// description's kind: the loader, the saver and the report keep no list of
// classes that a new one would have to join.
TEST(ModelFile, EveryClassOnThePaletteLoadsSavesAndReports) {
  Blocks::Register();
  Statsim::Register();
  std::string Text = "object Form: TComponent\n  object Model: TModel end\n";
  for (const TComponentClass& C : PaletteClasses("Quorin"))
    if (C.ClassName != "TModel") Text += "  object A" + C.ClassName + ": " + C.ClassName + " end\n";
  auto File = Load(Text + "end\n");
  ASSERT_TRUE(File);
  EXPECT_EQ(Save(*File), Text + "end\n");
  File->Model()->Simulate(1);
  const auto Rows = CollectReport(*File->Model());
  for (const TComponentClass& C : PaletteClasses("Quorin")) {
    const TClassInfo* Info = FindClassInfo(C.ClassName);
    if (Info->Report == TReportKind::None) continue;
    const auto Row = std::find_if(Rows.begin(), Rows.end(),
                                  [&C](const TReportRow& R) { return R.Class == C.ClassName; });
    ASSERT_NE(Row, Rows.end()) << C.ClassName;
    EXPECT_EQ(Row->Name, "A" + C.ClassName);
    EXPECT_EQ(Row->Kind, Info->Report) << C.ClassName;
  }
  File->Model()->Reset();
}

TEST(ModelFile, ShowcaseFilesSurviveASaveUnchangedApartFromComments) {
  auto File = Load(R"(object Form: TComponent
  object Model: TModel
    CheckModel = true # report wrongly wired blocks
  end
  object Services: TMultiRand
    Seed = 1234567891
  end
end
)");
  ASSERT_TRUE(File);
  EXPECT_TRUE(File->Model()->CheckModel());
  EXPECT_EQ(Save(*File),
            "object Form: TComponent\n  object Model: TModel\n    CheckModel = true\n"
            "  end\n  object Services: TMultiRand\n    Seed = 1234567891\n  end\nend\n");
}

struct TBadCase {
  const char* What;
  std::string Body; // the objects inside "object Form: TComponent", from line 2
  const char* Error;
};

// Line 1 of every case opens the form, line 2 holds the model.
std::string InForm(const std::string& Body) {
  return "object Form: TComponent\n  object Model: TModel end\n" + Body + "end\n";
}

TEST(ModelFile, ErrorsNameTheFileTheLineAndTheComponent) {
  const TBadCase Cases[] = {
      {"unknown class", "  object Q: TQeue end\n", "test.qm:3: Q: unknown class 'TQeue'"},
      {"abstract class", "  object B: TBlock end\n", "test.qm:3: B: unknown class 'TBlock'"},
      {"unknown property", "  object Q: TQueue\n    Capacty = 3\n  end\n",
       "test.qm:4: Q (TQueue): no stored property 'Capacty' (its properties: Tag, Capacity)"},
      {"name as property", "  object Q: TQueue\n    Name = Other\n  end\n",
       "test.qm:4: Q (TQueue): the name is given on the object line"},
      {"fraction for an integer", "  object Q: TQueue\n    Capacity = 2.5\n  end\n",
       "test.qm:4: Q (TQueue): Capacity must be a whole number"},
      {"word for a number", "  object Q: TQueue\n    Capacity = many\n  end\n",
       "Capacity must be a whole number"},
      {"bad boolean", "  object S: TServer\n    Preemptive = 1\n  end\n",
       "test.qm:4: S (TServer): Preemptive must be true or false"},
      {"outside the setter's type", "  object H: TTabulator\n    IntervalCount = 300\n  end\n",
       "test.qm:4: H (TTabulator): IntervalCount = 300 is out of the property's range 0...255"},
      {"stream seed out of range", "  object R: TMultiRand\n    Seed = 0\n  end\n",
       "test.qm:4: R (TMultiRand): Seed = 0 is out of the property's range 1...2147483646"},
      {"stream multiplier out of range", "  object R: TMultiRand\n    Multiplier = 1\n  end\n",
       "test.qm:4: R (TMultiRand): Multiplier = 1 is out of the property's range 2...2147483646"},
      {"refused by the model",
       "  object M2: TComponent\n  end\n  object H: TTabulator\n"
       "    Interval = -1\n  end\n",
       "test.qm:6: H (TTabulator): Interval = -1 is refused: H: Interval can not "
       "be negative"},
      {"refused silently", "  object Q: TQueue\n    Capacity = -1\n  end\n",
       "test.qm:4: Q (TQueue): Capacity = -1 is refused by the component"},
      {"property twice", "  object Q: TQueue\n    Capacity = 1\n    Capacity = 2\n  end\n",
       "test.qm:5: Q (TQueue): Capacity is given twice (first on line 4)"},
      {"duplicate name", "  object Q: TQueue end\n  object Q: TStack end\n",
       "test.qm:4: a second component named Q in Form"},
      {"second model", "  object M: TModel end\n", "test.qm:3: M (TModel): a second TModel"},
      {"unknown event", "  object Q: TQueue\n    OnPreempt = PassTo(Q)\n  end\n",
       "test.qm:4: Q (TQueue): no event OnPreempt (its events: OnEnter, OnExit, OnTimeFinish, "
       "OnRouting)"},
      {"event twice",
       "  object Q: TQueue\n    OnRouting = PassTo(Q)\n    OnRouting = PassTo(Q)\n"
       "  end\n",
       "test.qm:5: Q (TQueue): OnRouting is bound twice (first on line 4)"},
      {"unknown handler", "  object Q: TQueue\n    OnRouting = Pass(Q)\n  end\n",
       "test.qm:4: Q (TQueue): OnRouting: unknown handler 'Pass' (standard handlers: PassTo"},
      {"unknown block", "  object Q: TQueue\n    OnRouting = PassTo(Lnie)\n  end\n",
       "test.qm:4: Q (TQueue): OnRouting: PassTo: no component named 'Lnie'"},
      {"not a block",
       "  object R: TMultiRand end\n  object Q: TQueue\n    OnRouting = PassTo(R)\n"
       "  end\n",
       "test.qm:5: Q (TQueue): OnRouting: PassTo: R is a TMultiRand, not a block"},
      {"argument count", "  object Q: TQueue\n    OnRouting = PassTo(Q, Q)\n  end\n",
       "test.qm:4: Q (TQueue): OnRouting: PassTo: takes 1 argument, not 2"},
      {"routing outside routing", "  object Q: TQueue\n    OnEnter = PassTo(Q)\n  end\n",
       "OnEnter: PassTo: moves a transaction, so it belongs in a routing event"},
      {"hold on a queue", "  object Q: TQueue\n    OnEnter = Hold(3)\n  end\n",
       "test.qm:4: Q (TQueue): OnEnter: Hold: orders a holding time, so it belongs in OnEnter of "
       "a TServer, TStorage or TStoragePrty"},
      {"postpone outside a preemption", "  object S: TServer\n    OnEnter = PostPone\n  end\n",
       "OnEnter: PostPone: keeps a displaced transaction, so it belongs in OnPreempt of a TServer"},
      {"negative delay", "  object S: TServer\n    OnEnter = Hold(-3)\n  end\n",
       "Hold: a delay cannot be negative"},
      {"put into a block", "  object S: TTerminator\n    OnEnter = PutValue(S, Age)\n  end\n",
       "PutValue: S is a TTerminator, not a tabulator (TTabulator)"},
      {"put an unknown value",
       "  object H: TTabulator end\n  object S: TTerminator\n    OnEnter = PutValue(H, Agee)\n"
       "  end\n",
       "PutValue: argument 2 must be Age, TimeInBlock, Priority, a value of the transaction the "
       "application names, a number or a draw such as Stream.Exponential(1), not 'Agee'"},
      {"age without a transaction",
       "  object H: TTabulator end\n  object G: TGenerator\n    OnBeforeTimeGoOn = PutValue(H, "
       "Age)\n  end\n",
       "PutValue: OnBeforeTimeGoOn has no transaction"},
      {"unknown distribution",
       "  object R: TMultiRand end\n  object S: TServer\n"
       "    OnEnter = Hold(R.Poisson(3))\n  end\n",
       "test.qm:5: S (TServer): OnEnter: Hold: unknown distribution 'Poisson' (one of Uni01, "
       "Uniform, Exponential, Erlang, Normal, GammaJonk, Gamma, Beta, Weibull, Lognormal, "
       "Triangular, Empirical, EmpiricalDiscrete)"},
      {"distribution parameter count",
       "  object R: TMultiRand end\n  object S: TServer\n"
       "    OnEnter = Hold(R.Uniform(3))\n  end\n",
       "Hold: R.Uniform takes 2 parameters, not 1"},
      {"distribution parameters the stream refuses",
       "  object R: TMultiRand end\n  object S: TServer\n    OnEnter = Hold(R.Triangular(3, 2, "
       "1))\n  end\n",
       "test.qm:5: S (TServer): OnEnter: Hold: Incorrect parameters of "
       "R.Triangular"},
      {"Erlang order",
       "  object R: TMultiRand end\n  object S: TServer\n"
       "    OnEnter = Hold(R.Erlang(3, 1.5))\n  end\n",
       "Hold: R.Erlang: parameter 2 must be a whole number"},
      {"draw from a block", "  object S: TServer\n    OnEnter = Hold(S.Exponential(1))\n  end\n",
       "Hold: S is a TServer, not a random stream (TMultiRand)"},
      {"probabilities",
       "  object R: TMultiRand end\n  object Q: TQueue\n"
       "    OnRouting = PassByChance(R, Q, 0.5, Q, 0.4)\n  end\n",
       "test.qm:5: Q (TQueue): OnRouting: PassByChance: the probabilities must add up to 1"},
      {"priority range",
       "  object G: TGenerator\n    OnAfterGeneration = SetPriority(256)\n  end\n",
       "SetPriority: argument 1 must be a whole number in 0...255"},
      {"no transaction", "  object C: TScheduler\n    OnPlanned = SetPreempt\n  end\n",
       "OnPlanned: SetPreempt: OnPlanned has no transaction"},
      {"next arrival of a server", "  object S: TServer\n    OnExit = NextArrival(1)\n  end\n",
       "NextArrival: orders the next activation of a TGenerator or TScheduler, not of a TServer"},
      {"stop count", "  object T: TTerminator\n    OnEnter = StopAfter(0)\n  end\n",
       "StopAfter: argument 1 must be a whole number in 1...2147483647"},
      {"arguments to an application handler",
       "  object T: TTerminator\n    OnEnter = Mine(1)\n"
       "  end\n",
       "OnEnter: Mine: an application handler takes no arguments"},
      {"application handler of another shape",
       "  object C: TScheduler\n    OnPlanned = Mine\n"
       "  end\n",
       "OnPlanned: unknown handler 'Mine'"},
      {"draw of whole numbers",
       "  object R: TMultiRand end\n  object C: TScheduler\n"
       "    OnPlanned = Generate(B, R.Exponential(3))\n  end\n  object B: TCreator end\n",
       "Generate: unknown draw of whole numbers 'Exponential' (one of Poisson, UniformInt, "
       "Discrete)"},
      {"batch bounds",
       "  object R: TMultiRand end\n  object C: TScheduler\n"
       "    OnPlanned = Generate(B, R.UniformInt(0, 4))\n  end\n  object B: TCreator end\n",
       "Generate: R.UniformInt: the bounds must be whole numbers in 1...2147483647"},
      {"drawn priority",
       "  object R: TMultiRand end\n  object G: TGenerator\n"
       "    OnAfterGeneration = SetPriority(R.Discrete(1, 0.5, 300, 0.5))\n  end\n",
       "SetPriority: R.Discrete: a value must be a whole number in 0...255"},
      {"drawn shares",
       "  object R: TMultiRand end\n  object G: TGenerator\n"
       "    OnAfterGeneration = SetPriority(R.Discrete(1, 0.5, 2, 0.4))\n  end\n",
       "SetPriority: R.Discrete: the probabilities must add up to 1"},
      {"Poisson mean",
       "  object R: TMultiRand end\n  object C: TScheduler\n"
       "    OnPlanned = Generate(B, R.Poisson(0))\n  end\n  object B: TCreator end\n",
       "Generate: R.Poisson: the mean must lie above 0 and at most 700"},
      {"priority given twice",
       "  object Q: TQueue\n    OnRouting = PassByPriority(1, Q, 1, Q)\n  end\n",
       "PassByPriority: priority 1 is given twice"},
      {"holding by priority on a queue",
       "  object Q: TQueue\n    OnEnter = HoldByPriority(1, 3)\n  end\n",
       "HoldByPriority: orders a holding time, so it belongs in OnEnter of a TServer"},
      {"resume outside OnEnter", "  object S: TStoragePrty\n    OnExit = Resume(3)\n  end\n",
       "Resume: orders a holding time, so it belongs in OnEnter of a TServer"},
      {"turns outside routing", "  object Q: TQueue\n    OnEnter = PassInTurn(Q)\n  end\n",
       "OnEnter: PassInTurn: moves a transaction, so it belongs in a routing event"},
      {"syntax: no end", "  object Q: TQueue\n",
       "test.qm:3: object Q has no 'end' (the 'end' on line 4 is indented as for another object)"},
      {"syntax: stray end", "end\n", "test.qm:4: 'end' without an open object"},
      {"syntax: an end too many, indented", "  end\n",
       "test.qm:3: an 'end' too many? It closes object Form (line 1) but is indented as for "
       "another object, so the 'end' on line 4 has no object left to close"},
      {"negative capacity of a divider", "  object D: TDivider\n    Capacity = -3\n  end\n",
       "test.qm:4: D (TDivider): Capacity = -3 is out of the property's range 0...2147483647"},
      {"a block nested in another block", "  object Q: TQueue\n    object R: TServer end\n  end\n",
       "test.qm:4: R (TServer): stands outside the forms of the model"},
      {"a huge word is cut short", "  object Q: T" + std::string(100000, 'x') + " end\n",
       "xxx... (100003 characters) (TComponent for a form"},
      {"syntax: unclosed string", "  object H: TTabulator\n    Tag = \"x\n  end\n",
       "test.qm:4: a string is not closed on its line"},
      {"syntax: bad character", "  object Q: TQueue\n    Capacity = 3 @\n  end\n",
       "test.qm:4: unexpected character '@'"},
      {"syntax: not a number", "  object Q: TQueue\n    Capacity = 1.2.3\n  end\n",
       "test.qm:4: '1.2.3' is not a number"},
      {"syntax: missing parenthesis", "  object Q: TQueue\n    OnRouting = PassTo(Q\n  end\n",
       "test.qm:4: expected ',' or ')' in the arguments of PassTo, found the end of the line"},
  };
  THandlerTable Handlers;
  Handlers.Block["Mine"] = [](TBlock*, TTransaction*) {};
  for (const TBadCase& C : Cases) {
    test::TMessageCapture Shown;
    std::vector<std::string> Errors;
    auto File = LoadModelText(InForm(C.Body), "test.qm", Handlers, Errors);
    EXPECT_FALSE(File) << C.What;
    ASSERT_FALSE(Errors.empty()) << C.What;
    EXPECT_NE(Errors[0].find(C.Error), std::string::npos) << C.What << "\n  got: " << Errors[0];
    // The setters' messages became errors of the file; none reached the user.
    EXPECT_TRUE(Shown.Messages.empty()) << C.What;
  }
}

// A model file runs on the heap list with retry on change unless it says
// otherwise, or its routing does more than route; a save keeps the choice.
TEST(ModelFile, EngineIsScalableUnlessTheFileOrItsRoutingSaysOtherwise) {
  struct TCase {
    const char* Model;   // the TModel's properties
    const char* Routing; // the door's OnRouting
    TEventList List;
    TRetry Retry;
  } Cases[] = {
      {"", "PassFirst(Line, Exit)", TEventList::Heap, TRetry::OnChange},
      {"    HeapEventList = false\n", "PassTo(Line)", TEventList::Levels, TRetry::OnChange},
      {"    RetryOnChange = false\n", "PassTo(Line)", TEventList::Heap, TRetry::EveryScan},
      {"", "PassTo(Line); StopAfter(100)", TEventList::Heap, TRetry::EveryScan},
      {"    RetryOnChange = true\n", "PassTo(Line); StopAfter(100)", TEventList::Heap,
       TRetry::OnChange},
  };
  for (const TCase& C : Cases) {
    const std::string Text = std::string("object Form: TComponent\n  object Model: TModel\n") +
                             C.Model +
                             "  end\n  object Door: TGenerator\n    OnRouting = " + C.Routing +
                             "\n  end\n  object Line: TQueue end\n  object Exit: TTerminator "
                             "end\nend\n";
    auto File = Load(Text);
    ASSERT_TRUE(File) << Text;
    auto Again = Load(Save(*File));
    ASSERT_TRUE(Again);
    for (const TModel* M : {File->Model(), Again->Model()}) {
      EXPECT_EQ(M->EventList(), C.List) << Text;
      EXPECT_EQ(M->Retry(), C.Retry) << Text;
    }
  }
}

TEST(ModelFile, RunSectionAndFileLevelErrors) {
  const std::pair<const char*, const char*> Cases[] = {
      {"object Form: TComponent\nend\n", "test.qm:1: the file has no object of class TModel"},
      {"run\n  Until = -1\nend\n", "test.qm:2: Until must be a model time in 0...10000000000"},
      {"run\n  Until = 5\n  Warmup = 9\nend\n", "test.qm:3: Warmup lies after Until"},
      {"run\n  Title = Plain\nend\n", "test.qm:2: Title must be a quoted string"},
      {"run\n  Seed = 3\nend\n", "test.qm:2: unknown run setting 'Seed'"},
      {"run\n  OnRouting = Stop\nend\n", "test.qm:2: a handler cannot be bound in the run section"},
      {"run\nend\nrun\nend\n", "test.qm:3: a second run section"},
      {"object A: TComponent\n  run\n  end\nend\n", "test.qm:2: the run section must stand"},
      {"Capacity = 3\n", "test.qm:1: 'Capacity' outside an object"},
  };
  for (const auto& [Text, Error] : Cases) {
    std::vector<std::string> Errors;
    EXPECT_FALSE(LoadModelText(Text, "test.qm", {}, Errors)) << Text;
    ASSERT_FALSE(Errors.empty()) << Text;
    EXPECT_EQ(Errors[0].rfind(Error, 0), 0u) << Text << "\n  got: " << Errors[0];
  }
  std::vector<std::string> Errors;
  EXPECT_FALSE(LoadModelFile("/nonexistent/model.qm", {}, Errors));
  EXPECT_EQ(Errors, std::vector<std::string>{"/nonexistent/model.qm: cannot be read (no such file)"});
  EXPECT_FALSE(LoadModelFile("/tmp", {}, Errors));
  EXPECT_EQ(Errors, std::vector<std::string>{"/tmp: is a directory, not a model file"});
  // A byte-order mark, as some editors write, is no part of the text.
  EXPECT_TRUE(LoadModelText("\xEF\xBB\xBF" + InForm(""), "test.qm", {}, Errors));
  EXPECT_TRUE(Errors.empty());
}

// A file of N objects, each naming the next.
std::string Chain(int N) {
  std::string Text = "object Form: TComponent\n  object Model: TModel end\n";
  for (int i = 0; i < N; ++i) {
    Text += "  object Q" + std::to_string(i) + ": TQueue\n    OnRouting = PassTo(Q";
    Text += std::to_string(i + 1) + ")\n  end\n";
  }
  Text += "  object Q" + std::to_string(N) + ": TTerminator end\nend\n";
  return Text;
}

// The least CPU time of a few loads of Text (the least is the one that the
// other processes of a shared machine disturbed least).
double LoadSeconds(const std::string& Text) {
  double Least = 1e300;
  for (int Round = 0; Round < 5; ++Round) {
    std::vector<std::string> Errors;
    timespec A{}, B{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &A);
    auto File = LoadModelText(Text, "big.qm", {}, Errors);
    File.reset();
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &B);
    EXPECT_TRUE(Errors.empty());
    Least = std::min(Least, double(B.tv_sec - A.tv_sec) + 1e-9 * double(B.tv_nsec - A.tv_nsec));
  }
  return Least;
}

// Loading grows in proportion to the file: twice the objects cost well under
// four times as much (name look-ups that scanned every component made it
// quadratic). The absolute time is bench/modelfile_load's.
TEST(ModelFile, LoadingGrowsLinearlyWithTheFile) {
  const double Small = LoadSeconds(Chain(10000));
  const double Large = LoadSeconds(Chain(20000));
  EXPECT_LT(Large, 3.0 * Small) << Small << " s for 10000 objects, " << Large << " for 20000";
}

TEST(ModelFile, ReportsEveryErrorOfTheFileAtOnce) {
  std::vector<std::string> Errors;
  EXPECT_FALSE(LoadModelText(InForm("  object Q: TQueue\n    Capacity = x\n"
                                    "    OnRouting = PassTo(Nowhere)\n  end\n"),
                             "m.qm", {}, Errors));
  ASSERT_EQ(Errors.size(), 2u);
  EXPECT_EQ(Errors[0].rfind("m.qm:4:", 0), 0u);
  EXPECT_EQ(Errors[1].rfind("m.qm:5:", 0), 0u);
}

// Builds a model whose blocks the test then drives; the Door makes one
// arrival per time unit unless the body says otherwise.
std::unique_ptr<TModelFile> Model(const std::string& Body, const THandlerTable& Handlers = {}) {
  return Load(InForm(Body), Handlers);
}

TEST(StandardHandlers, PassByChanceDrawsOncePerTransactionEvenWhenRefused) {
  // Half of the customers pick a slow server and wait in line for it; the
  // retries of a waiting head must not draw again.
  auto File = Model(R"(  object Door: TGenerator
    OnBeforeTimeGoOn = NextArrival(1)
    OnAfterGeneration = NextArrival(1)
    OnRouting = PassTo(Line)
  end
  object Line: TQueue
    OnRouting = PassByChance(Router, Slow, 0.5, Quick, 0.5)
  end
  object Slow: TServer
    OnEnter = Hold(7)
    OnRouting = PassTo(Exit)
  end
  object Quick: TServer
    OnEnter = Hold(0.5)
    OnRouting = PassTo(Exit)
  end
  object Exit: TTerminator end
  object Router: TMultiRand end
)");
  ASSERT_TRUE(File);
  File->Model()->Simulate(500);
  auto* Line = Find<TQueue>(*File, "Line");
  auto* Slow = Find<TServer>(*File, "Slow");
  auto* Quick = Find<TServer>(*File, "Quick");
  EXPECT_GT(Line->Count(), 10); // the slow server holds the line up
  // One draw per transaction that left the line, plus one for its head.
  TMultiRand Reference(nullptr);
  int Slows = 0;
  for (int i = 0; i < Line->Exits(); ++i)
    Slows += Reference.Uni01() < 0.5;
  EXPECT_EQ(Slow->Entries(), Slows);
  EXPECT_EQ(Quick->Entries(), Line->Exits() - Slows);
  Reference.Uni01();
  EXPECT_EQ(Find<TMultiRand>(*File, "Router")->GetSeed(), Reference.GetSeed());
}

// A model file feeds tabulators with the transactions' ages, their times
// in a block, a value the application names and draws.
TEST(StandardHandlers, PutValueFeedsTabulators) {
  THandlerTable Handlers;
  Handlers.Values["Twice"] = [](const TTransaction* T) { return 2.0 * T->GetPrty(); };
  auto File = Model(R"(  object Door: TGenerator
    OnBeforeTimeGoOn = NextArrival(R.Exponential(1))
    OnAfterGeneration = SetPriority(3); NextArrival(R.Exponential(1))
    OnRouting = PassTo(Line)
  end
  object Line: TQueue
    OnExit = PutValue(Waits, TimeInBlock)
    OnRouting = PassTo(Clerk)
  end
  object Clerk: TServer
    OnEnter = Hold(R.Exponential(0.7)); PutValue(Draws, R.Uniform(2, 4)); PutValue(Named, Twice)
    OnRouting = PassTo(Exit)
  end
  object Exit: TTerminator
    OnEnter = PutValue(Ages, Age); PutValue(Prty, Priority)
  end
  object R: TMultiRand end
  object Ages: TTabulator end
  object Waits: TTabulator end
  object Draws: TTabulator end
  object Named: TTabulator end
  object Prty: TTabulator end
)",
                    Handlers);
  ASSERT_TRUE(File);
  File->Model()->Simulate(2000);
  auto* Exit = Find<TTerminator>(*File, "Exit");
  auto* Line = Find<TQueue>(*File, "Line");
  auto* Ages = Find<TTabulator>(*File, "Ages");
  auto* Waits = Find<TTabulator>(*File, "Waits");
  auto* Draws = Find<TTabulator>(*File, "Draws");
  ASSERT_GT(Exit->Entries(), 1000);
  EXPECT_EQ(Ages->Count(), Exit->Entries());
  EXPECT_NEAR(Ages->Mean(), double(Exit->AverageTime()), 1e-9);
  EXPECT_EQ(Waits->Count(), Line->Exits());
  EXPECT_NEAR(Waits->Mean(), double(Line->AverageTime()), 1e-9);
  EXPECT_NEAR(Draws->Mean(), 3.0, 0.05);
  EXPECT_EQ(Find<TTabulator>(*File, "Named")->Mean(), 6.0);
  EXPECT_EQ(Find<TTabulator>(*File, "Prty")->Mean(), 3.0);
  // The calls are saved as written.
  EXPECT_NE(Save(*File).find("PutValue(Ages, Age); PutValue(Prty, Priority)"), std::string::npos);
}

TEST(StandardHandlers, PassFirstTakesTheFirstBlockThatAccepts) {
  auto File = Model(R"(  object Door: TGenerator
    OnBeforeTimeGoOn = NextArrival(1)
    OnAfterGeneration = NextArrival(1)
    OnRouting = PassFirst(One, Two)
  end
  object One: TServer
    OnEnter = Hold(10)
  end
  object Two: TServer
    OnEnter = Hold(10)
  end
)");
  ASSERT_TRUE(File);
  File->Model()->Simulate(3.5);
  EXPECT_EQ(Find<TServer>(*File, "One")->Entries(), 1);
  EXPECT_EQ(Find<TServer>(*File, "Two")->Entries(), 1);
  EXPECT_EQ(Find<TGenerator>(*File, "Door")->Exits(), 2); // the third waits in the door
}

// A lone PassTo in OnRouting is loaded as the block's fixed route, passed
// with no handler call; any other routing stays a handler, and binding one
// in its place drops the route.
TEST(StandardHandlers, ALonePassToInOnRoutingIsAFixedRoute) {
  auto File = Model(R"(  object Door: TGenerator
    OnBeforeTimeGoOn = NextArrival(1)
    OnAfterGeneration = NextArrival(1)
    OnRouting = PassTo(Clerk)
  end
  object Clerk: TServer
    OnEnter = Hold(0.5)
    OnRouting = PassTo(Exit); Stop
  end
  object Exit: TTerminator end
)");
  ASSERT_TRUE(File);
  auto* Door = Find<TGenerator>(*File, "Door");
  auto* Clerk = Find<TServer>(*File, "Clerk");
  EXPECT_EQ(Door->Route(), Clerk);
  EXPECT_FALSE(Door->OnRouting);
  EXPECT_EQ(Clerk->Route(), nullptr);
  EXPECT_TRUE(Clerk->OnRouting);
  File->Model()->Simulate(100);
  EXPECT_EQ(Find<TTerminator>(*File, "Exit")->Entries(), 1);
  std::string Error;
  ASSERT_TRUE(File->Bind(Door, "OnRouting", "PassFirst(Exit)", {}, Error)) << Error;
  EXPECT_EQ(Door->Route(), nullptr);
  EXPECT_TRUE(Door->OnRouting);
  // Saved, it is written as it was read.
  EXPECT_NE(Save(*File).find("OnRouting = PassFirst(Exit)"), std::string::npos);
}

TEST(StandardHandlers, TimeLimitThenRouteElsewhere) {
  auto File = Model(R"(  object Door: TGenerator
    OnBeforeTimeGoOn = NextArrival(1)
    OnAfterGeneration = NextArrival(1)
    OnRouting = PassTo(Line)
  end
  object Line: TQueue
    OnEnter = TimeLimit(5)
    OnTimeFinish = PassTo(Balk)
    OnRouting = PassTo(Desk)
  end
  object Desk: TServer
    OnEnter = Hold(100)
  end
  object Balk: TTerminator end
)");
  ASSERT_TRUE(File);
  File->Model()->Simulate(50.5);
  auto* Line = Find<TQueue>(*File, "Line");
  auto* Balk = Find<TTerminator>(*File, "Balk");
  // The first customer is served; every later one waits 5 and leaves.
  EXPECT_EQ(Balk->Entries(), Line->TimeLimitExits());
  EXPECT_GE(Balk->Entries(), 43);
  EXPECT_LE(Line->Count(), 6);
}

TEST(StandardHandlers, PriorityPreemptMarkStopAfterAndApplicationHandlers) {
  std::vector<std::pair<int, bool>> Seen;
  int Deadlocks = 0;
  THandlerTable Handlers;
  Handlers.Block["Record"] = [&Seen](TBlock*, TTransaction* T) {
    Seen.push_back({T->GetPrty(), T->IsPreempt()});
  };
  Handlers.Model["Deadlocked"] = [&Deadlocks] { ++Deadlocks; };
  auto File = Model(R"(  object Door: TGenerator
    OnBeforeTimeGoOn = NextArrival(2)
    OnAfterGeneration = NextArrival(2); SetPriority(200); SetPreempt
    OnRouting = PassTo(Gate)
  end
  object Gate: TGate
    OnEnter = SetNonPreempt
    OnRouting = PassTo(Exit)
  end
  object Exit: TTerminator
    OnEnter = Record; StopAfter(4)
  end
)",
                    Handlers);
  ASSERT_TRUE(File);
  File->Model()->Simulate(1000);
  EXPECT_DOUBLE_EQ(ModelTime(), 8.0);
  EXPECT_EQ(Seen, (std::vector<std::pair<int, bool>>(4, {200, false})));

  // Lock from the model's handler, Unlock from a scheduler's; with nothing
  // planned after that the model deadlocks.
  std::vector<bool> Locked;
  Handlers.Aggregate["Look"] = [&Locked, &Gates = File](TAggregate*) {
    Locked.push_back(Find<TGate>(*Gates, "Gate")->isLocked());
  };
  File = Load(R"(object Form: TComponent
  object Model: TModel
    OnBeforeTimeGoOn = Lock(Gate)
    OnDeadlock = Deadlocked
  end
  object Gate: TGate end
  object Clock: TScheduler
    OnBeforeTimeGoOn = NextArrival(3)
    OnPlanned = Look; Unlock(Gate); Look
  end
end
)",
              Handlers);
  ASSERT_TRUE(File);
  File->Model()->Simulate(10);
  EXPECT_EQ(Locked, (std::vector<bool>{true, false}));
  EXPECT_EQ(Deadlocks, 1);
}

TEST(StandardHandlers, BatchesFromACreatorThroughDividerAssemblerAndPriorityBlocks) {
  const std::string Body = R"(  object Clock: TScheduler
    OnBeforeTimeGoOn = NextArrival(10)
    OnPlanned = Generate(Bus, 3); NextArrival(10)
  end
  object Bus: TCreator
    OnAfterGeneration = SetPriority(5)
    OnRouting = PassTo(Split)
  end
  object Split: TDivider
    Capacity = 2
    OnRouting = PassTo(Join)
  end
  object Join: TAssembler
    Capacity = 3
    OnRouting = PassTo(Waiting)
  end
  object Waiting: TQueuePrty
    Capacity = 4
    OnEnter = TimeLimit(100)
    OnTimeFinish = PassTo(Exit)
    OnRouting = PassTo(Seats)
  end
  object Seats: TStoragePrty
    Capacity = 2
    OnEnter = Hold(1)
    OnPreempt = PassTo(Exit)
    OnRouting = PassTo(Exit)
  end
  object Exit: TTerminator end
)";
  auto File = Model(Body);
  ASSERT_TRUE(File);
  EXPECT_EQ(Find<TDivider>(*File, "Split")->Capacity(), 2);
  EXPECT_EQ(Find<TQueuePrty>(*File, "Waiting")->Capacity(), 4);
  // Batches of 3 at 10, 20, ..., 90, each split in 6 and joined in 2.
  File->Model()->Simulate(95.5);
  EXPECT_EQ(Find<TCreator>(*File, "Bus")->Exits(), 27);
  EXPECT_EQ(Find<TDivider>(*File, "Split")->Exits(), 54);
  EXPECT_EQ(Find<TAssembler>(*File, "Join")->Exits(), 18);
  EXPECT_EQ(Find<TStoragePrty>(*File, "Seats")->Exits(), 18);
  EXPECT_EQ(Find<TTerminator>(*File, "Exit")->Entries(), 18);
  // The new classes and their properties survive a save.
  const std::string Saved = Save(*File);
  EXPECT_NE(Saved.find("  object Split: TDivider\n    Capacity = 2\n"), std::string::npos);
  File->Model()->Reset();
  auto Again = Load(Saved);
  ASSERT_TRUE(Again);
  EXPECT_EQ(Save(*Again), Saved);
}

// Drawn batch sizes and priorities, routing by priority and in turn,
// holding times by priority, a matching join and a resumed push-out.
TEST(StandardHandlers, DrawsRoutingByPriorityInTurnHoldingByPriorityAndResume) {
  const std::string Body = R"(  object R: TMultiRand end
  object Clock: TScheduler
    OnBeforeTimeGoOn = NextArrival(1)
    OnPlanned = Generate(Bus, R.UniformInt(2, 4)); Generate(Van, R.Poisson(3)); NextArrival(1)
  end
  object Bus: TCreator
    OnAfterGeneration = SetPriority(R.Discrete(1, 0.25, 3, 0.75))
    OnRouting = PassByPriority(1, Low, High)
  end
  object Low: TStorage
    OnEnter = HoldByPriority(1, 2, 0.5)
    OnRouting = PassTo(Exit)
  end
  object High: TStorage
    OnEnter = HoldByPriority(1, 2, 0.5)
    OnRouting = PassTo(Exit)
  end
  object Van: TCreator
    OnRouting = PassTo(Split)
  end
  object Split: TDivider
    Capacity = 2
    OnRouting = PassInTurn(Left, Right)
  end
  object Left: TStorage
    OnEnter = Hold(R.Exponential(1))
    OnRouting = PassTo(Join)
  end
  object Right: TStorage
    OnEnter = Hold(R.Exponential(3))
    OnRouting = PassTo(Join)
  end
  object Join: TAssembler
    Capacity = 2
    Match = true
    OnRouting = PassTo(Exit)
  end
  object Slow: TGenerator
    OnBeforeTimeGoOn = NextArrival(0)
    OnRouting = PassTo(Cpu)
  end
  object Urgent: TGenerator
    OnBeforeTimeGoOn = NextArrival(4)
    OnAfterGeneration = SetPriority(2); SetPreempt
    OnRouting = PassTo(Cpu)
  end
  object Cpu: TStoragePrty
    Capacity = 1
    Preemptive = true
    OnEnter = Resume(10)
    OnPreempt = PassTo(Wait)
    OnRouting = PassTo(Exit)
  end
  object Wait: TQueuePrty
    OnRouting = PassTo(Cpu)
  end
  object Exit: TTerminator end
)";
  auto File = Model(Body);
  ASSERT_TRUE(File);
  EXPECT_TRUE(Find<TAssembler>(*File, "Join")->Match());
  EXPECT_TRUE(Find<TStoragePrty>(*File, "Cpu")->Preemptive());
  File->Model()->Simulate(3000);
  const double Made = Find<TCreator>(*File, "Bus")->Exits();
  EXPECT_NEAR(Made / 3000, 3.0, 0.1);
  EXPECT_NEAR(Find<TCreator>(*File, "Van")->Exits() / 3000.0, 3.0, 0.15);
  auto* Low = Find<TStorage>(*File, "Low");
  auto* High = Find<TStorage>(*File, "High");
  EXPECT_NEAR(Low->Entries() / Made, 0.25, 0.02);
  EXPECT_EQ(Low->Entries() + High->Entries(), Made);
  EXPECT_EQ(double(Low->AverageTime()), 2.0);
  EXPECT_EQ(double(High->AverageTime()), 0.5);
  EXPECT_EQ(Find<TStorage>(*File, "Left")->Entries(), Find<TStorage>(*File, "Right")->Entries());
  // The slow job held 4, was pushed out, and held the 6 it had left.
  const TPrtyStatistics* Slow = Find<TStoragePrty>(*File, "Cpu")->PrtyStatistics(0);
  ASSERT_NE(Slow, nullptr);
  EXPECT_EQ(Slow->Exits, 2);
  EXPECT_EQ(double(Slow->SumTime), 10.0);
  // The routes are drawn with their labels.
  std::vector<std::string> Seen;
  for (const TRoute& Route : Routes(*File))
    if (Route.Label.find("prty") != std::string::npos || Route.Label.find("turn") == 0)
      Seen.push_back(Route.From->Name() + ">" + Route.To->Name() + ":" + Route.Label);
  EXPECT_EQ(Seen, (std::vector<std::string>{"Bus>Low:prty 1", "Bus>High:other prty",
                                            "Split>Left:turn 1", "Split>Right:turn 2"}));
}

TEST(StandardHandlers, ForwardReferencesAndNamesInOtherForms) {
  // The stream and the block of another form are defined after their use;
  // a sibling of the same name is preferred to a component of another form.
  auto File = Load(R"(object Front: TComponent
  object Model: TModel end
  object Door: TGenerator
    OnBeforeTimeGoOn = NextArrival(Pace.Exponential(1))
    OnAfterGeneration = NextArrival(Pace.Exponential(1))
    OnRouting = PassTo(Exit)
  end
  object Exit: TTerminator end
end
object Back: TComponent
  object Exit: TTerminator end
  object Pace: TMultiRand end
end
)");
  ASSERT_TRUE(File);
  File->Model()->Simulate(100);
  auto* Front = File->Application()->Components(0);
  auto* Back = File->Application()->Components(1);
  EXPECT_GT(dynamic_cast<TBlock*>(File->Resolve(Front->Components(1), "Exit"))->Entries(), 50);
  EXPECT_EQ(dynamic_cast<TBlock*>(Back->Components(0))->Entries(), 0);
  EXPECT_EQ(File->Resolve(Front->Components(1), "Exit"), Front->Components(2));
  EXPECT_EQ(File->CountNamed("Exit"), 2);
}

TEST(ModelFile, LoadedIntoAnOwnerRunsAsTheSameModelAndLeavesNothingOnError) {
  // A replication's layout: the file's objects on a form that a runner's
  // application owns. The model gathers the same blocks, the handlers bind
  // to the same components, and the report is the same to the last digit.
  int StandaloneCalls = 0;
  auto Standalone = Load(Everything, CountingHandlers(StandaloneCalls));
  ASSERT_TRUE(Standalone);
  const std::string Expected = Report(*Standalone, 300);
  Standalone->Model()->Reset();

  int Calls = 0;
  TComponent Application(nullptr);
  auto* Form = new TComponent(&Application);
  std::vector<std::string> Errors;
  auto File = LoadModelText(Everything, "test.qm", CountingHandlers(Calls), Errors, *Form);
  ASSERT_TRUE(File) << (Errors.empty() ? "" : Errors.front());
  EXPECT_EQ(File->Application(), Form);
  EXPECT_EQ(File->Run.Until, 400.5);
  ASSERT_EQ(File->Streams().size(), 3u);
  TModel* Model = File->Model();
  // The owner keeps the components when the file goes.
  File.reset();
  ASSERT_EQ(Form->ComponentCount(), 1);
  Model->Simulate(300);
  std::ostringstream Out;
  PrintReport(*Model, Out);
  EXPECT_EQ(Out.str(), Expected);
  EXPECT_EQ(Calls, StandaloneCalls);
  EXPECT_GT(Calls, 0);
  Model->Reset();

  // A file with an error leaves the owner as it was, its own component too.
  auto* Kept = new TComponent(Form);
  Kept->SetName("Kept");
  const int32_t Before = Form->ComponentCount();
  File = LoadModelText(R"(object Other: TComponent
  object Model: TModel end
  object Q: TQueue
    OnRouting = PassTo(Nowhere)
  end
end
object Third: TComponent end
)",
                       "bad.qm", THandlerTable{}, Errors, *Form);
  EXPECT_FALSE(File);
  ASSERT_EQ(Errors.size(), 1u);
  EXPECT_NE(Errors[0].find("bad.qm:4: Q (TQueue): OnRouting: PassTo: no component named"),
            std::string::npos)
      << Errors[0];
  ASSERT_EQ(Form->ComponentCount(), Before);
  EXPECT_EQ(Form->Components(Before - 1), Kept);
  // A file that cannot be read leaves it alone as well.
  EXPECT_FALSE(LoadModelFile("/nonexistent/x.qm", THandlerTable{}, Errors, *Form));
  EXPECT_EQ(Form->ComponentCount(), Before);
}

} // namespace

namespace {

TEST(Diagram, RoutesOfTheStandardHandlersWithTheirLabels) {
  int Calls = 0;
  auto File = Load(Everything, CountingHandlers(Calls));
  ASSERT_TRUE(File);
  std::vector<std::string> Seen;
  for (const TRoute& R : Routes(*File))
    Seen.push_back(R.From->Name() + ">" + R.To->Name() + ":" + R.Label);
  EXPECT_EQ(Seen,
            (std::vector<std::string>{"Door>Line:p=0.25", "Door>Fast:p=0.75",
                                      "Line>Exit:OnTimeFinish", "Line>Clerk:#1", "Line>Spare:#2",
                                      "Fast>Spare:", "Clerk>Exit:", "Spare>Exit:"}));
}

TEST(Diagram, ShowcaseModelAsSvgWithImagesBlocksInRouteOrderAndArrows) {
  std::vector<std::string> Errors;
  auto File = LoadModelFile(std::string(QUORIN_EXAMPLES_DIR) + "/mm3.qm", {}, Errors);
  ASSERT_TRUE(File);
  std::ostringstream Out;
  WriteDiagramSvg(*File, Out);
  const std::string Svg = Out.str();
  EXPECT_EQ(Svg.rfind("<?xml", 0), 0u);
  EXPECT_EQ(Svg.substr(Svg.size() - 7), "</svg>\n");
  for (const char* Route : {"Door -&gt; Line", "Line -&gt; Tellers", "Tellers -&gt; Exit"})
    EXPECT_NE(Svg.find(std::string("<title>") + Route + "</title>"), std::string::npos) << Route;
  // Each block stands one column further right than the block before it.
  int Last = -1;
  for (const char* Symbol : {"TGENERATOR", "TQUEUE", "TSTORAGE", "TTERMINATOR"}) {
    EXPECT_NE(Svg.find(std::string("<symbol id=\"sym-") + Symbol + "\""), std::string::npos);
    const std::size_t Use = Svg.find(std::string("<use href=\"#sym-") + Symbol + "\" x=\"");
    ASSERT_NE(Use, std::string::npos) << Symbol;
    const int X = std::stoi(Svg.substr(Svg.find("x=\"", Use) + 3));
    EXPECT_GT(X, Last) << Symbol;
    Last = X;
  }
  EXPECT_NE(Svg.find(">Tellers</text>"), std::string::npos);
  EXPECT_NE(Svg.find(">Arrivals</text>"), std::string::npos); // the streams, below
}

} // namespace
