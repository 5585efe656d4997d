// The experiment runner: one replication in a worker process, the fork
// executor, the driver that hands out replication numbers, and the result
// tables.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <limits>
#include <map>
#include <memory>
#include <sstream>

#include "internal.h"
#include "quorin/report.h"

namespace quorin {

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point Start) {
  return std::chrono::duration<double>(Clock::now() - Start).count();
}

// Every random stream on the form, depth first in creation order.
void CollectStreams(TComponent* Owner, std::vector<TMultiRand*>& Streams) {
  for (int32_t i = 0; i < Owner->ComponentCount(); ++i) {
    TComponent* C = Owner->Components(i);
    if (auto* S = dynamic_cast<TMultiRand*>(C)) Streams.push_back(S);
    CollectStreams(C, Streams);
  }
}

} // namespace

std::vector<int64_t> SeedStreams(TComponent& Form, const TStreamPlan& Plan, int32_t Replication,
                                 std::string& Error) {
  std::vector<TMultiRand*> Streams;
  CollectStreams(&Form, Streams);
  if (int32_t(Streams.size()) > Plan.StreamSlots) {
    Error = "the model has " + std::to_string(Streams.size()) +
            " random streams; the experiment gives each replication " +
            std::to_string(Plan.StreamSlots) + " (raise StreamSlots)";
    return {};
  }
  for (TMultiRand* S : Streams)
    if (S->GetMultiplier() != TMultiRand::DefaultMultiplier) {
      Error = "stream " + S->DisplayName() + " has the multiplier " +
              std::to_string(S->GetMultiplier()) + "; disjoint seeding needs " +
              std::to_string(TMultiRand::DefaultMultiplier);
      return {};
    }
  std::vector<int32_t> Slots;
  for (size_t k = 0; k < Streams.size(); ++k) {
    if (Plan.Seeding == TSeeding::Position) {
      Slots.push_back(int32_t(k));
      continue;
    }
    // By name: a stream's slot follows from its name alone.
    const std::string& Name = Streams[k]->Name();
    if (Name.empty()) {
      Error = "stream " + Streams[k]->DisplayName() + " has no name; seeding by name needs one";
      return {};
    }
    Slots.push_back(Plan.SlotOf(Name));
    for (size_t j = 0; j < k; ++j)
      if (Slots[j] == Slots[k]) {
        Error = Streams[j]->Name() == Name
                    ? "two streams are named " + Name + "; seeding by name needs distinct names"
                    : "streams " + Streams[j]->Name() + " and " + Name + " share slot " +
                          std::to_string(Slots[k]) + " of " + std::to_string(Plan.StreamSlots) +
                          " (TStreamPlan::SlotsForNames gives a slot count that parts them)";
        return {};
      }
  }
  std::vector<int64_t> Seeds;
  for (size_t k = 0; k < Streams.size(); ++k) {
    Seeds.push_back(Plan.Seed(Replication, Slots[k]));
    Streams[k]->SetSeed(Seeds.back());
  }
  return Seeds;
}

const std::vector<std::string>& ReportColumns() {
  static const std::vector<std::string> Columns{
      "Count",      "Entries",   "Exits",       "Mean cont.",   "Max",
      "Usage",      "Mean time", "S-mean time", "Zero entr.",   "Preempt",
      "Time limit", "Min prty",  "Max prty",    "Mean interval"};
  return Columns;
}

TFigureSpec TFigureSpec::Report(const std::string& Block, const std::string& Column,
                                const std::string& Name) {
  TFigureSpec F;
  F.Name = Name.empty() ? Block + " " + Column : Name;
  F.Block = Block;
  F.Column = Column;
  return F;
}

TFigureSpec TFigureSpec::User(const std::string& Name,
                              std::function<std::optional<double>(TModel& Model)> Compute) {
  TFigureSpec F;
  F.Name = Name;
  F.Compute = std::move(Compute);
  return F;
}

namespace {

// A report cell as a figure value. Means over nothing are missing rather
// than the 0 the blocks answer for them: a mean time needs an exit, the
// mean over non-zero stays needs one such stay (any gives a positive
// value), a generator's mean interval needs two departures.
std::optional<double> ReportValue(const TReportRow& R, const std::string& Column) {
  auto Opt = [](const auto& V) -> std::optional<double> {
    if (!V) return std::nullopt;
    return double(*V);
  };
  if (Column == "Count") return R.Count;
  if (Column == "Entries") return R.Entries;
  if (Column == "Exits") return R.Exits;
  if (Column == "Mean cont.") return Opt(R.MeanContent);
  if (Column == "Max") return Opt(R.MaxContent);
  if (Column == "Usage") return Opt(R.Usage);
  if (Column == "Mean time") return R.Exits > 0 ? Opt(R.MeanTime) : std::nullopt;
  if (Column == "S-mean time")
    return R.SMeanTime && *R.SMeanTime > 0 ? Opt(R.SMeanTime) : std::nullopt;
  if (Column == "Zero entr.") return Opt(R.ZeroEntries);
  if (Column == "Preempt") return Opt(R.PreemptExits);
  if (Column == "Time limit") return Opt(R.TimeLimitExits);
  if (Column == "Min prty") return Opt(R.MinPrty);
  if (Column == "Max prty") return Opt(R.MaxPrty);
  if (Column == "Mean interval") return R.Exits > 1 ? Opt(R.MeanInterval) : std::nullopt;
  return std::nullopt;
}

// Figure values of a model now. A report figure naming no gathered block is
// an error of the experiment's set-up, reported through Error.
std::vector<std::optional<double>>
FigureValues(TModel& Model, const std::vector<TFigureSpec>& Figures, std::string& Error) {
  std::vector<std::optional<double>> Values;
  std::vector<TReportRow> Rows;
  bool HaveRows = false;
  for (const TFigureSpec& F : Figures) {
    std::optional<double> V;
    if (F.Compute) {
      V = F.Compute(Model);
    } else {
      if (!HaveRows) Rows = CollectReport(Model), HaveRows = true;
      auto Row = std::find_if(Rows.begin(), Rows.end(),
                              [&](const TReportRow& R) { return R.Name == F.Block; });
      if (Row == Rows.end()) {
        Error = "figure \"" + F.Name + "\": the model has no block named \"" + F.Block + "\"";
        V = std::nullopt;
      } else {
        V = ReportValue(*Row, F.Column);
      }
    }
    if (V && !std::isfinite(*V)) V = std::nullopt;
    Values.push_back(V);
  }
  return Values;
}

// One replication (or one series run) in this process. Everything the
// model reports through the message handler stops the run and fails the
// replication; so does an exception from a handler or the builder.
TReplicationResult RunHere(const TExperiment& E, int32_t Number, const detail::TSeeded& Seeded,
                           const TFigureSpec* SeriesFigure, double Interval, int32_t Intervals) {
  const auto Start = Clock::now();
  TReplicationResult R;
  R.Number = Number;
  std::vector<std::string> Messages;
  std::string Error;
  auto Previous = SetMessageHandler([&Messages](const std::string& Text) {
    Messages.push_back(Text);
    if (GlobalModel) GlobalModel->Stop();
  });
  std::vector<TMultiRand*> Streams;
  // The form's owner outlives the try: a model whose run an exception broke
  // off is left as it is (see below), the others are destroyed at the end.
  auto Application = std::make_unique<TComponent>(nullptr);
  std::unique_ptr<TTrace> Trace;
  std::ofstream TraceFile;
  try {
    auto* Form = new TComponent(Application.get());
    TReplicationContext Context{Number, Form};
    TModel* Model = E.Build ? E.Build(Context) : nullptr;
    if (!Model) throw std::runtime_error("the model builder answered no model");
    std::string Refused;
    R.Seeds = SeedStreams(*Form, E.Streams, Number, Refused);
    if (!Refused.empty()) throw std::runtime_error(Refused);
    CollectStreams(Form, Streams);
    if (Seeded) Seeded(R.Seeds);

    if (!E.Trace.File.empty() && E.Trace.Replication == Number) {
      TraceFile.open(E.Trace.File);
      if (!TraceFile) throw std::runtime_error("cannot write the trace file " + E.Trace.File);
      Trace = std::make_unique<TTrace>(*Model, TraceFile, E.Trace.Format, E.Trace.From, E.Trace.To);
    }

    if (SeriesFigure) {
      for (int32_t i = 1; i <= Intervals && Messages.empty() && Error.empty(); ++i) {
        const double End = Interval * i;
        Model->Simulate(End);
        if (!Messages.empty()) break;
        if (ModelTime() < End) {
          Error =
              "the run ended at time " + FormatClock(ModelTime()) + ", before " + FormatClock(End);
          break;
        }
        auto V = FigureValues(*Model, {*SeriesFigure}, Error);
        R.Series.push_back(V[0] ? *V[0] : NaN);
        Model->ClearStatistics();
      }
    } else {
      if (E.WarmUp > 0) {
        Model->Simulate(E.WarmUp);
        if (Messages.empty() && ModelTime() < E.WarmUp)
          Error =
              "the run ended at time " + FormatClock(ModelTime()) + ", before the warm-up was over";
        Model->ClearStatistics();
      }
      if (Messages.empty() && Error.empty()) Model->Simulate(E.WarmUp + E.RunLength);
      if (Messages.empty() && Error.empty()) R.Values = FigureValues(*Model, E.Figures, Error);
    }
    R.ModelTime = ModelTime();
    for (size_t k = 0; k < Streams.size(); ++k) {
      auto Drawn = E.Streams.Draws(R.Seeds[k], Streams[k]->GetSeed());
      if (!Drawn) {
        if (Error.empty())
          Error = "stream " + Streams[k]->DisplayName() + " drew " +
                  std::to_string(E.Streams.StreamStride) +
                  " numbers or more (or was reseeded) and left its segment; raise StreamStride";
        R.Draws.push_back(-1);
      } else {
        R.Draws.push_back(*Drawn);
      }
    }
  } catch (const std::exception& X) {
    Error = std::string("exception: ") + X.what();
  } catch (...) {
    Error = "an exception of unknown type";
  }
  if (GlobalModel && GlobalModel->Running()) {
    // An exception broke the run off inside a handler (the model still
    // counts as running), and its lists may be half-way through a change.
    // Destroying such a model could crash and lose the reason, so it is left
    // alone: a worker process ends right after, and a caller of
    // RunReplicationHere is told not to run another model.
    (void)Trace.release();
    (void)Application.release();
  }
  Trace.reset();
  Application.reset();
  SetMessageHandler(Previous);
  if (!Messages.empty()) {
    std::string Text = "the model reported: ";
    for (size_t i = 0; i < Messages.size(); ++i)
      Text += (i ? " | " : "") + Messages[i];
    Error = Error.empty() ? Text : Text + " | " + Error;
  }
  R.Ok = Error.empty();
  if (!R.Ok) {
    R.Error = Error;
    R.Values.assign(E.Figures.size(), std::nullopt);
  }
  R.Seconds = SecondsSince(Start);
  return R;
}

} // namespace

TReplicationResult RunReplicationHere(const TExperiment& Experiment, int32_t Number) {
  return RunHere(Experiment, Number, nullptr, nullptr, 0, 0);
}

namespace detail {

TWork ReplicationWork(const TExperiment& E) {
  return [&E](int32_t Number, const TSeeded& Seeded) {
    return RunHere(E, Number, Seeded, nullptr, 0, 0);
  };
}

TWork SeriesWork(const TExperiment& E, const TFigureSpec& Figure, double Interval,
                 int32_t Intervals) {
  return [&E, &Figure, Interval, Intervals](int32_t Number, const TSeeded& Seeded) {
    return RunHere(E, Number, Seeded, &Figure, Interval, Intervals);
  };
}

std::string Validate(const TExperiment& E, int64_t Replications) {
  if (!E.Build) return "no model builder";
  if (!(E.Level > 0 && E.Level < 1)) return "the confidence level must lie between 0 and 1";
  if (!(E.WarmUp >= 0) || !(E.RunLength >= 0) || !std::isfinite(E.WarmUp + E.RunLength))
    return "the warm-up and the run length must be finite and not negative";
  if (E.Jobs < 1) return "at least one job is needed";
  if (E.Replications < 1) return "at least one replication is needed";
  if (!(E.TimeLimit >= 0)) return "the time limit must not be negative";
  if (E.Streams.BaseSeed < 1 || E.Streams.BaseSeed >= TMultiRand::Modulus)
    return "the base seed must lie in 1...2147483646";
  if (E.Streams.StreamStride < 1 || E.Streams.StreamSlots < 1)
    return "the stream stride and the stream slots must be positive";
  if (Replications > E.Streams.MaxReplications())
    return std::to_string(Replications) + " replications of " +
           std::to_string(E.Streams.StreamSlots) + " streams of " +
           std::to_string(E.Streams.StreamStride) +
           " numbers do not fit disjointly into the generator's period; at most " +
           std::to_string(E.Streams.MaxReplications()) + " do (lower StreamStride or StreamSlots)";
  for (const TFigureSpec& F : E.Figures) {
    if (F.Compute) continue;
    const auto& C = ReportColumns();
    if (std::find(C.begin(), C.end(), F.Column) == C.end())
      return "figure \"" + F.Name + "\": the report has no column \"" + F.Column + "\"";
  }
  for (const std::string& Name : E.TargetFigures) {
    if (std::none_of(E.Figures.begin(), E.Figures.end(),
                     [&](const TFigureSpec& F) { return F.Name == Name; }))
      return "the target names the unknown figure \"" + Name + "\"";
  }
  return "";
}

// ------------------------------------------------------------ serialising

namespace {

class TWriter {
public:
  template <class T> void Put(const T& V) {
    static_assert(std::is_trivially_copyable_v<T>);
    FBytes.append(reinterpret_cast<const char*>(&V), sizeof V);
  }
  void Put(const std::string& S) {
    Put(uint64_t(S.size()));
    FBytes += S;
  }
  std::string FBytes;
};

class TReader {
public:
  explicit TReader(const std::string& Bytes) : FBytes(Bytes) {}
  template <class T> bool Get(T& V) {
    if (FBytes.size() - FAt < sizeof V) return false;
    std::memcpy(&V, FBytes.data() + FAt, sizeof V);
    FAt += sizeof V;
    return true;
  }
  bool Get(std::string& S) {
    uint64_t N = 0;
    if (!Get(N) || FBytes.size() - FAt < N) return false;
    S.assign(FBytes, FAt, N);
    FAt += N;
    return true;
  }
  bool Done() const { return FAt == FBytes.size(); }

private:
  const std::string& FBytes;
  size_t FAt = 0;
};

} // namespace

std::string Serialise(const TReplicationResult& R) {
  TWriter W;
  W.Put(R.Number);
  W.Put(uint8_t(R.Ok));
  W.Put(R.Error);
  W.Put(uint64_t(R.Seeds.size()));
  for (int64_t S : R.Seeds)
    W.Put(S);
  W.Put(uint64_t(R.Draws.size()));
  for (int64_t D : R.Draws)
    W.Put(D);
  W.Put(uint64_t(R.Values.size()));
  for (const auto& V : R.Values) {
    W.Put(uint8_t(V.has_value()));
    W.Put(V ? *V : 0.0);
  }
  W.Put(uint64_t(R.Series.size()));
  for (double S : R.Series)
    W.Put(S);
  W.Put(R.ModelTime);
  W.Put(R.Seconds);
  return W.FBytes;
}

bool Deserialise(const std::string& Bytes, TReplicationResult& R) {
  TReader In(Bytes);
  uint8_t Ok = 0;
  uint64_t N = 0;
  if (!In.Get(R.Number) || !In.Get(Ok) || !In.Get(R.Error)) return false;
  R.Ok = Ok != 0;
  const uint64_t Sane = Bytes.size();
  if (!In.Get(N) || N > Sane) return false;
  R.Seeds.resize(N);
  for (auto& S : R.Seeds)
    if (!In.Get(S)) return false;
  if (!In.Get(N) || N > Sane) return false;
  R.Draws.resize(N);
  for (auto& D : R.Draws)
    if (!In.Get(D)) return false;
  if (!In.Get(N) || N > Sane) return false;
  R.Values.assign(N, std::nullopt);
  for (auto& V : R.Values) {
    uint8_t Has = 0;
    double X = 0;
    if (!In.Get(Has) || !In.Get(X)) return false;
    if (Has) V = X;
  }
  if (!In.Get(N) || N > Sane) return false;
  R.Series.resize(N);
  for (auto& S : R.Series)
    if (!In.Get(S)) return false;
  return In.Get(R.ModelTime) && In.Get(R.Seconds) && In.Done();
}

// ---------------------------------------------------------- fork executor

namespace {

// Frames on a worker's pipe: a kind byte, a length, the bytes.
constexpr char SeedsFrame = 'S', ResultFrame = 'R';

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
  std::string Frame(1, Kind);
  const uint64_t N = Bytes.size();
  Frame.append(reinterpret_cast<const char*>(&N), sizeof N);
  Frame += Bytes;
  return WriteAll(Fd, Frame.data(), Frame.size());
}

// Splits the bytes a worker sent into its frames; false if they are torn.
bool ReadFrames(const std::string& Bytes, std::vector<std::pair<char, std::string>>& Frames) {
  size_t At = 0;
  while (At < Bytes.size()) {
    uint64_t N = 0;
    if (Bytes.size() - At < 1 + sizeof N) return false;
    std::memcpy(&N, Bytes.data() + At + 1, sizeof N);
    if (Bytes.size() - At - 1 - sizeof N < N) return false;
    Frames.emplace_back(Bytes[At], Bytes.substr(At + 1 + sizeof N, N));
    At += 1 + sizeof N + N;
  }
  return true;
}

} // namespace

TForkExecutor::TForkExecutor(TWork Work, int32_t Slots, double TimeLimit, const TStreamPlan& Plan)
    : FWork(std::move(Work)), FSlots(std::max(Slots, 1)), FTimeLimit(TimeLimit), FPlan(Plan) {}

TForkExecutor::~TForkExecutor() {
  Cancel();
}

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
  const pid_t Pid = ::fork();
  if (Pid == 0) {
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
      TWriter W;
      W.Put(uint64_t(Seeds.size()));
      for (int64_t S : Seeds)
        W.Put(S);
      WriteFrame(Out, SeedsFrame, W.FBytes);
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
  std::vector<std::pair<char, std::string>> Frames;
  const bool Whole = ReadFrames(C.Bytes, Frames);
  bool HaveResult = false;
  std::vector<int64_t> Seeds;
  for (const auto& [Kind, Bytes] : Frames) {
    if (Kind == SeedsFrame) {
      TReader In(Bytes);
      uint64_t N = 0;
      if (In.Get(N) && N <= Bytes.size()) {
        Seeds.resize(N);
        for (auto& S : Seeds)
          In.Get(S);
      }
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
    }
    if (C.Fd >= 0) ::close(C.Fd);
  }
  FChildren.clear();
}

// ------------------------------------------------------------------ driver

bool TargetReached(const TExperiment& E, const std::vector<TReplicationResult>& Reps) {
  for (size_t f = 0; f < E.Figures.size(); ++f) {
    const std::string& Name = E.Figures[f].Name;
    if (!E.TargetFigures.empty() &&
        std::find(E.TargetFigures.begin(), E.TargetFigures.end(), Name) == E.TargetFigures.end())
      continue;
    std::vector<double> Values;
    for (const auto& R : Reps)
      if (R.Ok && f < R.Values.size() && R.Values[f]) Values.push_back(*R.Values[f]);
    const TSummary S = Summarise(Values, E.Level);
    if (S.N < 2 || std::isnan(S.HalfWidth)) return false;
    if (S.HalfWidth == 0) continue;
    if (!(S.HalfWidth < E.TargetRelativeHalfWidth * std::fabs(S.Mean))) return false;
  }
  return true;
}

std::vector<TReplicationResult> Drive(const TExperiment& E, TExecutor& Executor, int32_t Limit,
                                      bool Sequential, bool& TargetMet) {
  std::map<int32_t, TReplicationResult> Done;
  std::vector<TReplicationResult> Prefix; // results 0 ... n-1, in order
  int32_t Next = 0;
  int32_t Finished = 0;
  const auto Start = Clock::now();
  TargetMet = false;
  while (true) {
    while (!TargetMet && Executor.Busy() < Executor.Slots() && Next < Limit)
      Executor.Start(Next++);
    if (Executor.Busy() == 0) break;
    for (auto& R : Executor.Wait(-1)) {
      Done.emplace(R.Number, std::move(R));
      ++Finished;
    }
    if (E.OnProgress) E.OnProgress(Finished, Limit, SecondsSince(Start));
    // Only the unbroken run of numbers from 0 counts, so the decision is the
    // same whatever order the workers finish in.
    while (!TargetMet && Done.count(int32_t(Prefix.size()))) {
      auto It = Done.find(int32_t(Prefix.size()));
      Prefix.push_back(std::move(It->second));
      Done.erase(It);
      if (Sequential && int32_t(Prefix.size()) >= E.Replications && TargetReached(E, Prefix))
        TargetMet = true;
    }
    if (TargetMet) {
      Executor.Cancel();
      break;
    }
  }
  return Prefix;
}

TExperimentResult Conclude(const TExperiment& E, std::vector<TReplicationResult> Reps,
                           bool Sequential, bool TargetMet, double WallSeconds) {
  TExperimentResult Result;
  Result.Level = E.Level;
  Result.WarmUp = E.WarmUp;
  Result.RunLength = E.RunLength;
  Result.Sequential = Sequential;
  Result.TargetMet = TargetMet;
  Result.WallSeconds = WallSeconds;
  for (size_t f = 0; f < E.Figures.size(); ++f) {
    TFigureResult F;
    F.Name = E.Figures[f].Name;
    std::vector<double> Values;
    for (const auto& R : Reps) {
      if (!R.Ok) continue;
      if (f < R.Values.size() && R.Values[f])
        Values.push_back(*R.Values[f]);
      else
        ++F.Missing;
    }
    F.Summary = Summarise(Values, E.Level);
    Result.Figures.push_back(F);
  }
  for (const auto& R : Reps)
    Result.Failed += R.Ok ? 0 : 1;
  Result.Replications = std::move(Reps);
  return Result;
}

} // namespace detail

TExperimentResult RunExperiment(const TExperiment& E) {
  const auto Start = Clock::now();
  const bool Sequential = E.TargetRelativeHalfWidth > 0;
  const int32_t Limit = Sequential ? std::max(E.MaxReplications, E.Replications) : E.Replications;
  if (std::string Error = detail::Validate(E, Limit); !Error.empty()) {
    TExperimentResult Refused;
    Refused.Error = Error;
    return Refused;
  }
  detail::TForkExecutor Executor(detail::ReplicationWork(E), E.Jobs, E.TimeLimit, E.Streams);
  bool TargetMet = false;
  auto Reps = detail::Drive(E, Executor, Limit, Sequential, TargetMet);
  return detail::Conclude(E, std::move(Reps), Sequential, TargetMet, SecondsSince(Start));
}

// ---------------------------------------------------------------- printing

namespace {

std::string Number(double V, int Precision = 6) {
  if (std::isnan(V)) return "-";
  char Buffer[64];
  std::snprintf(Buffer, sizeof Buffer, "%.*g", Precision, V);
  return Buffer;
}

} // namespace

std::string ExactText(double V) {
  if (!std::isfinite(V)) return "";
  char Buffer[64];
  const auto Result = std::to_chars(Buffer, Buffer + sizeof Buffer, V);
  return std::string(Buffer, Result.ptr);
}

std::string JsonNumber(double V) {
  return std::isfinite(V) ? ExactText(V) : "null";
}

std::string JsonString(const std::string& S) {
  std::string Q = "\"";
  for (char C : S) {
    if (C == '"' || C == '\\') {
      Q += '\\';
      Q += C;
    } else if (static_cast<unsigned char>(C) < 0x20) {
      char Buffer[8];
      std::snprintf(Buffer, sizeof Buffer, "\\u%04x", unsigned(static_cast<unsigned char>(C)));
      Q += Buffer;
    } else {
      Q += C;
    }
  }
  return Q + "\"";
}

std::string CsvText(const std::string& S) {
  if (S.find_first_of(",\"\n\r") == std::string::npos) return S;
  std::string Q = "\"";
  for (char C : S) {
    if (C == '"') Q += '"';
    Q += C;
  }
  return Q + "\"";
}

std::string SeedList(const std::vector<int64_t>& Seeds) {
  std::string Text;
  for (size_t i = 0; i < Seeds.size(); ++i)
    Text += (i ? " " : "") + std::to_string(Seeds[i]);
  return Text.empty() ? "none" : Text;
}

void PrintFailures(const TExperimentResult& Result, std::ostream& Out) {
  for (const auto& R : Result.Replications)
    if (!R.Ok)
      Out << "Replication " << R.Number << " failed (seeds " << SeedList(R.Seeds)
          << "): " << R.Error << '\n';
}

void PrintFailuresJson(const TExperimentResult& Result, std::ostream& Out) {
  Out << '[';
  bool First = true;
  for (const auto& R : Result.Replications) {
    if (R.Ok) continue;
    Out << (First ? "" : ",") << "{\"replication\":" << R.Number << ",\"seeds\":[";
    for (size_t k = 0; k < R.Seeds.size(); ++k)
      Out << (k ? "," : "") << R.Seeds[k];
    Out << "],\"error\":" << JsonString(R.Error) << "}";
    First = false;
  }
  Out << ']';
}

void PrintExperiment(const TExperimentResult& Result, std::ostream& Out) {
  if (!Result.Error.empty()) {
    Out << "Experiment refused: " << Result.Error << '\n';
    return;
  }
  const int32_t Runs = int32_t(Result.Replications.size());
  Out << Runs << " replication" << (Runs == 1 ? "" : "s") << ", " << Result.Failed
      << " failed; warm-up " << Number(Result.WarmUp) << ", run length " << Number(Result.RunLength)
      << "; " << Number(Result.Level * 100, 4) << " % confidence intervals";
  if (Result.Sequential)
    Out << "; sequential, target " << (Result.TargetMet ? "met" : "NOT met (cap reached)");
  Out << '\n';
  std::vector<std::vector<std::string>> Table{
      {"Figure", "Mean", "+-", "Low", "High", "Std dev", "Min", "Max", "n", "Missing"}};
  for (const TFigureResult& F : Result.Figures) {
    const TSummary& S = F.Summary;
    Table.push_back({F.Name, Number(S.Mean), Number(S.HalfWidth), Number(S.Low), Number(S.High),
                     Number(S.StdDev), Number(S.Min), Number(S.Max), std::to_string(S.N),
                     std::to_string(F.Missing)});
  }
  std::vector<size_t> Width(Table[0].size(), 0);
  for (const auto& Row : Table)
    for (size_t c = 0; c < Row.size(); ++c)
      Width[c] = std::max(Width[c], Row[c].size());
  for (const auto& Row : Table) {
    std::string Line;
    for (size_t c = 0; c < Row.size(); ++c) {
      const std::string Pad(Width[c] - Row[c].size(), ' ');
      Line += (c ? "  " : "") + (c == 0 ? Row[c] + Pad : Pad + Row[c]);
    }
    while (!Line.empty() && Line.back() == ' ')
      Line.pop_back();
    Out << Line << '\n';
  }
  PrintFailures(Result, Out);
}

void PrintExperimentCsv(const TExperimentResult& Result, std::ostream& Out) {
  Out << "figure,mean,half_width,low,high,std_dev,min,max,n,missing,level\n";
  for (const TFigureResult& F : Result.Figures) {
    const TSummary& S = F.Summary;
    Out << CsvText(F.Name) << ',' << ExactText(S.Mean) << ',' << ExactText(S.HalfWidth) << ','
        << ExactText(S.Low) << ',' << ExactText(S.High) << ',' << ExactText(S.StdDev) << ','
        << ExactText(S.Min) << ',' << ExactText(S.Max) << ',' << S.N << ',' << F.Missing << ','
        << ExactText(Result.Level) << '\n';
  }
}

void PrintExperimentJson(const TExperimentResult& Result, std::ostream& Out) {
  Out << "{\"level\":" << JsonNumber(Result.Level) << ",\"warmup\":" << JsonNumber(Result.WarmUp)
      << ",\"run_length\":" << JsonNumber(Result.RunLength)
      << ",\"replications\":" << Result.Replications.size() << ",\"failed\":" << Result.Failed
      << ",\"sequential\":" << (Result.Sequential ? "true" : "false")
      << ",\"target_met\":" << (Result.TargetMet ? "true" : "false");
  if (!Result.Error.empty()) Out << ",\"error\":" << JsonString(Result.Error);
  Out << ",\"figures\":[";
  for (size_t f = 0; f < Result.Figures.size(); ++f) {
    const TFigureResult& F = Result.Figures[f];
    const TSummary& S = F.Summary;
    Out << (f ? "," : "") << "{\"name\":" << JsonString(F.Name)
        << ",\"mean\":" << JsonNumber(S.Mean) << ",\"half_width\":" << JsonNumber(S.HalfWidth)
        << ",\"low\":" << JsonNumber(S.Low) << ",\"high\":" << JsonNumber(S.High)
        << ",\"std_dev\":" << JsonNumber(S.StdDev) << ",\"min\":" << JsonNumber(S.Min)
        << ",\"max\":" << JsonNumber(S.Max) << ",\"n\":" << S.N << ",\"missing\":" << F.Missing
        << "}";
  }
  Out << "],\"failures\":";
  PrintFailuresJson(Result, Out);
  Out << "}\n";
}

void PrintReplicationsCsv(const TExperimentResult& Result, std::ostream& Out) {
  Out << "replication,ok,seeds,figure,value,error\n";
  for (const auto& R : Result.Replications) {
    for (size_t f = 0; f < Result.Figures.size(); ++f) {
      // A missing value is NaN here, an empty cell in the table.
      const double V = f < R.Values.size() ? R.Values[f].value_or(NaN) : NaN;
      Out << R.Number << ',' << (R.Ok ? 1 : 0) << ',' << SeedList(R.Seeds) << ','
          << CsvText(Result.Figures[f].Name) << ',' << ExactText(V) << ',' << CsvText(R.Error)
          << '\n';
    }
  }
}

} // namespace quorin
