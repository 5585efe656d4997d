// One replication in this process: the streams seeded from the plan, the
// model built, warmed up and run, its figures read, the draws of every
// stream counted; and the series runs of Welch's method.
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>

#include "internal.h"
#include "quorin/detail/run.h"
#include "quorin/output.h"
#include "quorin/report.h"

namespace quorin {

namespace {

// Every random stream on the form, depth first in creation order.
void CollectStreams(TComponent* Owner, std::vector<TMultiRand*>& Streams) {
  for (int32_t i = 0; i < Owner->ComponentCount(); ++i) {
    TComponent* C = Owner->Components(i);
    if (auto* S = dynamic_cast<TMultiRand*>(C)) Streams.push_back(S);
    CollectStreams(C, Streams);
  }
}

} // namespace

std::vector<int64_t> SeedStreams(TComponent& Form, const TStreamPlan& Plan, int32_t Replication,
                                 std::string& Error) {
  std::vector<TMultiRand*> Streams;
  CollectStreams(&Form, Streams);
  if (int32_t(Streams.size()) > Plan.StreamSlots) {
    Error = "the model has " + std::to_string(Streams.size()) +
            " random streams; the experiment gives each replication " +
            std::to_string(Plan.StreamSlots) + " (raise StreamSlots)";
    return {};
  }
  for (TMultiRand* S : Streams)
    if (S->GetMultiplier() != TMultiRand::DefaultMultiplier) {
      Error = "stream " + S->DisplayName() + " has the multiplier " +
              std::to_string(S->GetMultiplier()) + "; disjoint seeding needs " +
              std::to_string(TMultiRand::DefaultMultiplier);
      return {};
    }
  std::vector<int32_t> Slots;
  for (size_t k = 0; k < Streams.size(); ++k) {
    if (Plan.Seeding == TSeeding::Position) {
      Slots.push_back(int32_t(k));
      continue;
    }
    // By name: a stream's slot follows from its name alone.
    const std::string& Name = Streams[k]->Name();
    if (Name.empty()) {
      Error = "stream " + Streams[k]->DisplayName() + " has no name; seeding by name needs one";
      return {};
    }
    Slots.push_back(Plan.SlotOf(Name));
    for (size_t j = 0; j < k; ++j)
      if (Slots[j] == Slots[k]) {
        Error = Streams[j]->Name() == Name
                    ? "two streams are named " + Name + "; seeding by name needs distinct names"
                    : "streams " + Streams[j]->Name() + " and " + Name + " share slot " +
                          std::to_string(Slots[k]) + " of " + std::to_string(Plan.StreamSlots) +
                          " (TStreamPlan::SlotsForNames gives a slot count that parts them)";
        return {};
      }
  }
  std::vector<int64_t> Seeds;
  for (size_t k = 0; k < Streams.size(); ++k) {
    Seeds.push_back(Plan.Seed(Replication, Slots[k]));
    Streams[k]->SetSeed(Seeds.back());
  }
  return Seeds;
}

const std::vector<std::string>& ReportColumns() {
  // Those of the report that hold values, in its order.
  static const std::vector<std::string> Columns = [] {
    std::vector<std::string> Titles;
    for (const TReportColumnInfo& C : ReportColumnTable())
      if (!C.Text) Titles.push_back(C.Title);
    return Titles;
  }();
  return Columns;
}

TFigureSpec TFigureSpec::Report(const std::string& Block, const std::string& Column,
                                const std::string& Name) {
  TFigureSpec F;
  F.Name = Name.empty() ? Block + " " + Column : Name;
  F.Block = Block;
  F.Column = Column;
  return F;
}

TFigureSpec TFigureSpec::ReportClass(const std::string& Block, int32_t Prty,
                                     const std::string& Column, const std::string& Name) {
  TFigureSpec F = Report(Block, Column, Name);
  if (Name.empty()) F.Name = Block + " priority " + std::to_string(Prty) + " " + Column;
  F.Prty = Prty;
  return F;
}

TFigureSpec TFigureSpec::User(const std::string& Name,
                              std::function<std::optional<double>(TModel& Model)> Compute) {
  TFigureSpec F;
  F.Name = Name;
  F.Compute = std::move(Compute);
  return F;
}

namespace {

// Every tabulator among Root's components, depth first in creation order.
void CollectTabulators(const TComponent* Root, std::vector<const TTabulator*>& Found) {
  for (int32_t i = 0; i < Root->ComponentCount(); ++i) {
    const TComponent* C = Root->Components(i);
    if (auto* T = dynamic_cast<const TTabulator*>(C)) Found.push_back(T);
    CollectTabulators(C, Found);
  }
}

// The topmost owner of a model: the application its tabulators sit on.
const TComponent* ApplicationOf(const TModel& Model) {
  const TComponent* Top = &Model;
  while (Top->Owner())
    Top = Top->Owner();
  return Top;
}

std::string BoundText(double V) {
  char Buffer[32];
  std::snprintf(Buffer, sizeof Buffer, "%g", V);
  return Buffer;
}

} // namespace

std::vector<TFigureSpec> TabulatorFigures(const TComponent& Root) {
  std::vector<const TTabulator*> Tabs;
  CollectTabulators(&Root, Tabs);
  std::vector<TFigureSpec> Figures;
  for (size_t t = 0; t < Tabs.size(); ++t) {
    const TTabulator& Tab = *Tabs[t];
    const std::string Name = Tab.Name().empty() ? Tab.DisplayName() : Tab.Name();
    // The tabulator at place t of the replication's model, if it has one.
    auto Find = [t](TModel& Model) -> const TTabulator* {
      std::vector<const TTabulator*> Found;
      CollectTabulators(ApplicationOf(Model), Found);
      return t < Found.size() ? Found[t] : nullptr;
    };
    auto Add = [&](const std::string& Column, std::function<std::optional<double>(const TTabulator&)> Read) {
      TFigureSpec F = TFigureSpec::User(Name + " " + Column, [Find, Read](TModel& Model) {
        const TTabulator* T = Find(Model);
        return T ? Read(*T) : std::nullopt;
      });
      F.Block = Name;
      F.Column = Column;
      Figures.push_back(std::move(F));
    };
    Add("Mean", [](const TTabulator& T) -> std::optional<double> {
      if (T.Count() <= 0) return std::nullopt;
      return T.Mean();
    });
    Add("Deviation", [](const TTabulator& T) -> std::optional<double> {
      if (T.Count() <= 0) return std::nullopt;
      return T.Deviation();
    });
    Add("Count", [](const TTabulator& T) -> std::optional<double> { return T.Count(); });
    // The bounds as the tabulator builds them: by repeated addition of the
    // width, in double.
    const int32_t Bins = int32_t(Tab.IntervalCount());
    double Lower = Tab.LowerBound();
    for (int32_t i = 0; i <= Bins + 1; ++i) {
      std::string Column;
      const double Upper = double(Lower + Tab.Interval());
      if (i == 0)
        Column = "Fraction < " + BoundText(Tab.LowerBound());
      else if (i <= Bins)
        Column = "Fraction [" + BoundText(Lower) + ", " + BoundText(Upper) + ")";
      else
        Column = "Fraction >= " + BoundText(Lower);
      if (i >= 1 && i <= Bins) Lower = Upper;
      Add(Column, [i](const TTabulator& T) -> std::optional<double> {
        if (T.Count() <= 0 || i > int32_t(T.IntervalCount()) + 1) return std::nullopt;
        return double(T.Hits(uint8_t(i))) / T.Count();
      });
    }
  }
  return Figures;
}

namespace {

// A report cell as a figure value. Means over nothing are missing rather
// than the 0 the blocks answer for them: a mean time needs an exit, the
// mean over non-zero stays needs one such stay (any gives a positive
// value), a generator's mean interval needs two departures.
std::optional<double> ObservedValue(const TReportRow& R, const std::string& Column) {
  // A terminator's or an assembler's times are observed at entry or at the
  // join, not at exit: theirs are NaN when there were none.
  const bool AtExit = R.Kind != TReportKind::Terminator && R.Kind != TReportKind::Batch;
  if (Column == "Mean time" && (AtExit ? R.Exits <= 0 : !(R.MeanTime && !std::isnan(*R.MeanTime))))
    return std::nullopt;
  if (Column == "Max time" && !(R.MaxTime && !std::isnan(*R.MaxTime))) return std::nullopt;
  if (Column == "Utilisation" && !(R.Utilisation && !std::isnan(*R.Utilisation)))
    return std::nullopt;
  if (Column == "S-mean time" && !(R.SMeanTime && *R.SMeanTime > 0)) return std::nullopt;
  if (Column == "Mean interval" && R.Exits <= 1) return std::nullopt;
  return ReportValue(R, Column);
}

// Figure values of a model now. A report figure naming no gathered block is
// an error of the experiment's set-up, reported through Error.
std::vector<std::optional<double>>
FigureValues(TModel& Model, const std::vector<TFigureSpec>& Figures, std::string& Error) {
  std::vector<std::optional<double>> Values;
  std::vector<TReportRow> Rows;
  bool HaveRows = false;
  for (const TFigureSpec& F : Figures) {
    std::optional<double> V;
    if (F.Compute) {
      V = F.Compute(Model);
    } else {
      if (!HaveRows) Rows = CollectReport(Model), HaveRows = true;
      auto Row = std::find_if(Rows.begin(), Rows.end(),
                              [&](const TReportRow& R) { return R.Name == F.Block; });
      if (Row == Rows.end()) {
        Error = "figure \"" + F.Name + "\": the model has no block named \"" + F.Block + "\"";
        V = std::nullopt;
      } else if (F.Prty < 0) {
        V = ObservedValue(*Row, F.Column);
      } else {
        auto Class = std::find_if(Row->Classes.begin(), Row->Classes.end(),
                                  [&](const TReportRow& C) { return C.Prty == F.Prty; });
        if (Class != Row->Classes.end()) V = ObservedValue(*Class, F.Column);
      }
    }
    if (V && !std::isfinite(*V)) V = std::nullopt;
    Values.push_back(V);
  }
  return Values;
}

// One replication (or one series run) in this process. Everything the
// model reports through the message handler stops the run and fails the
// replication; so does an exception from a handler or the builder. A
// handler's exception leaves every block consistent, so the model is
// destroyed like any other and the process may run the next one.
class TReplicationRun {
public:
  TReplicationRun(const TExperiment& E, int32_t Number) : FE(E) { FResult.Number = Number; }

  TReplicationResult Run(const detail::TSeeded& Seeded, const TFigureSpec* SeriesFigure,
                         double Interval, int32_t Intervals) {
    const auto Start = detail::Clock::now();
    const TMessageHandler Previous = SetMessageHandler([this](const std::string& Text) {
      FMessages.push_back(Text);
      if (GlobalModel) GlobalModel->Stop();
    });
    try {
      Build(Seeded);
      OpenTrace();
      if (SeriesFigure)
        RunSeries(*SeriesFigure, Interval, Intervals);
      else
        RunMeasured();
      FResult.ModelTime = ModelTime();
      CountDraws();
    } catch (const std::exception& X) {
      FError = std::string("exception: ") + X.what();
    } catch (...) {
      FError = "an exception of unknown type";
    }
    CloseTrace();
    FApplication.reset();
    SetMessageHandler(Previous);
    Conclude();
    FResult.Seconds = detail::SecondsSince(Start);
    return std::move(FResult);
  }

private:
  bool Fine() const { return FMessages.empty() && FError.empty(); }

  // Builds the model on a fresh form, seeds its streams and announces the
  // seeds, so that a replication that crashes later is reported with them.
  void Build(const detail::TSeeded& Seeded) {
    FApplication = std::make_unique<TComponent>(nullptr);
    FForm = new TComponent(FApplication.get());
    TReplicationContext Context{FResult.Number, FForm, nullptr};
    FModel = FE.Build ? FE.Build(Context) : nullptr;
    if (!FModel) throw std::runtime_error("the model builder answered no model");
    if (FE.ScalableEngine) FModel->SetEngine(TEngine::Scalable);
    TComponent* StreamsOn = Context.StreamsOn ? Context.StreamsOn : FForm;
    std::string Refused;
    FResult.Seeds = SeedStreams(*StreamsOn, FE.Streams, FResult.Number, Refused);
    if (!Refused.empty()) throw std::runtime_error(Refused);
    CollectStreams(StreamsOn, FStreams);
    if (Seeded) Seeded(FResult.Seeds);
  }

  // The trace is written whole or not at all (see TOutputFile): a write
  // that fails, on a full disk say, fails the replication at its end.
  void OpenTrace() {
    if (FE.Trace.File.empty() || FE.Trace.Replication != FResult.Number) return;
    FTraceFile = std::make_unique<TOutputFile>(FE.Trace.File);
    if (!FTraceFile->IsOpen()) {
      std::string Error;
      FTraceFile->Commit(Error);
      FTraceFile.reset();
      throw std::runtime_error(Error);
    }
    FTrace = std::make_unique<TTrace>(*FModel, FTraceFile->Stream(), FE.Trace.Format,
                                      FE.Trace.From, FE.Trace.To);
  }

  void CloseTrace() {
    FTrace.reset();
    if (!FTraceFile) return;
    std::string Error;
    if (!FTraceFile->Commit(Error) && FError.empty()) FError = Error;
    FTraceFile.reset();
  }

  // Runs up to End; false (with the reason) when the model stopped itself
  // earlier.
  bool RunTo(double End, const std::string& What) {
    FModel->SimulateTo(End);
    if (!FMessages.empty()) return false;
    if (ModelTime() < End) {
      FError = "the run ended at time " + FormatClock(ModelTime()) + ", " + What;
      return false;
    }
    return true;
  }

  // Welch's series: the figure over each interval alone.
  void RunSeries(const TFigureSpec& Figure, double Interval, int32_t Intervals) {
    for (int32_t i = 1; i <= Intervals && Fine(); ++i) {
      const double End = Interval * i;
      if (!RunTo(End, "before " + FormatClock(End))) break;
      auto V = FigureValues(*FModel, {Figure}, FError);
      FResult.Series.push_back(V[0] ? *V[0] : std::numeric_limits<double>::quiet_NaN());
      FModel->ClearStatistics();
    }
  }

  // The warm-up, its statistics cleared, the measured run and its figures.
  void RunMeasured() {
    if (FE.WarmUp > 0) {
      RunTo(FE.WarmUp, "before the warm-up was over");
      FModel->ClearStatistics();
    }
    if (Fine()) FModel->SimulateTo(FE.WarmUp + FE.RunLength);
    if (Fine()) FResult.Values = FigureValues(*FModel, FE.Figures, FError);
    if (Fine() && FE.Collect) FResult.Collected = FE.Collect(*FModel);
  }

  // How many numbers each stream drew; a stream that left its segment
  // fails the replication.
  void CountDraws() {
    for (size_t k = 0; k < FStreams.size(); ++k) {
      const auto Drawn = FE.Streams.Draws(FResult.Seeds[k], FStreams[k]->GetSeed());
      if (!Drawn && FError.empty())
        FError = "stream " + FStreams[k]->DisplayName() + " drew " +
                 std::to_string(FE.Streams.StreamStride) +
                 " numbers or more (or was reseeded) and left its segment; raise StreamStride";
      FResult.Draws.push_back(Drawn ? *Drawn : -1);
    }
  }

  // The messages and the error become the replication's reason to fail.
  void Conclude() {
    if (!FMessages.empty()) {
      std::string Text = "the model reported: ";
      for (size_t i = 0; i < FMessages.size(); ++i)
        Text += (i ? " | " : "") + FMessages[i];
      FError = FError.empty() ? Text : Text + " | " + FError;
    }
    FResult.Ok = FError.empty();
    if (!FResult.Ok) {
      FResult.Error = FError;
      FResult.Values.assign(FE.Figures.size(), std::nullopt);
      FResult.Collected.clear();
    }
  }

  const TExperiment& FE;
  TReplicationResult FResult;
  std::vector<std::string> FMessages;
  std::string FError;
  // The trace is declared after the application, so that it goes first:
  // it unhooks itself from the model.
  std::unique_ptr<TComponent> FApplication;
  std::unique_ptr<TOutputFile> FTraceFile;
  std::unique_ptr<TTrace> FTrace;
  TComponent* FForm = nullptr;
  TModel* FModel = nullptr;
  std::vector<TMultiRand*> FStreams;
};

TReplicationResult RunHere(const TExperiment& E, int32_t Number, const detail::TSeeded& Seeded,
                           const TFigureSpec* SeriesFigure, double Interval, int32_t Intervals) {
  return TReplicationRun(E, Number).Run(Seeded, SeriesFigure, Interval, Intervals);
}

} // namespace

TReplicationResult RunReplicationHere(const TExperiment& Experiment, int32_t Number) {
  return RunHere(Experiment, Number, nullptr, nullptr, 0, 0);
}

namespace detail {

TWork ReplicationWork(const TExperiment& E) {
  return [&E](int32_t Number, const TSeeded& Seeded) {
    return RunHere(E, Number, Seeded, nullptr, 0, 0);
  };
}

TWork SeriesWork(const TExperiment& E, const TFigureSpec& Figure, double Interval,
                 int32_t Intervals) {
  return [&E, &Figure, Interval, Intervals](int32_t Number, const TSeeded& Seeded) {
    return RunHere(E, Number, Seeded, &Figure, Interval, Intervals);
  };
}

} // namespace detail

} // namespace quorin
