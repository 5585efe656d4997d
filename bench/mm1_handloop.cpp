// M/M/1 and M/M/c as a hand-written event loop, the baseline of the
// whole-model comparisons: the binary heap of pending events and the ring
// buffer of waiting customers of handloop.h.
#include <cstdint>

#include "handloop.h"
#include "mm1.h"

namespace quorin::bench {
namespace {

enum class TKind : uint8_t { Arrival, Departure };

struct TEvent {
  double Time;
  uint64_t Seq;
  TKind Kind;
};

} // namespace

TRunResult RunHandLoop(int64_t N, int32_t Servers, double Service) {
  const double Start = CpuSeconds();
  TLehmer Rand;
  TEventHeap<TEvent> Events;
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
  R.Seconds = CpuSeconds() - Start;
  R.Customers = Departed;
  R.MeanWait = Served > 0 ? SumWait / double(Served) : 0.0;
  R.Utilisation = Clock > 0.0 ? BusyArea / Clock / Servers : 0.0;
  R.EndTime = Clock;
  return R;
}

} // namespace quorin::bench
