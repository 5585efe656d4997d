// Event trace, content recorder and tabulator histogram as CSV.
#include <cstdio>
#include <ostream>

#include "internal.h"
#include "quorin/experiment.h"

namespace quorin {

std::string FormatClock(double Time) {
  return FormatFloat("0.0000000", Time);
}

namespace {

// Every terminator the model would gather: the components of the model's
// owner's owner and theirs, as the model scans them.
void CollectTerminators(TComponent* Owner, std::vector<TTerminator*>& Found) {
  if (!Owner) return;
  for (int32_t i = 0; i < Owner->ComponentCount(); ++i) {
    TComponent* C = Owner->Components(i);
    if (auto* T = dynamic_cast<TTerminator*>(C)) Found.push_back(T);
    CollectTerminators(C, Found);
  }
}

} // namespace

TTrace::TTrace(TModel& Model, std::ostream& Out, TTraceFormat Format, double From, double To)
    : FModel(Model), FOut(Out), FFormat(Format), FFrom(From), FTo(To) {
  if (FFormat == TTraceFormat::Csv) FOut << "time,kind,block,transaction,from,to,serial,priority\n";
  FOldNewTime = Model.OnNewTime;
  FOldAfterPass = Model.OnAfterPass;
  Model.OnNewTime = [this](TAggregate* Sender, TTransaction* Trans) {
    Write("event", Sender, nullptr, Trans);
    if (FOldNewTime) FOldNewTime(Sender, Trans);
  };
  Model.OnAfterPass = [this](TBlock* Sender, TBlock* Receiver, TTransaction* Trans) {
    // A terminator gives the transaction's record back to the pool before
    // the pass is reported; its number was noted when it entered.
    if (dynamic_cast<TTerminator*>(Receiver)) {
      Write("pass", Sender, Receiver, nullptr);
    } else {
      Write("pass", Sender, Receiver, Trans);
    }
    if (FOldAfterPass) FOldAfterPass(Sender, Receiver, Trans);
  };
  std::vector<TTerminator*> Terminators;
  CollectTerminators(Model.Owner() && Model.Owner()->Owner() ? Model.Owner()->Owner()
                                                             : Model.Owner(),
                     Terminators);
  for (TTerminator* T : Terminators) {
    FTerminators.emplace_back(T, T->OnEnter);
    T->OnEnter = [this, Old = T->OnEnter](TBlock* Sender, TTransaction* Trans) {
      FLastEnded = Trans ? Trans->GetTransID() : -1;
      FLastEndedSerial = Trans ? Trans->Serial() : 0;
      FLastEndedPrty = Trans ? Trans->GetPrty() : 0;
      FLastEndedIn = Sender;
      if (Old) Old(Sender, Trans);
    };
  }
}

TTrace::~TTrace() {
  FModel.OnNewTime = FOldNewTime;
  FModel.OnAfterPass = FOldAfterPass;
  for (auto& [T, Old] : FTerminators)
    T->OnEnter = Old;
  FOut.flush();
}

void TTrace::Write(const char* Kind, const TComponent* At, const TComponent* To,
                   TTransaction* Trans) {
  const double Now = ModelTime();
  if (Now < FFrom || Now > FTo) return;
  std::string Id, Serial, Prty;
  if (Trans) {
    Id = std::to_string(Trans->GetTransID());
    Serial = std::to_string(Trans->Serial());
    Prty = std::to_string(int(Trans->GetPrty()));
  } else if (To && To == FLastEndedIn && FLastEnded >= 0) {
    Id = std::to_string(FLastEnded);
    Serial = std::to_string(FLastEndedSerial);
    Prty = std::to_string(FLastEndedPrty);
  }
  FLastEndedIn = nullptr; // a number is used for the pass right after its entry only
  const std::string Block = At ? At->DisplayName() : "";
  const std::string Target = To ? To->DisplayName() : "";
  const bool Pass = To != nullptr;
  if (FFormat == TTraceFormat::Csv) {
    FOut << FormatClock(Now) << ',' << Kind << ',' << CsvText(Block) << ',' << Id << ','
         << (Pass ? CsvText(Block) : "") << ',' << (Pass ? CsvText(Target) : "") << ',' << Serial
         << ',' << Prty << '\n';
  } else {
    FOut << "{\"time\":" << FormatClock(Now) << ",\"kind\":\"" << Kind
         << "\",\"block\":" << JsonString(Block)
         << ",\"transaction\":" << (Id.empty() ? "null" : Id)
         << ",\"serial\":" << (Serial.empty() ? "null" : Serial)
         << ",\"priority\":" << (Prty.empty() ? "null" : Prty);
    if (Pass) FOut << ",\"from\":" << JsonString(Block) << ",\"to\":" << JsonString(Target);
    FOut << "}\n";
  }
  ++FLines;
}

TContentRecorder::TContentRecorder(TModel& Model, TBlock& Block) : FModel(Model), FBlock(Block) {
  FOldNewTime = Model.OnNewTime;
  FOldAfterPass = Model.OnAfterPass;
  Model.OnNewTime = [this](TAggregate* Sender, TTransaction* Trans) {
    // Whatever changed the content outside a pass (a transaction destroyed
    // after a time-out) happened during the previous event.
    Sample(FLastTime);
    FLastTime = ModelTime();
    if (FOldNewTime) FOldNewTime(Sender, Trans);
  };
  Model.OnAfterPass = [this](TBlock* Sender, TBlock* Receiver, TTransaction* Trans) {
    if (Sender == &FBlock || Receiver == &FBlock) Sample(ModelTime());
    if (FOldAfterPass) FOldAfterPass(Sender, Receiver, Trans);
  };
  FSteps.emplace_back(ModelTime(), FBlock.Count());
}

TContentRecorder::~TContentRecorder() {
  FModel.OnNewTime = FOldNewTime;
  FModel.OnAfterPass = FOldAfterPass;
}

void TContentRecorder::Sample(double Time) {
  const int32_t Now = FBlock.Count();
  if (FSteps.empty() || FSteps.back().second != Now) FSteps.emplace_back(Time, Now);
}

void TContentRecorder::WriteCsv(std::ostream& Out) const {
  Out << "time,content\n";
  for (const auto& [Time, Content] : FSteps)
    Out << FormatClock(Time) << ',' << Content << '\n';
}

void WriteTabulatorCsv(const TTabulator& Tab, std::ostream& Out) {
  Out << "lower,upper,hits\n";
  const int32_t N = Tab.IntervalCount();
  const double Low = Tab.LowerBound(), Width = Tab.Interval();
  auto Bound = [](double V) {
    char Buffer[64];
    std::snprintf(Buffer, sizeof Buffer, "%.9g", V);
    return std::string(Buffer);
  };
  for (int32_t i = 0; i <= N + 1; ++i) {
    const std::string Lower = i == 0 ? "" : Bound(Low + (i - 1) * Width);
    const std::string Upper = i == N + 1 ? "" : Bound(Low + i * Width);
    Out << Lower << ',' << Upper << ',' << Tab.Hits(uint8_t(i)) << '\n';
  }
}

} // namespace quorin
