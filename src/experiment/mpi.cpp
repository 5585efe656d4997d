// The experiment over MPI ranks: rank 0 hands out replication numbers and
// gathers results; every rank runs its replications in forked workers, as a
// local run does, so the results are the same replication by replication.
#include <mpi.h>
#include <unistd.h>

#include <chrono>

#include "internal.h"

namespace quorin {

namespace {

constexpr int WorkTag = 1;   // rank 0 -> worker: a replication number, or -1 to stop
constexpr int ResultTag = 2; // worker -> rank 0: a serialised result

// Rank 0's view: its own forked worker plus one slot per other rank.
class TMpiExecutor : public detail::TExecutor {
public:
  TMpiExecutor(const TExperiment& E, int Ranks)
      : FLocal(detail::ReplicationWork(E), 1, E.TimeLimit, E.Streams),
        FRemote(size_t(Ranks > 1 ? Ranks - 1 : 0), -1) {}
  int32_t Slots() const override { return 1 + int32_t(FRemote.size()); }
  int32_t Busy() const override {
    int32_t N = FLocal.Busy();
    for (int32_t Number : FRemote)
      N += Number >= 0;
    return N;
  }
  void Start(int32_t Number) override {
    if (FLocal.Busy() == 0) {
      FLocal.Start(Number);
      return;
    }
    for (size_t i = 0; i < FRemote.size(); ++i)
      if (FRemote[i] < 0) {
        FRemote[i] = Number;
        MPI_Send(&Number, 1, MPI_INT32_T, int(i) + 1, WorkTag, MPI_COMM_WORLD);
        return;
      }
  }
  std::vector<TReplicationResult> Wait(int TimeoutMs) override {
    const auto Start = std::chrono::steady_clock::now();
    std::vector<TReplicationResult> Done;
    while (Done.empty()) {
      for (auto& R : FLocal.Wait(FLocal.Busy() ? 1 : 0))
        Done.push_back(std::move(R));
      int Flag = 0;
      MPI_Status Status;
      MPI_Iprobe(MPI_ANY_SOURCE, ResultTag, MPI_COMM_WORLD, &Flag, &Status);
      if (Flag) Done.push_back(Receive(Status));
      if (!Done.empty() || Busy() == 0) break;
      if (!FLocal.Busy()) ::usleep(1000);
      if (TimeoutMs >= 0 && std::chrono::steady_clock::now() - Start >=
                                std::chrono::milliseconds(TimeoutMs))
        break;
    }
    return Done;
  }
  void Cancel() override {
    FLocal.Cancel();
    // The other ranks finish what they run; their results are dropped.
    for (size_t i = 0; i < FRemote.size(); ++i)
      if (FRemote[i] >= 0) {
        MPI_Status Status;
        MPI_Probe(int(i) + 1, ResultTag, MPI_COMM_WORLD, &Status);
        Receive(Status);
      }
  }
  void StopRanks() {
    const int32_t Stop = -1;
    for (size_t i = 0; i < FRemote.size(); ++i)
      MPI_Send(&Stop, 1, MPI_INT32_T, int(i) + 1, WorkTag, MPI_COMM_WORLD);
  }

private:
  TReplicationResult Receive(const MPI_Status& Status) {
    int Size = 0;
    MPI_Get_count(&Status, MPI_BYTE, &Size);
    std::string Bytes(size_t(Size), '\0');
    MPI_Recv(Bytes.data(), Size, MPI_BYTE, Status.MPI_SOURCE, ResultTag, MPI_COMM_WORLD,
             MPI_STATUS_IGNORE);
    const size_t Slot = size_t(Status.MPI_SOURCE - 1);
    const int32_t Number = Slot < FRemote.size() ? FRemote[Slot] : -1;
    if (Slot < FRemote.size()) FRemote[Slot] = -1;
    TReplicationResult R;
    if (!detail::Deserialise(Bytes, R) || R.Number != Number) {
      R = TReplicationResult{};
      R.Number = Number;
      R.Error = "rank " + std::to_string(Status.MPI_SOURCE) + " sent a torn result";
    }
    return R;
  }
  detail::TForkExecutor FLocal;
  std::vector<int32_t> FRemote; // replication each other rank runs, -1 when idle
};

} // namespace

TExperimentResult RunExperimentMpi(const TExperiment& E) {
  int Rank = 0, Ranks = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &Rank);
  MPI_Comm_size(MPI_COMM_WORLD, &Ranks);
  const auto Start = std::chrono::steady_clock::now();
  const bool Sequential = E.TargetRelativeHalfWidth > 0;
  const int32_t Limit = Sequential ? std::max(E.MaxReplications, E.Replications) : E.Replications;
  TExperiment Checked = E;
  Checked.Jobs = 1;
  const std::string Error = detail::Validate(Checked, Limit);
  if (Rank != 0) {
    // A refused experiment is refused on every rank alike: rank 0 sends
    // nothing but the stop.
    detail::TForkExecutor Local(detail::ReplicationWork(E), 1, E.TimeLimit, E.Streams);
    for (;;) {
      int32_t Number = -1;
      MPI_Recv(&Number, 1, MPI_INT32_T, 0, WorkTag, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
      if (Number < 0) break;
      Local.Start(Number);
      std::vector<TReplicationResult> Done;
      while (Done.empty())
        Done = Local.Wait(-1);
      const std::string Bytes = detail::Serialise(Done.front());
      MPI_Send(Bytes.data(), int(Bytes.size()), MPI_BYTE, 0, ResultTag, MPI_COMM_WORLD);
    }
    return TExperimentResult{};
  }
  TMpiExecutor Executor(E, Ranks);
  if (!Error.empty()) {
    Executor.StopRanks();
    TExperimentResult Refused;
    Refused.Error = Error;
    return Refused;
  }
  bool TargetMet = false;
  int32_t Interrupted = 0;
  auto Reps = detail::Drive(E, Executor, Limit, Sequential, TargetMet, Interrupted);
  Executor.StopRanks();
  const double Seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
  return detail::Conclude(E, std::move(Reps), Sequential, TargetMet, Seconds);
}

} // namespace quorin
