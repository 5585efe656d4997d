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

int32_t TProQueue::UpdateContent() {
  // Count() first: a virtual call between the loads of the 80-bit sums
  // and their use would spill them to memory and back.
  const int32_t C = Count();
  if (detail::FastRun) {
    const double Dt = FSysTime - FLastTime;
    FSumCountTimeD += C * Dt;
    if (C > 0) FBusyTimeD += Dt;
    if (C > FMaxCount) FMaxCount = C;
    FLastTime = FSysTime;
    return C;
  }
  const long double Now = FSysTime;
  const long double Dt = Now - FLastTime;
  FSumCountTime += C * Dt;
  if (C > 0) FBusyTime += Dt;
  if (C > FMaxCount) FMaxCount = C;
  FLastTime = FSysTime;
  return C;
}

void TProQueue::EnterStat(TTransaction* Trans) {
  if (UpdateContent() <= 0) ++FZeroEntries;
  Trans->FEnterTime = FSysTime;
  ++FEntries;
}

void TProQueue::ExitStat(TTransaction* Trans) {
  UpdateContent();
  if (detail::FastRun) {
    const double R = FSysTime - Trans->FEnterTime;
    FSumTimeD += R;
    FSumSqrTimeD += R * R;
    if (R > 0) ++FNonZeroExits;
    ++FExits;
    return;
  }
  const long double R = static_cast<long double>(FSysTime) - Trans->FEnterTime;
  FSumTime += R;
  FSumSqrTime += R * R;
  if (R > 0) ++FNonZeroExits;
  ++FExits;
}

void TProQueue::ClearStatistics() {
  TBlock::ClearStatistics();
  FSumTime = 0;
  FSumSqrTime = 0;
  FSumCountTime = 0;
  FBusyTime = 0;
  FSumTimeD = 0;
  FSumSqrTimeD = 0;
  FSumCountTimeD = 0;
  FBusyTimeD = 0;
  FStartTime = FSysTime;
  FLastTime = FSysTime;
  FMaxCount = 0;
  FZeroEntries = 0;
  FNonZeroExits = 0;
  FPreemptExits = 0;
  FTimeLimitExits = 0;
}

long double TProQueue::AverageTime() {
  return FExits > 0 ? (FSumTime + FSumTimeD) / FExits : 0;
}

long double TProQueue::DeviationTime() {
  return PopulationDeviation(FSumTime + FSumTimeD, FSumSqrTime + FSumSqrTimeD, FExits);
}

long double TProQueue::SAverageTime() {
  return FNonZeroExits > 0 ? (FSumTime + FSumTimeD) / FNonZeroExits : 0;
}

long double TProQueue::SDeviationTime() {
  return PopulationDeviation(FSumTime + FSumTimeD, FSumSqrTime + FSumSqrTimeD, FNonZeroExits);
}

// The two time-weighted measures count the span since the last update with
// the present content and change no field, so asking twice gives one answer.
long double TProQueue::AverageCount() {
  const long double Now = FSysTime;
  const long double Elapsed = Now - FStartTime;
  if (!(Elapsed > 0)) return 0;
  return (FSumCountTime + FSumCountTimeD + Count() * (Now - FLastTime)) / Elapsed;
}

long double TProQueue::Usage() {
  const long double Now = FSysTime;
  const long double Elapsed = Now - FStartTime;
  if (!(Elapsed > 0)) return 0;
  const long double Open = Count() > 0 ? Now - FLastTime : 0;
  return (FBusyTime + FBusyTimeD + Open) / Elapsed;
}

int32_t TProQueue::MaxCount() {
  const int32_t C = Count();
  return C > FMaxCount ? C : FMaxCount;
}

} // namespace quorin
