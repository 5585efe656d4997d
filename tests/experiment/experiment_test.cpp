#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include <signal.h>
#include <unistd.h>

#include "experiment/mm1_model.h"
#include "quorin/detail/future.h"
#include "quorin/detail/run.h"
#include "quorin/report.h"

using namespace quorin;
using quorin::test::BuildMM1;
using quorin::test::MM1Experiment;

namespace {

std::vector<std::string> LinesOf(const std::string& Text) {
  std::vector<std::string> Lines;
  std::istringstream In(Text);
  for (std::string L; std::getline(In, L);)
    Lines.push_back(L);
  return Lines;
}

// Values compared bit for bit: identical means identical, not close.
void ExpectSameReplications(const TExperimentResult& A, const TExperimentResult& B) {
  ASSERT_EQ(A.Replications.size(), B.Replications.size());
  for (size_t i = 0; i < A.Replications.size(); ++i) {
    const auto& X = A.Replications[i];
    const auto& Y = B.Replications[i];
    EXPECT_EQ(X.Number, Y.Number);
    EXPECT_EQ(X.Ok, Y.Ok);
    EXPECT_EQ(X.Seeds, Y.Seeds);
    EXPECT_EQ(X.Draws, Y.Draws);
    EXPECT_EQ(X.Values, Y.Values) << "replication " << X.Number;
    EXPECT_EQ(X.ModelTime, Y.ModelTime);
  }
}

} // namespace

TEST(StudentT, QuantilesMatchTheTables) {
  struct {
    double P, Df, T;
  } const Cases[] = {
      {0.975, 1, 12.706204736}, {0.975, 2, 4.302652730},  {0.975, 4, 2.776445105},
      {0.975, 10, 2.228138852}, {0.975, 29, 2.045229642}, {0.995, 5, 4.032142984},
      {0.95, 30, 1.697260887},  {0.9, 3, 1.637744354},    {0.975, 1e7, 1.959964},
      {0.5, 7, 0.0},            {0.025, 10, -2.228138852},
  };
  for (const auto& C : Cases)
    EXPECT_NEAR(StudentTQuantile(C.P, C.Df), C.T, 1e-6 * std::max(1.0, std::fabs(C.T)))
        << "p " << C.P << " df " << C.Df;
  EXPECT_TRUE(std::isnan(StudentTQuantile(1.0, 5)));
  EXPECT_TRUE(std::isnan(StudentTQuantile(0.9, 0.5)));
}

TEST(Summary, MeanDeviationAndIntervalOfASmallSample) {
  const TSummary S = Summarise({2, 4, 4, 4, 5, 5, 7, 9}, 0.95);
  EXPECT_EQ(S.N, 8);
  EXPECT_DOUBLE_EQ(S.Mean, 5.0);
  EXPECT_NEAR(S.StdDev, std::sqrt(32.0 / 7.0), 1e-12);
  EXPECT_NEAR(S.HalfWidth, 2.364624252 * std::sqrt(32.0 / 7.0) / std::sqrt(8.0), 1e-8);
  EXPECT_DOUBLE_EQ(S.Min, 2);
  EXPECT_DOUBLE_EQ(S.Max, 9);
  const TSummary One = Summarise({3}, 0.95);
  EXPECT_EQ(One.N, 1);
  EXPECT_DOUBLE_EQ(One.Mean, 3);
  EXPECT_TRUE(std::isnan(One.HalfWidth));
}

TEST(StreamPlan, MultiplierHasFullPeriodSoSegmentsAreDisjoint) {
  // 2^31 - 2 = 2 * 3^2 * 7 * 11 * 31 * 151 * 331; a primitive root has no
  // power (m - 1) / q equal to 1 for any prime factor q.
  const int64_t Period = TMultiRand::Modulus - 1;
  EXPECT_EQ(int64_t(2) * 9 * 7 * 11 * 31 * 151 * 331, Period);
  for (int64_t Q : {2, 3, 7, 11, 31, 151, 331})
    EXPECT_NE(PowMod(TMultiRand::DefaultMultiplier, Period / Q), 1) << Q;
  EXPECT_EQ(PowMod(TMultiRand::DefaultMultiplier, Period), 1);

  TStreamPlan Plan;
  EXPECT_EQ(Plan.MaxReplications(), Period / ((int64_t(1) << 20) * 8));
}

TEST(StreamPlan, SeedsAreTheSequenceJumpedAheadAndDrawsAreCountedExactly) {
  TStreamPlan Plan;
  Plan.StreamStride = 1000;
  Plan.StreamSlots = 3;
  // Stepping one stream from the base seed passes the start of every segment.
  TComponent Owner(nullptr);
  TMultiRand Walker(&Owner);
  Walker.SetSeed(Plan.BaseSeed);
  for (int32_t Segment = 0; Segment < 7; ++Segment) {
    EXPECT_EQ(Walker.GetSeed(), Plan.Seed(Segment / 3, Segment % 3)) << Segment;
    for (int i = 0; i < 1000; ++i)
      Walker.Uni01();
  }
  const int64_t Start = Plan.Seed(4, 2);
  TMultiRand S(&Owner);
  S.SetSeed(Start);
  EXPECT_EQ(Plan.Draws(Start, S.GetSeed()), 0);
  for (int i = 0; i < 999; ++i)
    S.Uni01();
  EXPECT_EQ(Plan.Draws(Start, S.GetSeed()), 999);
  S.Uni01(); // the first number of the next segment
  EXPECT_EQ(Plan.Draws(Start, S.GetSeed()), std::nullopt);
  EXPECT_EQ(Plan.Draws(Start, 0), std::nullopt);
}

TEST(StreamPlan, SeedingByNameGivesTheSameArrivalsWhenADesignAddsAStream) {
  // Design B is design A with a stream added before the others (a stream
  // that draws, e.g., a routing choice): by position its arrivals would
  // move to another segment; by name they stay.
  auto Design = [](bool Extra) {
    TExperiment E = MM1Experiment(4, 2);
    E.Build = [Extra](TReplicationContext& C) {
      TMultiRand* Added = nullptr;
      if (Extra) {
        Added = new TMultiRand(C.Form);
        Added->SetName("Router");
      }
      TModel* Model = BuildMM1(C);
      for (int32_t i = 0, k = 0; i < C.Form->ComponentCount(); ++i)
        if (auto* R = dynamic_cast<TMultiRand*>(C.Form->Components(i)); R && R != Added)
          R->SetName(k++ ? "Services" : "Arrivals");
      if (Added) {
        auto* Clerk = dynamic_cast<TServer*>(C.Form->Components(C.Form->ComponentCount() - 2));
        Clerk->OnExit = [Added](TBlock*, TTransaction*) { Added->Uni01(); };
      }
      return Model;
    };
    E.Streams.Seeding = TSeeding::Name;
    E.Streams.StreamSlots = TStreamPlan::SlotsForNames({"Arrivals", "Services", "Router"});
    E.Figures.push_back(TFigureSpec::Report("Door", "Exits"));
    E.Figures.push_back(TFigureSpec::Report("Door", "Mean interval"));
    return E;
  };
  const auto A = RunExperiment(Design(false));
  const auto B = RunExperiment(Design(true));
  ASSERT_TRUE(A.Error.empty() && B.Error.empty()) << A.Error << B.Error;
  ASSERT_EQ(A.Failed + B.Failed, 0) << (A.Replications[0].Error + B.Replications[0].Error);
  for (size_t r = 0; r < A.Replications.size(); ++r) {
    const auto &Ra = A.Replications[r], &Rb = B.Replications[r];
    // Same arrivals and services to the bit: the same figures.
    EXPECT_EQ(Ra.Values, Rb.Values) << r;
    EXPECT_EQ(Ra.Seeds[0], Rb.Seeds[1]);
    EXPECT_EQ(Ra.Seeds[1], Rb.Seeds[2]);
    EXPECT_GE(double(Rb.Draws[0]), *Rb.Values[2]); // the router drew once per customer served
  }
  EXPECT_NE(A.Replications[0].Values, A.Replications[1].Values);

  // Names must be there and apart.
  TComponent Form(nullptr);
  TMultiRand X(&Form), Y(&Form);
  TStreamPlan Plan;
  Plan.Seeding = TSeeding::Name;
  std::string Error;
  EXPECT_TRUE(SeedStreams(Form, Plan, 0, Error).empty());
  EXPECT_EQ(Error, "stream TMultiRand#1 has no name; seeding by name needs one");
  X.SetName("Same");
  Y.SetName("Same");
  EXPECT_TRUE(SeedStreams(Form, Plan, 0, Error).empty());
  EXPECT_EQ(Error, "two streams are named Same; seeding by name needs distinct names");
  Y.SetName("Other");
  Plan.StreamSlots = TStreamPlan::SlotsForNames({"Same", "Other"});
  EXPECT_EQ(SeedStreams(Form, Plan, 3, Error),
            (std::vector<int64_t>{Plan.Seed(3, Plan.SlotOf("Same")),
                                  Plan.Seed(3, Plan.SlotOf("Other"))}));
}

TEST(Experiment, ResultsAreIdenticalForAnyNumberOfWorkers) {
  const auto One = RunExperiment(MM1Experiment(6, 1));
  const auto Three = RunExperiment(MM1Experiment(6, 3));
  ASSERT_TRUE(One.Error.empty()) << One.Error;
  EXPECT_EQ(One.Failed, 0);
  ExpectSameReplications(One, Three);
  // Every replication has streams of its own, and drew within its segment.
  for (const auto& R : One.Replications) {
    ASSERT_EQ(R.Seeds.size(), 2u);
    EXPECT_EQ(R.Seeds[1], TStreamPlan{}.Seed(R.Number, 1));
    EXPECT_GT(R.Draws[0], 1000);
  }
  EXPECT_NE(One.Replications[0].Values, One.Replications[1].Values);
  ASSERT_EQ(One.Figures.size(), 3u);
  const auto& Wq = One.Figures[0].Summary;
  EXPECT_EQ(Wq.N, 6);
  EXPECT_LT(Wq.Low, Wq.Mean);
  EXPECT_GT(Wq.Mean, 1.0);
  EXPECT_LT(Wq.Mean, 8.0);
  // The same replication alone in this process gives the same values, and
  // so do all of them run here one after another.
  const auto Here = RunReplicationHere(MM1Experiment(6, 1), 4);
  EXPECT_EQ(Here.Values, One.Replications[4].Values);
  TExperiment InProcess = MM1Experiment(6, 3);
  InProcess.InProcess = true;
  ExpectSameReplications(RunExperiment(InProcess), One);
}

TEST(Experiment, AModelBuiltBeforeTheForkRunsWithTheStreamsItNames) {
  const auto Fresh = RunExperiment(MM1Experiment(4, 2));
  // The model lives on a form of the caller's, built once; each worker
  // resets it and names that form as the place of its streams.
  TComponent Application(nullptr);
  TReplicationContext Outside{0, new TComponent(&Application), nullptr};
  TModel* Model = BuildMM1(Outside);
  Model->Simulate(50); // what ran before is reset in each replication
  TExperiment E = MM1Experiment(4, 2);
  E.Build = [Model, Form = Outside.Form](TReplicationContext& C) {
    Model->Reset();
    C.StreamsOn = Form;
    return Model;
  };
  ExpectSameReplications(RunExperiment(E), Fresh);
  EXPECT_EQ(Fresh.Replications[3].Seeds[1], TStreamPlan{}.Seed(3, 1));
}

// A handler's exception ends the run and fails the replication; every block
// is left consistent, so the model is destroyed with its form (nothing is
// kept back: the sanitizer build's leak check would see it) and the same
// process runs the next replication exactly as a fresh one would.
TEST(Experiment, AHandlersExceptionFailsTheReplicationAndTheModelIsDestroyed) {
  static int Alive = 0;
  struct TWitness : TComponent {
    explicit TWitness(TComponent* Owner) : TComponent(Owner) { ++Alive; }
    ~TWitness() override { --Alive; }
  };
  TExperiment E = MM1Experiment(2, 1);
  E.Build = [](TReplicationContext& C) {
    TModel* Model = BuildMM1(C);
    new TWitness(C.Form);
    if (C.Number == 0) {
      auto* Clerk = dynamic_cast<TServer*>(Model->Owner()->Components(5));
      auto Enter = Clerk->OnEnter;
      Clerk->OnEnter = [Enter](TBlock* Sender, TTransaction* T) {
        Enter(Sender, T);
        if (FSysTime > 500) throw std::runtime_error("handler gave up");
      };
    }
    return Model;
  };
  const auto Thrown = RunReplicationHere(E, 0);
  EXPECT_FALSE(Thrown.Ok);
  EXPECT_EQ(Thrown.Error, "exception: handler gave up");
  EXPECT_EQ(Alive, 0);
  EXPECT_EQ(GlobalModel, nullptr);
  const auto Next = RunReplicationHere(E, 1);
  EXPECT_TRUE(Next.Ok) << Next.Error;
  EXPECT_EQ(Next.Values, RunExperiment(E).Replications[1].Values);
}

TEST(Experiment, WorkersRunAtTheSameTime) {
  // Replications that wait rather than compute show the overlap even on a
  // busy machine: four waits of 0.3 s take 1.2 s one after the other.
  TExperiment E = MM1Experiment(4, 4);
  E.Build = [](TReplicationContext& C) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return BuildMM1(C);
  };
  const auto R = RunExperiment(E);
  EXPECT_EQ(R.Failed, 0);
  EXPECT_LT(R.WallSeconds, 0.9);
}

// Set by the SIGINT handler of a process that lives on after it, as
// Python's does.
volatile std::sig_atomic_t SawInterrupt = 0;

TEST(Experiment, AnInterruptStartsNoMoreReplicationsAndKeepsWhatFinished) {
  // Six replications, one at a time in a worker; the second one's worker
  // sends the interrupt as it starts, so exactly the first has finished
  // however slow the machine. The runner answers the first at once, and the
  // second and the four not started as interrupted.
  TExperiment E = MM1Experiment(6, 1);
  E.Build = [](TReplicationContext& C) {
    if (C.Number == 1) { // numbered from 0: the second
      ::kill(::getppid(), SIGINT);
      std::this_thread::sleep_for(std::chrono::milliseconds(400));
    }
    return BuildMM1(C);
  };
  struct sigaction Mine {}, Before {};
  Mine.sa_handler = [](int) { SawInterrupt = 1; };
  sigemptyset(&Mine.sa_mask);
  sigaction(SIGINT, &Mine, &Before);
  const auto R = RunExperiment(E);
  sigaction(SIGINT, &Before, nullptr);
  EXPECT_EQ(SawInterrupt, 1); // the process's own handler still ran
  ASSERT_TRUE(R.Error.empty()) << R.Error;
  ASSERT_LE(R.Replications.size(), 2u);
  ASSERT_GE(R.Replications.size(), 1u);
  EXPECT_TRUE(R.Replications[0].Ok);
  EXPECT_EQ(R.Failed, 0);
  EXPECT_EQ(R.Interrupted, 6 - int32_t(R.Replications.size()));
  std::ostringstream Out;
  PrintExperiment(R, Out);
  EXPECT_NE(Out.str().find("interrupted: " + std::to_string(R.Interrupted) + " did not finish"),
            std::string::npos)
      << Out.str();
  // The next experiment runs in full.
  const auto Again = RunExperiment(MM1Experiment(2, 1));
  EXPECT_EQ(Again.Replications.size(), 2u);
  EXPECT_EQ(Again.Interrupted, 0);
}

TEST(Experiment, AnInterruptInProcessEndsTheReplicationUnderWayAndStartsNoMore) {
  TExperiment E = MM1Experiment(6, 1);
  E.InProcess = true;
  E.Build = [](TReplicationContext& C) {
    if (C.Number == 1) ::kill(::getpid(), SIGINT);
    return BuildMM1(C);
  };
  SawInterrupt = 0;
  struct sigaction Mine {}, Before {};
  Mine.sa_handler = [](int) { SawInterrupt = 1; };
  sigemptyset(&Mine.sa_mask);
  sigaction(SIGINT, &Mine, &Before);
  const auto R = RunExperiment(E);
  struct sigaction After {};
  sigaction(SIGINT, &Before, &After);
  EXPECT_EQ(SawInterrupt, 1);               // passed on to the process's handler
  EXPECT_EQ(After.sa_handler, Mine.sa_handler); // which is put back
  ASSERT_EQ(R.Replications.size(), 1u);
  EXPECT_TRUE(R.Replications[0].Ok);
  EXPECT_EQ(R.Interrupted, 5);
  E.Build = &BuildMM1;
  EXPECT_EQ(RunExperiment(E).Replications.size(), 6u);
}

TEST(Experiment, FailingReplicationsAreReportedWithNumberAndSeedsAndTheRestKept) {
  TExperiment E = MM1Experiment(6, 2);
  E.TimeLimit = 2;
  E.Build = [](TReplicationContext& C) {
    TModel* Model = BuildMM1(C);
    auto* Trouble = new TScheduler(C.Form);
    auto* Bad = new TMultiRand(C.Form);
    Bad->SetName("Bad");
    Trouble->OnBeforeTimeGoOn = [Trouble](TAggregate*) { Trouble->NextTime(500); };
    Trouble->OnPlanned = [N = C.Number, Bad](TAggregate*) {
      switch (N) {
      case 1: throw std::runtime_error("handler gave up");
      case 2: Bad->Uniform(-1, 1); break; // a refused draw: reported by message
      case 3: std::abort();
      case 4: { // never ends: killed at the time limit
        volatile int64_t Spin = 0;
        for (;;)
          Spin = Spin + 1;
      }
      default: break;
      }
    };
    return Model;
  };
  const auto R = RunExperiment(E);
  ASSERT_TRUE(R.Error.empty()) << R.Error;
  ASSERT_EQ(R.Replications.size(), 6u);
  EXPECT_EQ(R.Failed, 4);
  const auto& Reps = R.Replications;
  EXPECT_TRUE(Reps[0].Ok);
  EXPECT_TRUE(Reps[5].Ok);
  EXPECT_NE(Reps[1].Error.find("handler gave up"), std::string::npos) << Reps[1].Error;
  EXPECT_NE(Reps[2].Error.find("Incorrect parameters of Bad.Uniform"), std::string::npos)
      << Reps[2].Error;
  EXPECT_NE(Reps[3].Error.find("worker process"), std::string::npos) << Reps[3].Error;
  EXPECT_NE(Reps[4].Error.find("time limit"), std::string::npos) << Reps[4].Error;
  // Seeds are known even of the replications whose worker died.
  for (int i : {1, 2, 3, 4})
    EXPECT_EQ(Reps[size_t(i)].Seeds.size(), 3u) << i;
  EXPECT_EQ(R.Figures[0].Summary.N, 2);

  std::ostringstream Out;
  PrintExperiment(R, Out);
  const std::string Text = Out.str();
  EXPECT_NE(Text.find("6 replications, 4 failed"), std::string::npos) << Text;
  EXPECT_NE(Text.find("Replication 3 failed (seeds " + std::to_string(Reps[3].Seeds[0])),
            std::string::npos)
      << Text;
  std::ostringstream Json;
  PrintExperimentJson(R, Json);
  EXPECT_NE(Json.str().find("{\"replication\":3,\"seeds\":[" + std::to_string(Reps[3].Seeds[0]) +
                            "," + std::to_string(Reps[3].Seeds[1])),
            std::string::npos)
      << Json.str();
}

TEST(Experiment, FiguresWithoutAValueAreCountedAsMissingNotAsZero) {
  TExperiment E = MM1Experiment(4, 2);
  E.Figures = {TFigureSpec::User("Odd only",
                                 [](TModel& M) -> std::optional<double> {
                                   const double T = ModelTime();
                                   (void)M;
                                   return int64_t(T * 1000) % 2 ? std::optional(T) : std::nullopt;
                                 }),
               TFigureSpec::Report("Door", "Mean time", "Mean time of a generator")};
  const auto R = RunExperiment(E);
  int32_t Have = 0;
  for (const auto& Rep : R.Replications)
    Have += Rep.Values[0].has_value();
  EXPECT_EQ(R.Figures[0].Summary.N, Have);
  EXPECT_EQ(R.Figures[0].Missing, 4 - Have);
  // The generator keeps no residence time: missing in every replication.
  EXPECT_EQ(R.Figures[1].Summary.N, 0);
  EXPECT_EQ(R.Figures[1].Missing, 4);
  EXPECT_EQ(R.Failed, 0);
}

TEST(Experiment, SequentialModeStopsAtTheSameReplicationWhateverTheWorkers) {
  TExperiment E = MM1Experiment(3, 1);
  E.RunLength = 500;
  E.TargetRelativeHalfWidth = 0.03;
  E.TargetFigures = {"Utilisation"};
  E.MaxReplications = 60;
  const auto One = RunExperiment(E);
  E.Jobs = 2;
  const auto Two = RunExperiment(E);
  EXPECT_TRUE(One.TargetMet);
  EXPECT_GE(One.Replications.size(), 3u);
  EXPECT_LT(One.Replications.size(), 60u);
  ExpectSameReplications(One, Two);
  const auto& U = One.Figures[1].Summary;
  EXPECT_LT(U.HalfWidth, 0.03 * U.Mean);

  E.TargetRelativeHalfWidth = 1e-9; // out of reach: stops at the cap
  E.MaxReplications = 5;
  const auto Capped = RunExperiment(E);
  EXPECT_FALSE(Capped.TargetMet);
  EXPECT_EQ(Capped.Replications.size(), 5u);
}

TEST(Experiment, AStreamThatOutrunsItsSegmentFailsTheReplication) {
  TExperiment E = MM1Experiment(2, 1);
  E.Streams.StreamStride = 100;
  const auto R = RunExperiment(E);
  EXPECT_EQ(R.Failed, 2);
  EXPECT_NE(R.Replications[0].Error.find("left its segment"), std::string::npos)
      << R.Replications[0].Error;
}

TEST(Experiment, RefusesWhatCannotRun) {
  struct {
    std::function<void(TExperiment&)> Change;
    const char* Reason;
  } const Cases[] = {
      {[](TExperiment& E) { E.Replications = 256; }, "do not fit disjointly"},
      {[](TExperiment& E) { E.Level = 1; }, "confidence level"},
      {[](TExperiment& E) { E.Jobs = 0; }, "at least one job"},
      {[](TExperiment& E) { E.Figures.push_back(TFigureSpec::Report("Line", "Mean tme")); },
       "no column \"Mean tme\""},
      {[](TExperiment& E) { E.TargetFigures = {"Wait"}; }, "unknown figure \"Wait\""},
  };
  for (const auto& C : Cases) {
    TExperiment E = MM1Experiment(2, 1);
    C.Change(E);
    const auto R = RunExperiment(E);
    EXPECT_NE(R.Error.find(C.Reason), std::string::npos) << R.Error;
    EXPECT_TRUE(R.Replications.empty());
  }
  // A block name is known only once the model is built: each replication fails.
  TExperiment E = MM1Experiment(2, 1);
  E.Figures = {TFigureSpec::Report("Lane", "Mean time")};
  const auto R = RunExperiment(E);
  EXPECT_EQ(R.Failed, 2);
  EXPECT_NE(R.Replications[1].Error.find("no block named \"Lane\""), std::string::npos);
}

TEST(Experiment, TablesCarryEveryFigureAndReplication) {
  TExperiment E = MM1Experiment(3, 2);
  std::vector<int32_t> Progress;
  E.OnProgress = [&](int32_t Done, int32_t Total, double) {
    EXPECT_EQ(Total, 3);
    Progress.push_back(Done);
  };
  const auto R = RunExperiment(E);
  ASSERT_FALSE(Progress.empty());
  EXPECT_EQ(Progress.back(), 3);
  EXPECT_TRUE(std::is_sorted(Progress.begin(), Progress.end()));
  std::ostringstream Text, Csv, Reps, Json;
  PrintExperimentJson(R, Json);
  EXPECT_EQ(Json.str().rfind("{\"level\":0.95,\"warmup\":100,\"run_length\":2000,"
                             "\"replications\":3,\"failed\":0,\"sequential\":false,"
                             "\"target_met\":false,\"figures\":[{\"name\":\"Wq\",\"mean\":",
                             0),
            0u)
      << Json.str();
  EXPECT_NE(Json.str().find("\"n\":3,\"missing\":0}]"), std::string::npos);
  EXPECT_NE(Json.str().find("],\"failures\":[]}"), std::string::npos);
  PrintExperiment(R, Text);
  PrintExperimentCsv(R, Csv);
  PrintReplicationsCsv(R, Reps);
  const auto T = LinesOf(Text.str());
  ASSERT_EQ(T.size(), 5u);
  EXPECT_EQ(T[0], "3 replications, 0 failed; warm-up 100, run length 2000; 95 % confidence "
                  "intervals");
  EXPECT_EQ(T[1].rfind("Figure", 0), 0u);
  EXPECT_EQ(T[2].rfind("Wq ", 0), 0u);
  const auto C = LinesOf(Csv.str());
  ASSERT_EQ(C.size(), 4u);
  EXPECT_EQ(C[0], "figure,mean,half_width,low,high,std_dev,min,max,n,missing,level");
  EXPECT_EQ(C[3].rfind("Served,", 0), 0u);
  EXPECT_EQ(LinesOf(Reps.str()).size(), 1u + 3 * 3);
}

TEST(Welch, IntervalMeansAreAveragedAndSmoothedAsWelchSays) {
  TExperiment E = MM1Experiment(4, 2);
  const auto W = RunWelch(E, TFigureSpec::Report("Line", "Mean cont."), 50, 500, 2);
  ASSERT_TRUE(W.Error.empty()) << W.Error;
  ASSERT_EQ(W.Time.size(), 10u);
  EXPECT_DOUBLE_EQ(W.Time[0], 50);
  EXPECT_DOUBLE_EQ(W.Time[9], 500);
  EXPECT_EQ(W.Failed, 0);
  EXPECT_EQ(W.Count[3], 4);
  EXPECT_DOUBLE_EQ(W.Smoothed[0], W.Mean[0]);
  EXPECT_NEAR(W.Smoothed[1], (W.Mean[0] + W.Mean[1] + W.Mean[2]) / 3, 1e-12);
  EXPECT_NEAR(W.Smoothed[4],
              (W.Mean[2] + W.Mean[3] + W.Mean[4] + W.Mean[5] + W.Mean[6]) / 5, 1e-12);
  EXPECT_TRUE(std::isnan(W.Smoothed[8])); // fewer than Window intervals follow
  std::ostringstream Csv;
  WriteWelchCsv(W, Csv);
  const auto L = LinesOf(Csv.str());
  ASSERT_EQ(L.size(), 11u);
  EXPECT_EQ(L[0], "time,mean,smoothed,replications");
  EXPECT_EQ(L[10].substr(L[10].size() - 3), ",,4");
}

namespace {

// Arrivals at 1, 2, 3, ...; each is served for 0.5 and leaves.
struct TDeterministic {
  TComponent Application{nullptr};
  TComponent* Form = new TComponent(&Application);
  TModel* Model = new TModel(Form);
  TGenerator* Door = new TGenerator(Form);
  TServer* Clerk = new TServer(Form);
  TTerminator* Exit = new TTerminator(Form);
  TDeterministic() {
    Door->SetName("Door");
    Clerk->SetName("Clerk");
    Exit->SetName("Exit");
    Door->OnBeforeTimeGoOn = [this](TAggregate*) { Door->NextTime(1); };
    Door->OnAfterGeneration = [this](TBlock*, TTransaction*) { Door->NextTime(1); };
    Door->OnRouting = [this](TBlock* S, TTransaction*) { S->PassTo(Clerk); };
    Clerk->OnEnter = [this](TBlock*, TTransaction*) { Clerk->NextTime(0.5); };
    Clerk->OnRouting = [this](TBlock* S, TTransaction*) { S->PassTo(Exit); };
  }
};

} // namespace

TEST(Trace, RecordsEventsAndPassesInsideTheWindowOnly) {
  TDeterministic M;
  int32_t UserPasses = 0;
  M.Model->OnAfterPass = [&](TBlock*, TBlock*, TTransaction*) { ++UserPasses; };
  std::ostringstream Csv;
  {
    TTrace Trace(*M.Model, Csv, TTraceFormat::Csv, 2, 2.5);
    M.Model->Simulate(4);
  }
  // Arrivals at 1 ... 5 (the run ends after the first event past 4), three
  // of them served by then: the user's own handler still saw every pass.
  EXPECT_EQ(UserPasses, 5 + 3);
  EXPECT_FALSE(M.Model->OnNewTime); // and the model's handlers are back
  const std::vector<std::string> Expected{
      "time,kind,block,transaction,from,to,serial,priority",
      "2.0000000,event,Door,,,,,",
      "2.0000000,pass,Door,1,Door,Clerk,2,0",
      "2.5000000,event,Clerk,1,,,2,0",
      "2.5000000,pass,Clerk,1,Clerk,Exit,2,0",
  };
  EXPECT_EQ(LinesOf(Csv.str()), Expected);
}

TEST(Trace, JsonLinesNameTheTransactionThatEntersATerminator) {
  TDeterministic N;
  std::ostringstream Json;
  TTrace Trace(*N.Model, Json, TTraceFormat::JsonLines, 1.5, 1.5);
  N.Model->Simulate(3);
  EXPECT_EQ(LinesOf(Json.str()),
            (std::vector<std::string>{
                "{\"time\":1.5000000,\"kind\":\"event\",\"block\":\"Clerk\",\"transaction\":1,"
                "\"serial\":1,\"priority\":0}",
                "{\"time\":1.5000000,\"kind\":\"pass\",\"block\":\"Clerk\",\"transaction\":1,"
                "\"serial\":1,\"priority\":0,\"from\":\"Clerk\",\"to\":\"Exit\"}"}));
}

TEST(Trace, TheExperimentTracesTheChosenReplicationToAFile) {
  TExperiment E = MM1Experiment(2, 2);
  E.Trace.File = testing::TempDir() + "quorin_trace.jsonl";
  E.Trace.Replication = 1;
  E.Trace.Format = TTraceFormat::JsonLines;
  E.Trace.To = 10;
  std::remove(E.Trace.File.c_str());
  const auto R = RunExperiment(E);
  EXPECT_EQ(R.Failed, 0);
  std::ifstream In(E.Trace.File);
  std::string First;
  ASSERT_TRUE(std::getline(In, First));
  EXPECT_EQ(First.rfind("{\"time\":", 0), 0u) << First;
}

// A trace that cannot be written whole fails its replication with the
// reason, and leaves no file behind; the other replications are not touched.
TEST(Trace, ATraceThatCannotBeWrittenFailsItsReplication) {
  const std::string Missing = testing::TempDir() + "quorin_no_such_folder/trace.csv";
  const std::pair<std::string, std::string> Cases[] = {
      {"/dev/full", "/dev/full: cannot be written (No space left on device)"},
      {Missing, Missing + ": cannot be written (No such file or directory)"}};
  for (const auto& [File, Reason] : Cases) {
    TExperiment E = MM1Experiment(2, 2);
    E.Trace.File = File;
    E.Trace.Replication = 1;
    const auto R = RunExperiment(E);
    EXPECT_EQ(R.Failed, 1) << File;
    ASSERT_EQ(R.Replications.size(), 2u);
    for (const auto& Replication : R.Replications) {
      EXPECT_EQ(Replication.Ok, Replication.Number != 1) << File;
      if (Replication.Number == 1) {
        EXPECT_NE(Replication.Error.find(Reason), std::string::npos) << Replication.Error;
      }
    }
  }
}

TEST(Recording, ContentStepsAndTabulatorBins) {
  TDeterministic M;
  TContentRecorder Content(*M.Model, *M.Clerk);
  M.Model->Simulate(2.2);
  std::ostringstream Csv;
  Content.WriteCsv(Csv);
  EXPECT_EQ(LinesOf(Csv.str()),
            (std::vector<std::string>{"time,content", "0.0000000,0", "1.0000000,1",
                                      "1.5000000,0", "2.0000000,1", "2.5000000,0"}));

  TComponent Owner(nullptr);
  TTabulator Tab(&Owner);
  Tab.SetLowerBound(0);
  Tab.SetInterval(2);
  Tab.SetIntervalCount(2);
  for (double X : {-1.0, 0.5, 1.0, 3.0, 9.0, 9.5})
    Tab.PutValue(X);
  std::ostringstream Bins;
  WriteTabulatorCsv(Tab, Bins);
  EXPECT_EQ(LinesOf(Bins.str()), (std::vector<std::string>{"lower,upper,hits", ",0,1", "0,2,2",
                                                          "2,4,1", "4,,2"}));
}

TEST(Experiment, StreamsTheRunnerCannotKeepDisjointFailTheReplication) {
  struct {
    std::function<void(TComponent*)> Add;
    const char* Reason;
  } const Cases[] = {
      {[](TComponent* Form) { (new TMultiRand(Form))->SetMultiplier(16807); }, "multiplier 16807"},
      {[](TComponent* Form) {
         for (int i = 0; i < 7; ++i)
           new TMultiRand(Form);
       },
       "has 9 random streams"},
  };
  for (const auto& C : Cases) {
    TExperiment E = MM1Experiment(1, 1);
    E.Build = [&C](TReplicationContext& Context) {
      TModel* Model = BuildMM1(Context);
      C.Add(Context.Form);
      return Model;
    };
    const auto R = RunExperiment(E);
    ASSERT_EQ(R.Failed, 1);
    EXPECT_NE(R.Replications[0].Error.find(C.Reason), std::string::npos)
        << R.Replications[0].Error;
  }
}

// The M/M/1 whose service times (exponential, mean 0.8) also feed a
// tabulator "Services" with bins [0, 0.8) and [0.8, 1.6).
TModel* BuildMM1WithTabulator(TReplicationContext& C) {
  auto M = examples::BuildSingleLine<TServer>(C.Form, 1.0, 0.8);
  auto* Tab = new TTabulator(C.Form);
  Tab->SetName("Services");
  Tab->SetInterval(0.8f);
  Tab->SetIntervalCount(2);
  auto* Service = M.Service;
  auto* Draws = M.Services;
  Service->OnEnter = [=](TBlock*, TTransaction*) {
    const double Hold = Draws->Exponential(0.8);
    Tab->PutValue(Hold);
    Service->NextTime(Hold);
  };
  return M.Model;
}

TEST(Experiment, TabulatorsAndCollectedValuesComeBackWithIntervals) {
  // The figures are made from a tabulator laid out as the model's.
  TComponent Root(nullptr);
  auto* Form = new TComponent(&Root);
  auto* Tab = new TTabulator(Form);
  Tab->SetName("Services");
  Tab->SetInterval(0.8f);
  Tab->SetIntervalCount(2);
  const std::vector<TFigureSpec> Tabs = TabulatorFigures(Root);
  std::vector<std::string> Columns;
  for (const TFigureSpec& F : Tabs) {
    EXPECT_EQ(F.Block, "Services");
    Columns.push_back(F.Column);
  }
  EXPECT_EQ(Columns, (std::vector<std::string>{"Mean", "Deviation", "Count", "Fraction < 0",
                                               "Fraction [0, 0.8)", "Fraction [0.8, 1.6)",
                                               "Fraction >= 1.6"}));

  auto Experiment = [&](int32_t Jobs) {
    TExperiment E = MM1Experiment(6, Jobs);
    E.Build = BuildMM1WithTabulator;
    E.Figures.insert(E.Figures.end(), Tabs.begin(), Tabs.end());
    E.Collect = [](TModel& M) {
      std::vector<std::pair<std::string, double>> Values;
      for (TAggregate* A : M.Aggregates())
        if (A->Name() == "Exit") Values.emplace_back("exits", static_cast<TBlock*>(A)->Entries());
      Values.emplace_back("nothing", std::nan(""));
      return Values;
    };
    return RunExperiment(E);
  };
  const auto One = Experiment(1), Two = Experiment(2);
  ExpectSameReplications(One, Two);
  ASSERT_EQ(Two.Failed, 0);
  // The report's figures, the tabulator's seven, then the collected two.
  ASSERT_EQ(Two.Figures.size(), 3u + 7 + 2);
  auto Figure = [&](const std::string& Name) -> const TFigureResult& {
    for (const TFigureResult& F : Two.Figures)
      if (F.Name == Name) return F;
    ADD_FAILURE() << "no figure " << Name;
    return Two.Figures.front();
  };
  // Exponential service times of mean 0.8: the mean and the deviation 0.8,
  // the bins 1 - 1/e, 1/e - 1/e^2 and 1/e^2 of the values (about 12000 of
  // them: a fraction's standard error is below 0.005).
  const struct {
    const char* Name;
    double Expected, Tolerance;
  } Theory[] = {{"Services Mean", 0.8, 0.04},
                {"Services Deviation", 0.8, 0.04},
                {"Services Fraction < 0", 0, 0},
                {"Services Fraction [0, 0.8)", 1 - std::exp(-1.0), 0.015},
                {"Services Fraction [0.8, 1.6)", std::exp(-1.0) - std::exp(-2.0), 0.015},
                {"Services Fraction >= 1.6", std::exp(-2.0), 0.015}};
  for (const auto& T : Theory) {
    const TSummary& S = Figure(T.Name).Summary;
    EXPECT_EQ(S.N, 6) << T.Name;
    EXPECT_NEAR(S.Mean, T.Expected, T.Tolerance) << T.Name;
    EXPECT_TRUE(S.HalfWidth >= 0 && S.HalfWidth < 0.05) << T.Name << " " << S.HalfWidth;
  }
  // About 2000 services a replication; the collected count of exits is the
  // user figure's, replication by replication; a value that is not finite
  // is missing.
  EXPECT_NEAR(Figure("Services Count").Summary.Mean, 2000, 200);
  EXPECT_EQ(Figure("exits").Summary.N, 6);
  EXPECT_EQ(Figure("nothing").Summary.N, 0);
  EXPECT_EQ(Figure("nothing").Missing, 6);
  for (const TReplicationResult& R : Two.Replications) {
    ASSERT_EQ(R.Values.size(), Two.Figures.size());
    EXPECT_EQ(R.Values[2], R.Values[10]) << "replication " << R.Number;
  }
  std::ostringstream Csv;
  PrintExperimentCsv(Two, Csv);
  EXPECT_NE(Csv.str().find("\nexits,"), std::string::npos) << Csv.str();
}

TEST(Experiment, ACollectThatThrowsFailsItsReplication) {
  TExperiment E = MM1Experiment(2, 2);
  E.Collect = [](TModel&) -> std::vector<std::pair<std::string, double>> {
    throw std::runtime_error("no figures today");
  };
  const auto R = RunExperiment(E);
  EXPECT_EQ(R.Failed, 2);
  EXPECT_NE(R.Replications[0].Error.find("no figures today"), std::string::npos)
      << R.Replications[0].Error;
  EXPECT_EQ(R.Figures.size(), 3u);
}
