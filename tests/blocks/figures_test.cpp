// The figures a study reports: time in system (terminators), waits at a
// join (assemblers), utilisation over the capacity on duty, per-class
// figures of servers, storages and terminators, against queueing theory
// where there is one; the times and serial numbers every transaction
// carries.
#include <cmath>
#include <map>
#include <set>

#include "fixture.h"
#include "quorin/statsim.h"

namespace quorin::test {
namespace {

class FiguresTest : public BlockTest {
protected:
  TMultiRand* Stream(int64_t Seed) {
    auto* R = Make<TMultiRand>("Rand" + std::to_string(Form->ComponentCount()));
    R->SetSeed(Seed);
    return R;
  }
  // A generator of exponential arrivals with the given mean.
  TGenerator* Poisson(const std::string& Name, TMultiRand* R, double Mean, uint8_t Prty = 0) {
    auto* G = Make<TGenerator>(Name);
    G->OnBeforeTimeGoOn = [G, R, Mean](TAggregate*) { G->NextTime(R->Exponential(Mean)); };
    G->OnAfterGeneration = [G, R, Mean, Prty](TBlock*, TTransaction* T) {
      T->SetPrty(Prty);
      G->NextTime(R->Exponential(Mean));
    };
    return G;
  }
  void Run(double WarmUp, double Until) {
    Model->Simulate(WarmUp);
    Model->ClearStatistics();
    Model->Simulate(Until);
  }
};

// M/M/c/K: arrivals at rate Lambda, c units of rate Mu, room for K in all;
// the others are lost. The stationary probabilities give L, the admitted
// rate and W = L / admitted rate (Little), and the units' utilisation
// admitted rate / (c Mu).
struct TMMcK {
  double W, Utilisation;
};
TMMcK TheoryMMcK(double Lambda, double Mu, int C, int K) {
  std::vector<double> P(std::size_t(K) + 1);
  P[0] = 1;
  for (int n = 1; n <= K; ++n)
    P[std::size_t(n)] = P[std::size_t(n) - 1] * Lambda / (Mu * std::min(n, C));
  double Sum = 0, L = 0;
  for (int n = 0; n <= K; ++n)
    Sum += P[std::size_t(n)], L += n * P[std::size_t(n)];
  L /= Sum;
  const double Admitted = Lambda * (1 - P[std::size_t(K)] / Sum);
  return {L / Admitted, Admitted / (C * Mu)};
}

TEST_F(FiguresTest, TerminatorTimeInSystemAndStorageUtilisationFollowMMcK) {
  const int C = 3, K = 6;
  const double Lambda = 1.0, Mu = 0.4;
  auto* Door = Poisson("Door", Stream(2024), 1 / Lambda);
  auto* Line = Make<TQueue>("Line");
  auto* Units = Make<TStorage>("Units");
  auto* Done = Make<TTerminator>("Done");
  auto* Lost = Make<TTerminator>("Lost");
  TMultiRand* Service = Stream(4048);
  Line->SetCapacity(K - C);
  Units->SetCapacity(C);
  Door->OnRouting = [=](TBlock* S, TTransaction*) {
    if (!S->PassTo(Line)) S->PassTo(Lost);
  };
  Line->OnRouting = [=](TBlock* S, TTransaction*) { S->PassTo(Units); };
  Units->OnEnter = [=](TBlock*, TTransaction*) { Units->NextTime(Service->Exponential(1 / Mu)); };
  Units->OnRouting = [=](TBlock* S, TTransaction*) { S->PassTo(Done); };
  Run(1000, 301000);

  const TMMcK Theory = TheoryMMcK(Lambda, Mu, C, K);
  EXPECT_NEAR(double(Done->AverageTime()), Theory.W, 0.02 * Theory.W);
  EXPECT_NEAR(double(Units->Utilisation()), Theory.Utilisation, 0.01);
  // Usage is the share of time any unit is held: well above utilisation.
  EXPECT_GT(double(Units->Usage()), double(Units->Utilisation()) + 0.05);
  EXPECT_NEAR(double(Units->Utilisation()), double(Units->AverageCount()) / C, 1e-12);
  // The time in system of the lost ones is their (zero) stay at the door.
  EXPECT_EQ(Lost->MaxTime(), 0.0);
  EXPECT_GE(Done->MaxTime(), double(Done->AverageTime()));
  EXPECT_EQ(Done->TimesInSystem().Count(), Done->Entries());
  // One class only: no class figures.
  EXPECT_TRUE(Units->PrtyStatistics().empty());
  EXPECT_TRUE(Done->TimesInSystem().Classes().empty());
}

// Non-preemptive priority M/M/1 with two classes of equal rates: the
// waiting time of class k is W0 / ((1 - s(k-1)) (1 - s(k))) (Cobham), with
// W0 = sum of lambda E[S^2] / 2 and s(k) the load of the classes served
// before and with k; the time in system adds the service mean.
TEST_F(FiguresTest, PerClassTimesInSystemFollowCobham) {
  const double Lambda = 0.3, Mean = 1.0; // per class; the server's load is 0.6
  auto* High = Poisson("High", Stream(7), 1 / Lambda, 2);
  auto* Low = Poisson("Low", Stream(8), 1 / Lambda, 1);
  auto* Line = Make<TQueuePrty>("Line");
  auto* Clerk = Make<TServer>("Clerk");
  auto* Done = Make<TTerminator>("Done");
  TMultiRand* Service = Stream(9);
  for (TGenerator* G : {High, Low})
    G->OnRouting = [=](TBlock* S, TTransaction*) { S->PassTo(Line); };
  Line->OnRouting = [=](TBlock* S, TTransaction*) { S->PassTo(Clerk); };
  Clerk->OnEnter = [=](TBlock*, TTransaction*) { Clerk->NextTime(Service->Exponential(Mean)); };
  Clerk->OnRouting = [=](TBlock* S, TTransaction*) { S->PassTo(Done); };
  Run(1000, 401000);

  const double W0 = 2 * Lambda * 2 * Mean * Mean / 2;
  const double Sigma1 = Lambda * Mean, Sigma2 = 2 * Lambda * Mean;
  const std::map<int, double> Flow = {{2, W0 / (1 - Sigma1) + Mean},
                                      {1, W0 / ((1 - Sigma1) * (1 - Sigma2)) + Mean}};
  const auto& Classes = Done->TimesInSystem().Classes();
  ASSERT_EQ(Classes.size(), 2u);
  int32_t Entries = 0;
  for (const TPrtyStatistics& S : Classes) {
    EXPECT_NEAR(double(S.AverageTime()), Flow.at(S.Prty), 0.03 * Flow.at(S.Prty)) << int(S.Prty);
    EXPECT_GE(S.MaxTime, double(S.AverageTime()));
    Entries += S.Entries;
  }
  EXPECT_EQ(Entries, Done->Entries());
  // The server keeps its classes too: each class's service mean, and
  // counts that add up to the block's.
  ASSERT_EQ(Clerk->PrtyStatistics().size(), 2u);
  int32_t Exits = 0;
  long double Content = 0;
  for (const TPrtyStatistics& S : Clerk->PrtyStatistics()) {
    EXPECT_NEAR(double(S.AverageTime()), Mean, 0.02) << int(S.Prty);
    Exits += S.Exits;
    Content += Clerk->PrtyAverageCount(S.Prty);
  }
  EXPECT_EQ(Exits, Clerk->Exits());
  EXPECT_NEAR(double(Content), double(Clerk->AverageCount()), 1e-9);
}

// A server and a storage that see a second class only after a while: the
// figures gathered until then become the first class's.
TEST_F(FiguresTest, ClassesSplitOffLateKeepWhatCameBefore) {
  struct TArrival {
    double Time;
    uint8_t Prty;
    bool Preempt;
  };
  const std::vector<TArrival> Arrivals = {{1, 0, false}, {2, 0, false}, {3, 5, false},
                                          {10, 5, false}, {11, 0, false}};
  size_t Made = 0;
  auto* Gen = Make<TGenerator>("Gen");
  auto* Store = Make<TStorage>("Store");
  auto* Done = Make<TTerminator>("Done");
  Feed(Gen, Arrivals, Made, Store, Done);
  Store->OnEnter = [=](TBlock*, TTransaction* T) { Store->NextTime(T->GetPrty() == 5 ? 4 : 2); };
  Store->OnRouting = [=](TBlock* S, TTransaction*) { S->PassTo(Done); };
  Model->Simulate(20);
  ASSERT_EQ(Store->PrtyStatistics().size(), 2u);
  const TPrtyStatistics& Zero = Store->PrtyStatistics()[0];
  const TPrtyStatistics& Five = Store->PrtyStatistics()[1];
  EXPECT_EQ(Zero.Entries, 3);
  EXPECT_EQ(Zero.Exits, 3);
  EXPECT_DOUBLE_EQ(double(Zero.AverageTime()), 2.0);
  EXPECT_EQ(Five.Entries, 2);
  EXPECT_DOUBLE_EQ(double(Five.AverageTime()), 4.0);
  // Content: class 0 holds 1 over [1,2), 2 over [2,3), 1 over [3,4) and 1
  // over [11,13): area 6; class 5 area 8; the run ends when nothing is
  // planned, at 14.
  EXPECT_EQ(ModelTime(), 14.0);
  EXPECT_DOUBLE_EQ(double(Store->PrtyAverageCount(0)), 6.0 / 14);
  EXPECT_DOUBLE_EQ(double(Store->PrtyAverageCount(5)), 8.0 / 14);
  const auto& Times = Done->TimesInSystem().Classes();
  ASSERT_EQ(Times.size(), 2u);
  EXPECT_EQ(Times[0].Entries, 3);
  EXPECT_DOUBLE_EQ(double(Times[1].AverageTime()), 4.0);
}

// Utilisation is over the capacity on duty: a storage whose capacity a
// scheduler changes and a server closed for a while.
TEST_F(FiguresTest, UtilisationIsOverTheCapacityOnDuty) {
  auto* Door = Poisson("Door", Stream(31), 0.5);
  auto* Line = Make<TQueue>("Line");
  auto* Units = Make<TStorage>("Units");
  auto* Clerk = Make<TServer>("Clerk");
  auto* Done = Make<TTerminator>("Done");
  TMultiRand* Service = Stream(32);
  Units->SetCapacity(2);
  Door->OnRouting = [=](TBlock* S, TTransaction*) { S->PassTo(Line); };
  Line->OnRouting = [=](TBlock* S, TTransaction*) {
    if (!S->PassTo(Units)) S->PassTo(Clerk);
  };
  Units->OnEnter = [=](TBlock*, TTransaction*) { Units->NextTime(Service->Exponential(1.5)); };
  Clerk->OnEnter = [=](TBlock*, TTransaction*) { Clerk->NextTime(Service->Exponential(1.5)); };
  Units->OnRouting = [=](TBlock* S, TTransaction*) { S->PassTo(Done); };
  Clerk->OnRouting = [=](TBlock* S, TTransaction*) { S->PassTo(Done); };
  At({300}, [=] { Units->SetCapacity(4); });
  At({400}, [=] { Clerk->SetClosed(true); });
  At({700}, [=] { Clerk->SetClosed(false); });
  // Each Simulate ends at the first event at or past its time.
  Model->Simulate(100);
  const double Start = ModelTime();
  Model->ClearStatistics();
  Model->Simulate(1100);

  // Capacity 2 over [Start, 300), 4 over [300, End).
  const double End = ModelTime(), Span = End - Start;
  const double Duty = 2 * (300 - Start) + 4 * (End - 300);
  EXPECT_TRUE(Units->DutyVaried());
  EXPECT_NEAR(double(Units->MeanDutyCapacity()), Duty / Span, 1e-12);
  EXPECT_NEAR(double(Units->Utilisation()), double(Units->AverageCount()) * Span / Duty, 1e-12);
  // Off duty over [400, 700); Usage counts that time too.
  EXPECT_TRUE(Clerk->DutyVaried());
  EXPECT_NEAR(double(Clerk->Utilisation()), double(Clerk->Usage()) * Span / (Span - 300), 1e-12);
  // A capacity set before the statistics start is no change.
  Model->ClearStatistics();
  EXPECT_FALSE(Units->DutyVaried());
  // Without a limit there is no utilisation.
  Units->SetCapacity(0);
  Model->Simulate(1200);
  EXPECT_TRUE(std::isnan(double(Units->Utilisation())));
}

// Every block stamps the time of entry; a transaction keeps the time it was
// made, a divider's copies their original's; serial numbers are never
// reused while record numbers are.
TEST_F(FiguresTest, TransactionsCarryTheirTimesAndSerialNumbers) {
  auto* Door = Poisson("Door", Stream(51), 1.0);
  auto* Gate = Make<TGate>("Gate");
  auto* Line = Make<TQueue>("Line");
  auto* Rank = Make<TQueuePrty>("Rank");
  auto* Clerk = Make<TServer>("Clerk");
  auto* Split = Make<TDivider>("Split");
  auto* Units = Make<TStorage>("Units");
  auto* Desk = Make<TStoragePrty>("Desk");
  auto* Join = Make<TAssembler>("Join");
  auto* Done = Make<TTerminator>("Done");
  Split->SetCapacity(2);
  Join->SetCapacity(2);
  Join->SetMatch(true);
  const std::vector<TBlock*> Path = {Gate, Line, Rank, Clerk, Split, Units, Desk, Join, Done};
  std::map<std::string, int> Entered;
  std::map<uint64_t, double> Made; // serial -> made, from the split on
  std::set<uint64_t> Serials;
  std::set<int32_t> Records;
  int32_t Finished = 0;
  for (size_t i = 0; i < Path.size(); ++i) {
    TBlock* B = Path[i];
    TBlock* Next = i + 1 < Path.size() ? Path[i + 1] : nullptr;
    auto OnEnter = [=, &Entered, &Made](TBlock* S, TTransaction* T) {
      EXPECT_EQ(T->EnterTime(), ModelTime()) << S->Name();
      EXPECT_EQ(T->TimeInBlock(), 0.0) << S->Name();
      EXPECT_LE(T->MadeTime(), ModelTime());
      EXPECT_EQ(T->Age(), ModelTime() - T->MadeTime());
      ++Entered[S->Name()];
      if (S == Units) Made[T->Serial()] = T->MadeTime();
      if (S == Clerk || S == Units || S == Desk) static_cast<TAggregate*>(S)->NextTime(0.3);
    };
    if (auto* G = dynamic_cast<TGate*>(B)) G->OnEnter = OnEnter;
    if (auto* Q = dynamic_cast<TQueueCustom*>(B)) Q->OnEnter = OnEnter;
    if (auto* Q = dynamic_cast<TQueuePrtyCustom*>(B)) Q->OnEnter = OnEnter;
    if (auto* S = dynamic_cast<TServer*>(B)) S->OnEnter = OnEnter;
    if (auto* S = dynamic_cast<TSplitJoin*>(B)) S->OnEnter = OnEnter;
    if (auto* T = dynamic_cast<TTerminator*>(B))
      T->OnEnter = [&, OnEnter](TBlock* S, TTransaction* Trans) {
        OnEnter(S, Trans);
        EXPECT_TRUE(Serials.insert(Trans->Serial()).second);
        Records.insert(Trans->GetTransID());
        ++Finished;
      };
    if (Next) B->OnRouting = [Next](TBlock* S, TTransaction*) { S->PassTo(Next); };
  }
  Door->OnRouting = [=](TBlock* S, TTransaction*) { S->PassTo(Gate); };
  // The copy made by the split carries its original's time of making.
  Split->OnExit = [&](TBlock*, TTransaction* T) {
    EXPECT_LE(T->MadeTime(), ModelTime());
    if (T->Family() != 0 && T->GetTransID() != T->Family())
      for (TTransaction* O = Split->First(); O; O = O->FNext)
        if (O->GetTransID() == T->Family()) {
          EXPECT_EQ(T->MadeTime(), O->MadeTime());
        }
  };
  Model->Simulate(500);
  for (TBlock* B : Path)
    EXPECT_GT(Entered[B->Name()], 100) << B->Name();
  EXPECT_GT(Finished, 100);
  EXPECT_LT(Records.size(), size_t(Finished) / 10); // records are reused
  // Both parts of a split share the time of making: two serials per time.
  std::map<double, int> PerTime;
  for (const auto& [Serial, T] : Made)
    ++PerTime[T];
  for (const auto& [T, N] : PerTime)
    EXPECT_EQ(N, 2) << T;
  // Every part joined waited at the join: two waits per set that left.
  EXPECT_EQ(Join->Waits().Count(), 2 * Join->Exits());
}

} // namespace
} // namespace quorin::test
