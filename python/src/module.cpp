// The compiled half of the quorin Python module: messages as exceptions,
// the model (load, build, run, save, close) and the module's entry point.
#include <pybind11/stl.h>

#include <cctype>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>

#include <signal.h>

#include "module.h"
#include "quorin/page.h"
#include "syntax.h"

namespace quorin::python {

TPyModel* LiveModel = nullptr;
uint64_t LiveSerial = 0;
bool RunningUnlocked = false;

namespace {

uint64_t NextSerial = 1;
TCall* CurrentCall = nullptr;

// The exception classes of quorin.errors, kept for the life of the process
// (a static py::object would be released after the interpreter is gone).
PyObject* ErrorClass(const char* Name) {
  py::object Class = py::module_::import("quorin.errors").attr(Name);
  return Class.release().ptr();
}

// The name of the component that Text quotes first, if any: messages quote
// the name of the component at fault.
std::optional<std::string> NamedComponent(const std::string& Text) {
  if (!LiveModel || LiveModel->Closed()) return std::nullopt;
  std::optional<std::string> Best;
  size_t BestAt = std::string::npos;
  auto Word = [](char C) { return std::isalnum(static_cast<unsigned char>(C)) || C == '_'; };
  for (TComponent* X : LiveModel->Components()) {
    const std::string& Name = X->Name();
    if (Name.empty() || dynamic_cast<TModel*>(X)) continue;
    for (size_t At = Text.find(Name); At != std::string::npos; At = Text.find(Name, At + 1)) {
      const bool Whole =
          (At == 0 || !Word(Text[At - 1])) &&
          (At + Name.size() == Text.size() || !Word(Text[At + Name.size()]));
      if (Whole && At < BestAt) {
        BestAt = At;
        Best = Name;
      }
      if (Whole) break;
    }
  }
  return Best;
}

[[noreturn]] void RaiseClass(const char* Class, const std::string& Message,
                             const std::vector<std::string>& Messages) {
  static PyObject* Classes[3] = {nullptr, nullptr, nullptr};
  const int Index = std::strcmp(Class, "Error") == 0 ? 0 : std::strcmp(Class, "CheckError") == 0 ? 1 : 2;
  if (!Classes[Index]) Classes[Index] = ErrorClass(Class);
  const auto Block = NamedComponent(Message);
  py::object Error = py::reinterpret_borrow<py::object>(Classes[Index])(
      Message, Block ? py::object(py::str(*Block)) : py::object(py::none()), Messages);
  PyErr_SetObject(Classes[Index], Error.ptr());
  throw py::error_already_set();
}

} // namespace

// ------------------------------------------------------------- messages

TCall::TCall() : FPrevious(CurrentCall) {
  CurrentCall = this;
}

TCall::~TCall() {
  CurrentCall = FPrevious;
}

void TCall::Finish() {
  CurrentCall = FPrevious;
  if (!Messages.empty()) {
    const std::vector<std::string> Found = std::move(Messages);
    Messages.clear();
    RaiseMessages(Found);
  }
}

void Raise(const std::string& Text) {
  RaiseClass("Error", Text, {Text});
}

void RaiseMessages(const std::vector<std::string>& Messages) {
  bool Checks = true;
  for (const std::string& M : Messages)
    Checks = Checks && M.rfind("Quorin Check: ", 0) == 0;
  // The first error is the message; findings of the model check only when
  // nothing else was reported.
  std::string First = Messages.front();
  for (const std::string& M : Messages)
    if (M.rfind("Quorin Check: ", 0) != 0) {
      First = M;
      break;
    }
  RaiseClass(Checks ? "CheckError" : "Error", First, Messages);
}

void Busy() {
  Raise("the model is running in another thread");
}

void TRef::Dead() {
  Raise("this component belongs to a model that was closed");
}

TTransaction* TPyTransaction::Get() const {
  if (!T) Raise("a transaction object is valid only inside the handler call that received it");
  return T;
}

// ----------------------------------------------------------------- model

namespace {

TTransaction* ConstructTransaction(void* Memory) {
  return ::new (Memory) TTransaction;
}

void CollectComponents(TComponent* Owner, std::vector<TComponent*>& Found) {
  for (int32_t i = 0; i < Owner->ComponentCount(); ++i) {
    Found.push_back(Owner->Components(i));
    CollectComponents(Owner->Components(i), Found);
  }
}

} // namespace

TPyModel::TPyModel(std::vector<std::string> Fields)
    : FSerial(NextSerial++), FFields(std::move(Fields)) {
  LiveModel = this;
  LiveSerial = FSerial;
}

void TPyModel::Attach(std::unique_ptr<TModelFile> File) {
  FFile = std::move(File);
  RetryChosen = FFile->RetryGiven();
  if (!FFields.empty()) {
    // Declared fields live in the record after the transaction itself.
    FFile->Model()->SetTransactionClass(
        {sizeof(TTransaction) + FFields.size() * sizeof(double), &ConstructTransaction});
  }
}

TPyModel::~TPyModel() {
  Close();
}

void TPyModel::Close() {
  if (InSimulate) Raise("a model cannot be closed while it runs (from one of its handlers)");
  if (RunningUnlocked && LiveModel == this) Busy();
  // Recorders put the model's handlers back, the latest first.
  for (auto It = Recorders.rbegin(); It != Recorders.rend(); ++It)
    if (auto R = It->lock()) R->Detach();
  Recorders.clear();
  if (LiveModel == this) {
    LiveModel = nullptr;
    LiveSerial = 0;
  }
  if (!FFile) return;
  TCall Call;
  // Run memory first, so that no pool or list outlives its blocks.
  if (FFile->Model()) FFile->Model()->Reset();
  FWrappers.clear();
  FPending.clear();
  FFile.reset();
  FPython.clear();
  Named.clear();
  Table = THandlerTable{};
  FHooked.clear();
}

TModelFile& TPyModel::File() const {
  if (!FFile) Raise("the model was closed");
  if (RunningUnlocked) Busy();
  return *FFile;
}

std::vector<TComponent*> TPyModel::Components() const {
  std::vector<TComponent*> Found;
  if (FFile) CollectComponents(FFile->Application(), Found);
  return Found;
}

TComponent* TPyModel::Find(const std::string& Name) const {
  if (!FFile) Raise("the model was closed");
  TComponent* Found = nullptr;
  int Count = 0;
  for (TComponent* X : Components())
    if (X->Name() == Name) {
      Found = X;
      ++Count;
    }
  if (Count == 0) throw py::key_error("no component named '" + Name + "'");
  if (Count > 1) throw py::key_error("several components are named '" + Name + "'");
  return Found;
}

int TPyModel::FieldIndex(const std::string& Name) const {
  for (size_t i = 0; i < FFields.size(); ++i)
    if (FFields[i] == Name) return int(i);
  return -1;
}

namespace {

// The event of that name, or a refusal that lists the class's events.
const TEventInfo& EventOf(const TComponent* X, const std::string& Event) {
  const TEventInfo* Info = ClassInfoOf(*X)->FindEvent(Event);
  if (!Info)
    Raise(X->Name() + ": no event " + Event + " (its events: " + ClassInfoOf(*X)->EventNames() + ")");
  return *Info;
}

// Standard-handler text written wrong is refused at once; what its names
// mean is known only once every component is there.
void CheckWritten(const TComponent* X, const std::string& Event, const std::string& Text) {
  std::vector<THandlerCall> Calls;
  std::string Error;
  if (!modelfile::ParseCalls(Text, Calls, Error))
    RaiseClass("ModelFileError", X->Name() + ": " + Event + ": " + Error,
               {X->Name() + ": " + Event + ": " + Error});
}

} // namespace

void TPyModel::BindText(TComponent* X, const std::string& Event, const std::string& Text) {
  BindCalls(X, Event, Text);
  FPython.erase({X, Event});
}

void TPyModel::BindBoth(TComponent* X, const std::string& Event, const std::string& Text,
                        py::object Callable) {
  const TEventInfo& Info = EventOf(X, Event);
  // The callable joins the text as an application handler of a name that
  // no model file can bind (the text is checked first, without it).
  CheckWritten(X, Event, Text);
  const std::string Name = "_python_" + std::to_string(++FHidden);
  AddTableHandler(Table, Name, Info.Shape, PythonAction(*this, X, Event, Callable));
  BindCalls(X, Event, Text + "; " + Name);
  FPython[{X, Event}] = TPyBinding{std::move(Callable), Text};
}

void TPyModel::BindCalls(TComponent* X, const std::string& Event, const std::string& Text) {
  EventOf(X, Event);
  CheckWritten(X, Event, Text);
  if (FPrepared) {
    Compile(X, Event, Text);
    return;
  }
  std::erase_if(FPending, [&](const TPending& P) { return P.X == X && P.Event == Event; });
  FPending.push_back({X, Event, Text});
}

void TPyModel::Compile(TComponent* X, const std::string& Event, const std::string& Text) {
  std::string Error;
  TCall Call;
  if (!FFile->Bind(X, Event, Text, Table, Error)) Raise(X->Name() + ": " + Event + ": " + Error);
  Rebound(X, Event);
  Call.Finish();
}

void TPyModel::Rebound(const TComponent* X, const std::string& Event) {
  if (Event == "OnAfterGeneration" || Event == "OnEnter" || Event == "OnRouting")
    FHooked.erase(X);
}

void TPyModel::BindCallable(TComponent* X, const std::string& Event, py::object Callable) {
  const TEventInfo& Info = EventOf(X, Event);
  std::erase_if(FPending, [&](const TPending& P) { return P.X == X && P.Event == Event; });
  Info.Assign(*X, PythonAction(*this, X, Event, Callable));
  File().Forget(X, Event);
  FPython[{X, Event}] = TPyBinding{Callable, ""};
  Rebound(X, Event);
}

void TPyModel::Unbind(TComponent* X, const std::string& Event) {
  const TEventInfo& Info = EventOf(X, Event);
  std::erase_if(FPending, [&](const TPending& P) { return P.X == X && P.Event == Event; });
  Info.Assign(*X, nullptr);
  File().Forget(X, Event);
  FPython.erase({X, Event});
  Rebound(X, Event);
}

py::object TPyModel::Binding(TComponent* X, const std::string& Event) const {
  if (auto It = FPython.find({X, Event}); It != FPython.end())
    return It->second.Text.empty() ? It->second.Callable
                                   : py::make_tuple(It->second.Text, It->second.Callable);
  for (const TPending& P : FPending)
    if (P.X == X && P.Event == Event) return py::str(P.Text);
  for (const TBinding& B : File().Bindings())
    if (B.Component == X && B.Event == Event) return py::str(modelfile::WriteCalls(B.Calls));
  return py::none();
}

void TPyModel::Prepare() {
  File();
  if (!FPending.empty()) {
    std::vector<std::string> Errors;
    std::vector<TPending> Pending = std::move(FPending);
    FPending.clear();
    TCall Call;
    for (const TPending& P : Pending) {
      std::string Error;
      if (FFile->Bind(P.X, P.Event, P.Text, Table, Error))
        Rebound(P.X, P.Event);
      else
        Errors.push_back(P.X->Name() + ": " + P.Event + ": " + Error);
    }
    for (std::string& M : Call.Messages)
      Errors.push_back(std::move(M));
    Call.Messages.clear();
    if (!Errors.empty()) {
      // What failed stays pending, so that a corrected model can run.
      for (const TPending& P : Pending) {
        bool Bound = false;
        for (const TBinding& B : FFile->Bindings())
          Bound = Bound || (B.Component == P.X && B.Event == P.Event);
        if (!Bound) FPending.push_back(P);
      }
      RaiseClass("ModelFileError", Errors.front(), Errors);
    }
  }
  FPrepared = true;
  if (!FFields.empty()) InstallFieldHooks();
  if (!RetryChosen && !Model().MemoReady()) {
    // As for a model file: retry on change, unless a routing does more than
    // route by its receivers; a routing written in Python may (count its
    // calls, draw numbers, look at other blocks), so it keeps retry at
    // every scan.
    bool PythonRouting = false;
    for (const auto& [Bound, Binding] : FPython) {
      const TEventInfo* Info = ClassInfoOf(*Bound.first)->FindEvent(Bound.second);
      PythonRouting = PythonRouting || (Info && Info->Routing);
    }
    Model().SetRetry(PythonRouting ? TRetry::EveryScan : FFile->DefaultRetry());
  }
}

// A new transaction starts with its fields at 0: a generator or a creator
// may hand out a freed record as its last holder left it. A divider's
// copies start with the fields of the transaction they copy. The handlers
// involved are wrapped once; a binding made later replaces the wrapped
// handler, and the next Prepare wraps it again.
void TPyModel::InstallFieldHooks() {
  const size_t Bytes = FFields.size() * sizeof(double);
  auto Clear = [Bytes](TOnAfterGeneration& Handler) {
    Handler = [Bytes, Old = std::move(Handler)](TBlock* Sender, TTransaction* T) {
      if (T) std::memset(FieldsOf(T), 0, Bytes);
      if (Old) Old(Sender, T);
    };
  };
  for (TComponent* X : Components()) {
    if (FHooked.count(X)) continue;
    if (auto* G = dynamic_cast<TGenerator*>(X)) {
      Clear(G->OnAfterGeneration);
    } else if (auto* C = dynamic_cast<TCreator*>(X)) {
      Clear(C->OnAfterGeneration);
    } else if (auto* D = dynamic_cast<TDivider*>(X); D && (D->OnRouting || D->Route())) {
      // (A divider without routing passes nothing on; the model check
      // still sees it so.)
      // The copies are made right after OnEnter and leave through routing:
      // the first routing after an entry gives them the entering one's fields.
      struct TSplit {
        TTransaction* Original = nullptr;
      };
      auto Split = std::make_shared<TSplit>();
      D->OnEnter = [Split, Old = std::move(D->OnEnter)](TBlock* Sender, TTransaction* T) {
        Split->Original = T;
        if (Old) Old(Sender, T);
      };
      // A fixed route (a model file's lone PassTo) is taken by the wrapper.
      D->OnRouting = [Split, Bytes, Old = std::move(D->OnRouting),
                      Route = D->Route()](TBlock* Sender, TTransaction* T) {
        if (TTransaction* Original = Split->Original) {
          Split->Original = nullptr;
          for (TTransaction* Copy = static_cast<TDivider*>(Sender)->First(); Copy;
               Copy = Copy->FNext)
            if (Copy != Original) std::memcpy(FieldsOf(Copy), FieldsOf(Original), Bytes);
        }
        if (Old)
          Old(Sender, T);
        else if (Route)
          Sender->PassTo(Route);
      };
    } else {
      continue;
    }
    FHooked.insert(X);
  }
}

py::object TPyModel::Wrap(TComponent* X) {
  if (!X) return py::none();
  auto It = FWrappers.find(X);
  if (It != FWrappers.end()) return It->second;
  py::object Object = WrapAs(X, FSerial);
  FWrappers.emplace(X, Object);
  return Object;
}

namespace {

// ---------------------------------------------------------- Python model

using TModelHolder = std::shared_ptr<TPyModel>;

void RequireNoLiveModel() {
  if (LiveModel)
    Raise("a model is live already (" + std::to_string(LiveModel->Components().size()) +
          " components): only one model may be live per process. Close it first with "
          "close(), or build it in a `with` block, or drop every reference to it");
}

TModelHolder NewModel(const std::vector<std::string>& Fields) {
  RequireNoLiveModel();
  for (const std::string& F : Fields) {
    bool Valid = !F.empty() && !std::isdigit(static_cast<unsigned char>(F[0]));
    for (char C : F)
      Valid = Valid && (std::isalnum(static_cast<unsigned char>(C)) || C == '_');
    if (!Valid) Raise("'" + F + "' is no field name: letters, digits and '_'");
  }
  auto File = TModelFile::Empty();
  std::string Error;
  TComponent* Form = File->Add(nullptr, "TComponent", "Form", Error);
  File->Add(Form, "TModel", "Model", Error);
  auto Holder = std::make_shared<TPyModel>(Fields);
  Holder->Attach(std::move(File));
  return Holder;
}

TModelHolder LoadModel(const std::string& Path, const py::dict& Handlers,
                       const std::vector<std::string>& Fields) {
  RequireNoLiveModel();
  // The handler table is filled before loading: the file's application
  // handler names are compiled against it.
  auto Holder = std::make_shared<TPyModel>(Fields);
  for (auto [Name, Callable] : Handlers) {
    if (!PyCallable_Check(Callable.ptr())) {
      Holder->Close();
      Raise("handler '" + py::str(Name).cast<std::string>() + "' is not callable");
    }
    Holder->Named[py::str(Name).cast<std::string>()] = py::reinterpret_borrow<py::object>(Callable);
  }
  FillHandlerTable(*Holder);
  std::vector<std::string> Errors;
  std::unique_ptr<TModelFile> File;
  {
    TCall Call;
    File = LoadModelFile(Path, Holder->Table, Errors);
    for (std::string& M : Call.Messages)
      Errors.push_back(std::move(M));
    Call.Messages.clear();
  }
  if (!File) {
    Holder->Close();
    if (Errors.empty()) Errors.push_back(Path + ": the model did not load");
    RaiseClass("ModelFileError", Errors.front(), Errors);
  }
  Holder->Attach(std::move(File));
  return Holder;
}

// While a run goes on, SIGINT also asks the model to stop after the event
// under way; the interpreter's own handler still runs, and raises
// KeyboardInterrupt once the run has returned. In the main thread only,
// where the interpreter takes its signals.
struct TInterruptible {
  static inline struct sigaction Previous {};
  bool Installed = false;
  TInterruptible() {
    if (!PyGILState_Check() || !py::module_::import("threading")
                                    .attr("current_thread")()
                                    .is(py::module_::import("threading").attr("main_thread")()))
      return;
    struct sigaction Action {};
    Action.sa_handler = [](int Signal) {
      TModel::Interrupt();
      if (Previous.sa_handler != SIG_DFL && Previous.sa_handler != SIG_IGN &&
          !(Previous.sa_flags & SA_SIGINFO))
        Previous.sa_handler(Signal);
    };
    sigemptyset(&Action.sa_mask);
    Installed = ::sigaction(SIGINT, &Action, &Previous) == 0;
    // A process that ignores SIGINT goes on ignoring it.
    if (Installed && Previous.sa_handler == SIG_IGN) {
      ::sigaction(SIGINT, &Previous, nullptr);
      Installed = false;
    }
  }
  ~TInterruptible() {
    if (Installed) ::sigaction(SIGINT, &Previous, nullptr);
  }
};

// Model.Simulate, or SimulateTo with ToHorizon.
void Simulate(TPyModel& M, double Until, bool ToHorizon) {
  M.Prepare();
  if (!(Until >= 0 && Until < 10000000000.0)) Raise("times must lie in 0...10000000000");
  if (M.InSimulate) Raise("simulate is refused from a handler of the model's own run");
  TModel& Model = M.Model();
  struct TRunning {
    TPyModel& M;
    explicit TRunning(TPyModel& Of) : M(Of) { M.InSimulate = true; }
    ~TRunning() {
      M.InSimulate = false;
      RunningUnlocked = false;
    }
  } Running(M);
  TCall Call;
  {
    TInterruptible Interruptible;
    if (M.HasPythonHandlers()) {
      ToHorizon ? Model.SimulateTo(Until) : Model.Simulate(Until);
    } else {
      // Nothing in the run calls Python: other Python threads may go on, but
      // not touch the model meanwhile.
      RunningUnlocked = true;
      py::gil_scoped_release Release;
      ToHorizon ? Model.SimulateTo(Until) : Model.Simulate(Until);
    }
  }
  RunningUnlocked = false;
  Call.Finish();
  if (Model.RunEnd() == TRunEnd::Interrupted && PyErr_CheckSignals() != 0)
    throw py::error_already_set();
}

py::list ReportRows(TPyModel& M) {
  TModel& Model = M.Model();
  py::list Rows;
  auto Value = [](const auto& V) -> py::object {
    if (!V) return py::none();
    using T = std::decay_t<decltype(*V)>;
    if constexpr (std::is_integral_v<T>)
      return py::int_(*V);
    else
      return py::float_(static_cast<double>(*V));
  };
  auto Add = [&](const TReportRow& R) {
    py::dict Row;
    // The report's columns, from its table: whole numbers as int, the
    // others as float, None where the block keeps no such statistic.
    for (const TReportColumnInfo& C : ReportColumnTable()) {
      const char* Title = C.Title.c_str();
      if (C.Text)
        Row[Title] = &C == &ReportColumnTable().front() ? R.Name : R.Class;
      else if (C.Counter)
        Row[Title] = R.*C.Counter;
      else if (C.Whole)
        Row[Title] = Value(R.*C.Whole);
      else
        Row[Title] = Value(R.*C.Real);
    }
    Row["priority"] = Value(R.Prty);
    Rows.append(Row);
  };
  for (const TReportRow& R : CollectReport(Model)) {
    Add(R);
    for (const TReportRow& C : R.Classes)
      Add(C);
  }
  return Rows;
}

// Destination: the path the text is for ("" the model file's own folder).
std::string Save(TPyModel& M, const std::string& Destination) {
  M.Prepare();
  for (const auto& [Key, Binding] : M.PythonBindings())
    Raise(Key.first->Name() + "." + Key.second +
          " is bound to a Python function; a model file holds standard handlers only");
  std::string Text;
  std::vector<std::string> Errors;
  if (!SaveModelText(M.File(), Text, Errors, Destination)) RaiseClass("ModelFileError", Errors.front(), Errors);
  return Text;
}

std::string Repr(const TPyModel& M) {
  if (M.Closed()) return "<quorin.Model (closed)>";
  std::string Blocks;
  int N = 0;
  for (TComponent* X : M.Components())
    if (dynamic_cast<TBlock*>(X)) {
      Blocks += (N++ ? ", " : "") + X->Name() + " " + ClassNameOf(*X);
    }
  const TModel& Model = M.Model();
  std::string State = !Model.MemoReady() ? "not run"
                      : Model.Exhausted() ? "stopped: heap exhausted"
                                          : "at time " + FormatFloat("0.0000", ModelTime());
  return "<quorin.Model: " + std::to_string(N) + " blocks (" + Blocks + "); " + State + ">";
}

} // namespace

} // namespace quorin::python

using namespace quorin;
using namespace quorin::python;

PYBIND11_MODULE(_quorin, M) {
  M.doc() = "The compiled half of the quorin module; import quorin instead.";
  // Library messages go to the call that is running; outside any call (a
  // component destroyed by the garbage collector) to standard error.
  SetMessageHandler([](const std::string& Text) { DeliverMessage(Text); });

  py::class_<TPyModel, std::shared_ptr<TPyModel>>(M, "Model", R"(A Quorin model.

Model(fields=(), **properties) builds an empty model (a form "Form" with its
TModel "Model") to which add() adds components; quorin.load() loads a model
file. fields names the transaction fields that Python handlers read and
write (floats, 0 for a new transaction). Keyword properties are those of the
TModel (CheckModel, PageSize, HeapSize). One model may be live per process:
close() it (or use `with`) before the next.)")
      .def(py::init([](const std::vector<std::string>& Fields, py::kwargs Properties) {
             auto Holder = NewModel(Fields);
             py::object Model = Holder->Wrap(Holder->File().Model());
             for (auto [Key, Value] : Properties)
               py::setattr(Model, Key, Value);
             return Holder;
           }),
           py::arg("fields") = std::vector<std::string>{})
      .def(
          "add",
          [](TPyModel& Self, py::handle Cls, const std::string& Name, py::kwargs Properties) {
            // A class of the module (quorin.TQueue) or its name ("TQueue").
            const std::string Class = py::isinstance<py::str>(Cls)
                                          ? Cls.cast<std::string>()
                                          : py::str(Cls.attr("__name__")).cast<std::string>();
            std::string Error;
            TComponent* Form = Self.File().Model()->Owner();
            TComponent* X = Self.File().Add(Form, Class, Name, Error);
            if (!X) Raise(Error);
            py::object Object = Self.Wrap(X);
            for (auto [Key, Value] : Properties)
              py::setattr(Object, Key, Value);
            return Object;
          },
          py::arg("cls"), py::arg("name"),
          "add(cls, name, **properties_and_events): adds a component of class cls (a "
          "class of the module, such as quorin.TQueue, or its name, 'TQueue') named name to the "
          "model's form, then sets its properties and binds its events in the order given")
      .def("__getitem__",
           [](TPyModel& Self, const std::string& Name) { return Self.Wrap(Self.Find(Name)); })
      .def("__contains__",
           [](TPyModel& Self, const std::string& Name) {
             for (TComponent* X : Self.Components())
               if (X->Name() == Name) return true;
             return false;
           })
      .def_property_readonly("components",
                             [](TPyModel& Self) {
                               py::list L;
                               for (TComponent* X : Self.Components())
                                 L.append(Self.Wrap(X));
                               return L;
                             })
      .def_property_readonly("model", [](TPyModel& Self) { return Self.Wrap(Self.File().Model()); })
      .def_property_readonly("fields", [](TPyModel& Self) { return Self.Fields(); })
      .def(
          "simulate", [](TPyModel& Self, double Until) { Simulate(Self, Until, false); },
          py::arg("until"),
          "Runs the model until the first event after `until` (or Stop, or nothing left to do)")
      .def(
          "simulate_to", [](TPyModel& Self, double Until) { Simulate(Self, Until, true); },
          py::arg("until"),
          "Runs the model up to `until` and no further: events after it stay pending; the "
          "clock ends at `until` unless the model stopped itself")
      .def("clear_statistics",
           [](TPyModel& Self) {
             TCall Call;
             Self.Model().ClearStatistics();
             Call.Finish();
           })
      .def("reset",
           [](TPyModel& Self) {
             TCall Call;
             Self.Model().Reset();
             Call.Finish();
           })
      .def("check",
           [](TPyModel& Self) {
             Self.Prepare();
             TCall Call;
             auto Findings = Self.Model().RunCheck();
             Call.Messages.clear();
             return Findings;
           })
      .def_property_readonly("time",
                             [](TPyModel& Self) {
                               Self.File();
                               return ModelTime();
                             })
      .def_property(
          "title", [](TPyModel& Self) { return Self.File().Run.Title; },
          [](TPyModel& Self, const std::string& V) { Self.File().Run.Title = V; })
      .def_property(
          "warmup", [](TPyModel& Self) { return Self.File().Run.Warmup; },
          [](TPyModel& Self, std::optional<double> V) { Self.File().Run.Warmup = V; })
      .def_property(
          "until", [](TPyModel& Self) { return Self.File().Run.Until; },
          [](TPyModel& Self, std::optional<double> V) { Self.File().Run.Until = V; })
      .def("_add_schedule",
           [](TPyModel& Self, const std::string& Name, double Period, const std::string& Steps,
              const std::string& File) {
             std::string Error;
             if (!Self.File().AddSchedule(Name, Period, Steps, File, Error)) Raise(Error);
           })
      .def("_schedule_steps",
           [](TPyModel& Self, const std::string& Name) -> py::object {
             const TSchedule* S = Self.File().Schedule(Name);
             if (!S) return py::none();
             py::list Steps;
             for (const TSchedule::TStep& Step : S->Steps())
               Steps.append(py::make_tuple(Step.Time, Step.Value));
             return py::make_tuple(S->Period(), Steps);
           })
      .def("_schedule_names", [](TPyModel& Self) { return Self.File().ScheduleNames(); })
      .def("_diagram_svg",
           [](TPyModel& Self) {
             Self.Prepare();
             std::ostringstream Out;
             WriteDiagramSvg(DiagramOf(Self.File()), Out, false);
             return Out.str();
           })
      .def("_page",
           [](TPyModel& Self) {
             Self.Prepare();
             TPageInfo Info;
             Info.Title = Self.File().Run.Title;
             Info.Warmup = Self.File().Run.Warmup.value_or(0);
             Info.Until = ModelTime();
             Info.Diagram = DiagramOf(Self.File());
             std::ostringstream Out;
             TCall Call;
             WriteReportPage(Self.Model(), nullptr, Info, Out);
             Call.Messages.clear();
             return Out.str();
           })
      .def("_report_rows", &ReportRows)
      .def("_report_csv",
           [](TPyModel& Self) {
             std::ostringstream Out;
             PrintReportCsv(Self.Model(), Out);
             return Out.str();
           })
      .def("_report_text",
           [](TPyModel& Self) {
             std::ostringstream Out;
             PrintReport(Self.Model(), Out);
             return Out.str();
           })
      .def("_save_text", &Save, py::arg("destination") = "")
      .def("_prepare", &TPyModel::Prepare)
      .def("close", &TPyModel::Close,
           "Ends the model: its run memory and components go, and the next model may be made")
      .def_property_readonly("closed", &TPyModel::Closed)
      .def("__enter__", [](py::object Self) { return Self; })
      .def("__exit__", [](TPyModel& Self, py::args) { Self.Close(); })
      .def("__repr__", &Repr);

  M.def("_load", &LoadModel, py::arg("path"), py::arg("handlers") = py::dict(),
        py::arg("fields") = std::vector<std::string>{});
  M.def("now", [] { return ModelTime(); }, "The model clock (ModelTime())");
  M.def("_close_live", [] {
    if (LiveModel) LiveModel->Close();
  });
  M.def("classes", [] {
    std::vector<std::string> Names;
    for (const TClassInfo* C : Classes())
      if (C->Create) Names.push_back(C->Name);
    return Names;
  });
  M.def("standard_handlers", &StandardHandlerNames);
  // The report's columns in its order, each with the type of its values:
  // "text" (Block, Class), "count" (every block has it), "whole", "real".
  M.def("_report_columns", [] {
    std::vector<std::pair<std::string, std::string>> Columns;
    for (const TReportColumnInfo& C : ReportColumnTable())
      Columns.emplace_back(C.Title, C.Text      ? "text"
                                    : C.Counter ? "count"
                                    : C.Whole   ? "whole"
                                                : "real");
    return Columns;
  });

  BindComponents(M);
  BindRecorders(M);
  BindReplicate(M);
}

namespace quorin::python {
void DeliverMessage(const std::string& Text) {
  if (CurrentCall)
    CurrentCall->Messages.push_back(Text);
  else
    std::cerr << Text << '\n';
}
} // namespace quorin::python
