#include "reference_models.h"

namespace quorin::test {

namespace {

template <class T> T* Make(TComponent* Form, const char* Name) {
  auto* C = new T(Form);
  C->SetName(Name);
  return C;
}

TMultiRand* Stream(TComponent* Form, const char* Name, int64_t Seed) {
  auto* R = Make<TMultiRand>(Form, Name);
  R->SetSeed(Seed);
  return R;
}

// Routing that passes the transaction on to Receiver.
std::function<void(TBlock*, TTransaction*)> To(TBlock* Receiver) {
  return [Receiver](TBlock* Sender, TTransaction*) { Sender->PassTo(Receiver); };
}

// OnEnter that holds each transaction in B for a time exponential with the
// given mean.
std::function<void(TBlock*, TTransaction*)> Hold(TBlock* B, TMultiRand* R, double Mean) {
  return [B, R, Mean](TBlock*, TTransaction*) { B->NextTime(R->Exponential(Mean)); };
}

// Door makes arrivals at rate 1 and passes them into Next.
TGenerator* Door(TComponent* Form, TBlock* Next, int64_t Seed) {
  auto* Arrivals = Stream(Form, "Arrivals", Seed);
  auto* G = Make<TGenerator>(Form, "Door");
  G->OnBeforeTimeGoOn = [=](TAggregate*) { G->NextTime(Arrivals->Exponential(1.0)); };
  G->OnAfterGeneration = [=](TBlock*, TTransaction*) { G->NextTime(Arrivals->Exponential(1.0)); };
  G->OnRouting = To(Next);
  return G;
}

void MM1(TComponent* Form) {
  new TModel(Form);
  auto* Services = Stream(Form, "Services", 1234567891);
  auto* Line = Make<TQueue>(Form, "Line");
  auto* Clerk = Make<TServer>(Form, "Clerk");
  auto* Exit = Make<TTerminator>(Form, "Exit");
  Door(Form, Line, 1000000000);
  Line->OnRouting = To(Clerk);
  Clerk->OnEnter = Hold(Clerk, Services, 0.95);
  Clerk->OnRouting = To(Exit);
}

void MM3(TComponent* Form) {
  new TModel(Form);
  auto* Services = Stream(Form, "Services", 192837465);
  auto* Line = Make<TQueue>(Form, "Line");
  auto* Tellers = Make<TStorage>(Form, "Tellers");
  auto* Exit = Make<TTerminator>(Form, "Exit");
  Tellers->SetCapacity(3);
  Door(Form, Line, 987654321);
  Line->OnRouting = To(Tellers);
  Tellers->OnEnter = Hold(Tellers, Services, 2.9);
  Tellers->OnRouting = To(Exit);
}

// Customers wait at most an exponential patience in Line; the impatient go
// on to a second, slower line.
void Impatient(TComponent* Form) {
  new TModel(Form);
  auto* Services = Stream(Form, "Services", 555555555);
  auto* Patience = Stream(Form, "Patience", 777777777);
  auto* Line = Make<TQueue>(Form, "Line");
  auto* Clerk = Make<TServer>(Form, "Clerk");
  auto* Overflow = Make<TStack>(Form, "Overflow");
  auto* Slow = Make<TServer>(Form, "Slow");
  auto* Exit = Make<TTerminator>(Form, "Exit");
  Door(Form, Line, 111111111);
  Line->OnEnter = Hold(Line, Patience, 3.0);
  Line->OnRouting = To(Clerk);
  Line->OnTimeFinish = To(Overflow);
  Clerk->OnEnter = Hold(Clerk, Services, 1.1);
  Clerk->OnRouting = To(Exit);
  Overflow->OnRouting = To(Slow);
  Slow->OnEnter = Hold(Slow, Services, 2.0);
  Slow->OnRouting = To(Exit);
}

// Urgent jobs (priority 2, preempt mark) push ordinary ones out of a
// preemptive server: a displaced job of priority 1 waits on the server's
// interrupted stack, one of priority 0 goes to a side server.
void Preemption(TComponent* Form) {
  new TModel(Form);
  auto* Kinds = Stream(Form, "Kinds", 246813579);
  auto* Services = Stream(Form, "Services", 135792468);
  auto* Line = Make<TQueue>(Form, "Line");
  auto* Cpu = Make<TServer>(Form, "Cpu");
  auto* Side = Make<TServer>(Form, "Side");
  auto* Exit = Make<TTerminator>(Form, "Exit");
  Cpu->SetPreemptive(true);
  TGenerator* G = Door(Form, Line, 864209753);
  G->OnAfterGeneration = [=, Next = G->OnAfterGeneration](TBlock* Sender, TTransaction* T) {
    const double U = Kinds->Uni01();
    T->SetPrty(U < 0.2 ? 2 : U < 0.6 ? 1 : 0);
    if (T->GetPrty() == 2) T->SetPreempt();
    Next(Sender, T);
  };
  Line->OnRouting = To(Cpu);
  Cpu->OnEnter = Hold(Cpu, Services, 0.98);
  Cpu->OnRouting = To(Exit);
  Cpu->OnPreempt = [=](TBlock* Sender, TTransaction* T) {
    if (T->GetPrty() == 1 || !Sender->PassTo(Side)) Sender->PostPone();
  };
  Side->OnEnter = Hold(Side, Services, 0.5);
  Side->OnRouting = To(Exit);
}

// Transactions of a class of the model's own carry their service time; a
// gate opened and shut by a scheduler holds them up.
struct TJob : TTransaction {
  double Work = 0;
  int64_t Visits = 0;
};

void DerivedClass(TComponent* Form) {
  auto* Model = new TModel(Form);
  Model->SetTransactionClass<TJob>();
  auto* Sizes = Stream(Form, "Sizes", 314159265);
  auto* Line = Make<TQueue>(Form, "Line");
  auto* Turnstile = Make<TGate>(Form, "Turnstile");
  auto* Clerk = Make<TServer>(Form, "Clerk");
  auto* Exit = Make<TTerminator>(Form, "Exit");
  auto* Keeper = Make<TScheduler>(Form, "Keeper");
  TGenerator* G = Door(Form, Line, 271828182);
  G->OnAfterGeneration = [=, Next = G->OnAfterGeneration](TBlock* Sender, TTransaction* T) {
    auto* Job = static_cast<TJob*>(T);
    Job->Work = Sizes->Exponential(0.9);
    Job->Visits = 0;
    Next(Sender, T);
  };
  Line->OnRouting = To(Turnstile);
  Turnstile->OnEnter = [](TBlock*, TTransaction* T) { ++static_cast<TJob*>(T)->Visits; };
  Turnstile->OnRouting = To(Clerk);
  Clerk->OnEnter = [=](TBlock*, TTransaction* T) { Clerk->NextTime(static_cast<TJob*>(T)->Work); };
  Clerk->OnRouting = To(Exit);
  // The lock outlives Reset: each run starts with the gate open.
  Keeper->OnBeforeTimeGoOn = [=](TAggregate* Self) {
    Turnstile->Unlock();
    Self->NextTime(7);
  };
  Keeper->OnPlanned = [=](TAggregate* Self) {
    Turnstile->Inverse();
    Self->NextTime(Turnstile->isLocked() ? 3 : 7);
  };
}

// Urgent jobs jump a bounded priority line in front of a preemptive server:
// a full line pushes its oldest low-priority job out to a side line, an
// urgent one may enter a full line by preemption, and jobs that wait too
// long go to the side line too. The server's displaced jobs go back to the
// line.
void PriorityLine(TComponent* Form) {
  new TModel(Form);
  auto* Kinds = Stream(Form, "Kinds", 192021222);
  auto* Services = Stream(Form, "Services", 232425262);
  auto* Patience = Stream(Form, "Patience", 272829303);
  auto* Line = Make<TQueuePrty>(Form, "Line");
  auto* Cpu = Make<TServer>(Form, "Cpu");
  auto* Side = Make<TQueue>(Form, "Side");
  auto* Slow = Make<TStoragePrty>(Form, "Slow");
  auto* Exit = Make<TTerminator>(Form, "Exit");
  Line->SetCapacity(4);
  Line->SetPreemptive(true);
  Cpu->SetPreemptive(true);
  Slow->SetCapacity(2);
  TGenerator* G = Door(Form, Line, 313233343);
  G->OnAfterGeneration = [=, Next = G->OnAfterGeneration](TBlock* Sender, TTransaction* T) {
    const double U = Kinds->Uni01();
    T->SetPrty(U < 0.2 ? 3 : U < 0.5 ? 2 : U < 0.8 ? 1 : 0);
    if (T->GetPrty() == 3) T->SetPreempt();
    Next(Sender, T);
  };
  Line->OnEnter = Hold(Line, Patience, 4.0);
  Line->OnRouting = To(Cpu);
  Line->OnTimeFinish = To(Side);
  Line->OnPreempt = To(Side);
  Cpu->OnEnter = Hold(Cpu, Services, 0.8);
  Cpu->OnRouting = To(Exit);
  Cpu->OnPreempt = [=](TBlock* Sender, TTransaction*) {
    if (!Sender->PassTo(Line)) Sender->PostPone();
  };
  Side->OnRouting = To(Slow);
  Slow->OnEnter = Hold(Slow, Services, 1.5);
  Slow->OnRouting = To(Exit);
}

// Fork and join: each order splits into three parts served in parallel by a
// storage, and the assembler joins every three finished parts into one.
void ForkJoin(TComponent* Form) {
  new TModel(Form);
  auto* Services = Stream(Form, "Services", 353637383);
  auto* Line = Make<TQueue>(Form, "Line");
  auto* Split = Make<TDivider>(Form, "Split");
  auto* Work = Make<TStorage>(Form, "Work");
  auto* Join = Make<TAssembler>(Form, "Join");
  auto* Exit = Make<TTerminator>(Form, "Exit");
  Split->SetCapacity(3);
  Join->SetCapacity(3);
  Work->SetCapacity(4);
  Door(Form, Line, 394041424);
  Line->OnRouting = To(Split);
  Split->OnRouting = To(Work);
  Work->OnEnter = Hold(Work, Services, 1.2);
  Work->OnRouting = To(Join);
  Join->OnRouting = To(Exit);
}

// A scheduler orders batches of random size from a creator at random times;
// the batches wait in a queue for a single server.
void Batches(TComponent* Form) {
  new TModel(Form);
  auto* Sizes = Stream(Form, "Sizes", 434445464);
  auto* Services = Stream(Form, "Services", 474849505);
  auto* Maker = Make<TCreator>(Form, "Maker");
  auto* Line = Make<TQueue>(Form, "Line");
  auto* Clerk = Make<TServer>(Form, "Clerk");
  auto* Exit = Make<TTerminator>(Form, "Exit");
  auto* Clock = Make<TScheduler>(Form, "Clock");
  Clock->OnBeforeTimeGoOn = [=](TAggregate* Self) { Self->NextTime(Sizes->Exponential(4.0)); };
  Clock->OnPlanned = [=](TAggregate* Self) {
    Maker->Generate(1 + int32_t(Sizes->Uni01() * 6));
    Self->NextTime(Sizes->Exponential(4.0));
  };
  Maker->OnRouting = To(Line);
  Line->OnRouting = To(Clerk);
  Clerk->OnEnter = Hold(Clerk, Services, 1.0);
  Clerk->OnRouting = To(Exit);
}

} // namespace

const std::vector<TReferenceModel>& ReferenceModels() {
  static const std::vector<TReferenceModel> Models = {
      {"MM1", MM1, 2000},
      {"MM3OnAStorage", MM3, 2000},
      {"ImpatientCustomers", Impatient, 2000},
      {"PreemptiveServer", Preemption, 2000},
      {"DerivedTransactionClass", DerivedClass, 2000},
      {"PriorityLineBeforeAPreemptiveServer", PriorityLine, 2000},
      {"ForkJoin", ForkJoin, 2000},
      {"BatchesFromACreator", Batches, 2000},
  };
  return Models;
}

} // namespace quorin::test
