// What a model records for the user to analyse: an event trace (with the
// transactions' declared fields) and a block's content over time. Both
// chain themselves before the model's own OnNewTime and OnAfterPass and put
// them back when detached, as the library's TTrace does.
#include <pybind11/stl.h>

#include <cmath>
#include <unordered_map>

#include "module.h"

namespace quorin::python {

namespace {

class TPyTrace : public TPyModel::TRecorder, public std::enable_shared_from_this<TPyTrace> {
public:
  TPyTrace(TPyModel& Model, double From, double To) : FModel(&Model), FFrom(From), FTo(To) {
    TModel& M = Model.Model();
    FFields = Model.Fields().size();
    for (TComponent* X : Model.Components()) {
      FIndex.emplace(X, int32_t(Names.size()));
      Names.push_back(X->Name());
    }
    FOldNewTime = M.OnNewTime;
    FOldAfterPass = M.OnAfterPass;
    M.OnNewTime = [this](TAggregate* Sender, TTransaction* Trans) {
      Record(0, Sender, nullptr, Trans);
      if (FOldNewTime) FOldNewTime(Sender, Trans);
    };
    // The pass is reported with the transaction whole, also into a
    // terminator, which gives the record back only afterwards.
    M.OnAfterPass = [this](TBlock* Sender, TBlock* Receiver, TTransaction* Trans) {
      Record(1, Sender, Receiver, Trans);
      if (FOldAfterPass) FOldAfterPass(Sender, Receiver, Trans);
    };
    FSerial = Model.Serial();
  }
  ~TPyTrace() override { Detach(); }

  void Detach() override {
    if (!FModel) return;
    if (FSerial == LiveSerial && !FModel->Closed()) {
      TModel& M = FModel->Model();
      M.OnNewTime = FOldNewTime;
      M.OnAfterPass = FOldAfterPass;
    }
    FModel = nullptr;
    FOldNewTime = nullptr;
    FOldAfterPass = nullptr;
  }

  py::dict Columns() const {
    py::dict D;
    D["time"] = Time;
    py::list Kinds, Blocks, To, Trans, Serials, Prtys;
    for (size_t i = 0; i < Time.size(); ++i) {
      Kinds.append(Kind[i] ? "pass" : "event");
      Blocks.append(Block[i] >= 0 ? py::object(py::str(Names[Block[i]])) : py::object(py::none()));
      To.append(Target[i] >= 0 ? py::object(py::str(Names[Target[i]])) : py::object(py::none()));
      Trans.append(Transaction[i] >= 0 ? py::object(py::int_(Transaction[i])) : py::object(py::none()));
      Serials.append(Transaction[i] >= 0 ? py::object(py::int_(Serial[i])) : py::object(py::none()));
      Prtys.append(Transaction[i] >= 0 ? py::object(py::int_(Prty[i])) : py::object(py::none()));
    }
    D["event"] = Kinds;
    D["block"] = Blocks;
    D["to"] = To;
    D["transaction"] = Trans;
    D["serial"] = Serials;
    D["priority"] = Prtys;
    return D;
  }
  py::list FieldColumns() const {
    py::list Columns;
    for (size_t f = 0; f < FFields; ++f) {
      std::vector<double> Column(Time.size());
      for (size_t i = 0; i < Time.size(); ++i)
        Column[i] = Fields[i * FFields + f];
      Columns.append(py::cast(Column));
    }
    return Columns;
  }

  std::vector<std::string> Names;
  std::vector<double> Time;
  std::vector<uint8_t> Kind;
  std::vector<int32_t> Block, Target, Transaction;
  std::vector<uint64_t> Serial;
  std::vector<uint8_t> Prty;
  std::vector<double> Fields; // FFields per row; NaN where no transaction

private:
  int32_t IndexOf(const TComponent* X) const {
    if (!X) return -1;
    auto It = FIndex.find(X);
    return It == FIndex.end() ? -1 : It->second;
  }
  void Record(uint8_t K, const TComponent* At, const TComponent* To, TTransaction* Trans) {
    const double Now = ModelTime();
    if (Now < FFrom || Now > FTo) return;
    Time.push_back(Now);
    Kind.push_back(K);
    Block.push_back(IndexOf(At));
    Target.push_back(IndexOf(To));
    Transaction.push_back(Trans ? Trans->GetTransID() : -1);
    Serial.push_back(Trans ? Trans->Serial() : 0);
    Prty.push_back(Trans ? Trans->GetPrty() : 0);
    for (size_t f = 0; f < FFields; ++f)
      Fields.push_back(Trans ? TPyModel::FieldsOf(Trans)[f] : NAN);
  }

  TPyModel* FModel;
  uint64_t FSerial = 0;
  double FFrom, FTo;
  size_t FFields = 0;
  std::unordered_map<const TComponent*, int32_t> FIndex;
  TNewTimeEvent FOldNewTime;
  TAfterPassEvent FOldAfterPass;
};

class TPyContent : public TPyModel::TRecorder {
public:
  TPyContent(TPyModel& Model, TBlock& Block)
      : FModel(&Model), FSerial(Model.Serial()),
        FRecorder(std::make_unique<TContentRecorder>(Model.Model(), Block)), Name(Block.Name()) {}
  ~TPyContent() override { Detach(); }
  void Detach() override {
    if (!FRecorder) return;
    FSteps = FRecorder->Steps();
    if (FSerial == LiveSerial && !FModel->Closed()) {
      FRecorder.reset();
    } else {
      // The model is gone: its handlers need no restoring.
      (void)FRecorder.release();
    }
  }
  std::vector<std::pair<double, int32_t>> Steps() const {
    return FRecorder ? FRecorder->Steps() : FSteps;
  }

private:
  TPyModel* FModel;
  uint64_t FSerial;
  std::unique_ptr<TContentRecorder> FRecorder;
  std::vector<std::pair<double, int32_t>> FSteps;

public:
  std::string Name;
};

} // namespace

void BindRecorders(py::module_& M) {
  py::class_<TPyTrace, std::shared_ptr<TPyTrace>>(M, "_Trace")
      .def("_columns", &TPyTrace::Columns)
      .def("_field_columns", &TPyTrace::FieldColumns)
      .def("close", &TPyTrace::Detach)
      .def("__len__", [](const TPyTrace& T) { return T.Time.size(); });
  py::class_<TPyContent, std::shared_ptr<TPyContent>>(M, "_Content")
      .def("_steps", &TPyContent::Steps)
      .def_readonly("block", &TPyContent::Name)
      .def("close", &TPyContent::Detach);
  M.def("_trace", [](TPyModel& Model, double From, double To) {
    Model.File();
    auto T = std::make_shared<TPyTrace>(Model, From, To);
    Model.Recorders.push_back(T);
    return T;
  });
  M.def("_content", [](TPyModel& Model, const std::string& Name) {
    TComponent* X = Model.Find(Name);
    auto* Block = dynamic_cast<TBlock*>(X);
    if (!Block) Raise(Name + " is no block");
    auto C = std::make_shared<TPyContent>(Model, *Block);
    Model.Recorders.push_back(C);
    return C;
  });
}

} // namespace quorin::python
