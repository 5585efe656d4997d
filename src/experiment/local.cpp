// The in-process executor: replications one after another in the calling
// process, for short replications whose fork would cost more than the run.
#include <signal.h>

#include <csignal>
#include <utility>

#include "internal.h"

namespace quorin::detail {

namespace {

// SIGINT came while a replication ran here: the model ends the event under
// way and stops; no further replication starts.
volatile sig_atomic_t LocalInterrupt = 0;
struct sigaction PreviousInt;

void OnInterrupt(int Signal) {
  LocalInterrupt = 1;
  TModel::Interrupt();
  // Then what the process did before (the interpreter notes it and raises
  // KeyboardInterrupt once the caller is back).
  if (PreviousInt.sa_handler != SIG_DFL && PreviousInt.sa_handler != SIG_IGN &&
      !(PreviousInt.sa_flags & SA_SIGINFO))
    PreviousInt.sa_handler(Signal);
  else if (PreviousInt.sa_handler == SIG_DFL) {
    ::sigaction(SIGINT, &PreviousInt, nullptr);
    ::raise(Signal);
  }
}

} // namespace

TLocalExecutor::TLocalExecutor(TWork Work) : FWork(std::move(Work)) {
  LocalInterrupt = 0;
  struct sigaction Action {};
  Action.sa_handler = &OnInterrupt;
  sigemptyset(&Action.sa_mask);
  FInstalled = ::sigaction(SIGINT, nullptr, &PreviousInt) == 0 &&
               PreviousInt.sa_handler != SIG_IGN && ::sigaction(SIGINT, &Action, nullptr) == 0;
}

TLocalExecutor::~TLocalExecutor() {
  if (FInstalled) ::sigaction(SIGINT, &PreviousInt, nullptr);
}

bool TLocalExecutor::Interrupted() const { return LocalInterrupt != 0; }

void TLocalExecutor::Start(int32_t Number) {
  TReplicationResult R = FWork(Number, [](const std::vector<int64_t>&) {});
  // A replication that the interrupt cut short has no result of its own.
  if (Interrupted()) R = TReplicationResult{};
  FDone.push_back(std::move(R));
}

std::vector<TReplicationResult> TLocalExecutor::Wait(int) {
  return std::exchange(FDone, {});
}

} // namespace quorin::detail
