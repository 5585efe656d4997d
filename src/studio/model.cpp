#include "model.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>

#include "quorin/classinfo.h"
#include "quorin/modelfile.h"
#include "quorin/package.h"
#include "text.h"

namespace quorin::studio {

using nlohmann::json;

namespace {

const char* TypeName(TPropertyType T) {
  switch (T) {
  case TPropertyType::Integer:
    return "integer";
  case TPropertyType::Boolean:
    return "boolean";
  case TPropertyType::Real:
    return "real";
  }
  return "real";
}

const char* KindName(TReportKind K) {
  switch (K) {
  case TReportKind::Generator:
    return "generator";
  case TReportKind::Queue:
    return "queue";
  case TReportKind::Server:
    return "server";
  case TReportKind::Storage:
    return "storage";
  case TReportKind::Gate:
    return "gate";
  case TReportKind::Batch:
    return "batch";
  case TReportKind::Terminator:
    return "terminator";
  case TReportKind::Other:
    return "other";
  case TReportKind::None:
    return "none";
  }
  return "none";
}

json Image(const std::string& Class) {
  std::string Upper;
  for (char C : Class)
    Upper += char(std::toupper(static_cast<unsigned char>(C)));
  TPaletteBitmap B;
  if (!PaletteBitmap(Upper, B)) return nullptr;
  json Colours = json::array();
  for (uint32_t C : B.Colours) {
    char Hex[8];
    std::snprintf(Hex, sizeof Hex, "#%06x", C & 0xffffffu);
    Colours.push_back(Hex);
  }
  json Rows = json::array();
  for (const auto& Row : B.Pixels) {
    std::string R;
    for (uint8_t P : Row)
      R += "0123456789abcdef"[P & 15];
    Rows.push_back(R);
  }
  return {{"colours", Colours}, {"rows", Rows}};
}

// The line number and the component of a loader message
// "name:line: Component (Class): text", and the text alone.
struct TMessage {
  int Line = 0;
  std::string Component;
  std::string Text;
};

TMessage Parse(const std::string& Message, const std::string& Name) {
  TMessage M;
  std::string Rest = Message;
  if (Rest.rfind(Name + ":", 0) == 0) {
    Rest = Rest.substr(Name.size() + 1);
    std::size_t Digits = 0;
    while (Digits < Rest.size() && std::isdigit(static_cast<unsigned char>(Rest[Digits])))
      ++Digits;
    if (Digits > 0 && Digits < 9 && Rest.compare(Digits, 2, ": ") == 0) {
      M.Line = std::stoi(Rest.substr(0, Digits));
      Rest = Rest.substr(Digits + 2);
    }
  }
  // "Name (Class): " at the start.
  const std::size_t Open = Rest.find(" (");
  const std::size_t Close = Rest.find("): ");
  if (Open != std::string::npos && Close != std::string::npos && Open < Close &&
      IsName(Rest.substr(0, Open)) && IsName(Rest.substr(Open + 2, Close - Open - 2))) {
    M.Component = Rest.substr(0, Open);
    Rest = Rest.substr(Close + 3);
  }
  M.Text = Rest;
  return M;
}

// The innermost object of Shape whose lines hold Line.
std::string ObjectAt(const TTextShape& Shape, int Line) {
  std::string Name;
  for (const TTextObject& O : Shape.Objects)
    if (O.Begin <= Line && Line <= O.End) Name = O.Name;
  return Name;
}

// The first name of an object that Text mentions as a word.
std::string Mentioned(const TTextShape& Shape, const std::string& Text) {
  std::size_t Best = std::string::npos;
  std::string Name;
  for (const TTextObject& O : Shape.Objects) {
    for (std::size_t At = Text.find(O.Name); At != std::string::npos;
         At = Text.find(O.Name, At + 1)) {
      const bool Before = At == 0 || !(std::isalnum(static_cast<unsigned char>(Text[At - 1])) ||
                                       Text[At - 1] == '_');
      const std::size_t E = At + O.Name.size();
      const bool After =
          E >= Text.size() || !(std::isalnum(static_cast<unsigned char>(Text[E])) || Text[E] == '_');
      if (Before && After) {
        if (At < Best) {
          Best = At;
          Name = O.Name;
        }
        break;
      }
    }
  }
  return Name;
}

// What the wiring shows before a run: blocks that transactions reach but
// cannot leave, and blocks that nothing passes to.
std::vector<std::pair<std::string, std::string>> Wiring(const TModelFile& File) {
  std::vector<std::pair<std::string, std::string>> Findings;
  std::set<const TComponent*> HasOut, HasIn, Routing;
  for (const TRoute& R : Routes(File)) {
    HasOut.insert(R.From);
    HasIn.insert(R.To);
  }
  for (const TBinding& B : File.Bindings())
    if (B.Event == "OnRouting") Routing.insert(B.Component);
  std::vector<const TComponent*> All;
  std::vector<const TComponent*> Stack = {File.Application()};
  while (!Stack.empty()) {
    const TComponent* X = Stack.back();
    Stack.pop_back();
    for (int32_t i = X->ComponentCount() - 1; i >= 0; --i) {
      All.push_back(X->Components(i));
      Stack.push_back(X->Components(i));
    }
  }
  std::reverse(All.begin(), All.end());
  for (const TComponent* X : All) {
    const TReportKind K = ClassInfoOf(*X)->Report;
    if (K == TReportKind::None || K == TReportKind::Other) continue;
    const bool Leaves = K != TReportKind::Terminator;
    if (Leaves && !HasOut.count(X) && !Routing.count(X))
      Findings.emplace_back(X->Name(), X->Name() + " has no OnRouting handler: what enters it "
                                                   "cannot leave (draw an arrow from it)");
    if (K != TReportKind::Generator && K != TReportKind::Batch && !HasIn.count(X))
      Findings.emplace_back(X->Name(), "no route leads to " + X->Name());
  }
  return Findings;
}

} // namespace

json DescribeClasses() {
  Blocks::Register();
  Statsim::Register();
  json Pages = json::array();
  for (const std::string& Page : PalettePages()) {
    json Classes = json::array();
    for (const TComponentClass& C : PaletteClasses(Page)) {
      const TClassInfo* Info = FindClassInfo(C.ClassName);
      if (!Info) continue;
      json Properties = json::array();
      for (const TPropertyInfo& P : Info->Properties)
        Properties.push_back({{"name", P.Name},
                              {"type", TypeName(P.Type)},
                              {"min", P.Min},
                              {"max", P.Max},
                              {"default", P.Default}});
      json Events = json::array();
      for (const TEventInfo& E : Info->Events)
        Events.push_back({{"name", E.Name}, {"routing", E.Routing}});
      Classes.push_back({{"name", Info->Name},
                         {"summary", Info->Summary},
                         {"kind", KindName(Info->Report)},
                         {"properties", Properties},
                         {"events", Events},
                         {"image", Image(Info->Name)}});
    }
    Pages.push_back({{"name", Page}, {"classes", Classes}});
  }
  json Handlers = json::array();
  for (const TStandardHandler& H : StandardHandlers())
    Handlers.push_back({{"name", H.Name}, {"usage", H.Usage}, {"where", H.Where}, {"what", H.What}});
  return {{"pages", Pages}, {"handlers", Handlers}};
}

json DescribeModel(const std::string& Text, const std::string& Name) {
  const TTextShape Shape = ScanText(Text);
  json Objects = json::array();
  for (const TTextObject& O : Shape.Objects) {
    json Entries = json::object();
    for (const TTextEntry& E : O.Entries)
      Entries[E.Key] = {{"value", E.Value}, {"line", E.Line}};
    Objects.push_back({{"name", O.Name},
                       {"class", O.Class},
                       {"parent", O.Parent},
                       {"line", O.Begin},
                       {"entries", Entries}});
  }
  json Run = json::object();
  for (const TTextEntry& E : Shape.Run)
    Run[E.Key] = {{"value", E.Value}, {"line", E.Line}};
  json Schedules = json::array();
  for (const TTextObject& S : Shape.Schedules) {
    json Entries = json::object();
    for (const TTextEntry& E : S.Entries)
      Entries[E.Key] = {{"value", E.Value}, {"line", E.Line}};
    Schedules.push_back({{"name", S.Name}, {"line", S.Begin}, {"entries", Entries}, {"steps", nullptr}});
  }

  json Errors = json::array(), Findings = json::array(), RouteList = json::array();
  bool Loaded = false;
  if (Shape.Objects.empty()) {
    Errors.push_back({{"line", 0}, {"component", ""}, {"message", "the model has no form yet: "
                                                                   "drag a class onto it"}});
  } else {
    std::vector<std::string> Messages;
    auto File = LoadModelText(Text, Name, THandlerTable{}, Messages);
    for (const std::string& E : Messages) {
      const TMessage M = Parse(E, Name);
      const std::string Who = M.Component.empty() ? ObjectAt(Shape, M.Line) : M.Component;
      Errors.push_back({{"line", M.Line}, {"component", Who}, {"message", E}});
    }
    if (File) {
      Loaded = true;
      for (const std::string& F : File->RouteFindings())
        Findings.push_back({{"component", Mentioned(Shape, F)}, {"message", F}});
      for (const auto& [Who, Message] : Wiring(*File))
        Findings.push_back({{"component", Who}, {"message", Message}});
      for (const TRoute& R : Routes(*File))
        RouteList.push_back({{"from", R.From->Name()}, {"to", R.To->Name()}, {"label", R.Label}});
      // The steps as loaded (from Steps or from a data file), for the plot.
      for (json& S : Schedules)
        if (const TSchedule* Section = File->Schedule(S["name"].get<std::string>())) {
          json Steps = json::array();
          for (const TSchedule::TStep& Step : Section->Steps())
            Steps.push_back({Step.Time, Step.Value});
          S["steps"] = Steps;
          S["period"] = Section->Period();
        }
    }
  }
  return {{"objects", Objects}, {"run", Run},           {"schedules", Schedules},
          {"errors", Errors},   {"findings", Findings}, {"routes", RouteList},
          {"loaded", Loaded}};
}

namespace {

std::string Str(const json& J, const char* Key) {
  const auto At = J.find(Key);
  if (At == J.end()) return {};
  if (!At->is_string()) throw std::invalid_argument(std::string(Key) + " must be a string");
  return At->get<std::string>();
}

int Int(const json& J, const char* Key) {
  const auto At = J.find(Key);
  if (At == J.end()) return 0;
  if (!At->is_number()) throw std::invalid_argument(std::string(Key) + " must be a number");
  const double V = At->get<double>();
  return V < 0 ? 0 : V > TModelFile::MaxPosition ? TModelFile::MaxPosition : int(V);
}

// The loader's messages about lines First...Last of Text, or about
// component Who, that the text before the edit did not have.
std::string NewError(const std::string& Before, const std::string& After, const std::string& Name,
                     int First, int Last, const std::string& Who) {
  std::vector<std::string> Old, New;
  if (!ScanText(Before).Objects.empty()) LoadModelText(Before, Name, THandlerTable{}, Old);
  LoadModelText(After, Name, THandlerTable{}, New);
  const TTextShape Shape = ScanText(After);
  for (const std::string& E : New) {
    const TMessage M = Parse(E, Name);
    const bool Here = (M.Line >= First && M.Line <= Last) ||
                      (!Who.empty() && (M.Component == Who || (M.Line == 0 && Mentioned(Shape, E) == Who)));
    if (!Here) continue;
    bool Seen = false;
    for (const std::string& O : Old)
      Seen = Seen || Parse(O, Name).Text == M.Text;
    if (!Seen) return E;
  }
  return {};
}

} // namespace

bool ApplyEdit(std::string& Text, const std::string& Name, const json& Edit, std::string& Error) {
  if (!Edit.is_object()) {
    Error = "an edit is a JSON object";
    return false;
  }
  try {
    const std::string Op = Str(Edit, "op");
    std::string After = Text;
    if (Op == "set") {
      const std::string Who = Str(Edit, "name"), Key = Str(Edit, "key"),
                        Value = Str(Edit, "value");
      if (!SetEntry(After, Who, Key, Value, Error)) return false;
      if (!Value.empty()) {
        const TTextShape Shape = ScanText(After);
        int Line = 0;
        const std::vector<TTextEntry>* Entries = nullptr;
        if (Who.empty()) Entries = &Shape.Run;
        else if (const TTextObject* O = Shape.Find(Who)) Entries = &O->Entries;
        if (Entries)
          for (const TTextEntry& E : *Entries)
            if (E.Key == Key) Line = E.Line;
        Error = NewError(Text, After, Name, Line, Line, "");
        if (!Error.empty()) return false;
      }
    } else if (Op == "add") {
      const std::string Class = Str(Edit, "class"), Who = Str(Edit, "name");
      if (!AddObject(After, Class, Who, Int(Edit, "left"), Int(Edit, "top"), Error)) return false;
      const TTextShape Shape = ScanText(After); // O points into it
      const TTextObject* O = Shape.Find(Who);
      Error = NewError(Text, After, Name, O ? O->Begin : 0, O ? O->End : 0, Who);
      if (!Error.empty()) return false;
    } else if (Op == "schedule-set") {
      const std::string Who = Str(Edit, "schedule"), Key = Str(Edit, "key"),
                        Value = Str(Edit, "value");
      if (!SetScheduleEntry(After, Who, Key, Value, Error)) return false;
      int First = 0, Last = 0;
      const TTextShape Shape = ScanText(After); // S points into it
      if (const TTextObject* S = Shape.FindSchedule(Who)) {
        First = S->Begin;
        Last = S->End;
      }
      Error = NewError(Text, After, Name, First, Last, "");
      if (!Error.empty()) return false;
    } else if (Op == "schedule-add") {
      const std::string Who = Str(Edit, "name");
      if (!AddSchedule(After, Who, "\"0 1\"", Error)) return false;
    } else if (Op == "remove") {
      if (!RemoveObject(After, Str(Edit, "name"), Error)) return false;
    } else if (Op == "rename") {
      if (!RenameObject(After, Str(Edit, "name"), Str(Edit, "to"), Error)) return false;
    } else if (Op == "move") {
      // Left and Top in one step, as a drag ends.
      const std::string Who = Str(Edit, "name");
      if (!SetEntry(After, Who, "Left", std::to_string(Int(Edit, "left")), Error) ||
          !SetEntry(After, Who, "Top", std::to_string(Int(Edit, "top")), Error))
        return false;
    } else {
      Error = "unknown edit '" + Op + "' (set, add, remove, rename, move, schedule-set, schedule-add)";
      return false;
    }
    Text = After;
    return true;
  } catch (const std::exception& E) {
    Error = E.what();
    return false;
  }
}

} // namespace quorin::studio
