#include "quorin/modelfile.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <unordered_map>
#include <unordered_set>

#include "quorin/package.h"
#include "quorin/statsim.h"
#include "syntax.h"
#include "tables.h"

namespace quorin {

using namespace modelfile;

namespace {

void CollectNamed(TComponent* Root, const std::string& Name, std::vector<TComponent*>& Found) {
  for (int32_t i = 0; i < Root->ComponentCount(); ++i) {
    TComponent* X = Root->Components(i);
    if (X->Name() == Name) Found.push_back(X);
    CollectNamed(X, Name, Found);
  }
}

// The palette class of that name, searched on every page.
const TComponentClass* FindClass(const std::string& Name, std::vector<TComponentClass>& Keep) {
  for (const std::string& Page : PalettePages()) {
    Keep = PaletteClasses(Page);
    for (const TComponentClass& C : Keep)
      if (C.ClassName == Name) return &C;
  }
  return nullptr;
}

TComponent* CreatePlainComponent(TComponent* AOwner) {
  return new TComponent(AOwner);
}

bool ReadNumber(const std::string& Text, double& Value) {
  const char* First = Text.data();
  if (*First == '+') ++First;
  const auto [End, Ec] = std::from_chars(First, Text.data() + Text.size(), Value);
  return Ec == std::errc() && End == Text.data() + Text.size() && std::isfinite(Value);
}

bool ReadInteger(const std::string& Text, int64_t& Value) {
  const char* First = Text.data();
  if (*First == '+') ++First;
  const auto [End, Ec] = std::from_chars(First, Text.data() + Text.size(), Value);
  return Ec == std::errc() && End == Text.data() + Text.size();
}

std::string FormatNumber(double Value) {
  char Buffer[64];
  const auto Result = std::to_chars(Buffer, Buffer + sizeof Buffer, Value);
  return std::string(Buffer, Result.ptr);
}

// Keeps the messages that components report while it lives.
class TCapture {
public:
  TCapture()
      : FPrevious(
            SetMessageHandler([this](const std::string& Text) { Messages.push_back(Text); })) {}
  ~TCapture() { SetMessageHandler(std::move(FPrevious)); }
  TCapture(const TCapture&) = delete;
  TCapture& operator=(const TCapture&) = delete;
  std::vector<std::string> Messages;

private:
  TMessageHandler FPrevious;
};

// A handler of the file, as messages of its runs name it: "Clerk.OnEnter =
// Hold(...) at mm1.qm:14, model time 3.2500".
class TBindingPlace : public TMessagePlace {
public:
  TBindingPlace(const std::string& File, int Line, const std::string& Component,
                const std::string& Event, const std::string& Calls)
      : FText(ClipWords(Component + "." + Event + " = " + Calls) + " at " + File + ":" +
              std::to_string(Line)) {}
  std::string Describe() const override {
    return FText + ", model time " + FormatFloat("0.0000000", ModelTime());
  }

private:
  std::string FText;
};

// Activation times lie in [0, 10000000000).
constexpr double TimeLimit = 10000000000.0;

} // namespace

TModelFile::TModelFile() = default;
TModelFile::~TModelFile() = default;

// The components of the application by name, for look-ups in constant time
// while a file is loaded (every handler argument is looked up). It exists
// only during the load, when no component goes away; afterwards look-ups
// scan the components, which the application may have changed.
struct TModelFile::TNameIndex {
  std::unordered_multimap<std::string, TComponent*> Named;
};

namespace {
void IndexNames(TComponent* Root, std::unordered_multimap<std::string, TComponent*>& Named) {
  for (int32_t i = 0; i < Root->ComponentCount(); ++i) {
    TComponent* X = Root->Components(i);
    Named.emplace(X->Name(), X);
    IndexNames(X, Named);
  }
}
} // namespace

void TModelFile::BuildIndex() {
  FIndex = std::make_unique<TNameIndex>();
  if (FApplication) IndexNames(FApplication, FIndex->Named);
}

void TModelFile::ForgetIndex() {
  FIndex.reset();
}

std::vector<TComponent*> TModelFile::Named(const std::string& Name) const {
  std::vector<TComponent*> Found;
  if (!FIndex) {
    if (FApplication) CollectNamed(FApplication, Name, Found);
    return Found;
  }
  const auto [First, Last] = FIndex->Named.equal_range(Name);
  for (auto It = First; It != Last; ++It)
    Found.push_back(It->second);
  return Found;
}

TComponent* TModelFile::Resolve(const TComponent* Component, const std::string& Name) const {
  const std::vector<TComponent*> Found = Named(Name);
  for (TComponent* X : Found)
    if (X->Owner() == Component->Owner() && Component->Owner()) return X;
  return Found.size() == 1 ? Found[0] : nullptr;
}

const TSchedule* TModelFile::Schedule(const std::string& Name) const {
  for (const TScheduleSection& S : FSchedules)
    if (S.Name == Name) return &S.Schedule;
  return nullptr;
}

std::vector<std::string> TModelFile::ScheduleNames() const {
  std::vector<std::string> Names;
  for (const TScheduleSection& S : FSchedules)
    Names.push_back(S.Name);
  return Names;
}

std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>>
TModelFile::ScheduleSettings() const {
  std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> Out;
  for (const TScheduleSection& S : FSchedules)
    Out.push_back({S.Name, S.Settings});
  return Out;
}

std::string TModelFile::DataPath(const std::string& Name) const {
  return !Name.empty() && Name[0] == '/' ? Name : FDirectory + Name;
}

int32_t TModelFile::CountNamed(const std::string& Name) const {
  return static_cast<int32_t>(Named(Name).size());
}

TRetry TModelFile::DefaultRetry() const {
  for (const TBinding& B : FBindings) {
    const TEventInfo* Info = ClassInfoOf(*B.Component)->FindEvent(B.Event);
    if (!Info || !Info->Routing) continue;
    for (const THandlerCall& Call : B.Calls)
      if (Call.Name != "PassTo" && Call.Name != "PassFirst" && Call.Name != "PassByChance" &&
          Call.Name != "PostPone")
        return TRetry::EveryScan;
  }
  return TRetry::OnChange;
}

// Builds a TModelFile from a parsed document in two passes: first every
// component with its properties, then the handler bindings, so that a
// handler may name a component (a block, a stream) defined further down.
class TModelLoader {
public:
  TModelLoader(const std::string& FileName, const THandlerTable& Handlers,
               std::vector<std::string>& Errors)
      : FFileName(FileName), FHandlers(Handlers), FErrors(Errors) {}

  // Loads Text into Owner, or into an application of the file's own when
  // Owner is null.
  std::unique_ptr<TModelFile> Load(const std::string& Text, TComponent* Owner) {
    TDocument Doc;
    std::string Problem;
    if (!Parse(Text, FFileName, Doc, Problem)) {
      FErrors.push_back(Problem);
      return nullptr;
    }
    Blocks::Register();
    Statsim::Register();
    FFile = std::make_unique<TModelFile>();
    if (!Owner) {
      FFile->FOwnedApplication = std::make_unique<TComponent>(nullptr);
      Owner = FFile->FOwnedApplication.get();
    }
    FFile->FApplication = Owner;
    if (const size_t Slash = FFileName.rfind('/'); Slash != std::string::npos)
      FFile->FDirectory = FFileName.substr(0, Slash + 1);
    const int32_t Before = Owner->ComponentCount();
    ReadRun(Doc);
    ReadSchedules(Doc);
    {
      // Setters report refused values as messages; here they become errors
      // of the file, each at its line.
      for (const TNode& Node : Doc.Objects)
        Build(Node, Owner);
    }
    if (!FFile->FModel && FErrors.empty())
      Error(1, nullptr, "the file has no object of class TModel");
    if (FFile->FModel) RefuseUnreached(Doc);
    FFile->BuildIndex();
    for (const TPending& P : FPending)
      Bind(P.Component, *P.Event);
    // A routing that does more than route (counts its calls, locks a gate,
    // sets a priority) or runs code of the application may see its routing
    // calls counted: without retry on change in the file, such a model keeps
    // retry at every scan, where every blocked block is routed every scan.
    if (FFile->FModel && !FFile->FRetryGiven) FFile->FModel->SetRetry(FFile->DefaultRetry());
    if (FErrors.empty() && FFile->FModel) {
      // Found once, with the names still indexed; the model check reports
      // them after every run like its own findings.
      std::vector<std::string> Loops = CheckRoutes(*FFile);
      if (!Loops.empty())
        FFile->FModel->AddCheck([Loops](std::vector<std::string>& Findings) {
          Findings.insert(Findings.end(), Loops.begin(), Loops.end());
        });
      FFile->FRouteFindings = std::move(Loops);
      // The check of a run finds these traps from what happened: they are
      // for `quorin check`, before any run.
      for (std::string& F : CheckHandlers(*FFile))
        FFile->FRouteFindings.push_back(std::move(F));
    }
    FFile->ForgetIndex();
    if (!FErrors.empty()) {
      // A caller's owner gets back what it held before: the objects made
      // here go, the last first (each leaves the owner's list as it goes).
      while (!FFile->FOwnedApplication && Owner->ComponentCount() > Before)
        delete Owner->Components(Owner->ComponentCount() - 1);
      return nullptr;
    }
    return std::move(FFile);
  }

  // One property set after loading (SetModelProperty): reported without a
  // file and line.
  bool SetAfterLoad(TComponent* X, const std::string& Key, const std::string& Value) {
    TProperty P{Key, 0, {}};
    double V = 0;
    P.Value = {ReadNumber(Value, V) ? TValue::TKind::Number : TValue::TKind::Word, Value};
    const size_t Before = FErrors.size();
    SetProperty(X, P);
    return FErrors.size() == Before;
  }

private:
  struct TPending {
    TComponent* Component;
    const TEvent* Event;
  };

  // One rule for every message of a load: "file:line: component: text",
  // without the "Quorin Error: " that the library's own messages carry, and
  // with no word so long that the message drowns in it.
  void Error(int Line, const TComponent* X, std::string Text) {
    std::string Where = Line > 0 ? FFileName + ":" + std::to_string(Line) + ": " : std::string();
    if (X) Where += ClipWords(X->Name()) + " (" + ClassNameOf(*X) + "): ";
    for (const std::string Prefix : {"Quorin Error: ", "Quorin Check: "})
      for (std::size_t At; (At = Text.find(Prefix)) != std::string::npos;)
        Text.erase(At, Prefix.size());
    FErrors.push_back(Where + ClipWords(Text));
  }

  // Blocks and schedulers that the model's run would not gather: the model
  // takes the aggregates of the forms of its application (the objects at
  // top level), or those beside it when it stands at top level itself. One
  // anywhere else would be left out of the run and the report without a word.
  void RefuseUnreached(const TDocument& Doc) {
    TComponent* Form = FFile->FModel->Owner();
    std::unordered_set<const TComponent*> Reached;
    auto TakeOwned = [&Reached](const TComponent* C) {
      for (int32_t i = 0; i < C->ComponentCount(); ++i)
        Reached.insert(C->Components(i));
    };
    if (!Form->Owner())
      TakeOwned(Form);
    else
      for (int32_t i = 0; i < Form->Owner()->ComponentCount(); ++i)
        TakeOwned(Form->Owner()->Components(i));
    for (const auto& [X, Line] : FCreated) {
      if (!dynamic_cast<const TAggregate*>(X) || Reached.count(X)) continue;
      std::string Hint;
      if (Doc.SuspectEnd > 0 && Doc.SuspectEnd < Line)
        Hint = "; the 'end' on line " + std::to_string(Doc.SuspectEnd) + " closes " +
               Doc.SuspectName + " but is indented as for another object: an 'end' too many?";
      Error(Line, X,
            "stands outside the forms of the model, so no run would reach it: put it in the "
            "object that holds " +
                FFile->FModel->Name() + Hint);
    }
  }

  void ReadRun(const TDocument& Doc) {
    std::map<std::string, int> Seen;
    for (const TProperty& P : Doc.Run) {
      if (!Seen.emplace(P.Key, P.Line).second) {
        Error(P.Line, nullptr,
              P.Key + " is given twice (first on line " + std::to_string(Seen[P.Key]) + ")");
        continue;
      }
      if (P.Key == "Title") {
        if (P.Value.Kind != TValue::TKind::String)
          Error(P.Line, nullptr, "Title must be a quoted string");
        else
          FFile->Run.Title = P.Value.Text;
        continue;
      }
      if (P.Key != "Until" && P.Key != "Warmup") {
        Error(P.Line, nullptr, "unknown run setting '" + P.Key + "' (Title, Warmup, Until)");
        continue;
      }
      double V = 0;
      if (P.Value.Kind != TValue::TKind::Number || !ReadNumber(P.Value.Text, V) || V < 0 ||
          V >= TimeLimit) {
        Error(P.Line, nullptr, P.Key + " must be a model time in 0...10000000000");
        continue;
      }
      (P.Key == "Until" ? FFile->Run.Until : FFile->Run.Warmup) = V;
    }
    if (FFile->Run.Until && FFile->Run.Warmup && *FFile->Run.Warmup > *FFile->Run.Until)
      Error(Seen["Warmup"], nullptr, "Warmup lies after Until");
  }

  // The schedule sections: a Period (0, the default: no repetition) and
  // either Steps ("time value, ...") or File (a CSV of time and value).
  void ReadSchedules(const TDocument& Doc) {
    for (const TScheduleNode& Node : Doc.Schedules) {
      bool Known = false;
      for (const auto& S : FFile->FSchedules)
        Known = Known || S.Name == Node.Name;
      if (Known) {
        Error(Node.Line, nullptr, "a second schedule named " + Node.Name);
        continue;
      }
      TModelFile::TScheduleSection Section{Node.Name, {}, {}};
      double Period = 0;
      const TProperty* Steps = nullptr;
      const TProperty* File = nullptr;
      bool Ok = true;
      for (const TProperty& P : Node.Properties) {
        const std::string Where = "schedule " + Node.Name + ": ";
        Section.Settings.push_back(
            {P.Key, P.Value.Kind == TValue::TKind::String ? Quoted(P.Value.Text) : P.Value.Text});
        if (P.Key == "Period") {
          if (P.Value.Kind != TValue::TKind::Number || !ReadNumber(P.Value.Text, Period) ||
              Period < 0 || Period >= TimeLimit) {
            Error(P.Line, nullptr, Where + "Period must be a model time (0: no repetition)");
            Ok = false;
          }
        } else if (P.Key == "Steps" || P.Key == "File") {
          if (P.Value.Kind != TValue::TKind::String) {
            Error(P.Line, nullptr,
                  Where + P.Key + " must be a quoted string" +
                      (P.Key == "Steps" ? ", such as \"0 2, 480 5\"" : ""));
            Ok = false;
          }
          (P.Key == "Steps" ? Steps : File) = &P;
        } else {
          Error(P.Line, nullptr, Where + "unknown setting '" + P.Key + "' (Period, Steps, File)");
          Ok = false;
        }
      }
      if (!Ok) {
        FBadSchedules.push_back(Node.Name);
        continue;
      }
      if (!Steps == !File) {
        Error(Node.Line, nullptr,
              "schedule " + Node.Name + ": give either Steps or File (a CSV of time,value)");
        FBadSchedules.push_back(Node.Name);
        continue;
      }
      std::string Problem;
      auto S = Steps ? TSchedule::Parse(Steps->Value.Text, Period, Problem)
                     : TSchedule::ReadCsv(FFile->DataPath(File->Value.Text), Period, Problem);
      if (!S) {
        Error((Steps ? Steps : File)->Line, nullptr, "schedule " + Node.Name + ": " + Problem);
        FBadSchedules.push_back(Node.Name);
        continue;
      }
      Section.Schedule = *S;
      FFile->FSchedules.push_back(std::move(Section));
    }
  }

  static std::string Quoted(const std::string& Text) {
    std::string Q = "\"";
    for (char C : Text) {
      if (C == '"' || C == '\\') Q += '\\';
      Q += C;
    }
    return Q + "\"";
  }

  bool NamesBadSchedule(const THandlerCall& Call) const {
    for (const THandlerArg& A : Call.Args)
      if (std::find(FBadSchedules.begin(), FBadSchedules.end(), A.Text) != FBadSchedules.end())
        return true;
    return false;
  }

  // Schedule = Name: the block follows the schedule (see TScheduleDriver).
  void FollowSchedule(TComponent* X, const TProperty& P) {
    auto* Block = dynamic_cast<TBlock*>(X);
    const TSchedule* S = P.Value.Kind == TValue::TKind::Word ? FFile->Schedule(P.Value.Text) : nullptr;
    if (!S && std::find(FBadSchedules.begin(), FBadSchedules.end(), P.Value.Text) !=
                  FBadSchedules.end())
      return; // its section's own error is reported once
    if (!S) {
      Error(P.Line, X,
            P.Value.Kind == TValue::TKind::Word
                ? "Schedule: no schedule section named '" + P.Value.Text + "'"
                : std::string("Schedule must name a schedule section"));
      return;
    }
    std::string Problem;
    if (!Block || !TScheduleDriver::Attach(*Block, *S, Problem)) {
      Error(P.Line, X,
            "Schedule = " + P.Value.Text + ": " +
                (Block ? Problem : "only blocks follow a schedule"));
      return;
    }
    FFile->FFollowing.push_back({X, P.Value.Text});
  }

  // Left and Top: where the component stands on the editor's form, in
  // pixels. Kept for saving and drawing; a run never reads them.
  void SetPosition(TComponent* X, const TProperty& P) {
    int64_t V = 0;
    if (P.Value.Kind != TValue::TKind::Number || !ReadInteger(P.Value.Text, V) || V < 0 ||
        V > TModelFile::MaxPosition) {
      Error(P.Line, X,
            P.Key + " must be a whole number in 0..." + std::to_string(TModelFile::MaxPosition));
      return;
    }
    auto& At = FFile->FPositions[X];
    (P.Key == "Left" ? At.Left : At.Top) = static_cast<int32_t>(V);
  }

  void Build(const TNode& Node, TComponent* Owner) {
    // Names are unique among the components of one owner; the names taken
    // are kept by owner, so that a file of many objects loads in linear time.
    std::unordered_set<std::string>& Taken = FTaken[Owner];
    if (Taken.empty())
      for (int32_t i = 0; i < Owner->ComponentCount(); ++i)
        Taken.insert(Owner->Components(i)->Name());
    if (!Taken.insert(Node.Name).second) {
      Error(Node.Line, nullptr,
            "a second component named " + Node.Name +
                (Owner->Name().empty() ? std::string(" at top level") : " in " + Owner->Name()));
      return;
    }
    TComponent* (*Create)(TComponent*) = CreatorOf(Node.Class);
    if (!Create) {
      Error(Node.Line, nullptr,
            Node.Name + ": unknown class '" + Node.Class +
                "' (TComponent for a form, or a class that `quorin palette` lists)");
      return;
    }
    TComponent* X = Create(Owner);
    X->SetName(Node.Name);
    FCreated.emplace_back(X, Node.Line);
    if (auto* M = dynamic_cast<TModel*>(X)) {
      // A model file runs on the scalable engine unless it says otherwise
      // (HeapEventList, RetryOnChange): the heap event list and retry on
      // change give the same flows as the documented engine for routing
      // that decides by its receivers, which is what the standard handlers do.
      M->SetEngine(TEngine::Scalable);
      if (FFile->FModel)
        Error(Node.Line, X,
              "a second TModel (the first is " + FFile->FModel->Name() +
                  "): a file holds one model");
      else
        FFile->FModel = M;
    }
    if (auto* R = dynamic_cast<TMultiRand*>(X)) FFile->FStreams.push_back(R);

    std::map<std::string, int> Seen;
    for (const TProperty& P : Node.Properties) {
      if (P.Key == "RetryOnChange" && dynamic_cast<TModel*>(X)) FFile->FRetryGiven = true;
      if (!Seen.emplace(P.Key, P.Line).second)
        Error(P.Line, X,
              P.Key + " is given twice (first on line " + std::to_string(Seen[P.Key]) + ")");
      else if (P.Key == "Schedule")
        FollowSchedule(X, P);
      else if (P.Key == "Left" || P.Key == "Top")
        SetPosition(X, P);
      else
        SetProperty(X, P);
    }
    for (const TEvent& E : Node.Events) {
      if (!Seen.emplace(E.Key, E.Line).second)
        Error(E.Line, X,
              E.Key + " is bound twice (first on line " + std::to_string(Seen[E.Key]) +
                  "); several handlers go in one line, separated by ';'");
      else
        FPending.push_back({X, &E});
    }
    for (const TNode& Child : Node.Children)
      Build(Child, X);
  }

  void SetProperty(TComponent* X, const TProperty& P) {
    const TClassInfo* Class = ClassInfoOf(*X);
    const TPropertyInfo* Info = Class->FindProperty(P.Key);
    std::string Names;
    for (const TPropertyInfo& I : Class->Properties)
      Names += (Names.empty() ? "" : ", ") + I.Name;
    // Not a stored property, but set the same way.
    std::string Also;
    if (const auto* Block = dynamic_cast<const TBlock*>(X); Block && TScheduleDriver::CanFollow(*Block))
      Also = "; it may also follow a schedule section: Schedule = Name";
    if (!Info) {
      Error(P.Line, X,
            P.Key == "Name" ? "the name is given on the object line"
                            : "no stored property '" + P.Key + "' (its properties: " + Names + ")" +
                                  Also);
      return;
    }
    const std::string Shown = P.Key + " = " + P.Value.Text;
    double V = 0;
    switch (Info->Type) {
    case TPropertyType::Boolean:
      if (P.Value.Kind != TValue::TKind::Word ||
          (P.Value.Text != "true" && P.Value.Text != "false")) {
        Error(P.Line, X, P.Key + " must be true or false");
        return;
      }
      V = P.Value.Text == "true";
      break;
    case TPropertyType::Integer: {
      int64_t I = 0;
      if (P.Value.Kind != TValue::TKind::Number || !ReadInteger(P.Value.Text, I)) {
        Error(P.Line, X, P.Key + " must be a whole number");
        return;
      }
      V = static_cast<double>(I);
      break;
    }
    case TPropertyType::Real:
      if (P.Value.Kind != TValue::TKind::Number || !ReadNumber(P.Value.Text, V)) {
        Error(P.Line, X, P.Key + " must be a number");
        return;
      }
      break;
    }
    if (V < Info->Min || V > Info->Max) {
      Error(P.Line, X,
            Shown + " is out of the property's range " + FormatNumber(Info->Min) + "..." +
                FormatNumber(Info->Max));
      return;
    }
    TCapture Capture;
    const bool Kept = Info->Set(*X, V);
    if (!Capture.Messages.empty())
      Error(P.Line, X, Shown + " is refused: " + Capture.Messages.front());
    else if (!Kept)
      Error(P.Line, X, Shown + " is refused by the component");
  }

  void Bind(TComponent* X, const TEvent& E) {
    const TClassInfo* Class = ClassInfoOf(*X);
    const TEventInfo* Info = Class->FindEvent(E.Key);
    if (!Info) {
      Error(E.Line, X, "no event " + E.Key + " (its events: " + Class->EventNames() + ")");
      return;
    }
    if (!FFile->FModel) return; // reported already; the handlers could not stop a run
    const TCompileContext Context{*FFile, X, *Info, FFile->FModel, FHandlers};
    std::vector<TEventAction> Actions;
    for (const THandlerCall& Call : E.Calls) {
      TEventAction Action;
      std::string Problem;
      if (!CompileCall(Call, Context, Action, Problem)) {
        // A call that names a schedule section refused for its own error
        // adds nothing to that error.
        if (!NamesBadSchedule(Call)) Error(E.Line, X, E.Key + ": " + Problem);
        return;
      }
      Actions.push_back(std::move(Action));
    }
    // Each run of the handler names its place in the messages it causes.
    auto Place = std::make_shared<const TBindingPlace>(FFileName, E.Line, X->Name(), E.Key,
                                                       WriteCalls(E.Calls));
    AssignActions(E.Calls, Context, std::move(Actions), [Place](std::vector<TEventAction> All) {
      if (All.size() == 1)
        return TEventAction([Place, Action = std::move(All.front())](const TEventArgs& C) {
          TMessageScope Scope(*Place);
          Action(C);
        });
      return TEventAction([Place, All](const TEventArgs& C) {
        TMessageScope Scope(*Place);
        for (const TEventAction& A : All)
          A(C);
      });
    });
    FFile->FBindings.push_back({X, E.Key, E.Calls, E.Line});
  }

  // The factory of a class named in the file, looked up on the palette once.
  TComponent* (*CreatorOf(const std::string& Class))(TComponent*) {
    if (Class == "TComponent") return &CreatePlainComponent;
    auto It = FClasses.find(Class);
    if (It != FClasses.end()) return It->second;
    std::vector<TComponentClass> Keep;
    const TComponentClass* C = FindClass(Class, Keep);
    return FClasses[Class] = C ? C->Create : nullptr;
  }

  // Schedule sections refused for an error of their own.
  std::vector<std::string> FBadSchedules;
  std::unordered_map<const TComponent*, std::unordered_set<std::string>> FTaken;
  std::vector<std::pair<const TComponent*, int>> FCreated; // with their lines
  std::unordered_map<std::string, TComponent* (*)(TComponent*)> FClasses;
  std::string FFileName;
  const THandlerTable& FHandlers;
  std::vector<std::string>& FErrors;
  std::unique_ptr<TModelFile> FFile;
  std::vector<TPending> FPending;
};

namespace {

std::unique_ptr<TModelFile> LoadText(const std::string& Text, const std::string& FileName,
                                     const THandlerTable& Handlers,
                                     std::vector<std::string>& Errors, TComponent* Owner) {
  Errors.clear();
  TModelLoader Loader(FileName, Handlers, Errors);
  return Loader.Load(Text, Owner);
}

std::unique_ptr<TModelFile> LoadFile(const std::string& Path, const THandlerTable& Handlers,
                                     std::vector<std::string>& Errors, TComponent* Owner) {
  Errors.clear();
  std::error_code Ec;
  if (std::filesystem::is_directory(Path, Ec)) {
    Errors.push_back(Path + ": is a directory, not a model file");
    return nullptr;
  }
  errno = 0;
  std::ifstream In(Path, std::ios::binary);
  if (!In) {
    const int Why = errno;
    std::string Reason;
    if (!std::filesystem::exists(Path, Ec))
      Reason = " (no such file)";
    else if (Why == EACCES)
      Reason = " (no permission)";
    else if (Why != 0)
      Reason = std::string(" (") + std::strerror(Why) + ")";
    Errors.push_back(Path + ": cannot be read" + Reason);
    return nullptr;
  }
  std::ostringstream Text;
  Text << In.rdbuf();
  if (In.bad()) {
    Errors.push_back(Path + ": cannot be read");
    return nullptr;
  }
  return LoadText(Text.str(), Path, Handlers, Errors, Owner);
}

} // namespace

std::unique_ptr<TModelFile> LoadModelText(const std::string& Text, const std::string& FileName,
                                          const THandlerTable& Handlers,
                                          std::vector<std::string>& Errors) {
  return LoadText(Text, FileName, Handlers, Errors, nullptr);
}

std::unique_ptr<TModelFile> LoadModelText(const std::string& Text, const std::string& FileName,
                                          const THandlerTable& Handlers,
                                          std::vector<std::string>& Errors, TComponent& Owner) {
  return LoadText(Text, FileName, Handlers, Errors, &Owner);
}

std::unique_ptr<TModelFile> LoadModelFile(const std::string& Path, const THandlerTable& Handlers,
                                          std::vector<std::string>& Errors) {
  return LoadFile(Path, Handlers, Errors, nullptr);
}

std::unique_ptr<TModelFile> LoadModelFile(const std::string& Path, const THandlerTable& Handlers,
                                          std::vector<std::string>& Errors, TComponent& Owner) {
  return LoadFile(Path, Handlers, Errors, &Owner);
}

namespace {

// A quoted string as written, without its quotes and escapes.
std::string Unquoted(const std::string& Q) {
  std::string S;
  for (size_t i = 1; i + 1 < Q.size(); ++i) {
    if (Q[i] == '\\' && i + 2 < Q.size()) {
      ++i;
      S += Q[i] == 'n' ? '\n' : Q[i] == 't' ? '\t' : Q[i];
    } else {
      S += Q[i];
    }
  }
  return S;
}

std::string QuoteName(const std::string& S) {
  std::string Q = "\"";
  for (char C : S) {
    if (C == '"' || C == '\\') Q += '\\';
    Q += C;
  }
  return Q + "\"";
}

// The quoted name of a data file as written in File, rewritten for a text
// saved at Destination: a relative name is taken from the model file's
// folder, so that it must lead from Destination's folder to the same file.
// Absolute names, and every name when Destination is empty (the text is for
// the model file's own folder), stay as they were.
std::string Rebased(const TModelFile& File, const std::string& Quoted,
                    const std::string& Destination) {
  namespace fs = std::filesystem;
  const std::string Name = Unquoted(Quoted);
  if (Destination.empty() || Name.empty() || Name[0] == '/') return Quoted;
  std::error_code Ec;
  const fs::path Data = fs::absolute(File.DataPath(Name), Ec).lexically_normal();
  const fs::path Folder = fs::absolute(Destination, Ec).lexically_normal().parent_path();
  if (Ec) return QuoteName(Data.generic_string());
  const fs::path Relative = Data.lexically_relative(Folder);
  return QuoteName((Relative.empty() ? Data : Relative).generic_string());
}

bool SaveNode(const TModelFile& File, const TComponent* X, int Depth, TNode& Node,
              std::vector<std::string>& Errors, const std::string& Destination) {
  const std::string Class = ClassNameOf(*X);
  Node.Name = X->Name();
  Node.Class = Class;
  const std::string Where = X->Name().empty() ? "a " + Class + " without a name" : X->Name();
  bool Valid = !X->Name().empty();
  for (char C : X->Name())
    Valid = Valid && (std::isalnum(static_cast<unsigned char>(C)) || C == '_');
  Valid = Valid && !std::isdigit(static_cast<unsigned char>(X->Name()[0]));
  if (!Valid) {
    Errors.push_back(Where + ": a component needs a name of letters, digits and '_'");
    return false;
  }
  std::vector<TComponentClass> Keep;
  if (typeid(*X) != typeid(TComponent) && !FindClass(Class, Keep)) {
    Errors.push_back(X->Name() + ": class " + Class + " is not on the palette");
    return false;
  }
  if (Depth >= MaxDepth) {
    Errors.push_back(X->Name() + ": nested deeper than " + std::to_string(MaxDepth));
    return false;
  }
  const auto* M = dynamic_cast<const TModel*>(X);
  for (const TPropertyInfo& P : ClassInfoOf(*X)->Properties) {
    // Defaults are left out. The engine's default in a file is what the
    // loader picks for a file that names none.
    if (M && P.Name == "HeapEventList") {
      if (M->EventList() == TEventList::Heap) continue;
    } else if (M && P.Name == "RetryOnChange") {
      if (M->Retry() == File.DefaultRetry()) continue;
    } else if (P.Get(*X) == P.Default) {
      continue;
    }
    const auto Kind =
        P.Type == TPropertyType::Boolean ? TValue::TKind::Word : TValue::TKind::Number;
    Node.Properties.push_back({P.Name, 0, {Kind, P.Format(*X)}});
  }
  for (const auto& [Block, Schedule] : File.Following())
    if (Block == X) Node.Properties.push_back({"Schedule", 0, {TValue::TKind::Word, Schedule}});
  if (const auto At = File.Position(X)) {
    Node.Properties.push_back({"Left", 0, {TValue::TKind::Number, std::to_string(At->Left)}});
    Node.Properties.push_back({"Top", 0, {TValue::TKind::Number, std::to_string(At->Top)}});
  }
  for (const TBinding& B : File.Bindings())
    if (B.Component == X) {
      Node.Events.push_back({B.Event, 0, B.Calls});
      for (THandlerCall& Call : Node.Events.back().Calls)
        for (THandlerArg& A : Call.Args)
          if ((A.Method == "Empirical" || A.Method == "EmpiricalDiscrete") &&
              A.Params.size() == 1 && A.Params[0].size() >= 2 && A.Params[0][0] == '"')
            A.Params[0] = Rebased(File, A.Params[0], Destination);
    }
  bool Ok = true;
  for (int32_t i = 0; i < X->ComponentCount(); ++i) {
    const TComponent* Child = X->Components(i);
    // A schedule's driver is written as the Schedule of its block.
    if (dynamic_cast<const TScheduleDriver*>(Child)) continue;
    for (int32_t j = 0; j < i; ++j)
      if (X->Components(j)->Name() == Child->Name() && !Child->Name().empty()) {
        Errors.push_back(Child->Name() + ": a second component of that name in " + X->Name());
        Ok = false;
      }
    Node.Children.emplace_back();
    Ok = SaveNode(File, Child, Depth + 1, Node.Children.back(), Errors, Destination) && Ok;
  }
  return Ok;
}

} // namespace

bool SetModelProperty(TModelFile& File, const std::string& Component, const std::string& Property,
                      const std::string& Value, std::string& Error) {
  std::vector<TComponent*> Found;
  if (File.Application()) CollectNamed(File.Application(), Component, Found);
  if (Found.size() != 1) {
    Error = Found.empty() ? "no component named '" + Component + "'"
                          : "several components are named '" + Component + "'";
    return false;
  }
  if (Property == "Schedule") {
    Error = Component + ": Schedule names a schedule section and is set in the file";
    return false;
  }
  std::vector<std::string> Errors;
  TModelLoader Loader("", THandlerTable{}, Errors);
  if (Loader.SetAfterLoad(Found[0], Property, Value)) return true;
  Error = Errors.empty() ? Property + " = " + Value + " is refused" : Errors.front();
  return false;
}

bool SaveModelText(const TModelFile& File, std::string& Text, std::vector<std::string>& Errors,
                   const std::string& Destination) {
  Errors.clear();
  Blocks::Register();
  Statsim::Register();
  TDocument Doc;
  const TRunSettings& Run = File.Run;
  if (!Run.Title.empty()) Doc.Run.push_back({"Title", 0, {TValue::TKind::String, Run.Title}});
  if (Run.Warmup)
    Doc.Run.push_back({"Warmup", 0, {TValue::TKind::Number, FormatNumber(*Run.Warmup)}});
  if (Run.Until) Doc.Run.push_back({"Until", 0, {TValue::TKind::Number, FormatNumber(*Run.Until)}});
  Doc.HasRun = !Doc.Run.empty();
  for (const auto& [Name, Settings] : File.ScheduleSettings()) {
    Doc.Schedules.push_back({Name, 0, {}});
    // The values as they were written; a word is written back verbatim.
    for (const auto& [Key, Value] : Settings)
      Doc.Schedules.back().Properties.push_back(
          {Key, 0,
           {TValue::TKind::Word,
            Key == "File" && Value.size() >= 2 && Value[0] == '"'
                ? Rebased(File, Value, Destination)
                : Value}});
  }
  bool Ok = true;
  if (const TComponent* App = File.Application()) {
    for (int32_t i = 0; i < App->ComponentCount(); ++i) {
      const TComponent* X = App->Components(i);
      for (int32_t j = 0; j < i; ++j)
        if (App->Components(j)->Name() == X->Name() && !X->Name().empty()) {
          Errors.push_back(X->Name() + ": a second component of that name at top level");
          Ok = false;
        }
      Doc.Objects.emplace_back();
      Ok = SaveNode(File, X, 0, Doc.Objects.back(), Errors, Destination) && Ok;
    }
  }
  if (!Ok) return false;
  Text = Write(Doc);
  return true;
}

} // namespace quorin
