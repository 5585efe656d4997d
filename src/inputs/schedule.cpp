// Schedules, Poisson arrivals at a scheduled rate, and the drivers that make
// capacities and gates follow a schedule.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <sstream>

#include "csv.h"
#include "quorin/classinfo.h"
#include "quorin/inputs.h"

namespace quorin {

namespace {

constexpr double Infinity = std::numeric_limits<double>::infinity();
// Activation times lie in [0, 10000000000).
constexpr double Horizon = 10000000000.0;
// The least span between two step boundaries of a repeating schedule: near
// the horizon, boundaries closer than a few units in the last place of the
// clock fall on one double, and the search for the next change could not
// move past them.
const double MinSpan = 4 * (std::nextafter(Horizon, Infinity) - Horizon);

std::string NumberText(double V) {
  char Buffer[32];
  const auto R = std::to_chars(Buffer, Buffer + sizeof Buffer, V);
  return std::string(Buffer, R.ptr);
}

bool ReadNumber(const std::string& Word, double& V) {
  const char* First = Word.data();
  if (!Word.empty() && *First == '+') ++First;
  const auto [End, Ec] = std::from_chars(First, Word.data() + Word.size(), V);
  return !Word.empty() && Ec == std::errc() && End == Word.data() + Word.size() &&
         std::isfinite(V);
}

} // namespace

std::optional<TSchedule> TSchedule::Make(std::vector<TStep> Steps, double Period,
                                         std::string& Error) {
  if (!std::isfinite(Period) || Period < 0) {
    Error = "the period must be 0 (no repetition) or a positive time";
    return std::nullopt;
  }
  if (Steps.empty()) {
    Error = "a schedule needs at least one step";
    return std::nullopt;
  }
  if (Steps.front().Time != 0) {
    Error = "the first step must start at time 0, not " + NumberText(Steps.front().Time);
    return std::nullopt;
  }
  for (size_t i = 0; i < Steps.size(); ++i) {
    const TStep& S = Steps[i];
    if (!std::isfinite(S.Time) || S.Time < 0 || S.Time >= Horizon) {
      Error = "step " + std::to_string(i + 1) + ": the time must lie in 0...10000000000";
      return std::nullopt;
    }
    if (i > 0 && S.Time <= Steps[i - 1].Time) {
      Error = "step " + std::to_string(i + 1) + ": times must increase (" + NumberText(S.Time) +
              " follows " + NumberText(Steps[i - 1].Time) + ")";
      return std::nullopt;
    }
    if (Period > 0 && S.Time >= Period) {
      Error = "step " + std::to_string(i + 1) + ": the time " + NumberText(S.Time) +
              " is not below the period " + NumberText(Period);
      return std::nullopt;
    }
    if (!std::isfinite(S.Value) || S.Value < 0) {
      Error = "step " + std::to_string(i + 1) + ": the value must be 0 or more";
      return std::nullopt;
    }
  }
  if (Period > 0) {
    // Every span of the pattern, the wrap from the last step to the period
    // included, must stay apart at the horizon.
    if (Period < MinSpan) {
      Error = "the period " + NumberText(Period) + " is too short to be told apart from the " +
              "next at time 10000000000 (at least " + NumberText(MinSpan) + ")";
      return std::nullopt;
    }
    const std::string Apart = " to be told apart at time 10000000000 (at least " +
                              NumberText(MinSpan) + " between them)";
    for (size_t i = 1; i < Steps.size(); ++i)
      if (Steps[i].Time - Steps[i - 1].Time < MinSpan) {
        Error = "step " + std::to_string(i + 1) + ": the time " + NumberText(Steps[i].Time) +
                " lies too close to the step before" + Apart;
        return std::nullopt;
      }
    if (Period - Steps.back().Time < MinSpan) {
      Error = "the period " + NumberText(Period) + " lies too close to the last step's time" +
              Apart;
      return std::nullopt;
    }
  }
  TSchedule R;
  R.FSteps = std::move(Steps);
  R.FPeriod = Period;
  R.FCumulative.assign(R.FSteps.size(), 0.0);
  for (size_t i = 1; i < R.FSteps.size(); ++i)
    R.FCumulative[i] = R.FCumulative[i - 1] +
                       R.FSteps[i - 1].Value * (R.FSteps[i].Time - R.FSteps[i - 1].Time);
  if (Period > 0)
    R.FPeriodIntegral =
        R.FCumulative.back() + R.FSteps.back().Value * (Period - R.FSteps.back().Time);
  return R;
}

std::optional<TSchedule> TSchedule::Parse(const std::string& Source, double Period,
                                          std::string& Error) {
  std::vector<TStep> Steps;
  std::stringstream In(Source);
  std::string Pair;
  int Index = 0;
  while (std::getline(In, Pair, ',')) {
    ++Index;
    std::istringstream Words(Pair);
    std::string T, V, Extra;
    Words >> T >> V >> Extra;
    TStep S{};
    if (T.empty() || V.empty() || !Extra.empty() || !ReadNumber(T, S.Time) ||
        !ReadNumber(V, S.Value)) {
      Error = "step " + std::to_string(Index) + " ('" + Pair +
              "') must be a time and a value, such as \"0 2, 480 5\"";
      return std::nullopt;
    }
    Steps.push_back(S);
  }
  return Make(std::move(Steps), Period, Error);
}

std::optional<TSchedule> TSchedule::ReadCsv(const std::string& Path, double Period,
                                            std::string& Error) {
  std::string Problem;
  std::vector<TCsvColumn> Columns;
  if (!detail::ReadCsvColumns(Path, {0, 1}, Columns, Problem)) {
    Error = Problem;
    return std::nullopt;
  }
  const TCsvColumn& Times = Columns[0];
  std::vector<TStep> Steps;
  for (size_t i = 0; i < Times.Values.size(); ++i)
    Steps.push_back({Times.Values[i], Columns[1].Values[i]});
  auto R = Make(std::move(Steps), Period, Problem);
  if (!R) {
    // Name the line of the step at fault: the messages of Make begin
    // "step N: " when one step is.
    Error = Path;
    if (Problem.rfind("step ", 0) == 0) {
      const size_t Step = std::strtoul(Problem.c_str() + 5, nullptr, 10);
      if (Step >= 1 && Step <= Times.Lines.size()) {
        Error += ':';
        Error += std::to_string(Times.Lines[Step - 1]);
      }
    }
    Error += ": ";
    Error += Problem;
  }
  return R;
}

std::string TSchedule::Text() const {
  std::string Out;
  // Appended piece by piece, as in WriteColumns (a false LTO warning).
  for (const TStep& S : FSteps) {
    if (!Out.empty()) Out += ", ";
    Out += NumberText(S.Time);
    Out += ' ';
    Out += NumberText(S.Value);
  }
  return Out;
}

size_t TSchedule::StepAt(double X) const {
  // The last step whose time is X or before.
  const auto It = std::upper_bound(FSteps.begin(), FSteps.end(), X,
                                   [](double V, const TStep& S) { return V < S.Time; });
  return size_t(It - FSteps.begin()) - 1;
}

double TSchedule::LocalIntegral(double X) const {
  const size_t i = StepAt(X);
  return FCumulative[i] + FSteps[i].Value * (X - FSteps[i].Time);
}

double TSchedule::ValueAt(double T) const {
  if (!(T > 0)) return FSteps.front().Value;
  const double X = FPeriod > 0 ? std::fmod(T, FPeriod) : T;
  return FSteps[StepAt(X)].Value;
}

double TSchedule::NextChange(double T) const {
  if (FPeriod <= 0) {
    const auto It = std::upper_bound(FSteps.begin(), FSteps.end(), T,
                                     [](double V, const TStep& S) { return V < S.Time; });
    return It == FSteps.end() ? Infinity : It->Time;
  }
  // Rounding of Base + X may put Next at T itself; the boundary after it
  // then. Boundaries lie several units in the last place apart (Make sees
  // to it), so a few steps find one; the last resort still moves on.
  double From = T;
  for (int Try = 0; Try < 8; ++Try) {
    const double Base = std::floor(From / FPeriod) * FPeriod;
    const double X = From - Base;
    const auto It = std::upper_bound(FSteps.begin(), FSteps.end(), X,
                                     [](double V, const TStep& S) { return V < S.Time; });
    const double Next = It == FSteps.end() ? Base + FPeriod : Base + It->Time;
    if (Next > T) return Next;
    From = std::nextafter(std::max(From, Next), Infinity);
  }
  return From;
}

double TSchedule::Integral(double A, double B) const {
  if (!(B > A)) return 0.0;
  if (FPeriod <= 0) return LocalIntegral(B) - LocalIntegral(A);
  auto Upto = [this](double T) {
    const double Periods = std::floor(T / FPeriod);
    return Periods * FPeriodIntegral + LocalIntegral(T - Periods * FPeriod);
  };
  return Upto(B) - Upto(A);
}

double TSchedule::TimeOfIntegral(double From, double Amount) const {
  // Walk whole periods first, then step by step; within a step of value v
  // the integral grows linearly, so the answer there is exact.
  double T = std::max(0.0, From);
  double Left = Amount;
  if (FPeriod > 0 && FPeriodIntegral > 0 && Left > FPeriodIntegral) {
    const double Whole = std::floor(Left / FPeriodIntegral) - 1;
    if (Whole > 0) {
      T += Whole * FPeriod;
      Left -= Whole * FPeriodIntegral;
    }
  }
  if (FPeriod > 0 && FPeriodIntegral <= 0) return Infinity;
  // At most a period's steps (plus one) pass before the rest is used up.
  for (size_t Guard = 0; Guard < 2 * FSteps.size() + 4; ++Guard) {
    const double Value = ValueAt(T);
    const double End = NextChange(T);
    if (Value > 0) {
      const double Reach = T + Left / Value;
      if (Reach <= End) return Reach;
      Left -= Value * (End - T);
    }
    if (std::isinf(End)) return Infinity;
    T = End;
  }
  return T + Left / std::max(ValueAt(T), std::numeric_limits<double>::min());
}

std::optional<double> NextArrivalDelay(const TSchedule& Rate, TMultiRand& Stream, double Now) {
  const double Amount = -std::log(Stream.Uni01()); // a unit exponential variate
  const double At = Rate.TimeOfIntegral(Now, Amount);
  if (!(At < Horizon)) return std::nullopt;
  return std::max(0.0, At - Now);
}

void SetArrivalRate(TGenerator& Generator, const TSchedule& Rate, TMultiRand& Stream) {
  auto Next = [&Generator, Rate, &Stream] {
    if (const auto D = NextArrivalDelay(Rate, Stream, ModelTime())) Generator.NextTime(*D);
  };
  Generator.OnBeforeTimeGoOn = [Next](TAggregate*) { Next(); };
  Generator.OnAfterGeneration = [Next](TBlock*, TTransaction*) { Next(); };
}

// ------------------------------------------------------------------ drivers

TScheduleDriver::TScheduleDriver(TComponent* AOwner, TBlock& Block, const TSchedule& Schedule,
                                 void (*Follow)(TBlock& Block, double Value))
    : TScheduler(AOwner), FBlock(&Block), FSchedule(Schedule), FFollow(Follow) {}

bool TScheduleDriver::CanFollow(const TBlock& Block) {
  const TClassTraits& Traits = TraitsOf(Block);
  return Traits.Schedule != TScheduleUse::None && Traits.FollowSchedule;
}

TScheduleDriver* TScheduleDriver::Attach(TBlock& Block, const TSchedule& Schedule,
                                         std::string& Error) {
  if (!CanFollow(Block)) {
    Error = "a schedule drives the capacity of a TQueue, TStack or TStorage, the duty of a "
            "TServer or the opening of a TGate";
    return nullptr;
  }
  const TClassTraits& Traits = TraitsOf(Block);
  const TScheduleUse Target = Traits.Schedule;
  for (const TSchedule::TStep& S : Schedule.Steps()) {
    if (Target == TScheduleUse::Capacity && (S.Value != std::floor(S.Value) || S.Value > 2147483647.0)) {
      Error = "a capacity must be a whole number, not " + NumberText(S.Value);
      return nullptr;
    }
    if (Target == TScheduleUse::Duty && S.Value != 0 && S.Value != 1) {
      Error = "a server is on duty (1) or off (0), not " + NumberText(S.Value);
      return nullptr;
    }
  }
  return new TScheduleDriver(Block.Owner(), Block, Schedule, Traits.FollowSchedule);
}

bool TScheduleDriver::BlockAlive() const {
  // The block may have been destroyed before its driver: it has then left
  // its owner's list, and the driver leaves it alone.
  if (const TComponent* Owner = this->Owner())
    for (int32_t i = 0; i < Owner->ComponentCount(); ++i)
      if (Owner->Components(i) == FBlock) return true;
  return false;
}

void TScheduleDriver::Apply() {
  if (!BlockAlive()) return;
  FFollow(*FBlock, FSchedule.ValueAt(ModelTime()));
  const double Next = FSchedule.NextChange(ModelTime());
  if (Next < Horizon) NextTime(Next - ModelTime());
}

void TScheduleDriver::FirstInit() {
  TScheduler::FirstInit();
  Apply();
}

void TScheduleDriver::Activate(TTransaction* Trans) {
  TScheduler::Activate(Trans);
  Apply();
  // The run loop retries waiting blocks only after a block's activation, not
  // after a scheduler's: an empty activation of the block (which every
  // block class ignores) lets those waiting for room enter at this time.
  if (BlockAlive()) FBlock->FOrderNextTime(0.0, nullptr);
}

} // namespace quorin
