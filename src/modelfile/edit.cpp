// Building a model file's model by program: components added by class
// name, events bound to standard handlers written as in a file. The same
// checks apply as when a file is loaded, and the bindings are kept so that
// the model can be saved.
#include <cctype>
#include <charconv>

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

namespace {

std::string QuotedText(const std::string& Text) {
  std::string Q = "\"";
  for (char C : Text) {
    if (C == '"' || C == '\\') Q += '\\';
    Q += C;
  }
  return Q + "\"";
}

} // namespace

bool TModelFile::AddSchedule(const std::string& Name, double Period, const std::string& Steps,
                             const std::string& File, std::string& Error) {
  bool Valid = !Name.empty() && !std::isdigit(static_cast<unsigned char>(Name[0]));
  for (char C : Name)
    Valid = Valid && (std::isalnum(static_cast<unsigned char>(C)) || C == '_');
  const std::string Where = "schedule " + Name + ": ";
  if (!Valid) {
    Error = "'" + Name + "' is no schedule name: letters, digits and '_', not starting with a digit";
    return false;
  }
  if (Schedule(Name)) {
    Error = "a second schedule named " + Name;
    return false;
  }
  if (!(Period >= 0 && Period < 10000000000.0)) {
    Error = Where + "Period must be a model time (0: no repetition)";
    return false;
  }
  if (Steps.empty() == File.empty()) {
    Error = Where + "give either Steps or File (a CSV of time,value)";
    return false;
  }
  std::string Problem;
  auto S = File.empty() ? TSchedule::Parse(Steps, Period, Problem)
                        : TSchedule::ReadCsv(DataPath(File), Period, Problem);
  if (!S) {
    Error = Where + Problem;
    return false;
  }
  TScheduleSection Section{Name, {}, *S};
  if (Period != 0) {
    char Buffer[64];
    const auto Written = std::to_chars(Buffer, Buffer + sizeof Buffer, Period);
    Section.Settings.push_back({"Period", std::string(Buffer, Written.ptr)});
  }
  Section.Settings.push_back(File.empty() ? std::pair{std::string("Steps"), QuotedText(Steps)}
                                          : std::pair{std::string("File"), QuotedText(File)});
  FSchedules.push_back(std::move(Section));
  return true;
}

bool TModelFile::Follow(TComponent* Component, const std::string& Name, std::string& Error) {
  const TSchedule* S = Schedule(Name);
  if (!S) {
    Error = "Schedule: no schedule section named '" + Name + "'";
    return false;
  }
  for (const auto& [Block, Followed] : FFollowing)
    if (Block == Component) {
      Error = "Schedule = " + Name + ": the block follows " + Followed + " already";
      return false;
    }
  auto* Block = dynamic_cast<TBlock*>(Component);
  if (!Block) {
    Error = "Schedule = " + Name + ": only blocks follow a schedule";
    return false;
  }
  std::string Problem;
  if (!TScheduleDriver::Attach(*Block, *S, Problem)) {
    Error = "Schedule = " + Name + ": " + Problem;
    return false;
  }
  FFollowing.push_back({Component, Name});
  return true;
}

void TModelFile::Forget(const TComponent* Component, const std::string& Event) {
  std::erase_if(FBindings, [&](const TBinding& B) {
    return B.Component == Component && B.Event == Event;
  });
}

} // namespace quorin
