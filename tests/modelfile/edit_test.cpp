// Building a model file's model by program: the same checks as loading, and
// a model so built saves to a file that loads as the same model.
#include <gtest/gtest.h>

#include <sstream>

#include "message_capture.h"
#include "quorin/quorin.h"

using namespace quorin;

namespace {

std::string Report(TModel& Model, double Until) {
  Model.Simulate(Until);
  std::ostringstream Out;
  PrintReport(Model, Out);
  return Out.str();
}

TEST(EditTest, ABuiltModelRunsAndSavesAsTheSameModel) {
  auto File = TModelFile::Empty();
  std::string Error;
  TComponent* Form = File->Add(nullptr, "TComponent", "Form", Error);
  ASSERT_NE(File->Add(Form, "TModel", "Model", Error), nullptr) << Error;
  File->Add(Form, "TMultiRand", "Arrivals", Error);
  auto* Door = File->Add(Form, "TGenerator", "Door", Error);
  auto* Line = File->Add(Form, "TQueue", "Line", Error);
  // A handler may name a component that is added later, once it exists.
  EXPECT_FALSE(File->Bind(Line, "OnRouting", "PassTo(Exit)", {}, Error));
  EXPECT_NE(Error.find("no component named 'Exit'"), std::string::npos) << Error;
  File->Add(Form, "TTerminator", "Exit", Error);
  for (auto [X, Event, Calls] : {std::tuple<TComponent*, const char*, const char*>{
                                     Door, "OnBeforeTimeGoOn", "NextArrival(Arrivals.Exponential(1))"},
                                 {Door, "OnAfterGeneration", "NextArrival(Arrivals.Exponential(1))"},
                                 {Door, "OnRouting", "PassTo(Line)"},
                                 {Line, "OnRouting", "PassTo(Exit)"}})
    ASSERT_TRUE(File->Bind(X, Event, Calls, {}, Error)) << Event << ": " << Error;
  std::string Text;
  std::vector<std::string> Errors;
  ASSERT_TRUE(SaveModelText(*File, Text, Errors));
  const std::string Built = Report(*File->Model(), 500);
  File.reset();
  auto Loaded = LoadModelText(Text, "saved.qm", {}, Errors);
  ASSERT_NE(Loaded, nullptr) << (Errors.empty() ? "" : Errors.front());
  EXPECT_EQ(Report(*Loaded->Model(), 500), Built);
}

TEST(EditTest, WhatAFileMayNotSayIsRefusedAndChangesNothing) {
  auto File = TModelFile::Empty();
  std::string Error;
  TComponent* Form = File->Add(nullptr, "TComponent", "Form", Error);
  auto* Queue = File->Add(Form, "TQueue", "Line", Error);
  EXPECT_FALSE(File->Bind(Queue, "OnRouting", "Stop", {}, Error)); // no model yet
  File->Add(Form, "TModel", "Model", Error);
  struct TCase {
    const char* Class;
    const char* Name;
    const char* Problem;
  };
  for (const TCase& C : {TCase{"TQueue", "Line", "a second component named Line"},
                         TCase{"TModel", "Other", "a second TModel"},
                         TCase{"TNoSuch", "X", "unknown class 'TNoSuch'"},
                         TCase{"TQueue", "9lives", "is no name"}}) {
    Error.clear();
    EXPECT_EQ(File->Add(Form, C.Class, C.Name, Error), nullptr) << C.Name;
    EXPECT_NE(Error.find(C.Problem), std::string::npos) << Error;
  }
  EXPECT_EQ(Form->ComponentCount(), 2);
  EXPECT_FALSE(File->Bind(Queue, "OnPlanned", "Stop", {}, Error));
  EXPECT_NE(Error.find("no event OnPlanned"), std::string::npos) << Error;
  EXPECT_FALSE(File->Bind(Queue, "OnRouting", "PassTo(", {}, Error));
  EXPECT_TRUE(File->Bindings().empty());
  ASSERT_TRUE(File->Bind(Queue, "OnRouting", "Stop", {}, Error)) << Error;
  File->Forget(Queue, "OnRouting");
  EXPECT_TRUE(File->Bindings().empty());
}

} // namespace
