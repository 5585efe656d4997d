// Fingerprints of whole models: every handler call in order (which handler,
// block, transaction number, clock bits) folded into one hash, together with
// the chain's load counters, the pools' item and page counts and every block
// statistic printed bit-exactly. A change that keeps behaviour keeps these
// texts; any difference fails the test with the two texts side by side.
//
// To record new expected texts after an intended change of behaviour, run
// the test with QUORIN_UPDATE_FINGERPRINTS=1 and review the diff.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "quorin/detail/current.h"
#include "quorin/detail/future.h"
#include "quorin/detail/prtyqueue.h"
#include "quorin/quorin.h"

namespace quorin::test {
namespace {

// Which handler fired; part of every folded call.
enum class THandler : uint8_t {
  NewTime = 1,
  AfterPass,
  Routing,
  Enter,
  Exit,
  AfterGeneration,
  BeforeTimeGoOn,
  Planned,
  TimeFinish,
  Preempt,
  Release,
  Deadlock,
};

// Whether routing calls are folded: with TRetry::OnChange there are fewer.
bool FoldRouting = true;

// FNV-1a over the bytes of each call record.
class TTrace {
public:
  void Fold(THandler Handler, const TComponent* Sender, const TTransaction* Trans) {
    if (Handler == THandler::Routing && !FoldRouting) return;
    Byte(static_cast<uint8_t>(Handler));
    const std::string Name = Sender ? Sender->Name() : std::string("-");
    for (char C : Name)
      Byte(static_cast<uint8_t>(C));
    Byte(0);
    Word(static_cast<uint64_t>(static_cast<uint32_t>(Trans ? Trans->GetTransID() : 0)));
    uint64_t Clock;
    std::memcpy(&Clock, &FSysTime, sizeof Clock);
    Word(Clock);
    ++FCalls;
  }
  uint64_t Hash() const { return FHash; }
  uint64_t Calls() const { return FCalls; }

private:
  void Byte(uint8_t B) {
    FHash ^= B;
    FHash *= 0x100000001b3ull;
  }
  void Word(uint64_t W) {
    for (int i = 0; i < 8; ++i)
      Byte(static_cast<uint8_t>(W >> (8 * i)));
  }
  uint64_t FHash = 0xcbf29ce484222325ull;
  uint64_t FCalls = 0;
};

using TBlockEvent = std::function<void(TBlock*, TTransaction*)>;

// The event list and the retry mode the next model is built with.
TEventList ListKind = TEventList::Levels;
TRetry RetryKind = TRetry::EveryScan;
// Set to TEngine::Fast (or Scalable) to build the next model on that engine
// instead of the two switches above.
TEngine EngineKind = TEngine::Documented;

// A model under fingerprint: the form, the trace, and handler wrappers that
// fold a call before running the model's own action.
struct TRig {
  TComponent App{nullptr};
  TComponent* Form = new TComponent(&App);
  TModel* Model = new TModel(Form);
  TTrace Trace;

  TRig() {
    // The chain's counters run for the life of the process: start afresh.
    LCECount = 0;
    LCESum = 0;
    LCESumCount = 0;
    Model->SetName("Model");
    if (EngineKind == TEngine::Documented) {
      Model->SetEventList(ListKind);
      Model->SetRetry(RetryKind);
    } else {
      Model->SetEngine(EngineKind);
    }
    Model->OnNewTime = [this](TAggregate* A, TTransaction* T) {
      Trace.Fold(THandler::NewTime, A, T);
    };
    // The transaction is not read here: after a pass into a terminator its
    // record is already back in the pool. Routing folds its number instead.
    Model->OnAfterPass = [this](TBlock* S, TBlock* R, TTransaction*) {
      Trace.Fold(THandler::AfterPass, S, nullptr);
      Trace.Fold(THandler::AfterPass, R, nullptr);
    };
    Model->OnDeadlock = [this] { Trace.Fold(THandler::Deadlock, Model, nullptr); };
  }

  template <class T> T* Make(const std::string& Name) {
    auto* C = new T(Form);
    C->SetName(Name);
    return C;
  }
  TMultiRand* Stream(int64_t Seed) {
    auto* R = new TMultiRand(Form);
    R->SetSeed(Seed);
    return R;
  }

  TBlockEvent On(THandler Handler, TBlockEvent Action = {}) {
    return [this, Handler, Action](TBlock* S, TTransaction* T) {
      Trace.Fold(Handler, S, T);
      if (Action) Action(S, T);
    };
  }
  TBlockEvent To(TBlock* Receiver) {
    return On(THandler::Routing, [Receiver](TBlock* S, TTransaction*) { S->PassTo(Receiver); });
  }
  // OnEnter of a block that holds each entering transaction for a time
  // exponential with the given mean.
  TBlockEvent Hold(TBlock* B, TMultiRand* R, double Mean) {
    return On(THandler::Enter, [B, R, Mean](TBlock*, TTransaction*) {
      B->NextTime(R->Exponential(Mean));
    });
  }
  // A generator whose arrivals are exponential with the given mean.
  TGenerator* Source(const std::string& Name, TMultiRand* R, double Mean) {
    auto* G = Make<TGenerator>(Name);
    G->OnBeforeTimeGoOn = [this, G, R, Mean](TAggregate* A) {
      Trace.Fold(THandler::BeforeTimeGoOn, A, nullptr);
      G->NextTime(R->Exponential(Mean));
    };
    G->OnAfterGeneration = On(THandler::AfterGeneration, [G, R, Mean](TBlock*, TTransaction*) {
      G->NextTime(R->Exponential(Mean));
    });
    G->OnExit = On(THandler::Exit);
    return G;
  }
  // A source whose transactions carry priority Prty and the preempt mark.
  TGenerator* Urgent(const std::string& Name, TMultiRand* R, double Mean, uint8_t Prty) {
    TGenerator* G = Source(Name, R, Mean);
    G->OnAfterGeneration =
        On(THandler::AfterGeneration, [G, R, Mean, Prty](TBlock*, TTransaction* T) {
          T->SetPrty(Prty);
          T->SetPreempt();
          G->NextTime(R->Exponential(Mean));
        });
    return G;
  }
  // A scheduler that fires Action every Period time units.
  TScheduler* Every(const std::string& Name, double Period, std::function<void()> Action) {
    auto* S = Make<TScheduler>(Name);
    S->OnBeforeTimeGoOn = [this, Period](TAggregate* A) {
      Trace.Fold(THandler::BeforeTimeGoOn, A, nullptr);
      A->NextTime(Period);
    };
    S->OnPlanned = [this, Period, Action](TAggregate* A) {
      Trace.Fold(THandler::Planned, A, nullptr);
      Action();
      A->NextTime(Period);
    };
    return S;
  }

  // The text that the expected file holds.
  std::string Text(const std::string& Title) const {
    std::ostringstream Out;
    char Line[256];
    Out << "model " << Title << "\n";
    std::snprintf(Line, sizeof Line, "trace %016llx calls %llu clock %a\n",
                  static_cast<unsigned long long>(Trace.Hash()),
                  static_cast<unsigned long long>(Trace.Calls()), FSysTime);
    Out << Line;
    Out << "chain visits " << LCECount << " sum " << LCESum << " runs " << LCESumCount << "\n";
    Out << "future items " << FutureManager->TotalItemCount() << " bytes "
        << FutureManager->TotalMemoSize() << " pending " << FutureManager->Count() << "\n";
    Out << "current items " << CurrentManager->TotalItemCount() << " bytes "
        << CurrentManager->TotalMemoSize() << " entries " << CurrentManager->Count() << "\n";
    Out << "transactions items " << TransManager->TotalItemCount() << " bytes "
        << TransManager->TotalMemoSize() << "\n";
    Out << "queue heads items " << QueHeadsManager->TotalItemCount() << " bytes "
        << QueHeadsManager->TotalMemoSize() << "\n";
    Out << "pages " << CountPages << "\n";
    for (TAggregate* A : Model->Aggregates()) {
      auto* B = dynamic_cast<TBlock*>(A);
      if (!B) continue;
      Out << B->Name() << ": count " << B->Count() << " entries " << B->Entries() << " exits "
          << B->Exits();
      if (auto* Q = dynamic_cast<TProQueue*>(B)) {
        std::snprintf(Line, sizeof Line,
                      " time %La dev %La stime %La sdev %La content %La usage %La max %d zero %d "
                      "preempt %d",
                      Q->AverageTime(), Q->DeviationTime(), Q->SAverageTime(), Q->SDeviationTime(),
                      Q->AverageCount(), Q->Usage(), Q->MaxCount(), Q->ZeroEntries(),
                      Q->PreemptExits());
        Out << Line;
      }
      if (auto* Q = dynamic_cast<TQueue*>(B)) Out << " limit " << Q->TimeLimitExits();
      if (auto* Q = dynamic_cast<TQueuePrty*>(B)) Out << " limit " << Q->TimeLimitExits();
      if (auto* Q = dynamic_cast<TQueuePrtyCustom*>(B))
        Out << " classes " << Q->QueCount() << " prty " << int(Q->MinPrty()) << "-"
            << int(Q->MaxPrty());
      if (auto* G = dynamic_cast<TGenerator*>(B)) {
        std::snprintf(Line, sizeof Line, " interval %La dev %La", G->AverageTime(),
                      G->DeviationTime());
        Out << Line;
      }
      Out << "\n";
    }
    return Out.str();
  }
};

// Runs with a warm-up and a clearing, as models are run in practice.
void Run(TRig& Rig, double WarmUp, double End) {
  Rig.Model->Simulate(WarmUp);
  Rig.Model->ClearStatistics();
  Rig.Model->Simulate(End);
}

std::string MM1() {
  TRig Rig;
  auto* Door = Rig.Source("Door", Rig.Stream(11), 1.0);
  auto* Line = Rig.Make<TQueue>("Line");
  auto* Clerk = Rig.Make<TServer>("Clerk");
  auto* Exit = Rig.Make<TTerminator>("Exit");
  TMultiRand* S = Rig.Stream(12);
  Door->OnRouting = Rig.To(Line);
  Line->OnEnter = Rig.On(THandler::Enter);
  Line->OnExit = Rig.On(THandler::Exit);
  Line->OnRouting = Rig.To(Clerk);
  Clerk->OnEnter = Rig.Hold(Clerk, S, 0.8);
  Clerk->OnExit = Rig.On(THandler::Exit);
  Clerk->OnRouting = Rig.To(Exit);
  Exit->OnEnter = Rig.On(THandler::Enter);
  Run(Rig, 100, 20000);
  return Rig.Text("mm1");
}

std::string MM3Storage() {
  TRig Rig;
  auto* Door = Rig.Source("Door", Rig.Stream(21), 1.0);
  auto* Line = Rig.Make<TQueue>("Line");
  auto* Tellers = Rig.Make<TStorage>("Tellers");
  auto* Exit = Rig.Make<TTerminator>("Exit");
  TMultiRand* S = Rig.Stream(22);
  Tellers->SetCapacity(3);
  Door->OnRouting = Rig.To(Line);
  Line->OnRouting = Rig.To(Tellers);
  Tellers->OnEnter = Rig.Hold(Tellers, S, 2.4);
  Tellers->OnExit = Rig.On(THandler::Exit);
  Tellers->OnRouting = Rig.To(Exit);
  Run(Rig, 100, 20000);
  return Rig.Text("mm3-storage");
}

// Two classes on one preemptive server: urgent arrivals carry the preempt
// mark and a higher priority; a displaced holder is postponed and resumes.
std::string Priority() {
  TRig Rig;
  auto* Urgent = Rig.Urgent("Urgent", Rig.Stream(31), 4.0, 2);
  auto* Normal = Rig.Source("Normal", Rig.Stream(32), 4.0);
  auto* UrgentLine = Rig.Make<TQueue>("UrgentLine");
  auto* NormalLine = Rig.Make<TQueue>("NormalLine");
  auto* Clerk = Rig.Make<TServer>("Clerk");
  auto* Exit = Rig.Make<TTerminator>("Exit");
  TMultiRand* S = Rig.Stream(33);
  Clerk->SetPreemptive(true);
  Urgent->OnRouting = Rig.To(UrgentLine);
  Normal->OnRouting = Rig.To(NormalLine);
  UrgentLine->OnRouting = Rig.To(Clerk);
  NormalLine->OnRouting = Rig.To(Clerk);
  Clerk->OnEnter = Rig.Hold(Clerk, S, 1.0);
  Clerk->OnPreempt = Rig.On(THandler::Preempt, [=](TBlock*, TTransaction*) { Clerk->PostPone(); });
  Clerk->OnExit = Rig.On(THandler::Exit);
  Clerk->OnRouting = Rig.To(Exit);
  Run(Rig, 100, 20000);
  return Rig.Text("priority");
}

// Blocked blocks: generators that wait behind a gate that a scheduler locks
// and unlocks, and a bounded queue in front of a slow server.
std::string Blocked() {
  TRig Rig;
  auto* Gate = Rig.Make<TGate>("Gate");
  auto* Line = Rig.Make<TQueue>("Line");
  auto* Clerk = Rig.Make<TServer>("Clerk");
  auto* Exit = Rig.Make<TTerminator>("Exit");
  TMultiRand* S = Rig.Stream(41);
  Line->SetCapacity(3);
  for (int i = 0; i < 4; ++i) {
    auto* G = Rig.Source("Door" + std::to_string(i), Rig.Stream(42 + i), 3.0);
    G->OnRouting = Rig.To(Gate);
  }
  Rig.Every("Keeper", 7.0, [Gate] {
    if (Gate->isLocked())
      Gate->Unlock();
    else
      Gate->Lock();
  });
  Gate->OnEnter = Rig.On(THandler::Enter);
  Gate->OnRouting = Rig.To(Line);
  Line->OnRouting = Rig.To(Clerk);
  Clerk->OnEnter = Rig.Hold(Clerk, S, 0.9);
  Clerk->OnRouting = Rig.To(Exit);
  Run(Rig, 50, 5000);
  return Rig.Text("blocked");
}

// Waiting-time limits: impatient customers leave the line after a patience
// of their own; half of them try a second counter, the rest are lost.
std::string Reneging() {
  TRig Rig;
  auto* Door = Rig.Source("Door", Rig.Stream(51), 1.0);
  auto* Line = Rig.Make<TQueue>("Line");
  auto* Clerk = Rig.Make<TServer>("Clerk");
  auto* Second = Rig.Make<TQueue>("Second");
  auto* Exit = Rig.Make<TTerminator>("Exit");
  TMultiRand* S = Rig.Stream(52);
  TMultiRand* P = Rig.Stream(53);
  Door->OnRouting = Rig.To(Line);
  Line->OnEnter = Rig.Hold(Line, P, 3.0);
  Line->OnTimeFinish = Rig.On(THandler::TimeFinish, [=](TBlock* B, TTransaction* T) {
    if (T->GetTransID() % 2 == 0) B->PassTo(Second);
  });
  Line->OnRouting = Rig.To(Clerk);
  Second->OnRouting = Rig.To(Exit);
  Clerk->OnEnter = Rig.Hold(Clerk, S, 1.1);
  Clerk->OnRouting = Rig.To(Exit);
  Run(Rig, 100, 20000);
  return Rig.Text("reneging");
}

// A priority queue with push-out and waiting-time limits in front of a
// preemptive server: urgent customers carry the preempt mark.
std::string PriorityQueue() {
  TRig Rig;
  auto* Urgent = Rig.Urgent("Urgent", Rig.Stream(61), 3.0, 3);
  auto* Regular = Rig.Source("Regular", Rig.Stream(62), 1.5);
  auto* Line = Rig.Make<TQueuePrty>("Line");
  auto* Clerk = Rig.Make<TServer>("Clerk");
  auto* Exit = Rig.Make<TTerminator>("Exit");
  auto* Lost = Rig.Make<TTerminator>("Lost");
  TMultiRand* S = Rig.Stream(63);
  TMultiRand* P = Rig.Stream(64);
  Line->SetCapacity(5);
  Line->SetPreemptive(true);
  Clerk->SetPreemptive(true);
  Urgent->OnRouting = Rig.To(Line);
  Regular->OnRouting = Rig.To(Line);
  Line->OnEnter = Rig.On(THandler::Enter, [=](TBlock*, TTransaction* T) {
    if (T->GetPrty() == 0) Line->NextTime(P->Exponential(4.0));
  });
  Line->OnTimeFinish = Rig.To(Lost);
  Line->OnPreempt = Rig.On(THandler::Preempt, [=](TBlock* B, TTransaction*) { B->PassTo(Lost); });
  Line->OnExit = Rig.On(THandler::Exit);
  Line->OnRouting = Rig.To(Clerk);
  Clerk->OnEnter = Rig.Hold(Clerk, S, 0.6);
  Clerk->OnPreempt = Rig.On(THandler::Preempt, [=](TBlock*, TTransaction*) { Clerk->PostPone(); });
  Clerk->OnRouting = Rig.To(Exit);
  Run(Rig, 100, 10000);
  return Rig.Text("priority-queue");
}

// Fork and join: every job splits into three tasks served on a storage of
// three units and joined again.
std::string ForkJoin() {
  TRig Rig;
  auto* Door = Rig.Source("Door", Rig.Stream(71), 2.0);
  auto* Split = Rig.Make<TDivider>("Split");
  auto* Line = Rig.Make<TQueue>("Line");
  auto* Workers = Rig.Make<TStorage>("Workers");
  auto* Join = Rig.Make<TAssembler>("Join");
  auto* Exit = Rig.Make<TTerminator>("Exit");
  TMultiRand* S = Rig.Stream(72);
  Split->SetCapacity(3);
  Join->SetCapacity(3);
  Workers->SetCapacity(3);
  Door->OnRouting = Rig.To(Split);
  Split->OnEnter = Rig.On(THandler::Enter);
  Split->OnExit = Rig.On(THandler::Exit);
  Split->OnRouting = Rig.To(Line);
  Line->OnRouting = Rig.To(Workers);
  Workers->OnEnter = Rig.Hold(Workers, S, 1.0);
  Workers->OnRouting = Rig.To(Join);
  Join->OnEnter = Rig.On(THandler::Enter);
  Join->OnRouting = Rig.To(Exit);
  Run(Rig, 100, 10000);
  return Rig.Text("fork-join");
}

// Batches: a scheduler has a creator make a random number of passengers
// every 15 time units; they hold a priority storage of two units by
// priority, the most urgent pushing out the least.
std::string Batches() {
  TRig Rig;
  auto* Bus = Rig.Make<TCreator>("Bus");
  auto* Counter = Rig.Make<TStoragePrty>("Counter");
  auto* Line = Rig.Make<TQueue>("Line");
  auto* Exit = Rig.Make<TTerminator>("Exit");
  auto* Lost = Rig.Make<TTerminator>("Lost");
  TMultiRand* N = Rig.Stream(81);
  TMultiRand* S = Rig.Stream(82);
  Counter->SetCapacity(2);
  Counter->SetPreemptive(true);
  Rig.Every("Timetable", 15.0, [=] { Bus->Generate(1 + int32_t(N->Uniform(0, 9))); });
  Bus->OnAfterGeneration = Rig.On(THandler::AfterGeneration, [=](TBlock*, TTransaction* T) {
    T->SetPrty(uint8_t(N->Uniform(0, 4)));
    if (T->GetPrty() == 3) T->SetPreempt();
  });
  Bus->OnRouting = Rig.To(Line);
  Line->OnRouting = Rig.To(Counter);
  Counter->OnEnter = Rig.Hold(Counter, S, 2.4);
  Counter->OnPreempt = Rig.To(Lost);
  Counter->OnExit = Rig.On(THandler::Exit);
  Counter->OnRouting = Rig.To(Exit);
  Run(Rig, 100, 20000);
  return Rig.Text("batches");
}

struct TCase {
  const char* File;
  std::string (*Model)();
};

const TCase Cases[] = {
    {"mm1", MM1},
    {"mm3-storage", MM3Storage},
    {"priority", Priority},
    {"blocked", Blocked},
    {"reneging", Reneging},
    {"priority-queue", PriorityQueue},
    {"fork-join", ForkJoin},
    {"batches", Batches},
};

void PrintTo(const TCase& Case, std::ostream* Out) {
  *Out << Case.File;
}

class Fingerprint : public ::testing::TestWithParam<TCase> {};

// Compares Actual with the text recorded at Path, or records it anew when
// QUORIN_UPDATE_FINGERPRINTS=1.
void ExpectRecorded(const std::string& Path, const std::string& Actual) {
  const char* Update = std::getenv("QUORIN_UPDATE_FINGERPRINTS");
  if (Update && std::string(Update) == "1") {
    std::ofstream(Path) << Actual;
    GTEST_SKIP() << "recorded " << Path;
  }
  std::ifstream In(Path);
  ASSERT_TRUE(In) << "no recorded fingerprint at " << Path;
  std::stringstream Expected;
  Expected << In.rdbuf();
  EXPECT_EQ(Expected.str(), Actual);
}

TEST_P(Fingerprint, MatchesTheRecordedText) {
  const TCase& Case = GetParam();
  ExpectRecorded(std::string(QUORIN_FINGERPRINTS) + "/" + Case.File + ".txt", Case.Model());
}

// The text without the lines whose prefixes are given: counts that depend on
// how the engine keeps its lists rather than on the run.
std::string Without(const std::string& Text, std::initializer_list<const char*> Prefixes) {
  std::istringstream In(Text);
  std::string Line, Out;
  while (std::getline(In, Line)) {
    bool Keep = true;
    for (const char* P : Prefixes)
      Keep = Keep && Line.rfind(P, 0) != 0;
    if (Keep) Out += Line + "\n";
  }
  return Out;
}
std::string WithoutFutureLine(const std::string& Text) {
  return Without(Text, {"future ", "pages "});
}

// The heap list must reproduce the same run: every handler call, every
// statistic and every other pool count.
TEST_P(Fingerprint, HeapEventListGivesTheSameRun) {
  const TCase& Case = GetParam();
  const std::string Path = std::string(QUORIN_FINGERPRINTS) + "/" + Case.File + ".txt";
  std::ifstream In(Path);
  ASSERT_TRUE(In) << "no recorded fingerprint at " << Path;
  std::stringstream Expected;
  Expected << In.rdbuf();
  ListKind = TEventList::Heap;
  const std::string Actual = Case.Model();
  ListKind = TEventList::Levels;
  EXPECT_EQ(WithoutFutureLine(Expected.str()), WithoutFutureLine(Actual));
}

// With TRetry::OnChange a blocked block's routing is called only after a
// change, but these models route by the room of the receivers tried alone:
// every other handler call, in order, every statistic, the future list and
// the transaction pool must be as with the default retry.
TEST_P(Fingerprint, OnChangeRetryGivesTheSameFlows) {
  struct TRestore {
    ~TRestore() {
      FoldRouting = true;
      RetryKind = TRetry::EveryScan;
    }
  } Restore;
  FoldRouting = false;
  const std::string EveryScan = GetParam().Model();
  RetryKind = TRetry::OnChange;
  const std::string OnChange = GetParam().Model();
  const auto Flows = [](const std::string& Text) {
    return Without(Text, {"chain ", "current ", "pages "});
  };
  EXPECT_EQ(Flows(EveryScan), Flows(OnChange));
  // And parking took place: blocked blocks were visited less often.
  const auto Visits = [](const std::string& Text) {
    const std::size_t At = Text.find("chain visits ");
    return At == std::string::npos ? -1L : std::stol(Text.substr(At + 13));
  };
  EXPECT_LT(Visits(OnChange), Visits(EveryScan));
}

// The fast engine keeps fingerprints of its own (in expected/fast): it
// routes a refused block again only after a change, and keeps statistics
// in double and pool records on free lists.
std::string FastModel(const TCase& Case, bool Routing) {
  struct TRestore {
    ~TRestore() {
      EngineKind = TEngine::Documented;
      FoldRouting = true;
    }
  } Restore;
  EngineKind = TEngine::Fast;
  FoldRouting = Routing;
  return Case.Model();
}

TEST_P(Fingerprint, FastEngineMatchesItsRecordedText) {
  const TCase& Case = GetParam();
  ExpectRecorded(std::string(QUORIN_FINGERPRINTS) + "/fast/" + Case.File + ".txt",
                 FastModel(Case, true));
}

// Fields of the text, split at blanks.
std::vector<std::string> Fields(const std::string& Text) {
  std::istringstream In(Text);
  std::vector<std::string> Out;
  for (std::string F; In >> F;)
    Out.push_back(F);
  return Out;
}

// The fast engine gives the documented engine's flows on these models:
// every handler call but the routings in the same order, the same counts,
// and statistics that differ from the 80-bit ones in the last bits only.
TEST_P(Fingerprint, FastEngineGivesTheDocumentedFlows) {
  struct TRestore {
    ~TRestore() { FoldRouting = true; }
  } Restore;
  FoldRouting = false;
  const std::string Documented = GetParam().Model();
  const std::string Fast = FastModel(GetParam(), false);
  const auto Flows = [](const std::string& Text) {
    return Fields(Without(Text, {"chain ", "current ", "future ", "transactions ", "queue heads ",
                                 "pages "}));
  };
  const std::vector<std::string> A = Flows(Documented), B = Flows(Fast);
  ASSERT_EQ(A.size(), B.size()) << Documented << "\n" << Fast;
  for (std::size_t i = 0; i < A.size(); ++i) {
    if (A[i] == B[i]) continue;
    // A statistic, printed as a hexadecimal float: equal to 1e-10 relative.
    const long double X = std::strtold(A[i].c_str(), nullptr);
    const long double Y = std::strtold(B[i].c_str(), nullptr);
    const bool Statistic = A[i].find('p') != std::string::npos;
    EXPECT_TRUE(Statistic && std::fabs(double(X - Y)) <= 1e-10 * std::fabs(double(X)))
        << "field " << i << ": " << A[i] << " against " << B[i] << "\n"
        << Documented << "\n"
        << Fast;
  }
  // Refused blocks were routed again less often.
  const auto Visits = [](const std::string& Text) {
    const std::size_t At = Text.find("chain visits ");
    return At == std::string::npos ? -1L : std::stol(Text.substr(At + 13));
  };
  EXPECT_LE(Visits(Fast), Visits(Documented));
}

INSTANTIATE_TEST_SUITE_P(Models, Fingerprint, ::testing::ValuesIn(Cases), [](const auto& Info) {
  std::string Name = Info.param.File;
  for (char& C : Name)
    if (C == '-') C = '_';
  return Name;
});

} // namespace
} // namespace quorin::test
