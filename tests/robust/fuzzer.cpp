#include "fuzzer.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <iostream>
#include <limits>
#include <random>

#include "invariants.h"
#include "message_capture.h"
#include "quorin/blocks.h"
#include "quorin/classinfo.h"
#include "quorin/detail/heap.h"
#include "quorin/inputs.h"
#include "quorin/statsim.h"

namespace quorin::test {

namespace {

// Thrown by the model's handlers now and then; not a std::exception, so it
// cannot be mistaken for anything the library might raise.
struct TFuzzThrow {};

enum class TKind {
  Generator,
  Queue,
  Stack,
  Server,
  Storage,
  Gate,
  Terminator,
  Scheduler,
  QueuePrty,
  StoragePrty,
  Divider,
  Assembler,
  Creator
};

const char* const KindClasses[] = {
    "TGenerator", "TQueue",     "TStack",       "TServer",  "TStorage",   "TGate",   "TTerminator",
    "TScheduler", "TQueuePrty", "TStoragePrty", "TDivider", "TAssembler", "TCreator"};

// The prefixes of the components' names, by kind.
const char* const KindNames[] = {"Gen",   "Queue",     "Stack",  "Server", "Storage",
                                 "Gate",  "Term",      "Sched",  "PQueue", "PStorage",
                                 "Split", "Assembler", "Creator"};

constexpr int64_t MaxEvents = 5000;   // events per run
constexpr int64_t MaxHandlers = 8000; // handler calls per run

class TFuzzModel {
public:
  TFuzzModel(uint64_t Seed, TFuzzFigures& Totals, bool Chatty)
      : R(Seed), FSeed(Seed), Figures(Totals), Verbose(Chatty) {}
  std::vector<std::string> Run();

private:
  // Randomness: every choice comes from R, so a seed gives one model and
  // one history.
  int Pick(int N) { return int(R() % uint64_t(N)); }
  bool Chance(double P) { return double(R() >> 11) * 0x1p-53 < P; }
  double Delay();

  void Build();
  TBlock* Add(TKind Kind);
  TAggregate* Make(const TClassInfo& Class, const std::string& Prefix);
  void AddDescribed();
  void WireByDescription(TBlock* B, const TClassInfo& Class);
  template <class T> T* Any();
  TBlock* AnyBlock();
  std::size_t IndexOf(const TAggregate* A) const;
  TAggregate* AnyAggregate();
  TBlock* AnyTerminator();

  // Handler bodies. Spend answers false (and stops the run) once the run's
  // budget of handler calls is used up, which bounds every run even when
  // the model's routing goes round in circles.
  bool Spend();
  void Route(TBlock* Self, bool MayPostPone);
  void Mischief(double P);
  void Touch(TTransaction* T);
  void Wire(TBlock* B, TKind Kind);
  void Check(int Run, std::vector<std::string>& Faults);

  std::mt19937_64 R;
  uint64_t FSeed;
  TFuzzFigures& Figures;
  bool Verbose;

  TMessageCapture Capture;
  TComponent App;
  TComponent* Form = new TComponent(&App);
  TModel* Model = new TModel(Form);
  std::vector<TAggregate*> Parts; // null once destroyed
  std::vector<TKind> Kinds;
  int64_t Budget = 0;
  int64_t Events = 0;
  bool LostAllowed = false;   // a destroyed block took records with it
  std::size_t ReportedAt = 0; // messages seen before the present memory
};

double TFuzzModel::Delay() {
  static const double Odd[] = {0.0,
                               1e-300,
                               5e-324,
                               1e-9,
                               1e6,
                               1e9,
                               1e10,
                               -1.0,
                               std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::infinity(),
                               -std::numeric_limits<double>::infinity()};
  if (Chance(0.08)) return Odd[Pick(int(std::size(Odd)))];
  return -std::log(1.0 - double(R() >> 11) * 0x1p-53) * (Chance(0.5) ? 1.0 : 3.0);
}

template <class T> T* TFuzzModel::Any() {
  std::vector<T*> Found;
  for (TAggregate* A : Parts)
    if (auto* X = dynamic_cast<T*>(A)) Found.push_back(X);
  return Found.empty() ? nullptr : Found[std::size_t(Pick(int(Found.size())))];
}

std::size_t TFuzzModel::IndexOf(const TAggregate* A) const {
  return std::size_t(std::find(Parts.begin(), Parts.end(), A) - Parts.begin());
}

TBlock* TFuzzModel::AnyBlock() {
  return Any<TBlock>();
}
TAggregate* TFuzzModel::AnyAggregate() {
  return Any<TAggregate>();
}
TBlock* TFuzzModel::AnyTerminator() {
  return Any<TTerminator>();
}

bool TFuzzModel::Spend() {
  if (--Budget >= 0) return true;
  Model->Stop();
  return false;
}

void TFuzzModel::Route(TBlock* Self, bool MayPostPone) {
  const int Tries = 1 + Pick(3);
  for (int i = 0; i < Tries; ++i) {
    const int C = Pick(10);
    if (C < 6)
      Self->PassTo(AnyBlock()); // the block itself included
    else if (C < 8)
      Self->PassTo(AnyTerminator());
    else if (C == 8 && MayPostPone)
      Self->PostPone();
  }
}

// Now and then, something a hostile handler might do.
void TFuzzModel::Mischief(double P) {
  if (!Chance(P)) return;
  const int What = Pick(15);
  if (Verbose) std::cout << "      mischief " << What << std::endl;
  switch (What) {
  case 0:
    if (TBlock* B = AnyBlock()) B->PassTo(AnyBlock()); // nested or out of routing
    break;
  case 1:
    if (TAggregate* A = AnyAggregate()) A->NextTime(Delay());
    break;
  case 2:
    if (auto* S = Any<TServer>()) S->Release();
    break;
  case 3:
    if (auto* S = Any<TServer>()) S->ReleaseOne();
    break;
  case 4:
    if (auto* G = Any<TGate>()) G->Lock();
    break;
  case 5:
    if (auto* G = Any<TGate>()) G->Unlock();
    break;
  case 6:
    Model->ClearStatistics();
    break;
  case 7:
    if (Chance(0.1)) Model->Stop();
    break;
  case 8:
    if (Chance(0.05)) throw TFuzzThrow{};
    break;
  case 9:
    if (Chance(0.05)) Model->Simulate(ModelTime() + 1); // refused
    break;
  case 10:
    if (Chance(0.05)) Model->Reset(); // refused
    break;
  case 11:
    if (TBlock* B = AnyBlock()) B->PostPone();
    break;
  case 12:
    // A batch made from inside any handler, nested routing included.
    if (auto* C = Any<TCreator>()) C->Generate(Pick(5) - 1);
    break;
  case 13:
    if (auto* Q = Any<TQueuePrtyCustom>()) {
      Q->SetCapacity(Pick(5) - 1);
      if (Chance(0.5)) Q->SetPreemptive(Chance(0.5));
    }
    break;
  case 14:
    if (auto* S = Any<TSplitJoin>()) S->SetCapacity(Pick(6) - 1);
    break;
  }
}

// Changes the priority or preempt mark of the transaction a handler got.
void TFuzzModel::Touch(TTransaction* T) {
  if (!T || !Chance(0.3)) return;
  T->SetPrty(uint8_t(Pick(4)));
  if (Chance(0.5))
    T->SetPreempt();
  else
    T->SetNonPreempt();
}

// Every kind is made through its class's description, as a model file
// would make it.
TBlock* TFuzzModel::Add(TKind Kind) {
  TAggregate* A = Make(*FindClassInfo(KindClasses[int(Kind)]), KindNames[int(Kind)]);
  Kinds.push_back(Kind);
  return dynamic_cast<TBlock*>(A);
}

TAggregate* TFuzzModel::Make(const TClassInfo& Class, const std::string& Prefix) {
  auto* A = dynamic_cast<TAggregate*>(Class.Create(Form));
  A->SetName(Prefix + std::to_string(Parts.size()));
  Parts.push_back(A);
  return A;
}

// The block classes that the kinds above do not name (a new class of the
// library, or one the application described) take part too, wired through
// their descriptions alone. Today's library has none, so its models are
// drawn as before.
void TFuzzModel::AddDescribed() {
  for (const TClassInfo* C : Classes()) {
    if (!C->Create || C->Report == TReportKind::None ||
        std::find(std::begin(KindClasses), std::end(KindClasses), C->Name) !=
            std::end(KindClasses))
      continue;
    for (int i = Pick(3); i > 0; --i) {
      auto* B = dynamic_cast<TBlock*>(Make(*C, C->Name.substr(1)));
      if (!B) continue;
      WireByDescription(B, *C);
      ++Figures.Described;
    }
  }
}

// Switches and whole-number properties (Tag aside) drawn small; routing
// events route at random, other block events order an activation now and
// then (as a holding block's OnEnter must), aggregate events order one.
void TFuzzModel::WireByDescription(TBlock* B, const TClassInfo& Class) {
  for (const TPropertyInfo& P : Class.Properties) {
    if (P.Name == "Tag") continue;
    if (P.Type == TPropertyType::Boolean) P.Set(*B, Chance(0.5));
    if (P.Type == TPropertyType::Integer) P.Set(*B, Pick(5));
  }
  for (const TEventInfo& E : Class.Events) {
    if (E.Shape == TEventShape::Aggregate) {
      E.Assign(*B, [this](const TEventArgs& A) { A.Sender->NextTime(Delay()); });
    } else if (E.Shape == TEventShape::Block && E.Routing) {
      E.Assign(*B, [this](const TEventArgs& A) {
        if (!Spend()) return;
        Route(static_cast<TBlock*>(A.Sender), false);
        Mischief(0.05);
      });
    } else if (E.Shape == TEventShape::Block) {
      E.Assign(*B, [this](const TEventArgs& A) {
        if (!Spend()) return;
        Touch(A.Trans);
        if (Chance(0.6)) A.Sender->NextTime(Delay());
        Mischief(0.1);
      });
    }
  }
}

// The handlers of one block: routing to random receivers (itself included),
// random activations, and mischief from every handler.
void TFuzzModel::Wire(TBlock* B, TKind Kind) {
  using THandler = std::function<void(TBlock*, TTransaction*)>;
  auto Plain = [this](double P) -> THandler {
    return [this, P](TBlock* Self, TTransaction* T) {
      if (!Spend()) return;
      if (Verbose && !dynamic_cast<TTerminator*>(Self))
        std::cout << "      handler " << Self->Name() << " " << T->GetTransID() << std::endl;
      Touch(T);
      Mischief(P);
    };
  };
  auto Ordering = [this](double POrder) -> THandler {
    return [this, POrder](TBlock* Self, TTransaction* T) {
      if (!Spend()) return;
      Touch(T);
      if (Chance(POrder)) Self->NextTime(Delay());
      Mischief(0.1);
    };
  };
  auto Routing = [this](bool MayPostPone) -> THandler {
    return [this, MayPostPone](TBlock* Self, TTransaction* T) {
      if (!Spend()) return;
      if (Verbose)
        std::cout << "      route " << Self->Name() << " " << T->GetTransID() << std::endl;
      Route(Self, MayPostPone);
      Mischief(0.05);
    };
  };
  B->OnRouting = Routing(false);
  switch (Kind) {
  case TKind::Generator: {
    auto* G = static_cast<TGenerator*>(B);
    G->OnBeforeTimeGoOn = [this](TAggregate* Self) {
      for (int i = Pick(3); i >= 0; --i)
        Self->NextTime(Delay());
    };
    G->OnAfterGeneration = Ordering(0.92);
    G->OnExit = Plain(0.1);
    break;
  }
  case TKind::Queue:
  case TKind::Stack: {
    auto* Q = static_cast<TQueue*>(B);
    Q->SetCapacity(Pick(4) == 0 ? 0 : Pick(5));
    Q->OnEnter = Ordering(0.4);
    Q->OnExit = Plain(0.1);
    Q->OnTimeFinish = Routing(false);
    break;
  }
  case TKind::Server: {
    auto* S = static_cast<TServer*>(B);
    S->SetPreemptive(Chance(0.5));
    S->OnEnter = Ordering(0.85);
    S->OnExit = Plain(0.1);
    S->OnPreempt = Routing(true);
    S->OnRelease = Routing(false);
    break;
  }
  case TKind::Storage: {
    auto* S = static_cast<TStorage*>(B);
    S->SetCapacity(Pick(4));
    S->OnEnter = Ordering(0.9);
    S->OnExit = Plain(0.1);
    break;
  }
  case TKind::Gate: {
    auto* G = static_cast<TGate*>(B);
    if (Chance(0.3)) G->Lock();
    G->OnEnter = Plain(0.1);
    G->OnExit = Plain(0.1);
    break;
  }
  case TKind::Terminator:
    static_cast<TTerminator*>(B)->OnEnter = Plain(0.1);
    break;
  case TKind::Scheduler:
    break;
  case TKind::QueuePrty: {
    auto* Q = static_cast<TQueuePrty*>(B);
    Q->SetCapacity(Pick(4) == 0 ? 0 : Pick(5));
    Q->SetPreemptive(Chance(0.5));
    Q->OnEnter = Ordering(0.4);
    Q->OnExit = Plain(0.1);
    Q->OnTimeFinish = Routing(false);
    if (Chance(0.8)) Q->OnPreempt = Routing(false);
    break;
  }
  case TKind::StoragePrty: {
    auto* S = static_cast<TStoragePrty*>(B);
    S->SetCapacity(Pick(4));
    S->SetPreemptive(Chance(0.5));
    S->OnEnter = Ordering(0.9);
    S->OnExit = Plain(0.1);
    if (Chance(0.8)) S->OnPreempt = Routing(false);
    break;
  }
  case TKind::Divider:
  case TKind::Assembler: {
    auto* S = static_cast<TSplitJoin*>(B);
    S->SetCapacity(Pick(5) - 1);
    S->OnEnter = Plain(0.1);
    S->OnExit = Plain(0.1);
    break;
  }
  case TKind::Creator: {
    auto* C = static_cast<TCreator*>(B);
    // Now and then it generates from its own handler: refused, not nested.
    C->OnAfterGeneration = [this, Mine = Plain(0.1)](TBlock* Self, TTransaction* T) {
      Mine(Self, T);
      if (Chance(0.2)) static_cast<TCreator*>(Self)->Generate(1 + Pick(3));
    };
    C->OnExit = Plain(0.1);
    break;
  }
  }
}

void TFuzzModel::Build() {
  Model->SetHeapSize(Chance(0.3) ? 1 : 4);
  // Both retry modes of the chain, and every fourth seed the fast engine;
  // taken from the seed, so a seed builds the same model in each.
  if (FSeed % 4 == 3)
    Model->SetEngine(TEngine::Fast);
  else
    Model->SetRetry(FSeed % 2 ? TRetry::OnChange : TRetry::EveryScan);
  const std::pair<TKind, int> Counts[] = {
      {TKind::Generator, 1 + Pick(3)},  {TKind::Queue, Pick(3)},     {TKind::Stack, Pick(2)},
      {TKind::Server, Pick(3)},         {TKind::Storage, Pick(3)},   {TKind::Gate, Pick(3)},
      {TKind::Terminator, 1 + Pick(2)}, {TKind::QueuePrty, Pick(3)}, {TKind::StoragePrty, Pick(3)},
      {TKind::Divider, Pick(2)},        {TKind::Assembler, Pick(2)}, {TKind::Creator, Pick(2)}};
  for (auto [Kind, N] : Counts)
    for (int i = 0; i < N; ++i)
      Wire(Add(Kind), Kind);
  AddDescribed();
  // Schedules across time scales: capacities of holding blocks, servers'
  // duty and gates' opening, generators' arrival rates.
  TMultiRand* Stream = nullptr;
  for (TAggregate* A : Parts) {
    auto* B = dynamic_cast<TBlock*>(A);
    if (!B || !Chance(0.12)) continue;
    double Period = 0;
    std::string Error;
    if (auto* G = dynamic_cast<TGenerator*>(B)) {
      if (auto Rate = TSchedule::Parse(DrawScheduleSteps(R, false, 0, Period), Period, Error)) {
        if (!Stream) Stream = new TMultiRand(Form);
        SetArrivalRate(*G, *Rate, *Stream);
        ++Figures.Schedules;
      }
    } else if (TScheduleDriver::CanFollow(*B)) {
      const int Most = dynamic_cast<TServer*>(B) ? 1 : 4;
      auto Steps = TSchedule::Parse(DrawScheduleSteps(R, true, Most, Period), Period, Error);
      if (Steps && TScheduleDriver::Attach(*B, *Steps, Error)) ++Figures.Schedules;
    }
  }
  // Loops that take no time, stopped by the move limit: two queues that
  // pass to each other for good, a generator with interval 0, a scheduler
  // that plans itself with no delay.
  Model->SetMoveLimit(500 + Pick(5000));
  if (Chance(0.2)) {
    auto* A = Any<TQueue>();
    auto* B = Any<TQueue>();
    if (A && B && A != B) {
      // The partner is looked up at each pass: it may have been destroyed.
      auto PassToPart = [this](std::size_t To) {
        return [this, To](TBlock* Self, TTransaction*) {
          if (auto* Receiver = dynamic_cast<TBlock*>(Parts[To])) Self->PassTo(Receiver);
        };
      };
      A->OnRouting = PassToPart(IndexOf(B));
      B->OnRouting = PassToPart(IndexOf(A));
    }
  }
  if (auto* G = Any<TGenerator>(); G && Chance(0.1))
    G->OnAfterGeneration = [](TBlock* Self, TTransaction*) { Self->NextTime(0); };
  for (int i = Pick(3); i > 0; --i) {
    Add(TKind::Scheduler);
    auto* S = static_cast<TScheduler*>(Parts.back());
    S->OnBeforeTimeGoOn = [this](TAggregate* Self) { Self->NextTime(Delay()); };
    // Now and then one plans itself with no delay for good, whatever the
    // budget: only the move limit (or the events' limit) ends that.
    S->OnPlanned = [this, Endless = Chance(0.1)](TAggregate* Self) {
      if (Endless) Self->NextTime(0);
      if (!Spend()) return;
      Mischief(0.8);
      if (auto* C = Any<TCreator>(); C && Chance(0.5)) C->Generate(Pick(4));
      if (!Endless && Chance(0.9)) Self->NextTime(Delay());
    };
  }
  Model->OnNewTime = [this](TAggregate* A, TTransaction* T) {
    if (Verbose) {
      // Between two steps every block is at rest: check them all.
      for (const std::string& F : CheckInvariants(*Model, LostAllowed || Model->Exhausted()))
        std::cout << "  ! " << F << std::endl;
      std::cout << "  " << ModelTime() << " " << A->Name() << " " << (T ? T->GetTransID() : 0)
                << std::endl;
    }
    if (++Events >= MaxEvents) Model->Stop();
  };
  // A terminator has destroyed the transaction already: it is not looked at.
  // Any other receiver hands over a live record, read here so that the
  // sanitizer build catches one that was freed during the pass.
  Model->OnAfterPass = [this](TBlock* From, TBlock* To, TTransaction* T) {
    const volatile int32_t ID = dynamic_cast<TTerminator*>(To) ? 0 : T->GetTransID();
    if (Verbose)
      std::cout << "    " << From->Name() << " -> " << To->Name() << " " << ID << std::endl;
    if (Spend()) Mischief(0.02);
  };
  Model->OnBeforeTimeGoOn = [this] { Mischief(0.1); };
}

void TFuzzModel::Check(int Run, std::vector<std::string>& Faults) {
  const std::string Where = "seed " + std::to_string(FSeed) + " run " + std::to_string(Run) + ": ";
  int Exhaustions = 0;
  for (std::size_t i = 0; i < Capture.Messages.size(); ++i) {
    const std::string& M = Capture.Messages[i];
    if (M.rfind("Quorin Error: ", 0) != 0) Faults.push_back(Where + "message " + M);
    if (i >= ReportedAt && M.rfind("Quorin Error: Not enough memory", 0) == 0) ++Exhaustions;
  }
  if (Exhaustions > 1) Faults.push_back(Where + "one exhaustion reported more than once");
  if (Model->Exhausted() && Exhaustions == 0)
    Faults.push_back(Where + "exhausted without a report");
  for (const std::string& F : CheckInvariants(*Model, LostAllowed || Model->Exhausted()))
    Faults.push_back(Where + F);
}

std::vector<std::string> TFuzzModel::Run() {
  Build();
  std::vector<std::string> Faults;
  const int Runs = 3 + Pick(5);
  for (int Run = 0; Run < Runs && Faults.empty(); ++Run) {
    std::string Step;
    if (Run > 0) {
      const int C = Pick(10);
      if (C < 3) {
        Model->Reset();
        LostAllowed = false;
        ReportedAt = Capture.Messages.size();
        Step = "reset";
      } else if (C < 4) {
        const std::size_t i = std::size_t(Pick(int(Parts.size())));
        if (Parts[i]) {
          delete Parts[i];
          Parts[i] = nullptr;
          LostAllowed = true;
          Step = "destroy " + std::to_string(i);
        }
      } else if (C < 5) {
        Model->ClearStatistics();
        Step = "clear";
      }
    }
    bool Injected = false;
    if (!Model->MemoReady() && Chance(0.35)) {
      HeapInjectFault(std::size_t(1 + Pick(30)), Chance(0.5) ? 1 : SIZE_MAX);
      Injected = true;
      Step += " inject";
    }
    Budget = MaxHandlers;
    Events = 0;
    const bool Looped = Model->RunEnd() == TRunEnd::MoveLimit; // refused until Reset
    const std::size_t Before = Capture.Messages.size();
    const double End = ModelTime() + (Chance(0.1) ? 1e12 : 1 + 200 * double(R() >> 11) * 0x1p-53);
    try {
      Model->Simulate(End);
    } catch (const TFuzzThrow&) {
      ++Figures.Throws;
      Step += " threw";
    } catch (const std::exception& E) {
      Faults.push_back("seed " + std::to_string(FSeed) + ": exception " + E.what());
    } catch (...) {
      Faults.push_back("seed " + std::to_string(FSeed) + ": unknown exception");
    }
    HeapInjectFault(0);
    ++Figures.Runs;
    Figures.Events += Events;
    if (!Looped && Model->RunEnd() == TRunEnd::MoveLimit) ++Figures.MoveLimits;
    for (std::size_t i = Before; i < Capture.Messages.size(); ++i)
      if (Capture.Messages[i].find(" is called while it generates ") != std::string::npos)
        ++Figures.NestedGenerates;
    if (Model->Exhausted()) {
      ++Figures.Exhaustions;
      if (Injected) ++Figures.InjectedExhaustions;
    }
    if (Verbose)
      std::cout << "run " << Run << ":" << Step << " to " << End << ", clock " << ModelTime()
                << ", events " << Events << ", messages " << Capture.Messages.size()
                << (Model->Exhausted() ? ", exhausted" : "") << std::endl;
    Check(Run, Faults);
  }
  ++Figures.Models;
  if (!Faults.empty()) ++Figures.Failures;
  return Faults;
}

} // namespace

std::vector<std::string> FuzzModel(uint64_t Seed, TFuzzFigures& Figures, bool Verbose) {
  TFuzzModel M(Seed, Figures, Verbose);
  return M.Run();
}

} // namespace quorin::test
