// Disjoint segments of the Lehmer sequence for the streams of replications.
#include <cmath>
#include <unordered_map>

#include "quorin/experiment.h"

namespace quorin {

namespace {
constexpr int64_t M = TMultiRand::Modulus;
constexpr int64_t A = TMultiRand::DefaultMultiplier;
constexpr int64_t Period = M - 1; // A is a primitive root: every state recurs after M - 1 draws
} // namespace

int64_t PowMod(int64_t X, int64_t E) {
  // Both factors stay below 2^31, so every product fits in 64 bits.
  int64_t Result = 1;
  X %= M;
  if (X < 0) X += M;
  while (E > 0) {
    if (E & 1) Result = Result * X % M;
    X = X * X % M;
    E >>= 1;
  }
  return Result;
}

int32_t TStreamPlan::SlotOf(const std::string& Name) const {
  uint64_t H = 14695981039346656037ull; // FNV-1a, 64 bits
  for (unsigned char C : Name) {
    H ^= C;
    H *= 1099511628211ull;
  }
  return StreamSlots > 0 ? int32_t(H % uint64_t(StreamSlots)) : 0;
}

int32_t TStreamPlan::SlotsForNames(const std::vector<std::string>& Names, int32_t Least) {
  int32_t Slots = 1;
  while (Slots < Least || Slots < int32_t(Names.size()))
    Slots *= 2;
  for (; Slots <= (1 << 16); Slots *= 2) {
    TStreamPlan Plan;
    Plan.StreamSlots = Slots;
    std::vector<bool> Taken(size_t(Slots), false);
    bool Apart = true;
    for (const std::string& Name : Names) {
      const int32_t Slot = Plan.SlotOf(Name);
      Apart = Apart && !Taken[size_t(Slot)];
      Taken[size_t(Slot)] = true;
    }
    if (Apart) return Slots;
  }
  return 0;
}

int64_t TStreamPlan::MaxReplications() const {
  if (StreamStride < 1 || StreamSlots < 1) return 0;
  return Period / (StreamStride * int64_t(StreamSlots));
}

int64_t TStreamPlan::Seed(int32_t Replication, int32_t Stream) const {
  const int64_t Segment = int64_t(Replication) * StreamSlots + Stream;
  return BaseSeed * PowMod(A, Segment * StreamStride % Period) % M;
}

std::optional<int64_t> TStreamPlan::Draws(int64_t Start, int64_t Now) const {
  if (Start < 1 || Start >= M || Now < 1 || Now >= M || StreamStride < 1) return std::nullopt;
  // Baby-step giant-step: find n = i * Step + j < StreamStride with
  // Start * A^n = Now. The baby table holds Start * A^j; each giant step
  // multiplies Now by A^-Step. Because A has full period, n is unique below
  // the period, so a hit is the exact number of draws.
  const int64_t Step = int64_t(std::ceil(std::sqrt(double(StreamStride))));
  std::unordered_map<int64_t, int64_t> Baby;
  Baby.reserve(size_t(Step) * 2);
  int64_t X = Start;
  for (int64_t j = 0; j < Step; ++j) {
    Baby.emplace(X, j);
    X = X * A % M;
  }
  const int64_t Back = PowMod(PowMod(A, M - 2), Step); // A^-Step
  int64_t Y = Now;
  for (int64_t i = 0; i * Step < StreamStride; ++i) {
    if (auto It = Baby.find(Y); It != Baby.end()) {
      const int64_t N = i * Step + It->second;
      if (N < StreamStride) return N;
      return std::nullopt;
    }
    Y = Y * Back % M;
  }
  return std::nullopt;
}

} // namespace quorin
