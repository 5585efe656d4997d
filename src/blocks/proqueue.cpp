#include "quorin/blocks/proqueue.h"
#include "quorin/kernel/state.h"

#include <cmath>

namespace quorin {

long double PopulationDeviation(long double Sum, long double SumSqr, int32_t N) {
  if (N <= 1) return 0;
  const long double Mean = Sum / N;
  const long double Variance = SumSqr / N - Mean * Mean;
  return Variance > 0 ? std::sqrt(Variance) : 0;
}

template <class TReal> int32_t TProQueue::UpdateContentIn() {
  // Count() first: a virtual call between the loads of the 80-bit sums
  // and their use would spill them to memory and back.
  const int32_t C = Count();
  const TReal Dt = static_cast<TReal>(FSysTime) - FLastTime;
  FSumCountTime.Add<TReal>(C * Dt);
  if (C > 0) FBusyTime.Add<TReal>(Dt);
  if (C > FMaxCount) FMaxCount = C;
  FLastTime = FSysTime;
  return C;
}

int32_t TProQueue::UpdateContent() {
  return detail::StatsInDouble ? UpdateContentIn<double>() : UpdateContentIn<long double>();
}

void TProQueue::EnterStat(TTransaction* Trans) {
  if (UpdateContent() <= 0) ++FZeroEntries;
  Trans->FEnterTime = FSysTime;
  ++FEntries;
}

template <class TReal> void TProQueue::AddResidence(TTransaction* Trans) {
  const TReal R = static_cast<TReal>(FSysTime) - Trans->FEnterTime;
  FSumTime.Add<TReal>(R);
  FSumSqrTime.Add<TReal>(R * R);
  if (R > 0) ++FNonZeroExits;
}

void TProQueue::ExitStat(TTransaction* Trans) {
  if (detail::StatsInDouble) {
    UpdateContentIn<double>();
    AddResidence<double>(Trans);
  } else {
    UpdateContentIn<long double>();
    AddResidence<long double>(Trans);
  }
  ++FExits;
}

void TProQueue::ClearStatistics() {
  TBlock::ClearStatistics();
  FSumTime.Clear();
  FSumSqrTime.Clear();
  FSumCountTime.Clear();
  FBusyTime.Clear();
  FStartTime = FSysTime;
  FLastTime = FSysTime;
  FMaxCount = 0;
  FZeroEntries = 0;
  FNonZeroExits = 0;
  FPreemptExits = 0;
  FTimeLimitExits = 0;
}

long double TProQueue::AverageTime() {
  return FExits > 0 ? FSumTime.Value() / FExits : 0;
}

long double TProQueue::DeviationTime() {
  return PopulationDeviation(FSumTime.Value(), FSumSqrTime.Value(), FExits);
}

long double TProQueue::SAverageTime() {
  return FNonZeroExits > 0 ? FSumTime.Value() / FNonZeroExits : 0;
}

long double TProQueue::SDeviationTime() {
  return PopulationDeviation(FSumTime.Value(), FSumSqrTime.Value(), FNonZeroExits);
}

// The two time-weighted measures count the span since the last update with
// the present content and change no field, so asking twice gives one answer.
long double TProQueue::AverageCount() {
  const long double Now = FSysTime;
  const long double Elapsed = Now - FStartTime;
  if (!(Elapsed > 0)) return 0;
  return (FSumCountTime.Value() + Count() * (Now - FLastTime)) / Elapsed;
}

long double TProQueue::Usage() {
  const long double Now = FSysTime;
  const long double Elapsed = Now - FStartTime;
  if (!(Elapsed > 0)) return 0;
  const long double Open = Count() > 0 ? Now - FLastTime : 0;
  return (FBusyTime.Value() + Open) / Elapsed;
}

int32_t TProQueue::MaxCount() {
  const int32_t C = Count();
  return C > FMaxCount ? C : FMaxCount;
}

} // namespace quorin
