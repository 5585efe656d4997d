// What a model file may say about each class: its stored properties and its
// events, and the compilation of handler bindings into event handlers.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "quorin/modelfile.h"

namespace quorin::modelfile {

enum class TPropertyKind { Integer, Boolean, Real };

// A stored property. Values travel as double, which holds every value of
// the property types exactly (32-bit integers, seeds below 2^31, floats).
struct TPropertyInfo {
  const char* Name;
  TPropertyKind Kind;
  double Min, Max; // the range of the setter's parameter type
  double Default;
  bool (*Applies)(const TComponent*);
  // Hands Value to the setter; answers whether the component kept it.
  std::function<bool(TComponent*, double Value)> Set;
  // The current value, as the file writes it.
  std::function<std::string(const TComponent*)> Format;
  std::function<double(const TComponent*)> Get;
};

// Every stored property that applies to Component, in the order in which
// they are written.
std::vector<const TPropertyInfo*> PropertiesOf(const TComponent* Component);

// The class name of X without its namespace, as the palette knows it.
std::string ClassNameOf(const TComponent* X);

// The parameter lists of the events, by shape.
enum class TShape { Block, Aggregate, Model, NewTime, AfterPass };

// What any handler gets: the sender, the receiver of OnAfterPass and the
// transaction, each nullptr where the event has none.
struct TContext {
  TAggregate* Sender;
  TBlock* Receiver;
  TTransaction* Trans;
};
using TAction = std::function<void(const TContext&)>;

struct TEventInfo {
  const char* Name;
  TShape Shape;
  bool Routing; // the block is in routing while the event runs
  bool (*Applies)(const TComponent*);
  std::function<void(TComponent*, TAction)> Assign;
};

// The event Name of Component's class, or nullptr.
const TEventInfo* FindEvent(const TComponent* Component, const std::string& Name);
// The names of Component's events, for messages.
std::string EventNamesOf(const TComponent* Component);

// Everything a handler call needs to be compiled.
struct TCompileContext {
  const TModelFile& File;
  TComponent* Component;
  const TEventInfo& Event;
  TModel* Model;
  const THandlerTable& Handlers;
};

// Compiles one call into an action; on failure answers false with Error.
bool CompileCall(const THandlerCall& Call, const TCompileContext& Context, TAction& Action,
                 std::string& Error);

} // namespace quorin::modelfile
