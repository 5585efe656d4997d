#include "quorin/detail/parts.h"

namespace quorin::detail {

namespace {
// Built on first use: registrations run from initialisers of other source
// files, in an order that is not known.
std::vector<TRunPool>& Pools() {
  static std::vector<TRunPool> Registered;
  return Registered;
}
// Constant-initialised, so set safely from any initialiser.
TClearHook Clear = nullptr;
TRefusalsHook Refusals = nullptr;
} // namespace

bool AddRunPool(const TRunPool& Pool) {
  Pools().push_back(Pool);
  return true;
}

const std::vector<TRunPool>& RunPools() {
  return Pools();
}

bool SetClearHook(TClearHook Hook) {
  Clear = Hook;
  return true;
}

bool SetRefusalsHook(TRefusalsHook Hook) {
  Refusals = Hook;
  return true;
}

TClearHook ClearHook() {
  return Clear;
}

TRefusalsHook RefusalsHook() {
  return Refusals;
}

} // namespace quorin::detail
