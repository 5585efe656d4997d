// The fork executor: each replication in a worker process forked for it,
// with a pipe back that carries its seeds and its result; time limits kill.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "internal.h"

namespace quorin::detail {

namespace {

bool WriteAll(int Fd, const char* Data, size_t Size) {
  while (Size > 0) {
    const ssize_t N = ::write(Fd, Data, Size);
    if (N < 0 && errno == EINTR) continue;
    if (N <= 0) return false;
    Data += N;
    Size -= size_t(N);
  }
  return true;
}

bool WriteFrame(int Fd, char Kind, const std::string& Bytes) {
  const std::string Whole = Frame(Kind, Bytes);
  return WriteAll(Fd, Whole.data(), Whole.size());
}

// The workers alive, for the signal handler: a process ended by SIGTERM,
// SIGINT or SIGHUP ends them first (a killed one ends them through the
// parent-death signal each asks for). Slots hold 0 when free.
constexpr int MaxWatched = 1024;
volatile sig_atomic_t Watched[MaxWatched];
struct sigaction Previous[3];
const int Ended[3] = {SIGTERM, SIGINT, SIGHUP};
int Executors = 0;
// SIGINT came: a process that lives on after it (Python, a notebook's
// interrupt) starts no further replication.
volatile sig_atomic_t Interrupt = 0;

void EndWorkers(int Signal) {
  if (Signal == SIGINT) Interrupt = 1;
  for (int i = 0; i < MaxWatched; ++i)
    if (Watched[i] > 0) ::kill(pid_t(Watched[i]), SIGKILL);
  // A progress line on a terminal is cleared, so the shell's prompt starts
  // on a clean line.
  if (::isatty(STDERR_FILENO)) {
    const char Clear[] = "\r\033[K";
    [[maybe_unused]] const ssize_t N = ::write(STDERR_FILENO, Clear, sizeof Clear - 1);
  }
  // Then the signal does what it did before: ends the process, as a rule.
  for (int i = 0; i < 3; ++i)
    if (Ended[i] == Signal) ::sigaction(Signal, &Previous[i], nullptr);
  ::raise(Signal);
}

void Watch(pid_t Pid) {
  for (int i = 0; i < MaxWatched; ++i)
    if (Watched[i] == 0) {
      Watched[i] = Pid;
      return;
    }
}

void Unwatch(pid_t Pid) {
  for (int i = 0; i < MaxWatched; ++i)
    if (Watched[i] == Pid) Watched[i] = 0;
}

} // namespace

TForkExecutor::TForkExecutor(TWork Work, int32_t Slots, double TimeLimit, const TStreamPlan& Plan)
    : FWork(std::move(Work)), FSlots(std::max(Slots, 1)), FTimeLimit(TimeLimit), FPlan(Plan) {
  if (Executors++ == 0) {
    Interrupt = 0;
    struct sigaction Action {};
    Action.sa_handler = &EndWorkers;
    sigemptyset(&Action.sa_mask);
    // A signal the process ignores (SIGHUP under nohup) is left ignored:
    // it ends neither the process nor, then, its workers.
    for (int i = 0; i < 3; ++i)
      if (::sigaction(Ended[i], nullptr, &Previous[i]) == 0 && Previous[i].sa_handler != SIG_IGN)
        ::sigaction(Ended[i], &Action, nullptr);
  }
}

TForkExecutor::~TForkExecutor() {
  Cancel();
  if (--Executors == 0)
    for (int i = 0; i < 3; ++i)
      ::sigaction(Ended[i], &Previous[i], nullptr);
}

bool TForkExecutor::Interrupted() const { return Interrupt != 0; }

void TForkExecutor::Start(int32_t Number) {
  // Buffered output would be written twice, once by each process.
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  int Pipe[2];
  if (::pipe2(Pipe, O_CLOEXEC) != 0) {
    FChildren.push_back(TChild{-1, -1, Number, "", Clock::now(), false,
                               std::string("no pipe: ") + std::strerror(errno)});
    return;
  }
  const pid_t Parent = ::getpid();
  const pid_t Pid = ::fork();
  if (Pid == 0) {
    // A worker ends with the process that started it, however that ends
    // (killed too); one whose parent is gone already ends at once.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != Parent) ::_exit(4);
    for (int i = 0; i < 3; ++i)
      ::sigaction(Ended[i], &Previous[i], nullptr);
#if !defined(__SANITIZE_ADDRESS__)
    // A crash ends the worker with its signal, which the parent reports;
    // handlers inherited from the application (or from an MPI library,
    // which prints a backtrace) have no business in a worker. Sanitizer
    // builds keep the sanitizer's handlers, which say where it crashed.
    for (int Signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
      std::signal(Signal, SIG_DFL);
#endif
    ::close(Pipe[0]);
    for (const TChild& C : FChildren)
      if (C.Fd >= 0) ::close(C.Fd);
    const int Out = Pipe[1];
    TReplicationResult R = FWork(Number, [Out](const std::vector<int64_t>& Seeds) {
      WriteFrame(Out, SeedsFrame, SerialiseSeeds(Seeds));
    });
    const bool Sent = WriteFrame(Out, ResultFrame, Serialise(R));
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    ::_exit(Sent ? 0 : 3);
  }
  ::close(Pipe[1]);
  if (Pid < 0) {
    const std::string Reason = std::string("no fork: ") + std::strerror(errno);
    ::close(Pipe[0]);
    FChildren.push_back(TChild{-1, -1, Number, "", Clock::now(), false, Reason});
    return;
  }
  Watch(Pid);
  FChildren.push_back(TChild{Pid, Pipe[0], Number, "", Clock::now(), false, ""});
}

TReplicationResult TForkExecutor::Finish(TChild& C) {
  TReplicationResult R;
  R.Number = C.Number;
  if (C.Pid < 0) {
    R.Error = "could not start a worker process (" + C.StartError + ")";
    return R;
  }
  int Status = 0;
  while (::waitpid(C.Pid, &Status, 0) < 0 && errno == EINTR) {
  }
  Unwatch(C.Pid);
  std::vector<std::pair<char, std::string>> Frames;
  const bool Whole = ReadFrames(C.Bytes, Frames);
  bool HaveResult = false;
  std::vector<int64_t> Seeds;
  for (const auto& [Kind, Bytes] : Frames) {
    if (Kind == SeedsFrame) {
      Seeds = DeserialiseSeeds(Bytes);
    } else if (Kind == ResultFrame) {
      HaveResult = Deserialise(Bytes, R) && R.Number == C.Number;
    }
  }
  const bool Clean = WIFEXITED(Status) && WEXITSTATUS(Status) == 0;
  if (Whole && HaveResult && Clean) return R;
  // The worker died or sent something torn: the replication failed, with
  // whatever seeds it announced before.
  R = TReplicationResult{};
  R.Number = C.Number;
  R.Seeds = Seeds;
  if (C.Killed)
    R.Error = "killed after the time limit of " + std::to_string(FTimeLimit) + " s";
  else if (WIFSIGNALED(Status))
    R.Error = "the worker process died of signal " + std::to_string(WTERMSIG(Status)) + " (" +
              strsignal(WTERMSIG(Status)) + ")";
  else if (WIFEXITED(Status) && WEXITSTATUS(Status) != 0)
    R.Error = "the worker process exited with status " + std::to_string(WEXITSTATUS(Status));
  else
    R.Error = "the worker process sent no complete result";
  R.Seconds = SecondsSince(C.Started);
  return R;
}

std::vector<TReplicationResult> TForkExecutor::Wait(int TimeoutMs) {
  std::vector<TReplicationResult> Done;
  // Workers that could not even start finish at once.
  for (size_t i = 0; i < FChildren.size();) {
    if (FChildren[i].Fd < 0) {
      Done.push_back(Finish(FChildren[i]));
      FChildren.erase(FChildren.begin() + long(i));
    } else {
      ++i;
    }
  }
  if (!Done.empty() || FChildren.empty()) return Done;
  const auto Deadline = TimeoutMs < 0 ? Clock::time_point::max()
                                      : Clock::now() + std::chrono::milliseconds(TimeoutMs);
  while (Done.empty()) {
    // Wake for the next time limit or the caller's deadline, whichever is first.
    auto Until = Deadline;
    if (FTimeLimit > 0)
      for (const TChild& C : FChildren)
        if (!C.Killed)
          Until = std::min(Until, C.Started + std::chrono::duration_cast<Clock::duration>(
                                                  std::chrono::duration<double>(FTimeLimit)));
    int Wait = -1;
    if (Until != Clock::time_point::max()) {
      const auto Left =
          std::chrono::duration_cast<std::chrono::milliseconds>(Until - Clock::now()).count();
      Wait = int(std::clamp<long long>(Left + 1, 0, 1000000));
    }
    std::vector<pollfd> Fds;
    for (const TChild& C : FChildren)
      Fds.push_back(pollfd{C.Fd, POLLIN, 0});
    const int Ready = ::poll(Fds.data(), Fds.size(), Wait);
    if (Ready < 0 && errno != EINTR) break;
    for (size_t i = 0; i < Fds.size(); ++i) {
      if (!(Fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char Buffer[65536];
      const ssize_t N = ::read(FChildren[i].Fd, Buffer, sizeof Buffer);
      if (N > 0) {
        FChildren[i].Bytes.append(Buffer, size_t(N));
      } else if (N == 0 || errno != EINTR) {
        ::close(FChildren[i].Fd);
        FChildren[i].Fd = -2; // finished, collected below
      }
    }
    if (FTimeLimit > 0)
      for (TChild& C : FChildren)
        if (!C.Killed && C.Fd >= 0 && SecondsSince(C.Started) >= FTimeLimit) {
          ::kill(C.Pid, SIGKILL);
          C.Killed = true;
        }
    for (size_t i = 0; i < FChildren.size();) {
      if (FChildren[i].Fd == -2) {
        Done.push_back(Finish(FChildren[i]));
        FChildren.erase(FChildren.begin() + long(i));
      } else {
        ++i;
      }
    }
    if (Clock::now() >= Deadline) break;
  }
  return Done;
}

void TForkExecutor::Cancel() {
  for (TChild& C : FChildren) {
    if (C.Pid > 0) {
      ::kill(C.Pid, SIGKILL);
      while (::waitpid(C.Pid, nullptr, 0) < 0 && errno == EINTR) {
      }
      Unwatch(C.Pid);
    }
    if (C.Fd >= 0) ::close(C.Fd);
  }
  FChildren.clear();
}

} // namespace quorin::detail
