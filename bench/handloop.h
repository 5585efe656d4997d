// The pieces of the hand-written event loops: an array-based binary heap of
// pending events ordered by (time, sequence number) and a growable ring
// buffer of the arrival times of waiting customers. No library code.
#pragma once

#include <cstddef>
#include <vector>

namespace quorin::bench {

// Min-heap on (Time, Seq), stored in an array with the root at index 0.
// TEvent has the fields double Time and an unsigned Seq, unique per event.
template <class TEvent> class TEventHeap {
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
  static bool Earlier(const TEvent& A, const TEvent& B) {
    return A.Time < B.Time || (A.Time == B.Time && A.Seq < B.Seq);
  }

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

} // namespace quorin::bench
