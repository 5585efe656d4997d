// What the model does for the units above it without including them: a
// family of blocks registers a pool that lives with each run's memory, and
// the statistical components register how a model clears them and counts
// their refused draws. Each registers from its own source file, so a
// registration is linked exactly where the code that needs it is.
#pragma once

#include <cstdint>
#include <vector>

namespace quorin {

class TComponent;
class TMemoManager;

namespace detail {

// A pool of fixed-size records kept by a family of blocks: made for every
// run after the transaction pool, with the run's page size and free-list
// choice, into *Pool, and dropped with the run's memory. Name completes the
// message "Quorin Error: Can not create Manager of <Name>".
struct TRunPool {
  TMemoManager** Pool;
  uint16_t ItemSize;
  const char* Name;
};
// Registers a pool; answers true, for use in a namespace-scope initialiser.
bool AddRunPool(const TRunPool& Pool);
// The pools registered, in registration order.
const std::vector<TRunPool>& RunPools();

// Clears what a component on the model's forms gathers, when it is of a
// kind that gathers statistics (TModel::ClearStatistics).
using TClearHook = void (*)(TComponent& X);
// The draws a component has refused so far, or -1 for one that draws
// nothing (the model check's refused draws).
using TRefusalsHook = int32_t (*)(const TComponent& X);
// Set once by the unit that owns such components; each answers true.
bool SetClearHook(TClearHook Hook);
bool SetRefusalsHook(TRefusalsHook Hook);
TClearHook ClearHook();
TRefusalsHook RefusalsHook();

} // namespace detail
} // namespace quorin
