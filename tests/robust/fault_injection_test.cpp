// The private heap runs out at every page request a reference model makes,
// one run per request: each run reports once, stops without a deadlock,
// leaves every block consistent and its statistics readable, and after
// Reset the model reruns to exactly the result of a clean run. Both retry
// modes of the chain (retry on change has a pool of its own).
#include <gtest/gtest.h>

#include <sstream>

#include "invariants.h"
#include "message_capture.h"
#include "reference_models.h"
#include "quorin/detail/heap.h"

namespace quorin::test {
namespace {

const std::string NoMemory = "Quorin Error: Not enough memory in private heap at model time ";

class FaultInjection : public testing::TestWithParam<TReferenceModel> {
protected:
  void SetUp() override {
    GetParam().Build(Form);
    for (int32_t i = 0; i < Form->ComponentCount(); ++i) {
      if (auto* M = dynamic_cast<TModel*>(Form->Components(i))) Model = M;
      if (auto* R = dynamic_cast<TMultiRand*>(Form->Components(i))) Streams.push_back(R);
    }
    ASSERT_NE(Model, nullptr);
    Model->OnDeadlock = [this] { ++Deadlocks; };
  }
  void TearDown() override { HeapInjectFault(0); }
  // The test with the model's present retry mode.
  void EveryPageRequestFails();

  // Back to the start: the model and its random streams.
  void Restart() {
    Model->Reset();
    for (TMultiRand* R : Streams)
      R->Reset();
  }
  // What a run produced: clock, transactions and every block's statistics.
  std::string Result() {
    std::ostringstream Out;
    Out << ModelTime() << " " << Model->TransactionCount() << "\n";
    PrintReportCsv(*Model, Out);
    return Out.str();
  }

  TMessageCapture Capture;
  TComponent App;
  TComponent* Form = new TComponent(&App);
  TModel* Model = nullptr;
  std::vector<TMultiRand*> Streams;
  int Deadlocks = 0;
};

TEST_P(FaultInjection, EveryPageRequestCanFail) {
  for (const TRetry Mode : {TRetry::EveryScan, TRetry::OnChange}) {
    SCOPED_TRACE(Mode == TRetry::EveryScan ? "retry at every scan" : "retry on change");
    Restart();
    Model->SetRetry(Mode);
    EveryPageRequestFails();
    if (HasFailure()) return;
  }
}

void FaultInjection::EveryPageRequestFails() {
  const double End = GetParam().EndTime;
  HeapInjectFault(0);
  Model->Simulate(End);
  const std::size_t Pages = HeapRequests();
  const std::string Clean = Result();
  ASSERT_TRUE(Capture.Messages.empty()) << Capture.Messages[0];
  ASSERT_EQ(Deadlocks, 0);
  ASSERT_GE(Pages, 8u);
  RecordProperty("Pages", int(Pages));
  Restart();

  // The heap runs out for good at request K, or refuses request K alone.
  for (const std::size_t Refused : {SIZE_MAX, std::size_t(1)}) {
    for (std::size_t K = 1; K <= Pages; ++K) {
      SCOPED_TRACE("page request " + std::to_string(K) + (Refused == 1 ? " alone" : " on"));
      HeapInjectFault(K, Refused);
      Model->Simulate(End);
      EXPECT_EQ(Capture.Messages,
                (std::vector<std::string>{NoMemory + FormatFloat("0.000", ModelTime())}));
      EXPECT_TRUE(Model->Exhausted());
      EXPECT_FALSE(Model->Running());
      EXPECT_EQ(Deadlocks, 0);
      // A record whose free-stack page was refused is lost to reuse.
      for (const std::string& Fault : CheckInvariants(*Model, true))
        ADD_FAILURE() << Fault;
      std::ostringstream Report;
      PrintReport(*Model, Report);
      EXPECT_FALSE(Report.str().empty());
      // Stopped for good: a further Simulate neither runs nor reports.
      const double Clock = ModelTime();
      Model->Simulate(End);
      EXPECT_EQ(ModelTime(), Clock);
      EXPECT_EQ(Capture.Messages.size(), 1u);

      HeapInjectFault(0);
      Capture.Messages.clear();
      Restart();
      Model->Simulate(End);
      EXPECT_EQ(Result(), Clean);
      EXPECT_TRUE(Capture.Messages.empty());
      Capture.Messages.clear();
      Restart();
      if (HasFailure()) return;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Reference, FaultInjection, testing::ValuesIn(ReferenceModels()),
                         [](const testing::TestParamInfo<TReferenceModel>& Info) {
                           return Info.param.Name;
                         });

} // namespace
} // namespace quorin::test
