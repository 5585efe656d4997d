// The compiled half of the quorin Python module: what its source files
// share. Python sees a model (TPyModel) that owns a model file's
// application, the components as objects of classes named as in C++, and
// transactions as short-lived proxies.
//
// Rules the binding keeps:
// - One model is live per process (the kernel keeps process-wide state).
//   Component objects carry the serial number of the model they belong to
//   and refuse every use once that model is closed, so that nothing reaches
//   freed components or moves a transaction into another model's block.
// - Library messages are collected while Python calls into the library and
//   raised as quorin.Error when the call returns (nothing is printed).
// - Python handlers are called with the GIL held: a model with a Python
//   handler runs with the GIL; one with standard handlers only releases it.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "quorin/experiment.h"
#include "quorin/quorin.h"
#include "tables.h"

namespace quorin::python {

namespace py = pybind11;

// ------------------------------------------------------------- messages

// The messages that arrive while a call from Python runs. Calls nest (a
// Python handler inside Simulate calls a stream): each call collects its
// own, and raises them as quorin.Error when it ends.
class TCall {
public:
  TCall();
  ~TCall();
  TCall(const TCall&) = delete;
  TCall& operator=(const TCall&) = delete;
  // Raises quorin.Error (quorin.CheckError for model-check findings) when
  // messages arrived.
  void Finish();
  std::vector<std::string> Messages;

private:
  TCall* FPrevious;
};

// Raises quorin.Error with Text (and the block that it names, if any).
[[noreturn]] void Raise(const std::string& Text);
[[noreturn]] void RaiseMessages(const std::vector<std::string>& Messages);

// ----------------------------------------------------------------- model

class TPyModel;

// The live model and its serial number; 0 when none is live.
extern TPyModel* LiveModel;
extern uint64_t LiveSerial;
// True while the live model runs without the GIL (standard handlers only):
// another Python thread must not touch it meanwhile.
extern bool RunningUnlocked;
[[noreturn]] void Busy();

// A component as Python holds it: usable while its model is live.
struct TRef {
  TComponent* X = nullptr;
  uint64_t Serial = 0;
  template <class T> T* Get() const {
    if (Serial != LiveSerial || !X) Dead();
    if (RunningUnlocked) Busy();
    return static_cast<T*>(X);
  }
  [[noreturn]] static void Dead();
};

// A transaction as a handler sees it: valid during the handler call only.
struct TPyTransaction {
  TTransaction* T = nullptr;
  TTransaction* Get() const;
};

// A handler bound to a Python callable, kept for the event's getter and for
// saving (which refuses it).
struct TPyBinding {
  py::object Callable;
  std::string Text; // standard handlers that run before it ("" for none)
};

class TPyModel {
public:
  // Takes the one live slot; Attach gives it its model file.
  explicit TPyModel(std::vector<std::string> Fields);
  ~TPyModel();
  void Attach(std::unique_ptr<TModelFile> File);
  void Close();
  bool Closed() const { return !FFile; }
  TModelFile& File() const;
  TModel& Model() const { return *File().Model(); }
  uint64_t Serial() const { return FSerial; }

  // The Python object of a component of this model (one per component).
  py::object Wrap(TComponent* X);
  // Every component, depth first in creation order.
  std::vector<TComponent*> Components() const;
  TComponent* Find(const std::string& Name) const;

  // Declared transaction fields: their names and where they live in a
  // record (right after the TTransaction).
  const std::vector<std::string>& Fields() const { return FFields; }
  static double* FieldsOf(TTransaction* T) {
    return reinterpret_cast<double*>(reinterpret_cast<char*>(T) + sizeof(TTransaction));
  }
  int FieldIndex(const std::string& Name) const;

  // Standard handlers given as text are compiled before the first run (a
  // handler may name a component added later); after that, at once.
  void BindText(TComponent* X, const std::string& Event, const std::string& Text);
  void BindCallable(TComponent* X, const std::string& Event, py::object Callable);
  // Standard handlers and a Python callable on one event: the handlers run
  // first, then the callable.
  void BindBoth(TComponent* X, const std::string& Event, const std::string& Text,
                py::object Callable);
  void Unbind(TComponent* X, const std::string& Event);
  py::object Binding(TComponent* X, const std::string& Event) const;
  // Compiles what is pending and prepares the model for a run; raises the
  // first errors.
  void Prepare();
  bool HasPythonHandlers() const { return !FPython.empty() || !Named.empty(); }
  // True during simulate (and while a handler it called runs).
  bool InSimulate = false;
  // Whether the retry mode was chosen (by the file, SetRetry or the
  // RetryOnChange property); else Prepare picks it from the bindings.
  bool RetryChosen = false;

  // Recorders attached to the model (trace, content): detached when the
  // model closes, before its components go.
  struct TRecorder {
    virtual ~TRecorder() = default;
    virtual void Detach() = 0;
  };
  std::vector<std::weak_ptr<TRecorder>> Recorders;

  // Application handlers of a loaded file, by name, as Python callables.
  std::map<std::string, py::object> Named;
  THandlerTable Table;
  // Python callables by (component, event).
  const std::map<std::pair<const TComponent*, std::string>, TPyBinding>& PythonBindings() const {
    return FPython;
  }

private:
  // Parses Text (refused at once when written wrong) and compiles it now or
  // at the first run.
  void BindCalls(TComponent* X, const std::string& Event, const std::string& Text);
  void Compile(TComponent* X, const std::string& Event, const std::string& Text);
  // Called whenever an event of X gets a new handler.
  void Rebound(const TComponent* X, const std::string& Event);
  void InstallFieldHooks();
  std::unordered_set<const TComponent*> FHooked;

  std::unique_ptr<TModelFile> FFile;
  uint64_t FSerial;
  std::vector<std::string> FFields;
  struct TPending {
    TComponent* X;
    std::string Event, Text;
  };
  std::vector<TPending> FPending;
  bool FPrepared = false;
  int FHidden = 0; // handler-table names given to callables bound beside text
  std::map<std::pair<const TComponent*, std::string>, TPyBinding> FPython;
  std::unordered_map<const TComponent*, py::object> FWrappers;
};

// --------------------------------------------------------------- binding

void BindComponents(py::module_& M);
void BindRecorders(py::module_& M);
void BindReplicate(py::module_& M);
// The event handler that calls Callable with (component, transaction) or
// the event's own arguments.
TEventAction PythonAction(TPyModel& Model, TComponent* X, const std::string& Event,
                                py::object Callable);
// Installs the handlers of a loaded file's application names.
void FillHandlerTable(TPyModel& Model);
// Makes Action the application handler Name for events of Shape.
void AddTableHandler(THandlerTable& Table, const std::string& Name, TEventShape Shape,
                     TEventAction Action);
// The Python object of a component, of its class's Python type.
py::object WrapAs(TComponent* X, uint64_t Serial);
// Hands a library message to the call that runs.
void DeliverMessage(const std::string& Text);

} // namespace quorin::python
