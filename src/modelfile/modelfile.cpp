#include "quorin/modelfile.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

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

// Activation times lie in [0, 10000000000).
constexpr double TimeLimit = 10000000000.0;

} // namespace

TModelFile::TModelFile() = default;
TModelFile::~TModelFile() = default;

TComponent* TModelFile::Resolve(const TComponent* Component, const std::string& Name) const {
  if (const TComponent* Owner = Component->Owner())
    for (int32_t i = 0; i < Owner->ComponentCount(); ++i)
      if (Owner->Components(i)->Name() == Name) return Owner->Components(i);
  std::vector<TComponent*> Found;
  if (FApplication) CollectNamed(FApplication, Name, Found);
  return Found.size() == 1 ? Found[0] : nullptr;
}

int32_t TModelFile::CountNamed(const std::string& Name) const {
  std::vector<TComponent*> Found;
  if (FApplication) CollectNamed(FApplication, Name, Found);
  return static_cast<int32_t>(Found.size());
}

namespace {

// The retry mode of a model file that does not choose one: retry on change,
// unless a routing event binds more than the routing handlers (a handler
// that counts its calls, locks a gate, sets a priority, or an application's
// own), whose calls retry on change would make fewer.
TRetry FileRetry(const TModelFile& File) {
  for (const TBinding& B : File.Bindings()) {
    const TEventInfo* Info = ClassInfoOf(*B.Component)->FindEvent(B.Event);
    if (!Info || !Info->Routing) continue;
    for (const THandlerCall& Call : B.Calls)
      if (Call.Name != "PassTo" && Call.Name != "PassFirst" && Call.Name != "PassByChance" &&
          Call.Name != "PostPone")
        return TRetry::EveryScan;
  }
  return TRetry::OnChange;
}

} // namespace

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
    const int32_t Before = Owner->ComponentCount();
    ReadRun(Doc);
    {
      // Setters report refused values as messages; here they become errors
      // of the file, each at its line.
      for (const TNode& Node : Doc.Objects)
        Build(Node, Owner);
    }
    if (!FFile->FModel && FErrors.empty())
      Error(1, nullptr, "the file has no object of class TModel");
    for (const TPending& P : FPending)
      Bind(P.Component, *P.Event);
    // A routing that does more than route (counts its calls, locks a gate,
    // sets a priority) or runs code of the application may see its routing
    // calls counted: without retry on change in the file, such a model keeps
    // retry at every scan, where every blocked block is routed every scan.
    if (FFile->FModel && !FRetryGiven) FFile->FModel->SetRetry(FileRetry(*FFile));
    if (!FErrors.empty()) {
      // A caller's owner gets back what it held before: the objects made
      // here go, the last first (each leaves the owner's list as it goes).
      while (!FFile->FOwnedApplication && Owner->ComponentCount() > Before)
        delete Owner->Components(Owner->ComponentCount() - 1);
      return nullptr;
    }
    return std::move(FFile);
  }

private:
  struct TPending {
    TComponent* Component;
    const TEvent* Event;
  };

  void Error(int Line, const TComponent* X, const std::string& Text) {
    std::string Where = FFileName + ":" + std::to_string(Line) + ": ";
    if (X) Where += X->Name() + " (" + ClassNameOf(*X) + "): ";
    FErrors.push_back(Where + Text);
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

  void Build(const TNode& Node, TComponent* Owner) {
    // Names are unique among the components of one owner.
    for (int32_t i = 0; i < Owner->ComponentCount(); ++i)
      if (Owner->Components(i)->Name() == Node.Name) {
        Error(Node.Line, nullptr,
              "a second component named " + Node.Name +
                  (Owner->Name().empty() ? std::string(" at top level") : " in " + Owner->Name()));
        return;
      }
    TComponent* (*Create)(TComponent*) = nullptr;
    std::vector<TComponentClass> Keep;
    if (Node.Class == "TComponent")
      Create = &CreatePlainComponent;
    else if (const TComponentClass* C = FindClass(Node.Class, Keep))
      Create = C->Create;
    if (!Create) {
      Error(Node.Line, nullptr,
            Node.Name + ": unknown class '" + Node.Class +
                "' (TComponent for a form, or a class that `quorin palette` lists)");
      return;
    }
    TComponent* X = Create(Owner);
    X->SetName(Node.Name);
    if (auto* M = dynamic_cast<TModel*>(X)) {
      // A model file runs on the scalable engine unless it says otherwise
      // (HeapEventList, RetryOnChange): the heap event list and retry on
      // change give the same flows as the documented engine for routing
      // that decides by its receivers, which is what the standard handlers do.
      M->SetEventList(TEventList::Heap);
      M->SetRetry(TRetry::OnChange);
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
      if (P.Key == "RetryOnChange" && dynamic_cast<TModel*>(X)) FRetryGiven = true;
      if (!Seen.emplace(P.Key, P.Line).second)
        Error(P.Line, X,
              P.Key + " is given twice (first on line " + std::to_string(Seen[P.Key]) + ")");
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
    if (!Info) {
      Error(P.Line, X,
            P.Key == "Name" ? "the name is given on the object line"
                            : "no stored property '" + P.Key + "' (its properties: " + Names + ")");
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
        Error(E.Line, X, E.Key + ": " + Problem);
        return;
      }
      Actions.push_back(std::move(Action));
    }
    if (Actions.size() == 1) {
      Info->Assign(*X, std::move(Actions.front()));
    } else {
      Info->Assign(*X, [Actions](const TEventArgs& C) {
        for (const TEventAction& A : Actions)
          A(C);
      });
    }
    FFile->FBindings.push_back({X, E.Key, E.Calls, E.Line});
  }

  std::string FFileName;
  const THandlerTable& FHandlers;
  std::vector<std::string>& FErrors;
  std::unique_ptr<TModelFile> FFile;
  std::vector<TPending> FPending;
  bool FRetryGiven = false; // the file sets RetryOnChange
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
  std::ifstream In(Path, std::ios::binary);
  if (!In) {
    Errors.push_back(Path + ": cannot be read");
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

bool SaveNode(const TModelFile& File, const TComponent* X, int Depth, TNode& Node,
              std::vector<std::string>& Errors) {
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
      if (M->Retry() == FileRetry(File)) continue;
    } else if (P.Get(*X) == P.Default) {
      continue;
    }
    const auto Kind =
        P.Type == TPropertyType::Boolean ? TValue::TKind::Word : TValue::TKind::Number;
    Node.Properties.push_back({P.Name, 0, {Kind, P.Format(*X)}});
  }
  for (const TBinding& B : File.Bindings())
    if (B.Component == X) Node.Events.push_back({B.Event, 0, B.Calls});
  bool Ok = true;
  for (int32_t i = 0; i < X->ComponentCount(); ++i) {
    const TComponent* Child = X->Components(i);
    for (int32_t j = 0; j < i; ++j)
      if (X->Components(j)->Name() == Child->Name() && !Child->Name().empty()) {
        Errors.push_back(Child->Name() + ": a second component of that name in " + X->Name());
        Ok = false;
      }
    Node.Children.emplace_back();
    Ok = SaveNode(File, Child, Depth + 1, Node.Children.back(), Errors) && Ok;
  }
  return Ok;
}

} // namespace

bool SaveModelText(const TModelFile& File, std::string& Text, std::vector<std::string>& Errors) {
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
      Ok = SaveNode(File, X, 0, Doc.Objects.back(), Errors) && Ok;
    }
  }
  if (!Ok) return false;
  Text = Write(Doc);
  return true;
}

} // namespace quorin
