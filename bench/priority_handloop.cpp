// The two-class preemptive-priority model of priority.h as a hand-written
// event loop, the baseline of priority_compare: the binary heap of pending
// events and the ring buffers of handloop.h, one line per class, one server
// with a single slot for the displaced normal customer (only a normal
// customer can be displaced, and only by an urgent one, so there is never
// more than one).
#include <cstdint>

#include "handloop.h"
#include "priority.h"

namespace quorin::bench {
namespace {

enum class TKind : uint8_t { UrgentArrival, NormalArrival, ServiceEnd };

struct TEvent {
  double Time;
  uint64_t Seq;
  TKind Kind;
};

enum class TClass : uint8_t { None, Urgent, Normal };

// A customer at the server: its class, arrival time and whole service time.
struct TInService {
  TClass Class = TClass::None;
  double Arrived = 0.0;
  double Demand = 0.0;
};

// One line: arrival times, the statistics of those who left it, and when it
// last became non-empty (a number from one counter shared by both lines).
struct TLine {
  TWaitLine Waiting;
  uint64_t Since = 0;
  double SumTime = 0.0;
  int64_t Exits = 0;
};

struct TClassSums {
  double SumWait = 0.0;
  int64_t Departed = 0;
};

} // namespace

TPriorityResult RunPriorityHandLoop(int64_t N) {
  const double Start = CpuSeconds();
  TLehmer UrgentRand(UrgentSeed);
  TLehmer NormalRand(NormalSeed);
  TLehmer ServiceRand(ServiceSeed);
  TEventHeap<TEvent> Events;
  TLine UrgentLine;
  TLine NormalLine;
  uint64_t Seq = 0;
  uint64_t Joins = 0; // numbers the moments a line becomes non-empty
  double Clock = 0.0;

  TInService Holder;          // Class None: the server is idle
  double HolderEnd = 0.0;     // service end of the holder
  uint64_t HolderEndSeq = 0;  // its event; other service ends are stale
  TInService Displaced;       // Class None: nobody displaced
  double DisplacedLeft = 0.0; // remaining service of the displaced customer
  double BusySince = 0.0;     // start of the current busy period
  double BusyTime = 0.0;      // total of the finished busy periods
  TClassSums Urgent;
  TClassSums Normal;
  int64_t Departed = 0;

  // The holder's service end, Delay from now.
  auto OrderEnd = [&](double Delay) {
    HolderEnd = Clock + Delay;
    HolderEndSeq = Seq;
    Events.Push({HolderEnd, Seq++, TKind::ServiceEnd});
  };
  // A customer begins service: a fresh service time from the service stream.
  auto Begin = [&](TClass Class, double Arrived) {
    const double Demand = ServiceRand.Exponential(MeanPriorityService);
    Holder = {Class, Arrived, Demand};
    OrderEnd(Demand);
  };
  // The normal holder makes way; its pending service end goes stale.
  auto Displace = [&] {
    Displaced = Holder;
    DisplacedLeft = HolderEnd - Clock;
  };
  auto Resume = [&] {
    Holder = Displaced;
    Displaced.Class = TClass::None;
    OrderEnd(DisplacedLeft);
  };
  auto TakeHead = [&](TLine& Line, TClass Class) {
    const double Arrived = Line.Waiting.Pop();
    Line.SumTime += Clock - Arrived;
    ++Line.Exits;
    Begin(Class, Arrived);
  };
  // An arrival goes straight to the server (zero time in its line) or waits.
  auto Arrive = [&](TLine& Line, TClass Class) {
    const bool Enters =
        Holder.Class == TClass::None || (Class == TClass::Urgent && Holder.Class == TClass::Normal);
    if (!Enters) {
      if (Line.Waiting.Empty()) Line.Since = Joins++;
      Line.Waiting.Push(Clock);
      return;
    }
    ++Line.Exits;
    if (Holder.Class == TClass::None)
      BusySince = Clock;
    else
      Displace();
    Begin(Class, Clock);
  };

  Events.Push({UrgentRand.Exponential(MeanUrgentInterarrival), Seq++, TKind::UrgentArrival});
  Events.Push({NormalRand.Exponential(MeanNormalInterarrival), Seq++, TKind::NormalArrival});
  while (Departed < N && !Events.Empty()) {
    const TEvent E = Events.Pop();
    if (E.Kind == TKind::ServiceEnd && E.Seq != HolderEndSeq) continue; // displaced meanwhile
    Clock = E.Time;
    switch (E.Kind) {
    case TKind::UrgentArrival:
      Events.Push(
          {Clock + UrgentRand.Exponential(MeanUrgentInterarrival), Seq++, TKind::UrgentArrival});
      Arrive(UrgentLine, TClass::Urgent);
      break;
    case TKind::NormalArrival:
      Events.Push(
          {Clock + NormalRand.Exponential(MeanNormalInterarrival), Seq++, TKind::NormalArrival});
      Arrive(NormalLine, TClass::Normal);
      break;
    case TKind::ServiceEnd: {
      TClassSums& Sums = Holder.Class == TClass::Urgent ? Urgent : Normal;
      Sums.SumWait += (Clock - Holder.Arrived) - Holder.Demand;
      ++Sums.Departed;
      ++Departed;
      Holder.Class = TClass::None;
      if (Displaced.Class != TClass::None) {
        // The displaced customer resumes, and makes way again at once if
        // an urgent one waits.
        Resume();
        if (!UrgentLine.Waiting.Empty()) {
          Displace();
          TakeHead(UrgentLine, TClass::Urgent);
        }
      } else if (!NormalLine.Waiting.Empty() &&
                 (UrgentLine.Waiting.Empty() || NormalLine.Since < UrgentLine.Since)) {
        // The normal line is offered first (see priority.h).
        TakeHead(NormalLine, TClass::Normal);
        if (!UrgentLine.Waiting.Empty()) {
          Displace();
          TakeHead(UrgentLine, TClass::Urgent);
        }
      } else if (!UrgentLine.Waiting.Empty()) {
        TakeHead(UrgentLine, TClass::Urgent);
      } else {
        BusyTime += Clock - BusySince;
      }
      break;
    }
    }
  }
  if (Holder.Class != TClass::None) BusyTime += Clock - BusySince;

  TPriorityResult R;
  R.Seconds = CpuSeconds() - Start;
  R.Customers = Departed;
  auto Figures = [](const TClassSums& Sums, const TLine& Line) {
    TClassResult C;
    C.Departed = Sums.Departed;
    C.MeanWait = Sums.Departed > 0 ? Sums.SumWait / double(Sums.Departed) : 0.0;
    C.MeanLine = Line.Exits > 0 ? Line.SumTime / double(Line.Exits) : 0.0;
    return C;
  };
  R.Urgent = Figures(Urgent, UrgentLine);
  R.Normal = Figures(Normal, NormalLine);
  R.Utilisation = Clock > 0.0 ? BusyTime / Clock : 0.0;
  R.EndTime = Clock;
  return R;
}

} // namespace quorin::bench
