// M/M/1 and M/M/c as a hand-written event loop, the baseline of the
// whole-model comparisons: an array-based binary heap of pending events ordered by
// (time, sequence number) and a growable ring buffer of the arrival times of
// waiting customers.
#include <chrono>
#include <cstdint>
#include <vector>

#include "mm1.h"

namespace quorin::bench {
namespace {

enum class TKind : uint8_t { Arrival, Departure };

struct TEvent {
  double Time;
  uint64_t Seq;
  TKind Kind;
};

inline bool Earlier(const TEvent& A, const TEvent& B) {
  return A.Time < B.Time || (A.Time == B.Time && A.Seq < B.Seq);
}

// Min-heap on (Time, Seq), stored in an array with the root at index 0.
class TEventHeap {
public:
  bool Empty() const { return FItems.empty(); }

  void Push(const TEvent& E) {
    FItems.push_back(E);
    std::size_t I = FItems.size() - 1;
    while (I > 0) {
      const std::size_t Parent = (I - 1) / 2;
      if (!Earlier(E, FItems[Parent])) break;
      FItems[I] = FItems[Parent];
      I = Parent;
    }
    FItems[I] = E;
  }

  TEvent Pop() {
    const TEvent Top = FItems.front();
    const TEvent Last = FItems.back();
    FItems.pop_back();
    const std::size_t N = FItems.size();
    if (N > 0) {
      std::size_t I = 0;
      for (;;) {
        std::size_t Child = 2 * I + 1;
        if (Child >= N) break;
        if (Child + 1 < N && Earlier(FItems[Child + 1], FItems[Child])) ++Child;
        if (!Earlier(FItems[Child], Last)) break;
        FItems[I] = FItems[Child];
        I = Child;
      }
      FItems[I] = Last;
    }
    return Top;
  }

private:
  std::vector<TEvent> FItems;
};

// First in, first out queue of arrival times; the capacity doubles when full.
class TWaitLine {
public:
  TWaitLine() : FItems(64) {}
  bool Empty() const { return FCount == 0; }

  void Push(double ArrivalTime) {
    if (FCount == FItems.size()) Grow();
    FItems[(FHead + FCount) & (FItems.size() - 1)] = ArrivalTime;
    ++FCount;
  }

  double Pop() {
    const double Value = FItems[FHead];
    FHead = (FHead + 1) & (FItems.size() - 1);
    --FCount;
    return Value;
  }

private:
  void Grow() {
    std::vector<double> Bigger(FItems.size() * 2);
    for (std::size_t i = 0; i < FCount; ++i)
      Bigger[i] = FItems[(FHead + i) & (FItems.size() - 1)];
    FItems.swap(Bigger);
    FHead = 0;
  }

  std::vector<double> FItems; // size is a power of two
  std::size_t FHead = 0;
  std::size_t FCount = 0;
};

} // namespace

TRunResult RunHandLoop(int64_t N, int32_t Servers, double Service) {
  const auto Start = std::chrono::steady_clock::now();
  TLehmer Rand;
  TEventHeap Events;
  TWaitLine Waiting;
  uint64_t Seq = 0;
  double Clock = 0.0;
  int32_t Busy = 0;        // servers busy
  double LastChange = 0.0; // when Busy last changed
  double BusyArea = 0.0;   // integral of Busy over time
  double SumWait = 0.0;
  int64_t Served = 0; // customers who began service
  int64_t Departed = 0;

  Events.Push({Rand.Exponential(MeanInterarrival), Seq++, TKind::Arrival});
  while (Departed < N && !Events.Empty()) {
    const TEvent E = Events.Pop();
    Clock = E.Time;
    if (E.Kind == TKind::Arrival) {
      Events.Push({Clock + Rand.Exponential(MeanInterarrival), Seq++, TKind::Arrival});
      if (Busy < Servers) {
        BusyArea += Busy * (Clock - LastChange);
        LastChange = Clock;
        ++Busy;
        ++Served; // waited zero
        Events.Push({Clock + Rand.Exponential(Service), Seq++, TKind::Departure});
      } else {
        Waiting.Push(Clock);
      }
    } else {
      ++Departed;
      if (!Waiting.Empty()) {
        SumWait += Clock - Waiting.Pop();
        ++Served;
        Events.Push({Clock + Rand.Exponential(Service), Seq++, TKind::Departure});
      } else {
        BusyArea += Busy * (Clock - LastChange);
        LastChange = Clock;
        --Busy;
      }
    }
  }
  BusyArea += Busy * (Clock - LastChange);

  TRunResult R;
  R.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
  R.Customers = Departed;
  R.MeanWait = Served > 0 ? SumWait / double(Served) : 0.0;
  R.Utilisation = Clock > 0.0 ? BusyArea / Clock / Servers : 0.0;
  R.EndTime = Clock;
  return R;
}

} // namespace quorin::bench
