// Components, transactions and handlers as Python sees them. Every class of
// the palette is a Python class of the same name (TQueue, TServer, ...)
// with the methods that model code calls, named as in C++; its stored
// properties and its events are attributes, found through the model
// files' tables of properties and events.
#include <pybind11/stl.h>

#include <cmath>
#include <map>
#include <cstring>
#include <iomanip>
#include <sstream>

#include "module.h"

namespace quorin::python {

namespace {

// One C++ type per Python class, so that pybind11 gives each its name and
// base. Each is a TRef: the component and its model's serial number.
struct RComponent : TRef {};
struct RModel : RComponent {};
struct RMultiRand : RComponent {};
struct RTabulator : RComponent {};
struct RAggregate : RComponent {};
struct RScheduler : RAggregate {};
struct RBlock : RAggregate {};
struct RGenerator : RBlock {};
struct RTerminator : RBlock {};
struct RGate : RBlock {};
struct RCreator : RBlock {};
struct RSplitJoin : RBlock {};
struct RDivider : RSplitJoin {};
struct RAssembler : RSplitJoin {};
struct RProQueue : RBlock {};
struct RServer : RProQueue {};
struct RQueueCustom : RProQueue {};
struct RQueue : RQueueCustom {};
struct RStack : RQueue {};
struct RStorage : RQueueCustom {};
struct RQueuePrtyCustom : RProQueue {};
struct RQueuePrty : RQueuePrtyCustom {};
struct RStoragePrty : RQueuePrtyCustom {};

template <class R> py::object Make(TComponent* X, uint64_t Serial) {
  R Ref;
  Ref.X = X;
  Ref.Serial = Serial;
  return py::cast(std::move(Ref));
}

// A method of model code: the component checked live, messages collected
// and raised when it returns. Body takes the component and the arguments.
template <class C, class R, class F, class Ret, class... A>
auto Bound(F Body, Ret (F::*)(C*, A...) const) {
  return [Body](const R& Self, A... Args) -> Ret {
    C* X = Self.template Get<C>();
    TCall Call;
    if constexpr (std::is_void_v<Ret>) {
      Body(X, Args...);
      Call.Finish();
    } else {
      Ret Result = Body(X, Args...);
      Call.Finish();
      return Result;
    }
  };
}
template <class C, class R, class F> auto Method(F Body) {
  return Bound<C, R>(Body, &F::operator());
}

double Real(long double V) {
  return static_cast<double>(V);
}

// ------------------------------------------------------------ properties

// The stored properties and the events of every described class become
// attributes of its Python class (quorin/classinfo.h): what model files may
// set and bind, Python may too, under the same names.
py::object GetProperty(const TPropertyInfo& P, const TRef& Self) {
  const double V = P.Get(*Self.Get<TComponent>());
  switch (P.Type) {
  case TPropertyType::Boolean:
    return py::bool_(V != 0);
  case TPropertyType::Integer:
    return py::int_(static_cast<long long>(V));
  default:
    return py::float_(V);
  }
}

void SetProperty(const TPropertyInfo& P, const TRef& Self, py::handle Value) {
  TComponent* X = Self.Get<TComponent>();
  const std::string Where = X->Name() + ": " + P.Name;
  double V = 0;
  if (P.Type == TPropertyType::Boolean) {
    if (!py::isinstance<py::bool_>(Value)) Raise(Where + " must be True or False");
    V = Value.cast<bool>();
  } else if (P.Type == TPropertyType::Integer) {
    if (py::isinstance<py::bool_>(Value) || !py::isinstance<py::int_>(Value))
      Raise(Where + " must be a whole number");
    const long long I = Value.cast<long long>();
    V = static_cast<double>(I);
  } else {
    if (py::isinstance<py::bool_>(Value) ||
        !(py::isinstance<py::float_>(Value) || py::isinstance<py::int_>(Value)))
      Raise(Where + " must be a number");
    V = Value.cast<double>();
  }
  const std::string Shown = Where + " = " + py::repr(Value).cast<std::string>();
  if (!std::isfinite(V) || V < P.Min || V > P.Max)
    Raise(Shown + " is out of the property's range");
  TCall Call;
  const bool Kept = P.Set(*X, V);
  if (!Call.Messages.empty()) {
    Call.Messages.front() = Shown + " is refused: " + Call.Messages.front();
    Call.Finish();
  }
  if (!Kept) Raise(Shown + " is refused by the component");
  if (P.Name == "RetryOnChange" && dynamic_cast<TModel*>(X) && LiveModel)
    LiveModel->RetryChosen = true;
}

void SetEvent(const std::string& Event, const TRef& Self, py::handle Value) {
  TComponent* X = Self.Get<TComponent>();
  TPyModel& Model = *LiveModel;
  if (Value.is_none())
    Model.Unbind(X, Event);
  else if (py::isinstance<py::str>(Value))
    Model.BindText(X, Event, Value.cast<std::string>());
  else if (PyCallable_Check(Value.ptr()))
    Model.BindCallable(X, Event, py::reinterpret_borrow<py::object>(Value));
  else if ((py::isinstance<py::tuple>(Value) || py::isinstance<py::list>(Value)) &&
           py::len(Value) == 2 && py::isinstance<py::str>(Value[py::int_(0)]) &&
           PyCallable_Check(py::object(Value[py::int_(1)]).ptr()))
    Model.BindBoth(X, Event, py::cast<std::string>(Value[py::int_(0)]),
                   py::object(Value[py::int_(1)]));
  else
    Raise(X->Name() + ": " + Event +
          " takes standard handlers as text (\"PassTo(Exit)\"), a Python callable, both as "
          "(text, callable), or None");
}

// What help() says of a stored property: its type, range and default, as
// model files take it.
std::string PropertyDoc(const TPropertyInfo& P) {
  auto Number = [](double V) {
    std::ostringstream Out;
    Out << std::setprecision(17) << V;
    return Out.str();
  };
  std::string Kind = P.Type == TPropertyType::Boolean  ? "True or False"
                     : P.Type == TPropertyType::Integer ? "a whole number in " + Number(P.Min) +
                                                              "..." + Number(P.Max)
                                                        : "a number in " + Number(P.Min) + "..." +
                                                              Number(P.Max);
  const std::string Default = P.Type == TPropertyType::Boolean ? (P.Default ? "True" : "False")
                                                               : Number(P.Default);
  return P.Name + ": " + Kind + " (default " + Default +
         "). A stored property: set as in a model file, and saved.";
}

// What help() says of an event: what it may be bound to and what a Python
// callable receives.
std::string EventDoc(const TEventInfo& E) {
  const char* Args = E.Shape == TEventShape::Block || E.Shape == TEventShape::NewTime
                         ? "(block, transaction)"
                     : E.Shape == TEventShape::Aggregate ? "(component)"
                     : E.Shape == TEventShape::AfterPass ? "(sender, receiver, transaction)"
                                                         : "()";
  return E.Name + ": an event. Bind standard handlers as text (as in a model file), a Python " +
         "callable, called with " + Args + ", both as (text, callable), or None." +
         (E.Routing ? " A routing event: PassTo moves the transaction from here." : "");
}

// The statistics of the report as read-only properties, named after the
// report's columns in Python's spelling; whole-number columns are ints.
struct TColumnName {
  TReportColumn Column;
  const char* Name;
  const char* Title;
  bool Whole;
};
constexpr TColumnName ColumnNames[] = {
    {TReportColumn::MeanContent, "mean_content", "Mean cont.", false},
    {TReportColumn::MaxContent, "max_content", "Max", true},
    {TReportColumn::Usage, "usage", "Usage", false},
    {TReportColumn::MeanTime, "mean_time", "Mean time", false},
    {TReportColumn::SMeanTime, "s_mean_time", "S-mean time", false},
    {TReportColumn::ZeroEntries, "zero_entries", "Zero entr.", true},
    {TReportColumn::PreemptExits, "preempt_exits", "Preempt", true},
    {TReportColumn::TimeLimitExits, "time_limit_exits", "Time limit", true},
    {TReportColumn::MinPrty, "min_priority", "Min prty", true},
    {TReportColumn::MaxPrty, "max_priority", "Max prty", true},
    {TReportColumn::MeanInterval, "mean_interval", "Mean interval", false},
    {TReportColumn::MaxTime, "max_time", "Max time", false},
    {TReportColumn::Utilisation, "utilisation", "Utilisation", false},
};

void AddStatistics(py::handle Type, const TClassInfo& Class, py::handle Property) {
  for (const TStatisticInfo& S : Class.Statistics)
    for (const TColumnName& C : ColumnNames)
      if (C.Column == S.Column) {
        const TStatisticInfo* Info = &S;
        const bool Whole = C.Whole;
        py::cpp_function Get([Info, Whole](const RComponent& Self) -> py::object {
          const long double V = Info->Get(*Self.Get<TComponent>());
          if (Whole) return py::int_(static_cast<long long>(V));
          return py::float_(static_cast<double>(V));
        });
        py::setattr(Type, C.Name,
                    Property(Get, py::none(), py::none(),
                             std::string(C.Name) + ": the report's \"" + C.Title +
                                 "\" column for this block, as it stands (read only)"));
      }
}

void AddSurfaces(py::module_& M) {
  py::object Property = py::module_::import("builtins").attr("property");
  for (const TClassInfo* Class : Classes()) {
    if (!py::hasattr(M, Class->Name.c_str())) continue;
    py::object Type = M.attr(Class->Name.c_str());
    py::setattr(Type, "__doc__", py::str(Class->Summary));
    AddStatistics(Type, *Class, Property);
    for (const TPropertyInfo& P : Class->Properties) {
      const TPropertyInfo* Info = &P;
      py::cpp_function Get([Info](const RComponent& Self) { return GetProperty(*Info, Self); });
      py::cpp_function Set(
          [Info](const RComponent& Self, py::handle V) { SetProperty(*Info, Self, V); });
      py::setattr(Type, P.Name.c_str(), Property(Get, Set, py::none(), PropertyDoc(P)));
    }
    for (const TEventInfo& E : Class->Events) {
      const std::string Event = E.Name;
      py::cpp_function Get([Event](const RComponent& Self) {
        return LiveModel->Binding(Self.Get<TComponent>(), Event);
      });
      py::cpp_function Set(
          [Event](const RComponent& Self, py::handle V) { SetEvent(Event, Self, V); });
      py::setattr(Type, Event.c_str(), Property(Get, Set, py::none(), EventDoc(E)));
    }
  }
}

// ---------------------------------------------------------- transactions

py::object FieldValue(const TPyTransaction& Self, const std::string& Name) {
  TTransaction* T = Self.Get();
  const int I = LiveModel ? LiveModel->FieldIndex(Name) : -1;
  if (I < 0) throw py::attribute_error("a transaction has no field '" + Name + "'");
  return py::float_(TPyModel::FieldsOf(T)[I]);
}

// ---------------------------------------------------------------- handlers

// What a Python handler needs at each call, kept from one call to the next
// so that a call allocates nothing: the callable, the component's object,
// and a transaction object that is reused while nobody keeps it.
struct THandlerState {
  py::object Callable;
  TPyModel* Model;
  TComponent* Own;
  py::object OwnObject;
  TEventShape Shape;
  py::object Proxy;
  TPyTransaction* Raw = nullptr;

  void NewProxy() {
    Proxy = py::cast(TPyTransaction{});
    Raw = Proxy.cast<TPyTransaction*>();
  }

  PyObject* Object(TComponent* X) {
    if (X == Own) return OwnObject.ptr();
    return Model->Wrap(X).ptr(); // the model's cache keeps the object alive
  }

  void operator()(const TEventArgs& C) {
    PyObject* Args[3];
    size_t N = 0;
    py::object Temporary;
    TPyTransaction* Used = nullptr;
    auto Transaction = [&](TTransaction* T) -> PyObject* {
      if (!T) return Py_None;
      if (Py_REFCNT(Proxy.ptr()) > 1) NewProxy(); // the last one was kept: it is dead now
      if (Raw->T) {
        // A nested call of this very handler: a transaction object of its own.
        Temporary = py::cast(TPyTransaction{});
        Used = Temporary.cast<TPyTransaction*>();
        Used->T = T;
        return Temporary.ptr();
      }
      Used = Raw;
      Used->T = T;
      return Proxy.ptr();
    };
    switch (Shape) {
    case TEventShape::Block:
    case TEventShape::NewTime:
      Args[N++] = Object(C.Sender);
      Args[N++] = Transaction(C.Trans);
      break;
    case TEventShape::Aggregate:
      Args[N++] = Object(C.Sender);
      break;
    case TEventShape::Model:
      break;
    case TEventShape::AfterPass:
      Args[N++] = Object(C.Sender);
      Args[N++] = Object(C.Receiver);
      Args[N++] = Transaction(C.Trans);
      break;
    }
    PyObject* Result = PyObject_Vectorcall(Callable.ptr(), Args, N, nullptr);
    if (Used) Used->T = nullptr;
    if (!Result) throw py::error_already_set();
    Py_DECREF(Result);
  }
};

TEventAction Action(TPyModel& Model, TComponent* Own, TEventShape Shape,
                          py::object Callable) {
  auto State = std::make_shared<THandlerState>();
  State->Callable = std::move(Callable);
  State->Model = &Model;
  State->Own = Own;
  if (Own) State->OwnObject = Model.Wrap(Own);
  State->Shape = Shape;
  State->NewProxy();
  return [State](const TEventArgs& C) { (*State)(C); };
}

// ------------------------------------------------------- PassTo, fast

// PassTo is what routing handlers call, once or more per event: it is a
// plain method of the C API (vectorcall), which costs a tenth of a general
// binding. The objects are pybind11 instances whose value is an R* struct,
// a TRef at its start.
PyTypeObject* BlockType = nullptr;

TBlock* BlockOf(PyObject* Object, const char* Role) {
  if (!PyObject_TypeCheck(Object, BlockType)) {
    PyErr_Format(PyExc_TypeError, "PassTo: the %s must be a block, not %s", Role,
                 Py_TYPE(Object)->tp_name);
    return nullptr;
  }
  auto* Instance = reinterpret_cast<py::detail::instance*>(Object);
  void* Value = Instance->simple_layout ? Instance->simple_value_holder[0]
                                        : Instance->get_value_and_holder().value_ptr();
  return static_cast<const TRef*>(Value)->Get<TBlock>();
}

PyObject* FastPassTo(PyObject* Self, PyObject* const* Args, Py_ssize_t N) {
  if (N != 1) {
    PyErr_SetString(PyExc_TypeError, "PassTo(receiver) takes one block");
    return nullptr;
  }
  try {
    TBlock* From = BlockOf(Self, "sender");
    TBlock* To = From ? BlockOf(Args[0], "receiver") : nullptr;
    if (!To) return nullptr;
    TCall Call;
    const bool Moved = From->PassTo(To);
    Call.Finish();
    return PyBool_FromLong(Moved);
  } catch (py::error_already_set& E) {
    E.restore();
  } catch (const std::exception& E) {
    PyErr_SetString(PyExc_RuntimeError, E.what());
  }
  return nullptr;
}

PyMethodDef PassToMethod = {
    "PassTo", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&FastPassTo)),
    METH_FASTCALL,
    "PassTo(receiver): moves the transaction in routing into receiver; answers whether it "
    "moved. Only from a routing event (OnRouting, OnTimeFinish, OnPreempt, OnRelease)."};

void AddFastPassTo(py::handle Type) {
  BlockType = reinterpret_cast<PyTypeObject*>(Type.ptr());
  py::object Method = py::reinterpret_steal<py::object>(PyDescr_NewMethod(BlockType, &PassToMethod));
  if (!Method) throw py::error_already_set();
  py::setattr(Type, "PassTo", Method);
}

} // namespace

py::object WrapAs(TComponent* X, uint64_t Serial) {
  // The Python class of X's described class, else of its nearest described
  // ancestor with a Python class of its own: a new class of the library or
  // of the application comes out as that ancestor's (a TProQueue, a TBlock).
  using TMake = py::object (*)(TComponent* X, uint64_t Serial);
  static const std::map<std::string, TMake> Makers = {
      {"TComponent", &Make<RComponent>},     {"TModel", &Make<RModel>},
      {"TMultiRand", &Make<RMultiRand>},     {"TTabulator", &Make<RTabulator>},
      {"TScheduler", &Make<RScheduler>},     {"TBlock", &Make<RBlock>},
      {"TGenerator", &Make<RGenerator>},     {"TTerminator", &Make<RTerminator>},
      {"TGate", &Make<RGate>},               {"TCreator", &Make<RCreator>},
      {"TDivider", &Make<RDivider>},         {"TAssembler", &Make<RAssembler>},
      {"TProQueue", &Make<RProQueue>},       {"TServer", &Make<RServer>},
      {"TQueue", &Make<RQueue>},             {"TStack", &Make<RStack>},
      {"TStorage", &Make<RStorage>},         {"TQueuePrty", &Make<RQueuePrty>},
      {"TStoragePrty", &Make<RStoragePrty>},
  };
  for (const TClassInfo* C = ClassInfoOf(*X); C; C = C->Base) {
    // An aggregate of the application's that is neither block nor scheduler.
    if (!C->Base && dynamic_cast<TAggregate*>(X)) return Make<RAggregate>(X, Serial);
    if (auto It = Makers.find(C->Name); It != Makers.end()) return It->second(X, Serial);
  }
  return Make<RComponent>(X, Serial);
}

TEventAction PythonAction(TPyModel& Model, TComponent* X, const std::string& Event,
                                py::object Callable) {
  const TEventInfo* Info = ClassInfoOf(*X)->FindEvent(Event);
  return Action(Model, X, Info->Shape, std::move(Callable));
}

void AddTableHandler(THandlerTable& Table, const std::string& Name, TEventShape Shape,
                     TEventAction Action) {
  switch (Shape) {
  case TEventShape::Block:
    Table.Block[Name] = [Action](TBlock* S, TTransaction* T) { Action({S, nullptr, T}); };
    break;
  case TEventShape::Aggregate:
    Table.Aggregate[Name] = [Action](TAggregate* S) { Action({S, nullptr, nullptr}); };
    break;
  case TEventShape::Model:
    Table.Model[Name] = [Action] { Action({nullptr, nullptr, nullptr}); };
    break;
  case TEventShape::NewTime:
    Table.NewTime[Name] = [Action](TAggregate* S, TTransaction* T) { Action({S, nullptr, T}); };
    break;
  case TEventShape::AfterPass:
    Table.AfterPass[Name] = [Action](TBlock* S, TBlock* R, TTransaction* T) { Action({S, R, T}); };
    break;
  }
}

void FillHandlerTable(TPyModel& Model) {
  for (const auto& [Name, Callable] : Model.Named) {
    auto Block = Action(Model, nullptr, TEventShape::Block, Callable);
    auto Aggregate = Action(Model, nullptr, TEventShape::Aggregate, Callable);
    auto Plain = Action(Model, nullptr, TEventShape::Model, Callable);
    auto NewTime = Action(Model, nullptr, TEventShape::NewTime, Callable);
    auto AfterPass = Action(Model, nullptr, TEventShape::AfterPass, Callable);
    Model.Table.Block[Name] = [Block](TBlock* S, TTransaction* T) { Block({S, nullptr, T}); };
    Model.Table.Aggregate[Name] = [Aggregate](TAggregate* S) { Aggregate({S, nullptr, nullptr}); };
    Model.Table.Model[Name] = [Plain] { Plain({nullptr, nullptr, nullptr}); };
    Model.Table.NewTime[Name] = [NewTime](TAggregate* S, TTransaction* T) {
      NewTime({S, nullptr, T});
    };
    Model.Table.AfterPass[Name] = [AfterPass](TBlock* S, TBlock* R, TTransaction* T) {
      AfterPass({S, R, T});
    };
  }
  // The declared fields, for PutValue(Tabulator, Field).
  for (size_t i = 0; i < Model.Fields().size(); ++i)
    Model.Table.Values[Model.Fields()[i]] = [i](const TTransaction* T) {
      return TPyModel::FieldsOf(const_cast<TTransaction*>(T))[i];
    };
}

void BindComponents(py::module_& M) {
  py::class_<TPyTransaction>(M, "Transaction", R"(A transaction, as a handler receives it.

Valid during the handler call only: keep its number or its fields, not the
object. Declared fields (Model(fields=...)) are attributes.)")
      .def("GetTransID", [](const TPyTransaction& S) { return S.Get()->GetTransID(); })
      .def("GetPrty", [](const TPyTransaction& S) { return S.Get()->GetPrty(); })
      .def("SetPrty",
           [](const TPyTransaction& S, int P) {
             if (P < 0 || P > 255) Raise("a priority lies in 0...255");
             S.Get()->SetPrty(static_cast<uint8_t>(P));
           })
      .def("SetPreempt", [](const TPyTransaction& S) { S.Get()->SetPreempt(); })
      .def("SetNonPreempt", [](const TPyTransaction& S) { S.Get()->SetNonPreempt(); })
      .def("IsPreempt", [](const TPyTransaction& S) { return S.Get()->IsPreempt(); })
      .def_property_readonly(
          "serial", [](const TPyTransaction& S) { return S.Get()->Serial(); },
          "its serial number in the run, never given to another transaction of the run "
          "(GetTransID is the number of its record, which later transactions reuse)")
      .def_property_readonly(
          "priority", [](const TPyTransaction& S) { return S.Get()->GetPrty(); },
          "its priority, 0...255")
      .def_property_readonly(
          "made", [](const TPyTransaction& S) { return S.Get()->MadeTime(); },
          "the model time it was made (a divider's copies: their original's)")
      .def_property_readonly(
          "entered", [](const TPyTransaction& S) { return S.Get()->EnterTime(); },
          "the model time it entered the block it is in")
      .def_property_readonly(
          "age", [](const TPyTransaction& S) { return S.Get()->Age(); },
          "model time now less made: its time in the system so far")
      .def_property_readonly(
          "time_in_block", [](const TPyTransaction& S) { return S.Get()->TimeInBlock(); },
          "model time now less entered")
      .def_property_readonly("block",
                             [](const TPyTransaction& S) -> py::object {
                               TTransaction* T = S.Get();
                               return LiveModel ? LiveModel->Wrap(T->FBlock) : py::none();
                             })
      .def("__getattr__", &FieldValue)
      .def("__setattr__",
           [](const TPyTransaction& S, const std::string& Name, double Value) {
             TTransaction* T = S.Get();
             const int I = LiveModel ? LiveModel->FieldIndex(Name) : -1;
             if (I < 0)
               throw py::attribute_error("a transaction has no field '" + Name +
                                         "' (declare it: Model(fields=...))");
             TPyModel::FieldsOf(T)[I] = Value;
           })
      .def("__repr__", [](const TPyTransaction& S) {
        if (!S.T) return std::string("<quorin.Transaction (gone)>");
        std::string Text = "<quorin.Transaction " + std::to_string(S.T->GetTransID()) +
                           " serial " + std::to_string(S.T->Serial()) + " priority " +
                           std::to_string(int(S.T->GetPrty()));
        if (S.T->FBlock) Text += " in " + S.T->FBlock->DisplayName();
        if (LiveModel)
          for (size_t i = 0; i < LiveModel->Fields().size(); ++i)
            Text += ", " + LiveModel->Fields()[i] + "=" +
                    py::repr(py::float_(TPyModel::FieldsOf(S.T)[i])).cast<std::string>();
        return Text + ">";
      });

  py::class_<TRef>(M, "_Ref");
  py::class_<RComponent, TRef>(M, "TComponent")
      .def_property_readonly("Name", [](const RComponent& S) { return S.Get<TComponent>()->Name(); })
      .def("__repr__", [](const RComponent& S) {
        if (S.Serial != LiveSerial) return std::string("<quorin component of a closed model>");
        TComponent* X = S.Get<TComponent>();
        std::string State;
        if (auto* B = dynamic_cast<TBlock*>(X))
          State = ": " + std::to_string(B->Count()) + " inside, " + std::to_string(B->Entries()) +
                  " entries, " + std::to_string(B->Exits()) + " exits";
        else if (const auto* R = dynamic_cast<const TMultiRand*>(X))
          State = ": seed " + std::to_string(R->GetSeed());
        for (const auto& [Following, Name] : LiveModel->File().Following())
          if (Following == X) State += ", follows schedule " + Name;
        return "<" + ClassNameOf(*X) + " " + X->Name() + State + ">";
      });
  py::class_<RModel, RComponent>(M, "TModel")
      .def("Stop", Method<TModel, RModel>([](TModel* X) { X->Stop(); }))
      .def("SetEventList", Method<TModel, RModel>([](TModel* X, const std::string& V) {
             if (V != "Levels" && V != "Heap") Raise("SetEventList takes \"Levels\" or \"Heap\"");
             X->SetEventList(V == "Heap" ? TEventList::Heap : TEventList::Levels);
           }))
      .def("EventList", Method<TModel, RModel>([](TModel* X) {
             return std::string(X->EventList() == TEventList::Heap ? "Heap" : "Levels");
           }))
      .def("SetRetry", Method<TModel, RModel>([](TModel* X, const std::string& V) {
             if (V != "EveryScan" && V != "OnChange")
               Raise("SetRetry takes \"EveryScan\" or \"OnChange\"");
             X->SetRetry(V == "OnChange" ? TRetry::OnChange : TRetry::EveryScan);
             if (LiveModel) LiveModel->RetryChosen = true;
           }))
      .def("Retry", Method<TModel, RModel>([](TModel* X) {
             return std::string(X->Retry() == TRetry::OnChange ? "OnChange" : "EveryScan");
           }));
  py::class_<RMultiRand, RComponent>(M, "TMultiRand")
      .def("Uni01", Method<TMultiRand, RMultiRand>([](TMultiRand* X) { return X->Uni01(); }))
      .def("Uniform", Method<TMultiRand, RMultiRand>(
                          [](TMultiRand* X, double A, double B) { return X->Uniform(A, B); }), py::arg("low"), py::arg("high"))
      .def("Exponential", Method<TMultiRand, RMultiRand>(
                              [](TMultiRand* X, double Mean) { return X->Exponential(Mean); }), py::arg("mean"))
      .def("Erlang", Method<TMultiRand, RMultiRand>(
                         [](TMultiRand* X, double Mean, int32_t K) { return X->Erlang(Mean, K); }), py::arg("mean"), py::arg("k"))
      .def("Normal", Method<TMultiRand, RMultiRand>(
                         [](TMultiRand* X, double Mean, double D) { return X->Normal(Mean, D); }), py::arg("mean"), py::arg("deviation"))
      .def("GammaJonk", Method<TMultiRand, RMultiRand>(
                            [](TMultiRand* X, double Shape) { return X->GammaJonk(Shape); }), py::arg("shape"))
      .def("Gamma", Method<TMultiRand, RMultiRand>(
                        [](TMultiRand* X, double Mean, double Shape) { return X->Gamma(Mean, Shape); }), py::arg("mean"), py::arg("shape"))
      .def("Beta", Method<TMultiRand, RMultiRand>([](TMultiRand* X, double A, double B, double Low,
                                                     double High) { return X->Beta(A, B, Low, High); }), py::arg("shape1"), py::arg("shape2"), py::arg("low"), py::arg("high"))
      .def("Weibull", Method<TMultiRand, RMultiRand>(
                          [](TMultiRand* X, double A, double B) { return X->Weibull(A, B); }), py::arg("alpha"), py::arg("beta"))
      .def("Lognormal", Method<TMultiRand, RMultiRand>(
                            [](TMultiRand* X, double Mean, double D) { return X->Lognormal(Mean, D); }), py::arg("mean"), py::arg("deviation"))
      .def("Triangular",
           Method<TMultiRand, RMultiRand>([](TMultiRand* X, double Low, double Mode, double High) {
             return X->Triangular(Low, Mode, High);
           }), py::arg("low"), py::arg("mode"), py::arg("high"));
  py::class_<RTabulator, RComponent>(M, "TTabulator")
      .def("PutValue", Method<TTabulator, RTabulator>([](TTabulator* X, double V) { X->PutValue(V); }))
      .def("Mean", Method<TTabulator, RTabulator>([](TTabulator* X) { return X->Mean(); }))
      .def("Deviation", Method<TTabulator, RTabulator>([](TTabulator* X) { return X->Deviation(); }))
      .def("Count", Method<TTabulator, RTabulator>([](TTabulator* X) { return X->Count(); }))
      .def("Reset", Method<TTabulator, RTabulator>([](TTabulator* X) { X->Reset(); }))
      .def("_bins", Method<TTabulator, RTabulator>([](TTabulator* X) {
             // Underflow, the IntervalCount bins, overflow: (lower, upper, hits).
             std::vector<std::tuple<double, double, int32_t>> Bins;
             const int32_t N = X->IntervalCount();
             const double Low = X->LowerBound(), Width = X->Interval();
             const double Inf = HUGE_VAL;
             for (int32_t i = 0; i <= N + 1; ++i)
               Bins.emplace_back(i == 0 ? -Inf : Low + (i - 1) * Width,
                                 i == N + 1 ? Inf : Low + i * Width, X->Hits(uint8_t(i)));
             return Bins;
           }));
  py::class_<RAggregate, RComponent>(M, "TAggregate")
      .def("NextTime", Method<TAggregate, RAggregate>([](TAggregate* X, double D) { X->NextTime(D); }));
  py::class_<RScheduler, RAggregate>(M, "TScheduler");
  py::class_<RBlock, RAggregate> Block(M, "TBlock");
  AddFastPassTo(Block);
  Block
      .def_property(
          "Schedule",
          [](const RBlock& Self) -> py::object {
            TBlock* X = Self.Get<TBlock>();
            for (const auto& [Following, Name] : LiveModel->File().Following())
              if (Following == X) return py::str(Name);
            return py::none();
          },
          [](const RBlock& Self, py::handle Value) {
            TBlock* X = Self.Get<TBlock>();
            py::object Name = py::hasattr(Value, "name") && !py::isinstance<py::str>(Value)
                                  ? py::object(Value.attr("name"))
                                  : py::reinterpret_borrow<py::object>(Value);
            if (!py::isinstance<py::str>(Name))
              Raise(X->Name() + ": Schedule names a schedule (add_schedule)");
            std::string Error;
            if (!LiveModel->File().Follow(X, Name.cast<std::string>(), Error))
              Raise(X->Name() + ": " + Error);
          },
          "the name of the schedule the block follows (its capacity, duty or opening), or None")
      .def_property_readonly(
          "count", Method<TBlock, RBlock>([](TBlock* X) { return X->Count(); }),
          "count: the transactions in the block now (the report's \"Count\")")
      .def_property_readonly(
          "entries", Method<TBlock, RBlock>([](TBlock* X) { return X->Entries(); }),
          "entries: the transactions that entered since the statistics were cleared")
      .def_property_readonly(
          "exits", Method<TBlock, RBlock>([](TBlock* X) { return X->Exits(); }),
          "exits: the transactions that left since the statistics were cleared")
      .def("Count", Method<TBlock, RBlock>([](TBlock* X) { return X->Count(); }))
      .def("Entries", Method<TBlock, RBlock>([](TBlock* X) { return X->Entries(); }))
      .def("Exits", Method<TBlock, RBlock>([](TBlock* X) { return X->Exits(); }));
  py::class_<RGenerator, RBlock>(M, "TGenerator")
      .def("AverageTime", Method<TGenerator, RGenerator>([](TGenerator* X) { return Real(X->AverageTime()); }));
  py::class_<RTerminator, RBlock>(M, "TTerminator");
  py::class_<RGate, RBlock>(M, "TGate")
      .def("Lock", Method<TGate, RGate>([](TGate* X) { X->Lock(); }))
      .def("Unlock", Method<TGate, RGate>([](TGate* X) { X->Unlock(); }))
      .def("Inverse", Method<TGate, RGate>([](TGate* X) { X->Inverse(); }))
      .def("isLocked", Method<TGate, RGate>([](TGate* X) { return X->isLocked(); }));
  py::class_<RCreator, RBlock>(M, "TCreator")
      .def("Generate", Method<TCreator, RCreator>([](TCreator* X, int32_t N) { X->Generate(N); }));
  py::class_<RSplitJoin, RBlock>(M, "TSplitJoin");
  py::class_<RDivider, RSplitJoin>(M, "TDivider");
  py::class_<RAssembler, RSplitJoin>(M, "TAssembler");
  py::class_<RProQueue, RBlock>(M, "TProQueue")
      .def("AverageTime", Method<TProQueue, RProQueue>([](TProQueue* X) { return Real(X->AverageTime()); }))
      .def("SAverageTime", Method<TProQueue, RProQueue>([](TProQueue* X) { return Real(X->SAverageTime()); }))
      .def("DeviationTime", Method<TProQueue, RProQueue>([](TProQueue* X) { return Real(X->DeviationTime()); }))
      .def("AverageCount", Method<TProQueue, RProQueue>([](TProQueue* X) { return Real(X->AverageCount()); }))
      .def("Usage", Method<TProQueue, RProQueue>([](TProQueue* X) { return Real(X->Usage()); }))
      .def("MaxCount", Method<TProQueue, RProQueue>([](TProQueue* X) { return X->MaxCount(); }))
      .def("ZeroEntries", Method<TProQueue, RProQueue>([](TProQueue* X) { return X->ZeroEntries(); }))
      .def("PreemptExits", Method<TProQueue, RProQueue>([](TProQueue* X) { return X->PreemptExits(); }));
  py::class_<RServer, RProQueue>(M, "TServer")
      .def("Release", Method<TServer, RServer>([](TServer* X) { X->Release(); }))
      .def("ReleaseOne", Method<TServer, RServer>([](TServer* X) { X->ReleaseOne(); }))
      .def("PostPone", Method<TServer, RServer>([](TServer* X) { X->PostPone(); }));
  py::class_<RQueueCustom, RProQueue>(M, "TQueueCustom");
  py::class_<RQueue, RQueueCustom>(M, "TQueue")
      .def("TimeLimitExits", Method<TQueue, RQueue>([](TQueue* X) { return X->TimeLimitExits(); }));
  py::class_<RStack, RQueue>(M, "TStack");
  py::class_<RStorage, RQueueCustom>(M, "TStorage");
  py::class_<RQueuePrtyCustom, RProQueue>(M, "TQueuePrtyCustom")
      .def("MinPrty", Method<TQueuePrtyCustom, RQueuePrtyCustom>([](TQueuePrtyCustom* X) { return int(X->MinPrty()); }))
      .def("MaxPrty", Method<TQueuePrtyCustom, RQueuePrtyCustom>([](TQueuePrtyCustom* X) { return int(X->MaxPrty()); }))
      .def("PrtyCount", Method<TQueuePrtyCustom, RQueuePrtyCustom>([](TQueuePrtyCustom* X, int P) {
             if (P < 0 || P > 255) Raise("a priority lies in 0...255");
             return X->PrtyCount(static_cast<uint8_t>(P));
           }));
  py::class_<RQueuePrty, RQueuePrtyCustom>(M, "TQueuePrty")
      .def("TimeLimitExits", Method<TQueuePrty, RQueuePrty>([](TQueuePrty* X) { return X->TimeLimitExits(); }));
  py::class_<RStoragePrty, RQueuePrtyCustom>(M, "TStoragePrty");

  AddSurfaces(M);
}

} // namespace quorin::python
