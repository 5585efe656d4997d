// The driver: refuses what cannot run, hands replication numbers to an
// executor in order, stops a sequential experiment when its target is met,
// and summarises the figures.
#include <algorithm>
#include <cmath>
#include <map>

#include "internal.h"

namespace quorin {

namespace detail {

std::string Validate(const TExperiment& E, int64_t Replications) {
  if (!E.Build) return "no model builder";
  if (!(E.Level > 0 && E.Level < 1)) return "the confidence level must lie between 0 and 1";
  if (!(E.WarmUp >= 0) || !(E.RunLength >= 0) || !std::isfinite(E.WarmUp + E.RunLength))
    return "the warm-up and the run length must be finite and not negative";
  if (E.Jobs < 1) return "at least one job is needed";
  if (E.Replications < 1) return "at least one replication is needed";
  if (!(E.TimeLimit >= 0)) return "the time limit must not be negative";
  if (E.Streams.BaseSeed < 1 || E.Streams.BaseSeed >= TMultiRand::Modulus)
    return "the base seed must lie in 1...2147483646";
  if (E.Streams.StreamStride < 1 || E.Streams.StreamSlots < 1)
    return "the stream stride and the stream slots must be positive";
  if (Replications > E.Streams.MaxReplications())
    return std::to_string(Replications) + " replications of " +
           std::to_string(E.Streams.StreamSlots) + " streams of " +
           std::to_string(E.Streams.StreamStride) +
           " numbers do not fit disjointly into the generator's period; at most " +
           std::to_string(E.Streams.MaxReplications()) + " do (lower StreamStride or StreamSlots)";
  for (const TFigureSpec& F : E.Figures) {
    if (F.Compute) continue;
    const auto& C = ReportColumns();
    if (std::find(C.begin(), C.end(), F.Column) == C.end())
      return "figure \"" + F.Name + "\": the report has no column \"" + F.Column + "\"";
    if (F.Prty < -1 || F.Prty > 255)
      return "figure \"" + F.Name + "\": a priority class is 0...255, not " +
             std::to_string(F.Prty);
  }
  for (const std::string& Name : E.TargetFigures) {
    if (std::none_of(E.Figures.begin(), E.Figures.end(),
                     [&](const TFigureSpec& F) { return F.Name == Name; }))
      return "the target names the unknown figure \"" + Name + "\"";
  }
  return "";
}

bool TargetReached(const TExperiment& E, const std::vector<TReplicationResult>& Reps) {
  for (size_t f = 0; f < E.Figures.size(); ++f) {
    const std::string& Name = E.Figures[f].Name;
    if (!E.TargetFigures.empty() &&
        std::find(E.TargetFigures.begin(), E.TargetFigures.end(), Name) == E.TargetFigures.end())
      continue;
    std::vector<double> Values;
    for (const auto& R : Reps)
      if (R.Ok && f < R.Values.size() && R.Values[f]) Values.push_back(*R.Values[f]);
    const TSummary S = Summarise(Values, E.Level);
    if (S.N < 2 || std::isnan(S.HalfWidth)) return false;
    if (S.HalfWidth == 0) continue;
    if (!(S.HalfWidth < E.TargetRelativeHalfWidth * std::fabs(S.Mean))) return false;
  }
  return true;
}

std::vector<TReplicationResult> Drive(const TExperiment& E, TExecutor& Executor, int32_t Limit,
                                      bool Sequential, bool& TargetMet, int32_t& Interrupted) {
  std::map<int32_t, TReplicationResult> Done;
  std::vector<TReplicationResult> Prefix; // results 0 ... n-1, in order
  int32_t Next = 0;
  int32_t Finished = 0;
  const auto Start = detail::Clock::now();
  TargetMet = false;
  Interrupted = 0;
  while (true) {
    while (!TargetMet && !Executor.Interrupted() && Executor.Busy() < Executor.Slots() &&
           Next < Limit)
      Executor.Start(Next++);
    if (Executor.Busy() == 0) break;
    for (auto& R : Executor.Wait(-1)) {
      // A worker that the interrupt ended has no result of its own.
      if (!R.Ok && Executor.Interrupted()) continue;
      Done.emplace(R.Number, std::move(R));
      ++Finished;
    }
    if (Executor.Interrupted()) {
      Executor.Cancel();
      for (auto& [Number, R] : Done)
        Prefix.push_back(std::move(R));
      Interrupted = Limit - int32_t(Prefix.size());
      return Prefix;
    }
    if (E.OnProgress) E.OnProgress(Finished, Limit, SecondsSince(Start));
    // Only the unbroken run of numbers from 0 counts, so the decision is the
    // same whatever order the workers finish in.
    while (!TargetMet && Done.count(int32_t(Prefix.size()))) {
      auto It = Done.find(int32_t(Prefix.size()));
      Prefix.push_back(std::move(It->second));
      Done.erase(It);
      if (Sequential && int32_t(Prefix.size()) >= E.Replications && TargetReached(E, Prefix))
        TargetMet = true;
    }
    if (TargetMet) {
      Executor.Cancel();
      break;
    }
  }
  return Prefix;
}

TExperimentResult Conclude(const TExperiment& E, std::vector<TReplicationResult> Reps,
                           bool Sequential, bool TargetMet, double WallSeconds) {
  TExperimentResult Result;
  Result.Level = E.Level;
  Result.WarmUp = E.WarmUp;
  Result.RunLength = E.RunLength;
  Result.Sequential = Sequential;
  Result.TargetMet = TargetMet;
  Result.WallSeconds = WallSeconds;
  // The collected values become figures after the experiment's own, one
  // per name in the order the names first appear; each replication's
  // values are laid out in that order behind its figures' values.
  std::vector<std::string> Names;
  for (size_t f = 0; f < E.Figures.size(); ++f)
    Names.push_back(E.Figures[f].Name);
  const size_t Own = Names.size();
  std::map<std::string, size_t> Place;
  for (TReplicationResult& R : Reps) {
    if (!R.Ok) continue;
    R.Values.resize(std::max(R.Values.size(), Own));
    for (const auto& [Name, Value] : R.Collected) {
      auto It = Place.find(Name);
      if (It == Place.end()) {
        It = Place.emplace(Name, Names.size()).first;
        Names.push_back(Name);
      }
      if (R.Values.size() <= It->second) R.Values.resize(It->second + 1);
      if (std::isfinite(Value)) R.Values[It->second] = Value;
    }
  }
  for (TReplicationResult& R : Reps)
    R.Values.resize(Names.size());
  for (size_t f = 0; f < Names.size(); ++f) {
    TFigureResult F;
    F.Name = Names[f];
    std::vector<double> Values;
    for (const auto& R : Reps) {
      if (!R.Ok) continue;
      if (f < R.Values.size() && R.Values[f])
        Values.push_back(*R.Values[f]);
      else
        ++F.Missing;
    }
    F.Summary = Summarise(Values, E.Level);
    Result.Figures.push_back(F);
  }
  for (const auto& R : Reps)
    Result.Failed += R.Ok ? 0 : 1;
  Result.Replications = std::move(Reps);
  return Result;
}

} // namespace detail

TExperimentResult RunExperiment(const TExperiment& E) {
  const auto Start = detail::Clock::now();
  const bool Sequential = E.TargetRelativeHalfWidth > 0;
  const int32_t Limit = Sequential ? std::max(E.MaxReplications, E.Replications) : E.Replications;
  if (std::string Error = detail::Validate(E, Limit); !Error.empty()) {
    TExperimentResult Refused;
    Refused.Error = Error;
    return Refused;
  }
  bool TargetMet = false;
  int32_t Interrupted = 0;
  std::vector<TReplicationResult> Reps;
  if (E.InProcess) {
    detail::TLocalExecutor Executor(detail::ReplicationWork(E));
    Reps = detail::Drive(E, Executor, Limit, Sequential, TargetMet, Interrupted);
  } else {
    detail::TForkExecutor Executor(detail::ReplicationWork(E), E.Jobs, E.TimeLimit, E.Streams);
    Reps = detail::Drive(E, Executor, Limit, Sequential, TargetMet, Interrupted);
  }
  auto Result =
      detail::Conclude(E, std::move(Reps), Sequential, TargetMet, detail::SecondsSince(Start));
  Result.Interrupted = Interrupted;
  return Result;
}

} // namespace quorin
