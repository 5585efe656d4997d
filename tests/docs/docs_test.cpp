// The manual against the code: the reference page of every class and the
// table of standard handlers are what the class descriptions and the
// handler table say (QUORIN_UPDATE_DOCS=1 writes them anew after a change),
// every model file shown in the manual loads, and every link between the
// pages leads to a file that exists.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "quorin/quorin.h"

using namespace quorin;
namespace fs = std::filesystem;

namespace {

const fs::path Root = QUORIN_SOURCE_DIR;

std::string Read(const fs::path& Path) {
  std::ifstream In(Path, std::ios::binary);
  std::ostringstream Text;
  Text << In.rdbuf();
  return Text.str();
}

bool Updating() {
  const char* Update = std::getenv("QUORIN_UPDATE_DOCS");
  return Update && *Update && std::string(Update) != "0";
}

// Checks that Path holds Expected, or writes it there when updating.
void ExpectFile(const fs::path& Path, const std::string& Expected) {
  if (Updating()) {
    std::ofstream(Path, std::ios::binary) << Expected;
    return;
  }
  EXPECT_EQ(Read(Path), Expected) << Path << " differs from what the code says; "
                                  << "QUORIN_UPDATE_DOCS=1 writes it anew";
}

const char* TypeName(TPropertyType T) {
  switch (T) {
  case TPropertyType::Integer:
    return "whole number";
  case TPropertyType::Boolean:
    return "true or false";
  case TPropertyType::Real:
    return "number";
  }
  return "";
}

std::string Number(double V) {
  std::ostringstream Out;
  Out.precision(17);
  Out << V;
  return Out.str();
}

std::string ValueText(const TPropertyInfo& P, double Value) {
  if (P.Type == TPropertyType::Boolean) return Value != 0 ? "true" : "false";
  return Number(Value);
}

// The value a model file that does not set P gives it: the loader may pick
// another than a component made in C++ has (the engine of a TModel).
double FileDefault(const TClassInfo& C, const TPropertyInfo& P) {
  std::string Text = "object F: TComponent\n  object M: TModel end\n";
  if (C.Name != "TModel") Text += "  object X: " + C.Name + " end\n";
  Text += "end\n";
  std::vector<std::string> Errors;
  const auto File = LoadModelText(Text, "default.qm", THandlerTable{}, Errors);
  if (!File) {
    ADD_FAILURE() << C.Name << ": " << (Errors.empty() ? "" : Errors.front());
    return P.Default;
  }
  const TComponent* X = C.Name == "TModel" ? File->Model() : File->Resolve(File->Model(), "X");
  return X ? P.Get(*X) : P.Default;
}

// The default in a model file.
std::string DefaultText(const TClassInfo& C, const TPropertyInfo& P) {
  return ValueText(P, FileDefault(C, P));
}

// The same, with the default of a component made in C++ where it differs.
std::string DefaultTextBoth(const TClassInfo& C, const TPropertyInfo& P) {
  const double InFile = FileDefault(C, P);
  if (InFile == P.Default) return ValueText(P, InFile);
  return ValueText(P, InFile) + " (" + ValueText(P, P.Default) + " when made in C++)";
}

const char* Parameters(TEventShape S) {
  switch (S) {
  case TEventShape::Block:
    return "`(TBlock* Sender, TTransaction* Trans)`";
  case TEventShape::Aggregate:
    return "`(TAggregate* Sender)`";
  case TEventShape::Model:
    return "`()`";
  case TEventShape::NewTime:
    return "`(TAggregate* Sender, TTransaction* Trans)`";
  case TEventShape::AfterPass:
    return "`(TBlock* Sender, TBlock* Receiver, TTransaction* Trans)`";
  }
  return "";
}

// Whether a block of class C can follow a schedule.
bool FollowsSchedules(const TClassInfo& C) {
  if (!C.Create) return false;
  TComponent Owner(nullptr);
  const auto* Block = dynamic_cast<const TBlock*>(C.Create(&Owner));
  return Block && TScheduleDriver::CanFollow(*Block);
}

// The reference page of one class, from its description alone.
std::string ReferencePage(const TClassInfo& C) {
  std::ostringstream Out;
  Out << "# " << C.Name << "\n\n"
      << "<!-- Written from the class description (src/package/classes/); "
         "QUORIN_UPDATE_DOCS=1 ctest -R Docs writes it anew. -->\n\n"
      << char(std::toupper(static_cast<unsigned char>(C.Summary[0]))) << C.Summary.substr(1)
      << ".\n\n";
  if (C.Base) Out << "Derives from " << C.Base->Name << ".\n\n";
  Out << "## Stored properties\n\n"
      << "Set in C++ with `Set<Name>(Value)`, in a model file with `Name = value`; a saved "
         "model leaves out the defaults.\n\n"
      << "| property | type | default |\n|---|---|---|\n";
  for (const TPropertyInfo& P : C.Properties)
    Out << "| `" << P.Name << "` | " << TypeName(P.Type) << " | " << DefaultTextBoth(C, P) << " |\n";
  if (FollowsSchedules(C))
    Out << "\nIt can follow a schedule: in a model file `Schedule = Name` names a `schedule` "
           "section, in C++ `TScheduleDriver::Attach(Block, Schedule, Error)`; see "
           "[inputs](../inputs.md#shifts-and-opening-hours-a-block-that-follows-a-schedule).\n";
  Out << "\n## Events\n\n";
  if (C.Events.empty()) {
    Out << "None.\n";
  } else {
    Out << "| event | parameters | may move the transaction |\n|---|---|---|\n";
    for (const TEventInfo& E : C.Events)
      Out << "| `" << E.Name << "` | " << Parameters(E.Shape) << " | " << (E.Routing ? "yes" : "no")
          << " |\n";
  }
  Out << "\n## In the standard report\n\n";
  if (C.Report == TReportKind::None) {
    Out << "Not a block: not in the report.\n";
  } else {
    Out << "Table \"" << ReportSectionTitle(C.Report) << "\". Statistics beside `Count`, "
        << "`Entries` and `Exits` (the CSV form has them all, the text table those of its "
        << "columns): ";
    if (C.Statistics.empty()) Out << "none";
    for (size_t i = 0; i < C.Statistics.size(); ++i)
      Out << (i ? ", " : "") << '`' << ReportColumnTitle(C.Statistics[i].Column) << '`';
    Out << ".\n";
  }
  Out << "\n[All classes](README.md) · [The manual](../README.md)\n";
  return Out.str();
}

TEST(Docs, EveryClassHasItsReferencePage) {
  Blocks::Register();
  Statsim::Register();
  std::ostringstream Index;
  Index << "# The classes\n\n"
        << "<!-- Written from the class descriptions; QUORIN_UPDATE_DOCS=1 ctest -R Docs "
           "writes it anew. -->\n\n"
        << "One page per class on the palette, in palette order.\n\n"
        << "| class | what it does |\n|---|---|\n";
  for (const TComponentClass& Entry : PaletteClasses("Quorin")) {
    const TClassInfo* C = FindClassInfo(Entry.ClassName);
    ASSERT_NE(C, nullptr) << Entry.ClassName;
    ExpectFile(Root / "docs" / "classes" / (C->Name + ".md"), ReferencePage(*C));
    Index << "| [`" << C->Name << "`](" << C->Name << ".md) | " << C->Summary << " |\n";
  }
  Index << "\n[The manual](../README.md)\n";
  ExpectFile(Root / "docs" / "classes" / "README.md", Index.str());
}

// Replaces what stands between the markers "<!-- Name: begin -->" and
// "<!-- Name: end -->" of Page with Table, or checks that it is Table.
void ExpectBetweenMarkers(const fs::path& Page, const std::string& Name, const std::string& Table) {
  const std::string Text = Read(Page);
  const std::string Begin = "<!-- " + Name + ": begin -->\n";
  const std::string End = "<!-- " + Name + ": end -->";
  const auto From = Text.find(Begin), To = Text.find(End);
  ASSERT_NE(From, std::string::npos) << Page << ": no " << Begin;
  ASSERT_NE(To, std::string::npos) << Page << ": no " << End;
  // The table takes the indentation of the begin marker.
  const std::string Indent =
      Text.substr(Text.rfind('\n', From) + 1, From - Text.rfind('\n', From) - 1);
  std::string Indented;
  std::istringstream Lines(Table);
  for (std::string Line; std::getline(Lines, Line);)
    Indented += Indent + Line + "\n";
  ExpectFile(Page, Text.substr(0, From + Begin.size()) + Indented + Indent + Text.substr(To));
}

// The table of standard handlers is the handler table's.
TEST(Docs, TheStandardHandlersTableIsTheHandlerTable) {
  std::ostringstream Table;
  Table << "| handler | where | what it does |\n|---|---|---|\n";
  for (const TStandardHandler& H : StandardHandlers())
    Table << "| `" << H.Usage << "` | " << H.Where << " | " << H.What << " |\n";
  ExpectBetweenMarkers(Root / "docs" / "model-files.md", "standard handlers", Table.str());
}

// The table of stored properties is the class descriptions': every
// component's Tag, then each list of further properties with the classes
// that have it, in palette order.
TEST(Docs, TheStoredPropertiesTableIsTheClassDescriptions) {
  Blocks::Register();
  Statsim::Register();
  std::vector<std::pair<std::string, std::string>> Rows; // properties, classes
  for (const TComponentClass& Entry : PaletteClasses("Quorin")) {
    const TClassInfo* C = FindClassInfo(Entry.ClassName);
    std::string Properties;
    for (const TPropertyInfo& P : C->Properties)
      if (P.Name != "Tag")
        Properties += (Properties.empty() ? "`" : ", `") + P.Name + " = " + DefaultText(*C, P) + "`";
    if (Properties.empty()) continue;
    auto Row = std::find_if(Rows.begin(), Rows.end(),
                            [&](const auto& R) { return R.first == Properties; });
    if (Row == Rows.end())
      Rows.emplace_back(Properties, "`" + C->Name + "`");
    else
      Row->second += ", `" + C->Name + "`";
  }
  std::ostringstream Table;
  Table << "| class | property = default |\n|---|---|\n| every component | `Tag = 0` |\n";
  for (const auto& [Properties, Names] : Rows)
    Table << "| " << Names << " | " << Properties << " |\n";
  ExpectBetweenMarkers(Root / "docs" / "model-files.md", "stored properties", Table.str());
}

std::vector<fs::path> Pages() {
  std::vector<fs::path> All{Root / "README.md"};
  for (const auto& Entry : fs::recursive_directory_iterator(Root / "docs"))
    if (Entry.path().extension() == ".md") All.push_back(Entry.path());
  return All;
}

// The bodies of the ```Lang blocks of Text, in order.
std::vector<std::string> FencedBlocks(const std::string& Text, const std::string& Lang) {
  std::vector<std::string> Bodies;
  const std::string Open = "```" + Lang + "\n";
  for (size_t At = Text.find(Open); At != std::string::npos; At = Text.find(Open, At)) {
    const size_t Start = At + Open.size(), End = Text.find("```", Start);
    if (End == std::string::npos) break;
    Bodies.push_back(Text.substr(Start, End - Start));
    At = End + 3;
  }
  return Bodies;
}

// Text without its fenced blocks and inline code, where a lambda may look
// like a link.
std::string WithoutCode(const std::string& Text) {
  std::string Out;
  for (size_t i = 0; i < Text.size();) {
    if (Text.compare(i, 3, "```") == 0) {
      const size_t End = Text.find("```", i + 3);
      i = End == std::string::npos ? Text.size() : End + 3;
    } else if (Text[i] == '`') {
      const size_t End = Text.find_first_of("`\n", i + 1);
      if (End != std::string::npos && Text[End] == '`')
        i = End + 1;
      else
        Out += Text[i++];
    } else {
      Out += Text[i++];
    }
  }
  return Out;
}

// Every ```qm block of the README and the manual is a whole model file that
// loads (application handlers, where it names any, are given as no-ops).
TEST(Docs, EveryModelFileShownLoads) {
  int Shown = 0;
  for (const fs::path& Page : Pages()) {
    for (const std::string& Body : FencedBlocks(Read(Page), "qm")) {
      THandlerTable Handlers;
      for (const char* Name : {"CountVip"})
        Handlers.Block[Name] = [](TBlock*, TTransaction*) {};
      std::vector<std::string> Errors;
      auto File = LoadModelText(Body, Page.filename().string(), Handlers, Errors);
      EXPECT_NE(File, nullptr) << Page << ":\n" << (Errors.empty() ? "" : Errors.front());
      ++Shown;
    }
  }
  EXPECT_GT(Shown, 0);
}

// The report page's sample is the M/M/1 part of the showcase's stored
// output (which tests/examples compares with what the showcase prints):
// from its start to the end of the table over the replications.
TEST(Docs, TheReportSampleIsTheShowcasesOutput) {
  const std::string Stored = Read(Root / "tests" / "examples" / "showcase.expected");
  const size_t Over = Stored.find("\nOver ");
  ASSERT_NE(Over, std::string::npos);
  const size_t PartEnd = Stored.find("\n\n", Stored.find("\n\n", Over + 1) + 2);
  ASSERT_NE(PartEnd, std::string::npos);
  const std::string Part = Stored.substr(0, PartEnd + 1);
  const fs::path Page = Root / "docs" / "report.md";
  const std::string Text = Read(Page);
  const std::string Open = "The M/M/1 part:\n\n```\n";
  const size_t From = Text.find(Open);
  ASSERT_NE(From, std::string::npos);
  const size_t Start = From + Open.size(), End = Text.find("```", Start);
  ASSERT_NE(End, std::string::npos);
  ExpectFile(Page, Text.substr(0, Start) + Part + Text.substr(End));
}

// Links between the pages lead to files that exist (addresses with a
// scheme and links within a page left aside).
TEST(Docs, EveryLinkLeadsToAFile) {
  for (const fs::path& Page : Pages()) {
    const std::string Text = WithoutCode(Read(Page));
    for (size_t At = Text.find("]("); At != std::string::npos; At = Text.find("](", At + 2)) {
      const size_t Start = At + 2, End = Text.find_first_of(")#:", Start);
      if (End == std::string::npos || End == Start || Text[End] == ':') continue;
      if (Text[End] == '#' && Text.find(')', End) == std::string::npos) continue;
      const std::string Path = Text.substr(Start, End - Start);
      EXPECT_TRUE(fs::exists(Page.parent_path() / Path)) << Page << " links to " << Path;
    }
  }
}

} // namespace
