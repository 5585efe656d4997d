// Building a model file's model by program: components added by class
// name, events bound to standard handlers written as in a file. The same
// checks apply as when a file is loaded, and the bindings are kept so that
// the model can be saved.
#include <cctype>

#include "quorin/modelfile.h"
#include "quorin/package.h"
#include "syntax.h"
#include "quorin/classinfo.h"
#include "tables.h"

namespace quorin {

using namespace modelfile;

std::unique_ptr<TModelFile> TModelFile::Empty() {
  Blocks::Register();
  Statsim::Register();
  auto File = std::make_unique<TModelFile>();
  File->FOwnedApplication = std::make_unique<TComponent>(nullptr);
  File->FApplication = File->FOwnedApplication.get();
  return File;
}

TComponent* TModelFile::Add(TComponent* Owner, const std::string& Class, const std::string& Name,
                            std::string& Error) {
  if (!Owner) Owner = FApplication;
  if (!Owner) {
    Error = "the model file has no application to add to";
    return nullptr;
  }
  bool Valid = !Name.empty() && !std::isdigit(static_cast<unsigned char>(Name[0]));
  for (char C : Name)
    Valid = Valid && (std::isalnum(static_cast<unsigned char>(C)) || C == '_');
  if (!Valid) {
    Error = "'" + Name + "' is no name: letters, digits and '_', not starting with a digit";
    return nullptr;
  }
  for (int32_t i = 0; i < Owner->ComponentCount(); ++i)
    if (Owner->Components(i)->Name() == Name) {
      Error = "a second component named " + Name;
      return nullptr;
    }
  TComponent* (*Create)(TComponent*) = nullptr;
  if (Class == "TComponent") {
    Create = [](TComponent* AOwner) { return new TComponent(AOwner); };
  } else if (const TClassInfo* Info = FindClassInfo(Class)) {
    Create = Info->Create;
  }
  if (!Create) {
    Error = "unknown class '" + Class + "' (TComponent for a form, or a class on the palette)";
    return nullptr;
  }
  if (Class == "TModel" && FModel) {
    Error = "a second TModel (the first is " + FModel->Name() + "): a file holds one model";
    return nullptr;
  }
  TComponent* X = Create(Owner);
  X->SetName(Name);
  if (auto* M = dynamic_cast<TModel*>(X)) {
    // The engine of a model file that names none, as the loader gives it
    // (the retry mode is settled by the caller once the bindings are known,
    // see DefaultRetry).
    M->SetEngine(TEngine::Scalable);
    FModel = M;
  }
  if (auto* R = dynamic_cast<TMultiRand*>(X)) FStreams.push_back(R);
  return X;
}

bool TModelFile::Bind(TComponent* Component, const std::string& Event, const std::string& Calls,
                      const THandlerTable& Handlers, std::string& Error) {
  const TClassInfo& Class = *ClassInfoOf(*Component);
  const TEventInfo* Info = Class.FindEvent(Event);
  if (!Info) {
    Error = "no event " + Event + " (its events: " + Class.EventNames() + ")";
    return false;
  }
  if (!FModel) {
    Error = "the model has no TModel yet: handlers need one";
    return false;
  }
  std::vector<THandlerCall> Parsed;
  if (!ParseCalls(Calls, Parsed, Error)) return false;
  const TCompileContext Context{*this, Component, *Info, FModel, Handlers};
  std::vector<TEventAction> Actions;
  for (const THandlerCall& Call : Parsed) {
    TEventAction Action;
    if (!CompileCall(Call, Context, Action, Error)) return false;
    Actions.push_back(std::move(Action));
  }
  AssignActions(Parsed, Context, std::move(Actions), [](std::vector<TEventAction> All) {
    if (All.size() == 1) return std::move(All.front());
    return TEventAction([All](const TEventArgs& Args) {
      for (const TEventAction& A : All)
        A(Args);
    });
  });
  Forget(Component, Event);
  FBindings.push_back({Component, Event, std::move(Parsed), 0});
  return true;
}

void TModelFile::Forget(const TComponent* Component, const std::string& Event) {
  std::erase_if(FBindings, [&](const TBinding& B) {
    return B.Component == Component && B.Event == Event;
  });
}

} // namespace quorin
