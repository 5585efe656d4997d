// The studio's edits of model text: each changes the lines it must, keeps
// comments and layout elsewhere, and what it writes loads.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "quorin/modelfile.h"
#include "model.h"
#include "text.h"

using namespace quorin;
using namespace quorin::studio;

namespace {

const std::string Hand = R"(# A hand-written model: comments stay.
run
  Until = 100 # short
end

object Form: TComponent
  object Model: TModel end
  object S: TMultiRand end
  # The door.
  object Door: TGenerator
    OnBeforeTimeGoOn = NextArrival(S.Exponential(1))
    OnAfterGeneration = NextArrival(S.Exponential(1))
    OnRouting = PassTo(Line) # to the line
  end
  object Line: TQueue
    Capacity = 5   # a small room
    OnRouting = PassTo(Exit)
  end
  object Exit: TTerminator end
end
)";

std::string Loads(const std::string& Text) {
  std::vector<std::string> Errors;
  auto File = LoadModelText(Text, "m.qm", THandlerTable{}, Errors);
  return File ? "" : Errors.front();
}

TEST(StudioText, EditsChangeOnlyTheirLines) {
  struct TCase {
    const char* What;
    std::function<bool(std::string&, std::string&)> Edit;
    std::string From, To; // the one change the edit makes to Hand
    bool Loads = true;    // false: the loader names what the edit left behind
  };
  const std::vector<TCase> Cases = {
      {"a value, its comment kept",
       [](std::string& T, std::string& E) { return SetEntry(T, "Line", "Capacity", "7", E); },
       "    Capacity = 5   # a small room\n", "    Capacity = 7   # a small room\n"},
      {"a run setting",
       [](std::string& T, std::string& E) { return SetEntry(T, "", "Until", "250", E); },
       "  Until = 100 # short\n", "  Until = 250 # short\n"},
      {"a new line before the end",
       [](std::string& T, std::string& E) { return SetEntry(T, "Line", "Tag", "3", E); },
       "    OnRouting = PassTo(Exit)\n  end\n",
       "    OnRouting = PassTo(Exit)\n    Tag = 3\n  end\n"},
      {"a one-line object opened up",
       [](std::string& T, std::string& E) {
         return SetEntry(T, "Exit", "Tag", "2", E);
       },
       "  object Exit: TTerminator end\n", "  object Exit: TTerminator\n    Tag = 2\n  end\n"},
      {"a line removed",
       [](std::string& T, std::string& E) { return SetEntry(T, "Line", "Capacity", "", E); },
       "    Capacity = 5   # a small room\n", ""},
      {"an object removed",
       [](std::string& T, std::string& E) { return RemoveObject(T, "Exit", E); },
       "  object Exit: TTerminator end\n", "", false},
      {"an object added at the end of the form",
       [](std::string& T, std::string& E) { return AddObject(T, "TServer", "Clerk", 40, 60, E); },
       "  object Exit: TTerminator end\nend\n",
       "  object Exit: TTerminator end\n  object Clerk: TServer\n    Left = 40\n    Top = 60\n"
       "  end\nend\n"},
  };
  for (const TCase& C : Cases) {
    std::string Text = Hand, Error;
    ASSERT_TRUE(C.Edit(Text, Error)) << C.What << ": " << Error;
    std::string Expected = Hand;
    const std::size_t At = Expected.find(C.From);
    ASSERT_NE(At, std::string::npos) << C.What;
    Expected.replace(At, C.From.size(), C.To);
    EXPECT_EQ(Text, Expected) << C.What;
    if (C.Loads) {
      EXPECT_EQ(Loads(Text), "") << C.What;
    } else {
      EXPECT_NE(Loads(Text), "") << C.What;
    }
  }
}

TEST(StudioText, RenameFollowsHandlersButNotCommentsOrOtherWords) {
  std::string Text = Hand, Error;
  ASSERT_TRUE(RenameObject(Text, "Line", "Queue1", Error)) << Error;
  EXPECT_NE(Text.find("object Queue1: TQueue"), std::string::npos);
  EXPECT_NE(Text.find("OnRouting = PassTo(Queue1) # to the line"), std::string::npos);
  EXPECT_EQ(Loads(Text), "");
  // Taken names and non-names are refused, the text left alone.
  const std::string Before = Text;
  EXPECT_FALSE(RenameObject(Text, "Queue1", "Door", Error));
  EXPECT_FALSE(RenameObject(Text, "Queue1", "1x", Error));
  EXPECT_FALSE(RenameObject(Text, "Nobody", "X", Error));
  EXPECT_EQ(Text, Before);
}

TEST(StudioText, CrLfTextKeepsItsLineEndings) {
  std::string Text;
  for (char C : Hand) {
    if (C == '\n') Text += '\r';
    Text += C;
  }
  std::string Error;
  ASSERT_TRUE(SetEntry(Text, "Exit", "Tag", "2", Error));
  ASSERT_TRUE(AddObject(Text, "TQueue", "Q2", 1, 2, Error));
  for (std::size_t i = 0; i < Text.size(); ++i)
    if (Text[i] == '\n') {
      ASSERT_TRUE(i > 0 && Text[i - 1] == '\r') << "at " << i;
    }
}

TEST(StudioText, RefusedValuesNeverReachTheText) {
  // The loader's message, with its line, and the text unchanged.
  struct TCase {
    nlohmann::json Edit;
    std::string Message;
  };
  const std::vector<TCase> Cases = {
      {{{"op", "set"}, {"name", "Line"}, {"key", "Capacity"}, {"value", "-1"}}, "m.qm:16: Line"},
      {{{"op", "set"}, {"name", "Line"}, {"key", "Capacity"}, {"value", "many"}}, "whole number"},
      {{{"op", "set"}, {"name", "Line"}, {"key", "OnRouting"}, {"value", "PassTo(Nowhere)"}},
       "Nowhere"},
      {{{"op", "set"}, {"name", "Line"}, {"key", "OnRouting"}, {"value", "PassTo(Exit"}}, "m.qm:17"},
      {{{"op", "set"}, {"name", "Line"}, {"key", "Colour"}, {"value", "1"}}, "no stored property"},
      {{{"op", "add"}, {"class", "TNoSuchClass"}, {"name", "X"}}, "unknown class"},
      {{{"op", "add"}, {"class", "TQueue"}, {"name", "Door"}}, "a second component"},
      {{{"op", "fly"}}, "unknown edit"},
      {{{"op", "set"}, {"name", 3}}, "must be a string"},
  };
  for (const TCase& C : Cases) {
    std::string Text = Hand, Error;
    EXPECT_FALSE(ApplyEdit(Text, "m.qm", C.Edit, Error)) << C.Edit.dump();
    EXPECT_NE(Error.find(C.Message), std::string::npos) << C.Edit.dump() << ": " << Error;
    EXPECT_EQ(Text, Hand);
  }
}

TEST(StudioText, PositionsLoadAndSaveAndAreChecked) {
  std::string Text = Hand, Error;
  ASSERT_TRUE(ApplyEdit(Text, "m.qm", {{"op", "move"}, {"name", "Door"}, {"left", 30}, {"top", 45}},
                        Error))
      << Error;
  std::vector<std::string> Errors;
  auto File = LoadModelText(Text, "m.qm", THandlerTable{}, Errors);
  ASSERT_TRUE(File) << Errors.front();
  const auto At = File->Position(File->Resolve(File->Model(), "Door"));
  ASSERT_TRUE(At);
  EXPECT_EQ(At->Left, 30);
  EXPECT_EQ(At->Top, 45);
  std::string Saved;
  ASSERT_TRUE(SaveModelText(*File, Saved, Errors));
  EXPECT_NE(Saved.find("Left = 30"), std::string::npos);
  EXPECT_NE(Saved.find("Top = 45"), std::string::npos);
  std::string Bad = Text;
  ASSERT_TRUE(SetEntry(Bad, "Door", "Left", "-4", Error));
  EXPECT_NE(Loads(Bad).find("Left must be a whole number"), std::string::npos);
}

TEST(StudioText, TheModelAsThePageSeesIt) {
  const nlohmann::json M = DescribeModel(Hand, "m.qm");
  EXPECT_TRUE(M["loaded"].get<bool>());
  EXPECT_EQ(M["objects"].size(), 6u);
  EXPECT_EQ(M["routes"].size(), 2u);
  EXPECT_EQ(M["run"]["Until"]["value"], "100");
  // A block that nothing leaves is named by the check.
  std::string Text = Hand, Error;
  ASSERT_TRUE(SetEntry(Text, "Line", "OnRouting", "", Error));
  const nlohmann::json N = DescribeModel(Text, "m.qm");
  bool Named = false;
  for (const auto& F : N["findings"])
    Named = Named || F["component"] == "Line";
  EXPECT_TRUE(Named) << N["findings"].dump();
  // A text the loader refuses still shows its objects, errors by component.
  ASSERT_TRUE(SetEntry(Text, "Line", "Capacity", "x1", Error));
  const nlohmann::json E = DescribeModel(Text, "m.qm");
  EXPECT_FALSE(E["loaded"].get<bool>());
  EXPECT_EQ(E["objects"].size(), 6u);
  ASSERT_FALSE(E["errors"].empty());
  EXPECT_EQ(E["errors"][0]["component"], "Line");
}

} // namespace

namespace {

TEST(StudioText, SchedulesAreEditedInTheirSection) {
  std::string Text = Hand, Error;
  ASSERT_TRUE(ApplyEdit(Text, "m.qm", {{"op", "schedule-add"}, {"name", "Staff"}}, Error)) << Error;
  ASSERT_TRUE(ApplyEdit(Text, "m.qm",
                        {{"op", "schedule-set"}, {"schedule", "Staff"}, {"key", "Steps"},
                         {"value", "\"0 1, 480 3\""}},
                        Error))
      << Error;
  ASSERT_TRUE(ApplyEdit(Text, "m.qm",
                        {{"op", "schedule-set"}, {"schedule", "Staff"}, {"key", "Period"},
                         {"value", "1440"}},
                        Error))
      << Error;
  EXPECT_NE(Text.find("end\n\nschedule Staff\n  Steps = \"0 1, 480 3\"\n  Period = 1440\nend\n"),
            std::string::npos)
      << Text;
  const nlohmann::json M = DescribeModel(Text, "m.qm");
  ASSERT_TRUE(M["loaded"].get<bool>()) << M["errors"].dump();
  EXPECT_EQ(M["schedules"][0]["steps"], nlohmann::json::parse("[[0, 1], [480, 3]]"));
  // Steps the loader refuses (the first not at 0) never reach the text.
  const std::string Before = Text;
  EXPECT_FALSE(ApplyEdit(Text, "m.qm",
                         {{"op", "schedule-set"}, {"schedule", "Staff"}, {"key", "Steps"},
                          {"value", "\"5 1\""}},
                         Error));
  EXPECT_NE(Error.find("m.qm:"), std::string::npos) << Error;
  EXPECT_EQ(Text, Before);
}

} // namespace
