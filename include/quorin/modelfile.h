// Model files: a model written as text, loaded into components through the
// palette and saved back in the same form. The format is described in the
// README; in short:
//
//   run
//     Until = 201000
//   end
//   object Form: TComponent
//     object Model: TModel end
//     object Clerk: TServer
//       Preemptive = true
//       OnEnter = Hold(Services.Exponential(0.8))
//       OnRouting = PassTo(Exit)
//     end
//   end
//
// Loading creates every component by its class name, hands every property
// value to the component's setter and binds every handler, either one of the
// standard handlers (routing, holding times, next arrivals, priorities, stop
// after N) or a C++ function that the application names in a table. A file
// with any error yields no model at all, and every error names the file, the
// line and the component.
#pragma once

#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "quorin/blocks.h"
#include "quorin/inputs.h"
#include "quorin/statsim.h"

namespace quorin {

// C++ handlers that a model file may bind by name, one map per shape of
// event: block events (OnRouting, OnEnter, OnExit, OnAfterGeneration,
// OnTimeFinish, OnPreempt, OnRelease), aggregate events (OnBeforeTimeGoOn of
// a generator or scheduler, OnPlanned), the model's parameterless events
// (OnBeforeTimeGoOn, OnDeadlock), OnNewTime and OnAfterPass.
struct THandlerTable {
  std::map<std::string, std::function<void(TBlock* Sender, TTransaction* Trans)>> Block;
  std::map<std::string, std::function<void(TAggregate* Sender)>> Aggregate;
  std::map<std::string, std::function<void()>> Model;
  std::map<std::string, TNewTimeEvent> NewTime;
  std::map<std::string, TAfterPassEvent> AfterPass;
  // Values of a transaction that the standard handler PutValue may name
  // (the fields of the application's transaction class), by name.
  std::map<std::string, std::function<double(const TTransaction* Trans)>> Values;
};

// The run section of a model file: how `quorin run` runs it by default.
struct TRunSettings {
  std::string Title;            // printed above the report when not empty
  std::optional<double> Warmup; // run to this time, then clear the statistics
  std::optional<double> Until;  // end time of the run
};

// One argument of a handler call as written: a number, a component name, or
// a draw from a random stream (Stream.Method(numbers)).
struct THandlerArg {
  std::string Text; // the number or the component name
  bool IsNumber = false;
  std::string Method;              // distribution of a draw; empty otherwise
  std::vector<std::string> Params; // the draw's numbers as written
};

// One call of a handler binding, e.g. PassTo(Exit) or an application name.
struct THandlerCall {
  std::string Name;
  bool Parens = false;
  std::vector<THandlerArg> Args;
};

// A handler binding: the calls that run, in order, when Event fires.
struct TBinding {
  TComponent* Component = nullptr;
  std::string Event;
  std::vector<THandlerCall> Calls;
  int Line = 0;
};

// A loaded model. Owns the application component, whose components are the
// file's top-level objects (usually one form), and remembers the handler
// bindings so that the model can be saved again. A file loaded into an owner
// of the caller's (see LoadModelText) owns nothing: the owner keeps the
// components and serves as the application, so the file is used only while
// the owner lives.
class TModelFile {
public:
  TModelFile();
  ~TModelFile();
  TModelFile(const TModelFile&) = delete;
  TModelFile& operator=(const TModelFile&) = delete;

  TComponent* Application() const { return FApplication; }
  // The one TModel of the file.
  TModel* Model() const { return FModel; }
  // Every TMultiRand of the file, in file order.
  const std::vector<TMultiRand*>& Streams() const { return FStreams; }
  const std::vector<TBinding>& Bindings() const { return FBindings; }
  // The component a handler argument names, seen from Component: a sibling
  // first, else the only component of that name in the application.
  TComponent* Resolve(const TComponent* Component, const std::string& Name) const;
  // How many components of the application carry Name.
  int32_t CountNamed(const std::string& Name) const;
  // The retry mode of a file that does not choose one: retry on change,
  // unless a routing event binds more than the routing handlers (a handler
  // that counts its calls, locks a gate, sets a priority, or an
  // application's own), whose calls retry on change would make fewer.
  TRetry DefaultRetry() const;
  // Whether the file chose the retry mode itself (RetryOnChange).
  bool RetryGiven() const { return FRetryGiven; }
  // The findings of CheckRoutes and CheckHandlers when the file was loaded.
  const std::vector<std::string>& RouteFindings() const { return FRouteFindings; }
  // The schedule section of that name, or nullptr.
  const TSchedule* Schedule(const std::string& Name) const;
  // The names of the schedule sections, in file order.
  std::vector<std::string> ScheduleNames() const;
  // A data file named in the model file (a schedule's File, an empirical
  // distribution's CSV): relative names are taken from the model file's
  // folder.
  std::string DataPath(const std::string& Name) const;
  // For saving: the blocks that follow a schedule with its name, and the
  // schedule sections' settings as written.
  const std::vector<std::pair<const TComponent*, std::string>>& Following() const {
    return FFollowing;
  }
  std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>>
  ScheduleSettings() const;

  // Where a component stands on the editor's form (Left and Top in the
  // file, in pixels from the form's top left corner), when the file says.
  // A run ignores them; the diagram and the studio use them.
  struct TPosition {
    int32_t Left = 0, Top = 0;
  };
  static constexpr int32_t MaxPosition = 100000;
  std::optional<TPosition> Position(const TComponent* Component) const {
    const auto At = FPositions.find(Component);
    return At == FPositions.end() ? std::nullopt : std::optional<TPosition>(At->second);
  }

  TRunSettings Run;

  // Building a model by program rather than from text (the Python module
  // builds its models this way). Empty answers a file whose application of
  // its own holds nothing yet. Add creates a component of a palette class,
  // or a TComponent (a form), on Owner (the application when null), named
  // as in a file and unique among Owner's components; a second TModel is
  // refused; a TModel starts on the engine a file that names none gets (the
  // heap event list and retry on change: see DefaultRetry). Bind compiles Calls, written as after "OnEvent = " in a file
  // (standard handlers, or names of Handlers), and binds them to Event of
  // Component in place of what was bound; the TModel must exist by then.
  // Forget drops the record of Event's binding, for a caller that bound the
  // event to a handler of its own (such a binding cannot be saved). Each
  // answers nullptr or false with the reason in Error and changes nothing.
  static std::unique_ptr<TModelFile> Empty();
  TComponent* Add(TComponent* Owner, const std::string& Class, const std::string& Name,
                  std::string& Error);
  bool Bind(TComponent* Component, const std::string& Event, const std::string& Calls,
            const THandlerTable& Handlers, std::string& Error);
  void Forget(const TComponent* Component, const std::string& Event);
  // A schedule section named Name, as a file's "schedule" section makes
  // it: Period (0: no repetition) and either Steps, written as in a file
  // ("0 2, 480 5"), or File, a CSV of time,value (taken from the model
  // file's folder when relative); the other is empty. Follow makes Block
  // follow the schedule section Name, as "Schedule = Name" does, once.
  // Each answers false with the reason in Error and changes nothing.
  bool AddSchedule(const std::string& Name, double Period, const std::string& Steps,
                   const std::string& File, std::string& Error);
  bool Follow(TComponent* Block, const std::string& Name, std::string& Error);

private:
  friend class TModelLoader;
  struct TNameIndex;
  void BuildIndex();
  void ForgetIndex();
  // The components of the application that carry Name, in no set order.
  std::vector<TComponent*> Named(const std::string& Name) const;
  std::unique_ptr<TNameIndex> FIndex;
  std::vector<std::string> FRouteFindings;
  bool FRetryGiven = false;
  std::unique_ptr<TComponent> FOwnedApplication; // empty when loaded into an owner
  TComponent* FApplication = nullptr;
  TModel* FModel = nullptr;
  std::vector<TMultiRand*> FStreams;
  std::vector<TBinding> FBindings;
  std::string FDirectory; // the model file's folder, with its final '/'
  // The schedule sections as written (for saving) and as loaded.
  struct TScheduleSection {
    std::string Name;
    std::vector<std::pair<std::string, std::string>> Settings; // key, value as written
    TSchedule Schedule;
  };
  std::vector<TScheduleSection> FSchedules;
  // Blocks that follow a schedule: the block and the schedule's name.
  std::vector<std::pair<const TComponent*, std::string>> FFollowing;
  std::map<const TComponent*, TPosition> FPositions;
};

// Loads a model from Text; FileName is used in messages only. On any error
// answers nullptr with Errors filled, each as "file:line: component: text".
std::unique_ptr<TModelFile> LoadModelText(const std::string& Text, const std::string& FileName,
                                          const THandlerTable& Handlers,
                                          std::vector<std::string>& Errors);
// Reads Path and loads it as above.
std::unique_ptr<TModelFile> LoadModelFile(const std::string& Path, const THandlerTable& Handlers,
                                          std::vector<std::string>& Errors);
// The same, with the file's top-level objects created on Owner, for a model
// that must live on a component of the caller's (a replication's form, which
// the experiment runner owns and whose streams it seeds). Owner should hold
// nothing else: handler arguments resolve among its components and saving
// writes all of them. On any error nothing is left on Owner.
std::unique_ptr<TModelFile> LoadModelText(const std::string& Text, const std::string& FileName,
                                          const THandlerTable& Handlers,
                                          std::vector<std::string>& Errors, TComponent& Owner);
std::unique_ptr<TModelFile> LoadModelFile(const std::string& Path, const THandlerTable& Handlers,
                                          std::vector<std::string>& Errors, TComponent& Owner);

// Sets the stored property Property of the component named Component (the
// only one of that name) to Value, written as in a model file ("3",
// "true"), through its setter as loading does. Answers false with Error
// when there is no such component or property or the value is refused.
bool SetModelProperty(TModelFile& File, const std::string& Component, const std::string& Property,
                      const std::string& Value, std::string& Error);

// Writes the model in the same format: the run section, then every
// component with the properties that differ from their defaults and its
// handler bindings. Answers false with Errors filled when a component cannot
// be written (no name, or a class that is not on the palette). Destination
// is the path the text is meant for: data files named relative to the
// model file's folder are renamed to lead there from Destination's folder,
// so the saved model finds the same data; empty keeps the names as written
// (the text is for the model file's own folder).
bool SaveModelText(const TModelFile& File, std::string& Text, std::vector<std::string>& Errors,
                   const std::string& Destination = "");

// A route that a standard routing handler names: From passes to To. The
// label tells the event when it is not OnRouting, the probability of
// PassByChance and the rank of PassFirst.
struct TRoute {
  const TBlock* From;
  const TBlock* To;
  std::string Label;
};
std::vector<TRoute> Routes(const TModelFile& File);

// What the model check sees wrong in the routes of the standard handlers:
// a loop of routes in which no block holds a transaction for a time, which
// can go round for ever at one model time (the model's MoveLimit then stops
// the run). Loading adds these findings to the model check of the file's
// model; `quorin check` prints them.
std::vector<std::string> CheckRoutes(const TModelFile& File);

// What the standard handlers show of two traps that a run reports only
// once it has fallen into them: a generator whose handlers plan its first
// arrival and never a next one (it makes one transaction and no more), and
// an assembler without Match that split parts can reach by more than one
// route (its sets can mix the parts of different originals). Loading keeps
// these findings for `quorin check`; the model check of a run finds both
// traps from what happened.
std::vector<std::string> CheckHandlers(const TModelFile& File);

// The model's diagram: its blocks and schedulers with the notes their
// properties and time limits give, the routes that the standard handlers
// name (labelled with the event when it is not OnRouting, the probability
// of PassByChance, the rank of PassFirst), Generate, Lock and Unlock as
// dashed control links, and the other components (model, streams, ...)
// listed below. Drawn by WriteDiagramSvg of quorin/diagram.h.
struct TDiagram;
TDiagram DiagramOf(const TModelFile& File);
// DiagramOf(File) as a standalone SVG file.
void WriteDiagramSvg(const TModelFile& File, std::ostream& Out);

// A standard handler of model files: its name, how a file calls it, the
// events it may stand in and what it does. They are one table in
// src/modelfile/handlers.cpp, which also compiles them; a new standard
// handler is one entry there.
struct TStandardHandler {
  std::string Name;
  std::string Usage; // "PassTo(Block)"
  std::string Where;
  std::string What;
};
const std::vector<TStandardHandler>& StandardHandlers();
// Their names, for `quorin palette` and error messages.
std::vector<std::string> StandardHandlerNames();

} // namespace quorin
