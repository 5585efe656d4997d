// Scope guards of the kernel: what must happen when a scope ends, also when
// a handler called inside it throws.
#pragma once

#include <exception>
#include <utility>

namespace quorin::detail {

// Raises a flag for the length of a scope and restores its earlier value
// afterwards.
class TFlagScope {
public:
  explicit TFlagScope(bool& Flag) : FFlag(Flag), FOld(Flag) { FFlag = true; }
  ~TFlagScope() { FFlag = FOld; }
  TFlagScope(const TFlagScope&) = delete;
  TFlagScope& operator=(const TFlagScope&) = delete;

private:
  bool& FFlag;
  bool FOld;
};

} // namespace quorin::detail
