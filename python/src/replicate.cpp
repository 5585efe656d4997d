// Replications through the experiment runner, in this process for one job,
// else in forked worker processes: of a model file, as `quorin run FILE --replications N` runs them (the
// same experiment, so the same numbers), or of the live model, which each
// worker resets and runs as it stands, Python handlers included.
#include <pybind11/stl.h>
#include <pthread.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>

#include "module.h"
#include "replications.h"

namespace quorin::python {

namespace {

// Set while the runner forks for a model with Python handlers: the
// interpreter is told about the fork (as os.fork would), so that the worker
// may run Python code.
bool ForkingPython = false;

void BeforeFork() {
  if (ForkingPython) PyOS_BeforeFork();
}
void AfterForkParent() {
  if (ForkingPython) PyOS_AfterFork_Parent();
}
void AfterForkChild() {
  if (ForkingPython) PyOS_AfterFork_Child();
}

bool IsModelTime(double T) {
  return std::isfinite(T) && T >= 0 && T < 10000000000.0;
}

struct TOptions {
  int32_t Replications;
  int32_t Jobs;
  std::optional<int64_t> Seed;
  std::optional<double> Warmup, Until;
  double Level;
  py::object Collect; // None, or the function called on the model after each replication
};

// The settings and the statistics, checked as the quorin command checks them.
tool::TReplicationSettings Settings(const TOptions& O, const TModelFile& File, TModel& Model,
                                    std::vector<tool::TStatistic>& Statistics) {
  const std::optional<double> Until = O.Until ? O.Until : File.Run.Until;
  const std::optional<double> Warmup = O.Warmup ? O.Warmup : File.Run.Warmup;
  if (!Until) Raise("no end time: give until=, or Until in the model's run section");
  if (!IsModelTime(*Until) || (Warmup && !IsModelTime(*Warmup)))
    Raise("times must lie in 0...10000000000");
  if (Warmup && *Warmup > *Until) Raise("the warm-up ends after the run");
  if (O.Seed && (*O.Seed < 1 || *O.Seed > TMultiRand::Modulus - 1))
    Raise("seed must lie in 1...2147483646");
  if (O.Replications < 2) Raise("replications must be 2 or more (a confidence interval needs two values)");
  if (O.Jobs < 1) Raise("jobs must be 1 or more");
  if (!(O.Level > 0 && O.Level < 1)) Raise("level must lie between 0 and 1, such as 0.95");
  // The blocks as a run gathers them; gathering only lists them.
  Model.GatherAggregates();
  std::string Problem;
  Statistics = tool::ReportStatistics(CollectReport(Model), Problem);
  if (!Problem.empty()) Raise(Problem);
  tool::AddTabulatorStatistics(*File.Application(), Statistics);
  tool::TReplicationSettings S;
  S.Replications = O.Replications;
  S.Jobs = O.Jobs;
  S.Level = O.Level;
  S.Warmup = Warmup.value_or(0);
  S.Until = *Until;
  if (O.Seed) S.BaseSeed = *O.Seed;
  // Streams are seeded by name, as `quorin run --replications` seeds them.
  for (const TMultiRand* Stream : File.Streams()) {
    for (const std::string& Name : S.StreamNames)
      if (Name == Stream->Name())
        Raise("two random streams are named " + Name + "; replications seed each stream by its name");
    S.StreamNames.push_back(Stream->Name());
  }
  return S;
}

py::dict Results(const TExperimentResult& R, std::vector<tool::TStatistic> Statistics,
                 const tool::TReplicationSettings& S) {
  if (!R.Error.empty()) Raise("the replications cannot run: " + R.Error);
  // Ctrl-C during replications in this process: a Python handler may have
  // taken the KeyboardInterrupt as its replication's failure; the caller
  // gets it all the same, as after replications in workers.
  if (R.Interrupted && !PyErr_Occurred()) PyErr_SetInterrupt();
  tool::AddCollectedStatistics(R, Statistics);
  // A priority class that no replication reported is left out, as the
  // command's tables leave it out.
  std::vector<size_t> Shown;
  for (size_t f = 0; f < Statistics.size() && f < R.Figures.size(); ++f)
    if (tool::Reported(Statistics[f], R.Figures[f])) Shown.push_back(f);
  py::list Summary;
  for (size_t f : Shown) {
    const TSummary& M = R.Figures[f].Summary;
    const py::object Prty = Statistics[f].Prty < 0 ? py::object(py::none()) : py::int_(Statistics[f].Prty);
    Summary.append(py::make_tuple(Statistics[f].Block, Prty, Statistics[f].Class, Statistics[f].Column,
                                  M.Mean, M.HalfWidth, M.StdDev, M.Min, M.Max, M.N,
                                  R.Figures[f].Missing));
  }
  py::list Values, Failures, Seeds;
  for (const TReplicationResult& Rep : R.Replications) {
    Seeds.append(py::make_tuple(Rep.Number, Rep.Seeds));
    std::vector<double> Row;
    for (size_t f : Shown)
      Row.push_back(f < Rep.Values.size() && Rep.Values[f] ? *Rep.Values[f] : NAN);
    Values.append(py::make_tuple(Rep.Number, Rep.Ok, Row));
    if (!Rep.Ok) Failures.append(py::make_tuple(Rep.Number, Rep.Seeds, Rep.Error));
  }
  py::dict D;
  D["summary"] = Summary;
  D["values"] = Values;
  D["failures"] = Failures;
  D["level"] = R.Level;
  D["warmup"] = R.WarmUp;
  D["until"] = S.Until;
  // The first state of every stream in each replication, to run one again.
  D["seeds"] = Seeds;
  D["streams"] = S.StreamNames;
  D["seconds"] = R.WallSeconds;
  D["interrupted"] = R.Interrupted;
  return D;
}

py::dict ReplicateFile(const std::string& Path, const TOptions& O) {
  std::ifstream In(Path, std::ios::binary);
  std::ostringstream Text;
  Text << In.rdbuf();
  if (!In || In.bad()) Raise(Path + ": cannot be read");
  std::vector<std::string> Errors;
  std::unique_ptr<TModelFile> File;
  {
    TCall Call;
    File = LoadModelText(Text.str(), Path, THandlerTable{}, Errors);
    Call.Messages.clear();
  }
  if (!File) {
    py::object Class = py::module_::import("quorin.errors").attr("ModelFileError");
    PyErr_SetObject(Class.ptr(), Class(Errors.front(), py::none(), Errors).ptr());
    throw py::error_already_set();
  }
  std::vector<tool::TStatistic> Statistics;
  tool::TReplicationSettings S = Settings(O, *File, *File->Model(), Statistics);
  S.Path = Path;
  S.Text = Text.str();
  TExperiment E = tool::ReplicationExperiment(S, Statistics);
  // A live model that holds run memory would keep the file's model from
  // running in the workers (one model runs at a time): each worker, a copy
  // of this process, releases its copy of that memory first.
  E.Build = [Build = E.Build](TReplicationContext& C) {
    if (LiveModel && !LiveModel->Closed()) LiveModel->Model().Reset();
    return Build(C);
  };
  TExperimentResult R;
  // One job runs here, unless a live model holds run memory (the kernel
  // runs one model at a time): no fork to pay for, and the file's model
  // touches nothing of the caller's. The GIL stays held, so that no other
  // thread starts a model meanwhile.
  if (O.Jobs == 1 && !(LiveModel && !LiveModel->Closed() && LiveModel->Model().MemoReady())) {
    E.InProcess = true;
    R = RunExperiment(E);
  } else {
    py::gil_scoped_release Release;
    R = RunExperiment(E);
  }
  return Results(R, Statistics, S);
}

// The collect function as the runner calls it in a worker: the model's
// Python object in, a dict of names and numbers out. What is not such a dict
// fails the replication with the reason, as an exception of the function does.
std::function<std::vector<std::pair<std::string, double>>(TModel&)>
CollectFunction(py::object Collect, py::object Model) {
  return [Collect, Model](TModel&) {
    py::object Answer = Collect(Model);
    if (!py::isinstance<py::dict>(Answer))
      throw std::runtime_error("collect must answer a dict of names and numbers, not " +
                               std::string(py::str(py::type::of(Answer).attr("__name__"))));
    std::vector<std::pair<std::string, double>> Values;
    for (auto [Key, Value] : Answer.cast<py::dict>()) {
      if (!py::isinstance<py::str>(Key))
        throw std::runtime_error("collect: a name must be a string, not " +
                                 std::string(py::str(py::repr(Key))));
      const std::string Name = Key.cast<std::string>();
      double Number = 0;
      try {
        if (py::isinstance<py::str>(Value)) throw py::cast_error();
        Number = Value.cast<double>();
      } catch (const py::cast_error&) {
        throw std::runtime_error("collect: the value of " + Name + " must be a number, not " +
                                 std::string(py::str(py::repr(Value))));
      }
      Values.emplace_back(Name, Number);
    }
    return Values;
  };
}

py::dict ReplicateModel(TPyModel& M, py::object Self, const TOptions& O) {
  if (M.InSimulate) Raise("replicate is refused from a handler of the model's own run");
  M.Prepare();
  std::vector<tool::TStatistic> Statistics;
  tool::TReplicationSettings S = Settings(O, M.File(), M.Model(), Statistics);
  TExperiment E = tool::ReplicationExperiment(S, Statistics);
  // Each worker runs the model built here, as it stands after a reset, so
  // that the objects the handlers hold are the ones that run.
  TPyModel* Model = &M;
  E.Build = [Model](TReplicationContext& C) -> TModel* {
    Model->Model().Reset();
    C.StreamsOn = Model->File().Application();
    return &Model->Model();
  };
  const bool Collecting = !O.Collect.is_none();
  if (Collecting) E.Collect = CollectFunction(O.Collect, Self);
  TExperimentResult R;
  if (O.Jobs == 1) {
    // Here, one after another: the streams' seeds are put back and the
    // model reset afterwards, so that it stands as it did before; what the
    // handlers changed in Python stays changed.
    std::vector<int64_t> Seeds;
    for (const TMultiRand* Stream : M.File().Streams())
      Seeds.push_back(Stream->GetSeed());
    E.InProcess = true;
    R = RunExperiment(E);
    {
      TCall Call;
      M.Model().Reset();
      for (size_t i = 0; i < Seeds.size(); ++i)
        M.File().Streams()[i]->SetSeed(Seeds[i]);
      Call.Messages.clear();
    }
  } else if (M.HasPythonHandlers() || Collecting) {
    // The workers call Python: the interpreter is forked with the GIL held.
    struct TForking {
      TForking() { ForkingPython = true; }
      ~TForking() { ForkingPython = false; }
    } Forking;
    R = RunExperiment(E);
  } else {
    py::gil_scoped_release Release;
    R = RunExperiment(E);
  }
  return Results(R, Statistics, S);
}

} // namespace

void BindReplicate(py::module_& M) {
  static bool Registered = false;
  if (!Registered) {
    pthread_atfork(&BeforeFork, &AfterForkParent, &AfterForkChild);
    Registered = true;
  }
  M.def(
      "_replicate",
      [](py::object Source, int32_t Replications, int32_t Jobs, std::optional<int64_t> Seed,
         std::optional<double> Warmup, std::optional<double> Until, double Level,
         py::object Collect) {
        const TOptions O{Replications, Jobs, Seed, Warmup, Until, Level, Collect};
        if (!Collect.is_none() && !PyCallable_Check(Collect.ptr()))
          Raise("collect must be a function of the model that answers a dict of names and numbers");
        if (py::isinstance<TPyModel>(Source))
          return ReplicateModel(Source.cast<TPyModel&>(), Source, O);
        if (!Collect.is_none())
          Raise("collect= needs a model: load the file with quorin.load(path) and replicate "
                "that model");
        const std::string Path = py::str(py::module_::import("os").attr("fspath")(Source));
        return ReplicateFile(Path, O);
      },
      py::arg("source"), py::arg("replications"), py::arg("jobs"), py::arg("seed"),
      py::arg("warmup"), py::arg("until"), py::arg("level"), py::arg("collect") = py::none());
}

} // namespace quorin::python
