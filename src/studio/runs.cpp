#include "runs.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace quorin::studio {

namespace {

double Now() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::string ReadAll(const std::string& Path, std::size_t Limit) {
  std::ifstream In(Path, std::ios::binary);
  std::string Text(Limit, '\0');
  In.read(Text.data(), std::streamsize(Limit));
  Text.resize(std::size_t(In.gcount()));
  return Text;
}

void ReplaceAll(std::string& S, const std::string& From, const std::string& To) {
  if (From.empty()) return;
  for (std::size_t At = 0; (At = S.find(From, At)) != std::string::npos; At += To.size())
    S.replace(At, From.size(), To);
}

} // namespace

TRuns::TRuns(std::string Program, std::string Scratch)
    : FProgram(std::move(Program)), FScratch(std::move(Scratch)) {}

TRuns::~TRuns() {
  {
    std::lock_guard<std::mutex> Lock(FMutex);
    if (FChild > 0) ::kill(-FChild, SIGKILL);
  }
  if (FWatcher.joinable()) FWatcher.join();
}

int32_t TRuns::Start(const TRunRequest& R, std::string& Error) {
  std::lock_guard<std::mutex> Lock(FMutex);
  if (FChild > 0) {
    Error = "a run is under way: stop it first";
    return 0;
  }
  if (FWatcher.joinable()) FWatcher.join();
  const int32_t Id = FLast.Id + 1;
  const std::string Page = FScratch + "/run-" + std::to_string(Id) + ".html";
  const std::string Out = FScratch + "/run-" + std::to_string(Id) + ".txt";
  std::vector<std::string> Args = {FProgram, "run", R.ModelPath, "--html", Page};
  if (R.Replications > 1) {
    Args.insert(Args.end(), {"--replications", std::to_string(R.Replications), "--jobs",
                             std::to_string(R.Jobs)});
  }
  if (R.Seed > 0) Args.insert(Args.end(), {"--seed", std::to_string(R.Seed)});
  std::vector<char*> Argv;
  for (std::string& A : Args)
    Argv.push_back(A.data());
  Argv.push_back(nullptr);
  // Standard error goes to a terminal, so that the command shows the
  // progress of replications; standard output to a file.
  int Master = -1, Slave = -1;
  if (::openpty(&Master, &Slave, nullptr, nullptr, nullptr) != 0) {
    Error = std::string("cannot start a run: ") + std::strerror(errno);
    return 0;
  }
  ::fcntl(Master, F_SETFD, FD_CLOEXEC);
  const int OutFd = ::open(Out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const pid_t Child = OutFd < 0 ? -1 : ::fork();
  if (Child == 0) {
    // Only calls that are safe between fork and exec.
    ::setpgid(0, 0);
    ::dup2(OutFd, STDOUT_FILENO);
    ::dup2(Slave, STDERR_FILENO);
    const int Null = ::open("/dev/null", O_RDONLY);
    if (Null >= 0) ::dup2(Null, STDIN_FILENO);
    ::execv(Argv[0], Argv.data());
    ::_exit(127);
  }
  ::close(Slave);
  if (OutFd >= 0) ::close(OutFd);
  if (Child < 0) {
    ::close(Master);
    Error = std::string("cannot start a run: ") + std::strerror(errno);
    return 0;
  }
  ::setpgid(Child, Child); // also here, so that a stop right away reaches the group
  FChild = Child;
  FStopping = false;
  FLast = TRunState{};
  FLast.Id = Id;
  FLast.State = "running";
  FLast.Total = R.Replications > 1 ? R.Replications : 0;
  const double Started = Now();
  FWatcher = std::thread([this, Id, Child, Master, Path = R.ModelPath, Shown = R.ShownName,
                          Started] {
    Watch(Id, Child, Master, Path + "\n" + Shown, Started);
  });
  return Id;
}

void TRuns::Watch(int32_t Id, pid_t Child, int Pty, std::string Names, double Started) {
  const std::string ModelPath = Names.substr(0, Names.find('\n'));
  const std::string Shown = Names.substr(Names.find('\n') + 1);
  std::string Messages, Line;
  char Buffer[4096];
  for (;;) {
    pollfd P{Pty, POLLIN, 0};
    const int Ready = ::poll(&P, 1, 200);
    if (Ready > 0) {
      const ssize_t N = ::read(Pty, Buffer, sizeof Buffer);
      if (N <= 0) break; // the child closed the terminal: it has ended
      for (ssize_t i = 0; i < N; ++i) {
        const char C = Buffer[i];
        if (C == '\r' || C == '\n') {
          // The progress line: "replications DONE/TOTAL, ...".
          int Done = 0, Total = 0;
          if (std::sscanf(Line.c_str(), "replications %d/%d,", &Done, &Total) == 2) {
            std::lock_guard<std::mutex> Lock(FMutex);
            FLast.Done = Done;
            FLast.Total = Total;
          } else if (!Line.empty() && Line.find("\033[") == std::string::npos &&
                     Messages.size() < 65536) {
            Messages += Line + "\n";
          }
          Line.clear();
        } else if (Line.size() < 4096) {
          Line += C;
        }
      }
    }
    std::lock_guard<std::mutex> Lock(FMutex);
    FLast.Seconds = Now() - Started;
  }
  ::close(Pty);
  int Status = 0;
  while (::waitpid(Child, &Status, 0) < 0 && errno == EINTR) {
  }
  ::unlink(ModelPath.c_str());
  const std::string Out = FScratch + "/run-" + std::to_string(Id) + ".txt";
  std::string Output = ReadAll(Out, 1 << 20);
  ReplaceAll(Output, ModelPath, Shown);
  ReplaceAll(Messages, ModelPath, Shown);
  std::lock_guard<std::mutex> Lock(FMutex);
  FChild = 0;
  FLast.Seconds = Now() - Started;
  FLast.Output = Output;
  FLast.Messages = Messages;
  FLast.HasPage = !FStopping && WIFEXITED(Status) &&
                  ::access((FScratch + "/run-" + std::to_string(Id) + ".html").c_str(), R_OK) == 0;
  if (FStopping)
    FLast.State = "stopped";
  else if (WIFEXITED(Status) && WEXITSTATUS(Status) == 0)
    FLast.State = "done";
  else
    FLast.State = "failed";
  if (FLast.State == "done" && FLast.Total > 0) FLast.Done = FLast.Total;
}

TRunState TRuns::State(int32_t Id) {
  std::lock_guard<std::mutex> Lock(FMutex);
  if (Id != FLast.Id || Id == 0) return TRunState{};
  return FLast;
}

bool TRuns::Stop(int32_t Id) {
  std::lock_guard<std::mutex> Lock(FMutex);
  if (Id != FLast.Id || FChild <= 0) return false;
  FStopping = true;
  ::kill(-FChild, SIGKILL);
  return true;
}

std::string TRuns::PagePath(int32_t Id) {
  std::lock_guard<std::mutex> Lock(FMutex);
  if (Id == 0 || Id != FLast.Id || !FLast.HasPage) return {};
  return FScratch + "/run-" + std::to_string(Id) + ".html";
}

} // namespace quorin::studio
