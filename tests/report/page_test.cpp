// The report page's writers: the single-run JSON, the HTML page, the run
// recorder's bounded content buckets and replay moves.
#include <gtest/gtest.h>

#include <cctype>
#include <sstream>

#include "blocks/fixture.h"
#include "quorin/page.h"
#include "quorin/report.h"
#include "quorin/statsim.h"

using namespace quorin;

namespace {

// A generator every time unit into a queue in front of a server that holds
// each transaction for 0.75 time units, every fourth for 1.5 (so that the
// next one waits), then a terminator; a tabulator gets the holding times.
class Page : public test::BlockTest {
protected:
  void Build() {
    Door = Make<TGenerator>("Door");
    Line = Make<TQueue>("Line");
    Clerk = Make<TServer>("Clerk");
    auto* Exit = Make<TTerminator>("Exit");
    auto* Holds = Make<TTabulator>("Holds");
    Holds->SetLowerBound(0);
    Holds->SetInterval(0.5);
    Holds->SetIntervalCount(4);
    Door->OnBeforeTimeGoOn = [this](TAggregate*) { Door->NextTime(1); };
    Door->OnAfterGeneration = [this](TBlock*, TTransaction*) { Door->NextTime(1); };
    Door->OnRouting = [this](TBlock* S, TTransaction*) { S->PassTo(Line); };
    Line->OnRouting = [this](TBlock* S, TTransaction*) { S->PassTo(Clerk); };
    Clerk->OnEnter = [this, Holds, N = 0](TBlock*, TTransaction*) mutable {
      const double Hold = ++N % 4 == 0 ? 1.5 : 0.75;
      Holds->PutValue(Hold);
      Clerk->NextTime(Hold);
    };
    Clerk->OnRouting = [Exit](TBlock* S, TTransaction*) { S->PassTo(Exit); };
  }
  TGenerator* Door = nullptr;
  TQueue* Line = nullptr;
  TServer* Clerk = nullptr;
};

// The value written for Column in Block's object of the report JSON.
std::string JsonValue(const std::string& Json, const std::string& Block, const std::string& Column) {
  const std::size_t At = Json.find("{\"block\":\"" + Block + "\"");
  if (At == std::string::npos) return "";
  const std::size_t End = Json.find('}', At);
  const std::string Key = "\"" + Column + "\":";
  const std::size_t K = Json.find(Key, At);
  if (K == std::string::npos || K > End) return "";
  const std::size_t V = K + Key.size();
  return Json.substr(V, Json.find_first_of(",}", V) - V);
}

TEST_F(Page, ReportJsonHoldsEveryStatisticOfTheReportExactly) {
  Build();
  Model->Simulate(50);
  Model->ClearStatistics();
  Model->Simulate(1000);
  TPageInfo Info;
  Info.Title = "Shop <\"1\">";
  Info.Warmup = 50;
  Info.Until = 1000;
  Info.Findings = {"Quorin Error: something </script> odd"};
  std::ostringstream Out;
  WriteReportJson(*Model, Info, Out);
  const std::string Json = Out.str();
  int Checked = 0;
  for (const TReportRow& Row : CollectReport(*Model))
    for (const std::string& Column : ReportColumnsOf(Row)) {
      const std::string Text = JsonValue(Json, Row.Name, Column);
      ASSERT_FALSE(Text.empty()) << Row.Name << " " << Column;
      std::istringstream Read(Text);
      double V = 0;
      Read >> V;
      // The report's own numbers, exactly (as doubles).
      if (Column == "Mean time") {
        EXPECT_EQ(V, double(*Row.MeanTime)) << Row.Name;
      }
      if (Column == "Mean cont.") {
        EXPECT_EQ(V, double(*Row.MeanContent)) << Row.Name;
      }
      if (Column == "Usage") {
        EXPECT_EQ(V, double(*Row.Usage)) << Row.Name;
      }
      if (Column == "Mean interval") {
        EXPECT_EQ(V, double(*Row.MeanInterval)) << Row.Name;
      }
      if (Column == "Entries") {
        EXPECT_EQ(V, Row.Entries) << Row.Name;
      }
      ++Checked;
    }
  EXPECT_GT(Checked, 20);
  EXPECT_NE(Json.find("\"sections\":[{\"kind\":\"Generator\",\"title\":\"Generators\","
                      "\"columns\":[\"Exits\",\"Mean interval\"]}"),
            std::string::npos)
      << Json;
  // Text that could close the page's script element is escaped.
  EXPECT_EQ(Json.find("</script>"), std::string::npos);
  EXPECT_NE(Json.find("\"title\":\"Shop \\u003c\\\"1\\\"\\u003e\""), std::string::npos) << Json;
  EXPECT_NE(Json.find("\"warmup\":50,\"until\":1000"), std::string::npos);
}

TEST_F(Page, PageInlinesEverythingAndCarriesTheReportJson) {
  Build();
  TRunRecorder Recorder(*Model);
  Model->Simulate(200);
  TPageInfo Info;
  Info.Title = "Shop";
  std::ostringstream Written, Json;
  WriteReportPage(*Model, &Recorder, Info, Written);
  const std::string Html = Written.str();
  Info.Seeds = Recorder.Seeds();
  WriteReportJson(*Model, Info, Json);
  // The page's tables read the very JSON that --json writes.
  EXPECT_NE(Html.find("{\"report\":" + Json.str() + ","), std::string::npos);
  // Nothing is fetched: no resource names a network address.
  std::string Lower = Html;
  for (char& C : Lower)
    C = char(std::tolower(static_cast<unsigned char>(C)));
  for (const char* Remote : {"src=\"http", "src='http", "src=\"//", "href=\"http", "href='http",
                             "href=\"//", "url(http", "url(\"http", "url('http", "url(//", "@import",
                             "fetch(", "xmlhttprequest", "<link", "<iframe"})
    EXPECT_EQ(Lower.find(Remote), std::string::npos) << Remote;
  // One diagram element per block, its id the block's name, and an arrow
  // per route the run took.
  for (const char* Block : {"Door", "Line", "Clerk", "Exit"})
    EXPECT_NE(Html.find(std::string("<g id=\"") + Block + "\" class=\"block\""), std::string::npos)
        << Block;
  EXPECT_NE(Html.find("data-from=\"Line\" data-to=\"Clerk\""), std::string::npos);
  EXPECT_NE(Html.find("\"histograms\":[{\"name\":\"Holds\",\"lower\":0,\"interval\":0.5,"
                      "\"count\":200,\"mean\":0.9375,\"hits\":[0,0,150,0,50,0]}]"),
            std::string::npos)
      << Html.substr(Html.find("\"histograms\""), 120);
  EXPECT_NE(Html.find("uPlot"), std::string::npos);
  EXPECT_EQ(Html.rfind("<!DOCTYPE html>", 0), 0u);
}

// The buckets keep the time-weighted content exactly however often they
// merge, and never more than Points of them.
TEST_F(Page, ContentBucketsMergeWithinTheirBoundAndKeepTheMean) {
  Build();
  TRunRecorder::TLimits Limits;
  Limits.Points = 16;
  Limits.Moves = 50;
  TRunRecorder Recorder(*Model, Limits);
  Model->Simulate(1000);
  Recorder.Finish();
  ASSERT_EQ(Recorder.Series().size(), 2u); // the queue and the server
  for (const auto& S : Recorder.Series()) {
    EXPECT_LE(S.Buckets.size(), 16u);
    EXPECT_GE(S.Buckets.size(), 8u);
    double Area = 0, Covered = 0;
    int32_t Max = 0;
    for (const auto& B : S.Buckets) {
      Area += B.Area;
      Covered += B.Covered;
      Max = std::max(Max, B.Max);
    }
    auto* Q = dynamic_cast<TProQueue*>(S.Block);
    EXPECT_NEAR(Covered, ModelTime(), 1e-9);
    EXPECT_NEAR(Area / Covered, double(Q->AverageCount()), 1e-9) << S.Block->Name();
    EXPECT_EQ(Max, Q->MaxCount()) << S.Block->Name();
  }
  EXPECT_EQ(Recorder.Width(), 64.0); // 1, doubled until 16 buckets span the run
  // The replay keeps the first moves only, in order, and counts them all.
  ASSERT_EQ(Recorder.Moves().size(), 50u);
  EXPECT_EQ(Recorder.Passes(), int64_t(Line->Entries()) + Clerk->Entries() + Clerk->Exits());
  const auto& First = Recorder.Moves()[0];
  EXPECT_EQ(First.Time, 1.0);
  EXPECT_EQ(Recorder.Blocks()[std::size_t(First.From)]->Name(), "Door");
  EXPECT_EQ(Recorder.Blocks()[std::size_t(First.To)]->Name(), "Line");
  EXPECT_EQ(Recorder.Moves()[2].Trans, -1); // into the terminator
  for (std::size_t i = 1; i < Recorder.Moves().size(); ++i)
    EXPECT_LE(Recorder.Moves()[i - 1].Time, Recorder.Moves()[i].Time);
  const auto Routes = Recorder.Routes();
  ASSERT_EQ(Routes.size(), 3u);
  EXPECT_EQ(Routes[0].first->Name(), "Door");
  EXPECT_EQ(Routes[2].second->Name(), "Exit");
}

// A queue that counts how often its content is read.
class TCountedQueue : public TQueue {
public:
  using TQueue::TQueue;
  int32_t Count() override {
    ++Reads;
    return TQueue::Count();
  }
  int64_t Reads = 0;
};

TEST_F(Page, RecorderReadsIdleBlocksInTurnNotAtEveryEvent) {
  // Many queues that nothing enters beside the busy line: each event may
  // look at one of them, so the cost of an event does not grow with them,
  // and their content over time is still complete at the end.
  Build();
  std::vector<TCountedQueue*> Idle;
  for (int i = 0; i < 200; ++i)
    Idle.push_back(Make<TCountedQueue>("Idle" + std::to_string(i)));
  TRunRecorder Recorder(*Model);
  Model->Simulate(2000);
  Recorder.Finish();
  int64_t Reads = 0;
  for (const TCountedQueue* Q : Idle)
    Reads += Q->Reads;
  const int64_t Events = Line->Entries() * 3; // an arrival, a service end, a departure
  EXPECT_LT(Reads, Events) << "idle queues read " << Reads << " times in about " << Events
                           << " events";
  for (const auto& S : Recorder.Series()) {
    double Area = 0, Covered = 0;
    for (const auto& B : S.Buckets) {
      Area += B.Area;
      Covered += B.Covered;
    }
    EXPECT_NEAR(Covered, ModelTime(), 1e-9) << S.Block->Name();
    EXPECT_NEAR(Area / Covered, double(dynamic_cast<TProQueue*>(S.Block)->AverageCount()), 1e-9)
        << S.Block->Name();
  }
}

TEST_F(Page, RecorderSeesAReleaseFromAnotherBlocksHandler) {
  // The clerk's holder is destroyed by the door's handler, without a pass:
  // the content over time still matches the server's own mean.
  Build();
  auto Routing = Door->OnRouting;
  int N = 0;
  Door->OnRouting = [this, Routing, &N](TBlock* S, TTransaction* T) {
    if (++N % 3 == 0) Clerk->Release();
    Routing(S, T);
  };
  TRunRecorder Recorder(*Model);
  Model->Simulate(500);
  Recorder.Finish();
  for (const auto& S : Recorder.Series()) {
    double Area = 0, Covered = 0;
    for (const auto& B : S.Buckets) {
      Area += B.Area;
      Covered += B.Covered;
    }
    EXPECT_NEAR(Area / Covered, double(dynamic_cast<TProQueue*>(S.Block)->AverageCount()), 0.01)
        << S.Block->Name();
  }
}

TEST_F(Page, RecorderChainsTheModelsHandlersAndPutsThemBack) {
  Build();
  int Events = 0, Passes = 0;
  Model->OnNewTime = [&Events](TAggregate*, TTransaction*) { ++Events; };
  Model->OnAfterPass = [&Passes](TBlock*, TBlock*, TTransaction*) { ++Passes; };
  {
    TRunRecorder Recorder(*Model);
    Model->Simulate(10);
    EXPECT_GT(Events, 0);
    EXPECT_EQ(Passes, Recorder.Passes());
  }
  const int Before = Passes;
  Model->Simulate(20);
  EXPECT_GT(Passes, Before); // the model's own handler again, alone
}

} // namespace
