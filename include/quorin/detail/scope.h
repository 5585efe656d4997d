// Scope guards of the kernel: what must happen when a scope ends, also when
// a handler called inside it throws.
#pragma once

namespace quorin::detail {

// Runs Body, then Finish. Finish also runs when Body throws, before the
// exception goes on, so that a step under way is completed however a
// handler called from Body ends. Written as a function rather than as a
// destructor: a Finish that throws (it may report through a message handler
// of the application's) passes its exception on instead of terminating.
template <class B, class F> void TryFinally(B&& Body, F&& Finish) {
  try {
    Body();
  } catch (...) {
    Finish();
    throw;
  }
  Finish();
}

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
