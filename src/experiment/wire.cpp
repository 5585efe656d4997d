// The wire format between a worker and the process that started it: a
// replication's result and its seeds as bytes (doubles copied bit for bit,
// so a result travels exactly), and the frames that carry them on a pipe.
#include <cstring>

#include "internal.h"

namespace quorin::detail {

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
  W.Put(uint64_t(R.Collected.size()));
  for (const auto& [Name, Value] : R.Collected) {
    W.Put(Name);
    W.Put(Value);
  }
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
  if (!In.Get(N) || N > Sane) return false;
  R.Collected.resize(N);
  for (auto& [Name, Value] : R.Collected)
    if (!In.Get(Name) || !In.Get(Value)) return false;
  return In.Get(R.ModelTime) && In.Get(R.Seconds) && In.Done();
}

std::string SerialiseSeeds(const std::vector<int64_t>& Seeds) {
  TWriter W;
  W.Put(uint64_t(Seeds.size()));
  for (int64_t S : Seeds)
    W.Put(S);
  return W.FBytes;
}

std::vector<int64_t> DeserialiseSeeds(const std::string& Bytes) {
  TReader In(Bytes);
  uint64_t N = 0;
  std::vector<int64_t> Seeds;
  if (In.Get(N) && N <= Bytes.size()) {
    Seeds.resize(N);
    for (auto& S : Seeds)
      In.Get(S);
  }
  return Seeds;
}

std::string Frame(char Kind, const std::string& Bytes) {
  std::string Frame(1, Kind);
  const uint64_t N = Bytes.size();
  Frame.append(reinterpret_cast<const char*>(&N), sizeof N);
  Frame += Bytes;
  return Frame;
}

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

} // namespace quorin::detail
