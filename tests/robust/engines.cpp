// Random models whose routing decides only by whether the receivers take
// the transaction, each run on the documented engine (levels list, retry at
// every scan) and on the scalable one (heap list, retry on change): the
// flows and statistics must agree to the bit.
#include "engines.h"

#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <random>
#include <sstream>

#include "message_capture.h"
#include "quorin/blocks.h"

namespace quorin::test {

namespace {

constexpr std::size_t MaxPasses = 20000;
struct TEnough {};

struct TEngineRun {
  std::vector<std::string> Flows; // one line per pass
  std::string Statistics;
  int64_t Routings = 0;
};

// Builds the model of Seed on a form of its own and runs it to EndTime. The
// shape and every handler come from Seed; numbers drawn during the run come
// from each block's own stream and only in handlers that both engines call
// alike (entries, generations, the schedulers' events), never in routing.
TEngineRun RunModel(uint64_t Seed, TEventList List, TRetry Retry) {
  TEngineRun Out;
  TMessageCapture Capture;
  std::mt19937_64 Shape(Seed);
  auto Pick = [&Shape](int N) { return int(Shape() % uint64_t(N)); };
  auto Chance = [&Shape](double P) { return double(Shape() >> 11) * 0x1p-53 < P; };

  TComponent App(nullptr);
  auto* Form = new TComponent(&App);
  auto* Model = new TModel(Form);
  Model->SetEventList(List);
  Model->SetRetry(Retry);
  std::vector<TBlock*> Blocks;     // in the order made
  std::vector<TBlock*> Receivers;  // every block but the generators
  std::vector<TGate*> Gates;
  std::vector<std::unique_ptr<std::mt19937_64>> Streams;
  auto Draw = [&Streams, Seed](std::size_t Index, double Mean) {
    while (Streams.size() <= Index)
      Streams.push_back(std::make_unique<std::mt19937_64>(Seed * 7919 + Streams.size()));
    const double U = double((*Streams[Index])() >> 11) * 0x1p-53;
    return -std::log(1.0 - U) * Mean;
  };

  auto Name = [&Blocks](TBlock* B, const char* Prefix) {
    B->SetName(Prefix + std::to_string(Blocks.size()));
    Blocks.push_back(B);
  };
  const int Generators = 1 + Pick(3);
  for (int i = 0; i < Generators; ++i)
    Name(new TGenerator(Form), "Gen");
  const int Middle = 2 + Pick(8);
  for (int i = 0; i < Middle; ++i) {
    TBlock* B = nullptr;
    switch (Pick(8)) {
    case 0: {
      auto* Q = new TQueue(Form);
      Q->SetCapacity(Pick(3) == 0 ? 0 : 1 + Pick(4));
      B = Q;
      Name(B, "Queue");
      break;
    }
    case 1: {
      auto* Q = new TStack(Form);
      Q->SetCapacity(Pick(3) == 0 ? 0 : 1 + Pick(4));
      B = Q;
      Name(B, "Stack");
      break;
    }
    case 2: {
      auto* Q = new TQueuePrty(Form);
      Q->SetCapacity(Pick(3) == 0 ? 0 : 1 + Pick(4));
      Q->SetPreemptive(Chance(0.3));
      B = Q;
      Name(B, "PQueue");
      break;
    }
    case 3:
    case 4: {
      auto* S = new TServer(Form);
      S->SetPreemptive(Chance(0.4));
      B = S;
      Name(B, "Server");
      break;
    }
    case 5: {
      auto* S = new TStorage(Form);
      S->SetCapacity(1 + Pick(3));
      B = S;
      Name(B, "Storage");
      break;
    }
    case 6: {
      auto* S = new TStoragePrty(Form);
      S->SetCapacity(1 + Pick(3));
      S->SetPreemptive(Chance(0.4));
      B = S;
      Name(B, "PStorage");
      break;
    }
    default: {
      auto* G = new TGate(Form);
      if (Chance(0.5)) G->Lock();
      Gates.push_back(G);
      B = G;
      Name(B, "Gate");
      break;
    }
    }
    Receivers.push_back(B);
  }
  auto* Exit = new TTerminator(Form);
  Name(Exit, "Exit");
  Receivers.push_back(Exit);

  // Routing: a fixed list of receivers tried in order, the first that takes
  // the transaction wins; the list ends in the terminator now and then.
  auto RouteList = [&](TBlock* Self) {
    std::vector<TBlock*> To;
    const int N = 1 + Pick(3);
    for (int i = 0; i < N; ++i) {
      TBlock* R = Receivers[std::size_t(Pick(int(Receivers.size())))];
      if (R != Self) To.push_back(R);
    }
    if (To.empty() || Chance(0.3)) To.push_back(Exit);
    return std::function<void(TBlock*, TTransaction*)>([To, &Out](TBlock* Sender, TTransaction*) {
      ++Out.Routings;
      for (TBlock* R : To)
        if (Sender->PassTo(R)) return;
    });
  };
  for (std::size_t i = 0; i < Blocks.size(); ++i) {
    TBlock* B = Blocks[i];
    if (B != Exit) B->OnRouting = RouteList(B);
    const double Mean = 0.5 + 2.0 * double(Pick(4));
    if (auto* G = dynamic_cast<TGenerator*>(B)) {
      G->OnBeforeTimeGoOn = [=](TAggregate*) { G->NextTime(Draw(i, Mean)); };
      G->OnAfterGeneration = [=](TBlock*, TTransaction* T) {
        T->SetPrty(uint8_t(Draw(i, 1.0) * 2));
        if (Draw(i, 1.0) < 0.5) T->SetPreempt();
        G->NextTime(Draw(i, Mean));
      };
    } else if (auto* S = dynamic_cast<TServer*>(B)) {
      S->OnEnter = [=](TBlock*, TTransaction*) { S->NextTime(Draw(i, Mean)); };
      if (Chance(0.5))
        S->OnPreempt = [](TBlock* Sender, TTransaction*) { Sender->PostPone(); };
      else
        S->OnPreempt = RouteList(S);
    } else if (auto* St = dynamic_cast<TStorage*>(B)) {
      St->OnEnter = [=](TBlock*, TTransaction*) { St->NextTime(Draw(i, Mean)); };
    } else if (auto* P = dynamic_cast<TStoragePrty*>(B)) {
      P->OnEnter = [=](TBlock*, TTransaction*) { P->NextTime(Draw(i, Mean)); };
      if (Chance(0.7)) P->OnPreempt = RouteList(P);
    } else if (auto* Q = dynamic_cast<TQueue*>(B)) {
      // A limited wait, for some queues: the time-out routes the transaction.
      if (Chance(0.4)) {
        Q->OnEnter = [=](TBlock*, TTransaction*) { Q->NextTime(Draw(i, 4 * Mean)); };
        Q->OnTimeFinish = RouteList(Q);
      }
    } else if (auto* PQ = dynamic_cast<TQueuePrty*>(B)) {
      if (Chance(0.5)) PQ->OnPreempt = RouteList(PQ);
    }
  }
  // Gates open and close at random times.
  for (std::size_t g = 0; g < Gates.size(); ++g) {
    auto* S = new TScheduler(Form);
    TGate* G = Gates[g];
    const std::size_t Index = Blocks.size() + g;
    S->OnBeforeTimeGoOn = [=](TAggregate*) { S->NextTime(Draw(Index, 3.0)); };
    S->OnPlanned = [=](TAggregate*) {
      if (G->isLocked())
        G->Unlock();
      else
        G->Lock();
      S->NextTime(Draw(Index, 3.0));
    };
  }
  Model->OnAfterPass = [&Out](TBlock* Sender, TBlock* Receiver, TTransaction* T) {
    // Queues that pass to one another can move transactions round in a
    // circle at one instant for ever: such a run ends here, on both engines
    // at the same pass when they agree.
    if (Out.Flows.size() >= MaxPasses) throw TEnough{};
    char Line[160];
    std::snprintf(Line, sizeof Line, "%a %s -> %s #%d", ModelTime(), Sender->Name().c_str(),
                  Receiver->Name().c_str(), T->GetTransID());
    Out.Flows.push_back(Line);
  };
  try {
    Model->Simulate(150.0);
  } catch (const TEnough&) {
    Out.Flows.push_back("enough");
  }

  std::ostringstream Stats;
  char Line[256];
  for (TBlock* B : Blocks) {
    Stats << B->Name() << " count " << B->Count() << " entries " << B->Entries() << " exits "
          << B->Exits();
    if (auto* Q = dynamic_cast<TProQueue*>(B)) {
      std::snprintf(Line, sizeof Line, " time %La dev %La content %La usage %La max %d zero %d",
                    Q->AverageTime(), Q->DeviationTime(), Q->AverageCount(), Q->Usage(),
                    Q->MaxCount(), Q->ZeroEntries());
      Stats << Line;
    }
    Stats << "\n";
  }
  std::snprintf(Line, sizeof Line, "clock %a messages %zu\n", ModelTime(),
                Capture.Messages.size());
  Stats << Line;
  Out.Statistics = Stats.str();
  return Out;
}

} // namespace

std::vector<std::string> CompareEngines(uint64_t Seed, TEngineFigures& Figures) {
  std::vector<std::string> Faults;
  const TEngineRun Documented = RunModel(Seed, TEventList::Levels, TRetry::EveryScan);
  const TEngineRun Scalable = RunModel(Seed, TEventList::Heap, TRetry::OnChange);
  ++Figures.Models;
  Figures.Passes += int64_t(Documented.Flows.size());
  Figures.RoutingsDocumented += Documented.Routings;
  Figures.RoutingsScalable += Scalable.Routings;
  const std::string Where = "engines, seed " + std::to_string(Seed) + ": ";
  const std::size_t N = std::min(Documented.Flows.size(), Scalable.Flows.size());
  for (std::size_t i = 0; i < N; ++i)
    if (Documented.Flows[i] != Scalable.Flows[i]) {
      Faults.push_back(Where + "pass " + std::to_string(i) + " is '" + Documented.Flows[i] +
                       "' on the documented engine, '" + Scalable.Flows[i] +
                       "' on the scalable one");
      return Faults;
    }
  if (Documented.Flows.size() != Scalable.Flows.size())
    Faults.push_back(Where + std::to_string(Documented.Flows.size()) + " passes against " +
                     std::to_string(Scalable.Flows.size()));
  else if (Documented.Statistics != Scalable.Statistics)
    Faults.push_back(Where + "statistics differ:\n" + Documented.Statistics + "against\n" +
                     Scalable.Statistics);
  return Faults;
}

} // namespace quorin::test
