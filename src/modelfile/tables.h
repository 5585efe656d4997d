// What the model-file code shares: the standard handlers compiled from their
// calls in a model file, and the routes they name. What a file may say about
// each class (stored properties, events) comes from the class descriptions
// (quorin/classinfo.h).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "quorin/classinfo.h"
#include "quorin/modelfile.h"

namespace quorin::modelfile {

// Everything a handler call needs to be compiled.
struct TCompileContext {
  const TModelFile& File;
  TComponent* Component;
  const TEventInfo& Event;
  TModel* Model;
  const THandlerTable& Handlers;
};

// Compiles one call into an action; on failure answers false with Error.
bool CompileCall(const THandlerCall& Call, const TCompileContext& Context, TEventAction& Action,
                 std::string& Error);

// A route that a standard handler's call names: the argument that names
// the receiver, and the label of the route ("#2", "p=0.3", or empty).
struct TCallRoute {
  std::size_t Arg;
  std::string Label;
};
std::vector<TCallRoute> RoutesOfCall(const THandlerCall& Call);

// Binds Actions, compiled from Calls, to the event of Context: an
// OnRouting that is one PassTo(Block) becomes the block's fixed route
// (TBlock::SetRoute), which passes with no handler call, and OnRouting is
// left empty; any other binding clears the route of an OnRouting. Wrap
// makes the event's handler from the actions.
void AssignActions(const std::vector<THandlerCall>& Calls, const TCompileContext& Context,
                   std::vector<TEventAction> Actions,
                   const std::function<TEventAction(std::vector<TEventAction>)>& Wrap);

} // namespace quorin::modelfile
