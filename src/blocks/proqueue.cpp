#include "quorin/blocks/proqueue.h"
#include "quorin/detail/future.h"
#include "quorin/detail/run.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quorin {

namespace {
const long double NoValue = std::numeric_limits<long double>::quiet_NaN();

template <class V> auto FindPrty(V& Stats, uint8_t Prty) {
  return std::lower_bound(Stats.begin(), Stats.end(), Prty,
                          [](const TPrtyStatistics& S, uint8_t P) { return S.Prty < P; });
}

void UpdateClass(TPrtyStatistics& S) {
  const long double Now = FSysTime;
  S.SumCountTime += S.Count * (Now - S.LastTime);
  S.LastTime = Now;
}

// The classes seen, less those the block holds none of, the others
// starting afresh now.
void ClearClasses(std::vector<TPrtyStatistics>& Stats) {
  std::erase_if(Stats, [](const TPrtyStatistics& S) { return S.Count <= 0; });
  for (TPrtyStatistics& S : Stats) {
    const TPrtyStatistics Kept = S;
    S = TPrtyStatistics();
    S.Prty = Kept.Prty;
    S.Count = Kept.Count;
    S.LastTime = FSysTime;
  }
}
} // namespace

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
  // Before the block's own figures take the entry: a second class that
  // shows up now finds them as its first class left them.
  if (FWatchClasses) WatchEnter(Trans);
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
  if (FWatchClasses && !FPrtyStats.empty()) ClassExit(Trans);
}

void TProQueue::WatchEnter(TTransaction* Trans) {
  const uint8_t P = Trans->FPrty;
  Trans->FClassPrty = P;
  if (FPrtyStats.empty()) {
    if (FOnlyClass == P) return;
    if (FOnlyClass < 0) {
      FOnlyClass = P;
      return;
    }
    SplitClasses();
  }
  TPrtyStatistics& S = ClassEntry(P);
  ++S.Count;
  ++S.Entries;
}

void TProQueue::SplitClasses() {
  // Everything the block measured so far was of its one class.
  TPrtyStatistics S;
  S.Prty = static_cast<uint8_t>(FOnlyClass);
  S.Count = Count();
  S.Entries = FEntries;
  S.Exits = FExits;
  S.NonZeroExits = FNonZeroExits;
  S.PreemptExits = FPreemptExits;
  S.TimeLimitExits = FTimeLimitExits;
  S.SumTime = FSumTime.Value();
  S.SumSqrTime = FSumSqrTime.Value();
  S.SumCountTime = FSumCountTime.Value();
  S.LastTime = FLastTime;
  FPrtyStats.push_back(S);
}

void TProQueue::ClassExit(const TTransaction* Trans) {
  TPrtyStatistics* S = ClassOf(Trans);
  if (!S) return;
  const long double R = static_cast<long double>(FSysTime) - Trans->FEnterTime;
  --S->Count;
  ++S->Exits;
  S->SumTime += R;
  S->SumSqrTime += R * R;
  if (R > 0) ++S->NonZeroExits;
}

TPrtyStatistics& TProQueue::ClassEntry(uint8_t Prty) {
  auto It = FindPrty(FPrtyStats, Prty);
  if (It == FPrtyStats.end() || It->Prty != Prty) {
    // The first entry of the class: the only allocation of its statistics.
    TPrtyStatistics New;
    New.Prty = Prty;
    New.LastTime = FSysTime;
    It = FPrtyStats.insert(It, New);
  }
  UpdateClass(*It);
  return *It;
}

TPrtyStatistics* TProQueue::ClassOf(const TTransaction* Trans) {
  auto It = FindPrty(FPrtyStats, Trans->FClassPrty);
  if (It == FPrtyStats.end() || It->Prty != Trans->FClassPrty) return nullptr;
  UpdateClass(*It);
  return &*It;
}

const TPrtyStatistics* TProQueue::PrtyStatistics(uint8_t Prty) const {
  auto It = FindPrty(FPrtyStats, Prty);
  return It != FPrtyStats.end() && It->Prty == Prty ? &*It : nullptr;
}

long double TProQueue::PrtyAverageCount(uint8_t Prty) const {
  const TPrtyStatistics* S = PrtyStatistics(Prty);
  const long double Now = FSysTime;
  const long double Elapsed = Now - FStartTime;
  if (!S || !(Elapsed > 0)) return 0;
  return (S->SumCountTime + S->Count * (Now - S->LastTime)) / Elapsed;
}

void TProQueue::DutyChanged() {
  // Not read yet: the clearing at the start of the run reads it.
  if (FDutyCapacity == -2) return;
  const int32_t Now = DutyCapacity();
  if (Now == FDutyCapacity) return;
  FDutyTime += std::max(FDutyCapacity, 0) * (static_cast<long double>(FSysTime) - FDutyLast);
  FDutyLast = FSysTime;
  // A change at the very start of the statistics (a schedule's first
  // value) is no change over the run.
  if (FSysTime > FStartTime) {
    FDutyVaried = true;
    FDutyUnlimited = FDutyUnlimited || Now < 0;
  } else {
    FDutyUnlimited = Now < 0;
  }
  FDutyCapacity = Now;
}

long double TProQueue::MeanDutyCapacity() {
  const long double Now = FSysTime;
  const long double Elapsed = Now - FStartTime;
  if (FDutyUnlimited || FDutyCapacity < 0 || !(Elapsed > 0)) return NoValue;
  return (FDutyTime + FDutyCapacity * (Now - FDutyLast)) / Elapsed;
}

long double TProQueue::DutyShare(long double BusyUnitTime) {
  const long double Now = FSysTime;
  if (FDutyUnlimited || FDutyCapacity < 0) return NoValue;
  const long double Duty = FDutyTime + FDutyCapacity * (Now - FDutyLast);
  return Duty > 0 ? BusyUnitTime / Duty : NoValue;
}

long double TProQueue::ContentTime() {
  return FSumCountTime.Value() + Count() * (static_cast<long double>(FSysTime) - FLastTime);
}

long double TProQueue::BusyTime() {
  const long double Open = Count() > 0 ? static_cast<long double>(FSysTime) - FLastTime : 0;
  return FBusyTime.Value() + Open;
}

void TProQueue::Reset() {
  TBlock::Reset();
  FPrtyStats.clear();
  FOnlyClass = -1;
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
  ClearClasses(FPrtyStats);
  if (FPrtyStats.empty() && Count() == 0) FOnlyClass = -1;
  StartDuty();
}

void TProQueue::StartDuty() {
  FDutyTime = 0;
  FDutyLast = FSysTime;
  FDutyCapacity = DutyCapacity();
  FDutyVaried = false;
  FDutyUnlimited = FDutyCapacity < 0;
}

void TProQueue::FirstInit() {
  TBlock::FirstInit();
  StartDuty();
}

long double TProQueue::AverageTime() {
  return FExits > 0 ? (FSumTime.Value()) / FExits : 0;
}

long double TProQueue::DeviationTime() {
  return PopulationDeviation(FSumTime.Value(), FSumSqrTime.Value(), FExits);
}

long double TProQueue::SAverageTime() {
  return FNonZeroExits > 0 ? (FSumTime.Value()) / FNonZeroExits : 0;
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

namespace quorin {

void TTimeTally::Add(double Time, uint8_t Prty) {
  if (FClasses.empty() && FOnlyClass != Prty) {
    if (FOnlyClass < 0)
      FOnlyClass = Prty;
    else
      SplitClasses();
  }
  if (!FClasses.empty()) {
    auto It = FindPrty(FClasses, Prty);
    if (It == FClasses.end() || It->Prty != Prty) {
      TPrtyStatistics New;
      New.Prty = Prty;
      It = FClasses.insert(It, New);
    }
    ++It->Entries;
    ++It->Exits;
    It->SumTime += Time;
    It->SumSqrTime += static_cast<long double>(Time) * Time;
    if (Time > 0) ++It->NonZeroExits;
    if (Time > It->MaxTime) It->MaxTime = Time;
  }
  if (detail::StatsInDouble) {
    FSum.Add<double>(Time);
    FSumSqr.Add<double>(Time * Time);
  } else {
    FSum.Add<long double>(Time);
    FSumSqr.Add<long double>(static_cast<long double>(Time) * Time);
  }
  if (Time > 0) ++FNonZero;
  if (FCount == 0 || Time > FMax) FMax = Time;
  ++FCount;
}

void TTimeTally::SplitClasses() {
  // Everything observed so far was of the one class.
  TPrtyStatistics S;
  S.Prty = static_cast<uint8_t>(FOnlyClass);
  S.Entries = FCount;
  S.Exits = FCount;
  S.NonZeroExits = FNonZero;
  S.SumTime = FSum.Value();
  S.SumSqrTime = FSumSqr.Value();
  S.MaxTime = FMax;
  FClasses.push_back(S);
}

void TTimeTally::Clear() {
  *this = TTimeTally();
}

long double TTimeTally::Mean() const {
  return FCount > 0 ? (FSum.Value()) / FCount : NoValue;
}

long double TTimeTally::SMean() const {
  return FNonZero > 0 ? (FSum.Value()) / FNonZero : NoValue;
}

long double TTimeTally::Deviation() const {
  return PopulationDeviation(FSum.Value(), FSumSqr.Value(), FCount);
}

} // namespace quorin
