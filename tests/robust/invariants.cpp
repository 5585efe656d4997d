#include "invariants.h"

#include <set>

#include "quorin/detail/current.h"
#include "quorin/detail/future.h"

namespace quorin::test {

namespace {

// The list from First through FNext: its length, each transaction naming
// Block, and (for a doubly linked list) FPrev pointing back.
int32_t Walk(TBlock* Block, TTransaction* First, bool Doubly, TInspection& Out) {
  int32_t N = 0;
  TTransaction* Prev = nullptr;
  for (TTransaction* T = First; T; T = T->FNext) {
    if (++N > 1000000) {
      Out.Fault(Block, "list does not end");
      break;
    }
    if (T->FBlock != Block) Out.Fault(Block, "holds a transaction naming another block");
    if (Doubly && T->FPrev != Prev) Out.Fault(Block, "broken back link");
    Out.Held.push_back(T);
    Prev = T;
  }
  return N;
}

void Expect(bool Holds, TBlock* Block, const char* What, TInspection& Out) {
  if (!Holds) Out.Fault(Block, What);
}

bool InspectQueue(TBlock* B, TInspection& Out) {
  auto* Q = dynamic_cast<TWaitingLine<TQueueCustom>*>(B);
  if (!Q) return false;
  const int32_t N = Walk(Q, Q->First(), true, Out);
  Expect(N == Q->Count(), Q, "Count differs from the list length", Out);
  Expect(Q->HasTransaction() == (N > 0), Q, "offers exactly while not empty", Out);
  Expect(Q->Transaction() == Q->First(), Q, "offers its head", Out);
  return true;
}

bool InspectStorage(TBlock* B, TInspection& Out) {
  auto* S = dynamic_cast<TStorageCustom<TQueueCustom>*>(B);
  if (!S) return false;
  const int32_t Holding = Walk(S, S->First(), true, Out);
  const int32_t Finished = Walk(S, S->FirstFinished(), false, Out);
  Expect(Finished == S->FinishedCount(), S, "finished count differs from its list", Out);
  Expect(Holding + Finished == S->Count(), S, "Count differs from its lists", Out);
  Expect(S->HasTransaction() == (Finished > 0), S, "offers exactly while one has finished", Out);
  Expect(S->Transaction() == S->FirstFinished(), S, "offers the first finished", Out);
  return true;
}

bool InspectServer(TBlock* B, TInspection& Out) {
  auto* S = dynamic_cast<TServer*>(B);
  if (!S) return false;
  int32_t N = 0;
  if (TTransaction* H = S->Transaction()) {
    Expect(H->FBlock == S, S, "holder names another block", Out);
    Out.Held.push_back(H);
    N = 1;
  }
  Expect(N == 1 || !S->Interrupted(), S, "interrupted ones without a holder", Out);
  N += Walk(S, S->Interrupted(), false, Out);
  Expect(N == S->Count(), S, "Count differs from holder and interrupted stack", Out);
  Expect(!S->HasTransaction() || S->Transaction(), S, "offers without a holder", Out);
  return true;
}

bool InspectGate(TBlock* B, TInspection& Out) {
  auto* G = dynamic_cast<TGate*>(B);
  if (!G) return false;
  const bool Holds = G->HasTransaction();
  Expect(G->Count() == (Holds ? 1 : 0), G, "Count differs from what it holds", Out);
  Expect((G->Transaction() != nullptr) == Holds, G, "names a transaction it does not offer", Out);
  Expect(G->FReadyToReceive == !Holds, G, "ready to receive while full", Out);
  if (Holds) {
    Expect(G->Transaction()->FBlock == G, G, "holds a transaction naming another block", Out);
    Out.Held.push_back(G->Transaction());
  }
  return true;
}

bool InspectGenerator(TBlock* B, TInspection& Out) {
  auto* G = dynamic_cast<TGenerator*>(B);
  if (!G) return false;
  Expect((G->Transaction() != nullptr) == G->HasTransaction(), G, "offer and transaction differ",
         Out);
  // A generator's transaction has entered no block yet: FBlock is not its.
  if (G->HasTransaction() && G->Transaction()) Out.Held.push_back(G->Transaction());
  return true;
}

bool InspectTerminator(TBlock* B, TInspection& Out) {
  auto* T = dynamic_cast<TTerminator*>(B);
  if (!T) return false;
  Expect(T->Count() == 0 && !T->HasTransaction() && !T->Transaction(), T, "holds something", Out);
  return true;
}

// The priority classes of Q: ascending and linked both ways, each class a
// non-empty doubly linked list whose count and last match; the number of
// transactions in classes is returned.
int32_t WalkClasses(TQueuePrtyCustom* Q, TInspection& Out) {
  int32_t Total = 0, Classes = 0;
  TQueHead* Prev = nullptr;
  for (TQueHead* C = Q->FirstQue(); C; C = C->Next) {
    if (++Classes > 256) {
      Out.Fault(Q, "class list does not end");
      break;
    }
    Expect(C->Prev == Prev, Q, "broken back link between classes", Out);
    Expect(!Prev || Prev->Prty < C->Prty, Q, "classes not in strictly ascending priority", Out);
    const int32_t N = Walk(Q, C->First, true, Out);
    Expect(N == C->Count && N > 0, Q, "class count differs from its list or is empty", Out);
    TTransaction* Last = C->First;
    while (Last && Last->FNext)
      Last = Last->FNext;
    Expect(Last == C->Last, Q, "class does not end at its last", Out);
    Expect(Q->FindQue(C->First) == C, Q, "a transaction is not found in its class", Out);
    Expect(Q->PrtyCount(C->Prty) == C->Count, Q, "PrtyCount differs from its class", Out);
    Total += N;
    Prev = C;
  }
  Expect(Prev == Q->LastQue(), Q, "classes do not end at the last class", Out);
  Expect(Classes == Q->QueCount(), Q, "QueCount differs from the classes", Out);
  Expect(Q->MinPrty() == (Q->FirstQue() ? Q->FirstQue()->Prty : 0), Q, "MinPrty is not the lowest",
         Out);
  Expect(Q->MaxPrty() == (Prev ? Prev->Prty : 0), Q, "MaxPrty is not the highest", Out);
  return Total;
}

bool InspectStoragePrty(TBlock* B, TInspection& Out) {
  auto* S = dynamic_cast<TStorageCustom<TQueuePrtyCustom>*>(B);
  if (!S) return false;
  const int32_t Holding = WalkClasses(S, Out);
  const int32_t Finished = Walk(S, S->FirstFinished(), false, Out);
  TTransaction* Last = S->FirstFinished();
  while (Last && Last->FNext)
    Last = Last->FNext;
  Expect(Last == S->LastFinished(), S, "finished list does not end at its last", Out);
  Expect(Finished == S->FinishedCount(), S, "finished count differs from its list", Out);
  Expect(Holding + Finished == S->Count(), S, "Count differs from classes and finished list", Out);
  Expect(S->HasTransaction() == (Finished > 0), S, "offers exactly while one has finished", Out);
  Expect(S->Transaction() == S->FirstFinished(), S, "offers the first finished", Out);
  return true;
}

bool InspectQueuePrty(TBlock* B, TInspection& Out) {
  auto* Q = dynamic_cast<TWaitingLine<TQueuePrtyCustom>*>(B);
  if (!Q) return false;
  const int32_t N = WalkClasses(Q, Out);
  Expect(N == Q->Count(), Q, "Count differs from its classes", Out);
  Expect(Q->HasTransaction() == (N > 0), Q, "offers exactly while not empty", Out);
  Expect(Q->Transaction() == (Q->LastQue() ? Q->LastQue()->First : nullptr), Q,
         "offers other than the oldest of the highest class", Out);
  return true;
}

// The divider's and the assembler's list: doubly linked, newest first, from
// First to Last.
int32_t WalkSplitJoin(TSplitJoin* S, TInspection& Out) {
  const int32_t N = Walk(S, S->First(), true, Out);
  TTransaction* Last = S->First();
  while (Last && Last->FNext)
    Last = Last->FNext;
  Expect(Last == S->Last(), S, "list does not end at its last", Out);
  Expect(S->HasTransaction() == !S->FReadyToReceive, S, "takes entries while it offers", Out);
  Expect(!S->HasTransaction() || S->Transaction() == S->First(), S, "offers other than its first",
         Out);
  return N;
}

bool InspectDivider(TBlock* B, TInspection& Out) {
  auto* D = dynamic_cast<TDivider*>(B);
  if (!D) return false;
  const int32_t N = WalkSplitJoin(D, Out);
  Expect(N == D->Count(), D, "Count differs from the list length", Out);
  Expect(D->HasTransaction() == (N > 0), D, "holds copies it does not offer", Out);
  return true;
}

bool InspectAssembler(TBlock* B, TInspection& Out) {
  auto* A = dynamic_cast<TAssembler*>(B);
  if (!A) return false;
  const int32_t N = WalkSplitJoin(A, Out);
  if (A->HasTransaction())
    Expect(N == 1 && A->Count() >= 1, A, "offers other than one kept transaction", Out);
  else
    Expect(N == A->Count(), A, "Count differs from the transactions gathered", Out);
  return true;
}

bool InspectCreator(TBlock* B, TInspection& Out) {
  auto* C = dynamic_cast<TCreator*>(B);
  if (!C) return false;
  const int32_t N = Walk(C, C->First(), false, Out);
  TTransaction* Last = C->First();
  while (Last && Last->FNext)
    Last = Last->FNext;
  Expect(Last == C->Last(), C, "queue does not end at its last", Out);
  Expect(N == C->Count(), C, "Count differs from the queue length", Out);
  Expect(C->HasTransaction() == (N > 0), C, "offers exactly while transactions wait", Out);
  Expect(C->Transaction() == C->First(), C, "offers other than the first made", Out);
  Expect(!C->FReadyToReceive, C, "ready to receive", Out);
  return true;
}

} // namespace

std::vector<TBlockInspector>& BlockInspectors() {
  // Each inspector takes a kind by the class that keeps its lists (a
  // storage's, a waiting line's, ...), so a new class derived from one of
  // them is inspected as that kind. Derived kinds come first.
  static std::vector<TBlockInspector> Inspectors = {
      InspectStorage,   InspectQueue,      InspectServer,      InspectGate,
      InspectGenerator, InspectTerminator, InspectStoragePrty, InspectQueuePrty,
      InspectDivider,   InspectAssembler,  InspectCreator};
  return Inspectors;
}

std::vector<std::string> CheckInvariants(TModel& Model, bool LostRecordsAllowed) {
  TInspection Out;
  std::set<TBlock*> Blocks;
  for (TAggregate* A : Model.Aggregates()) {
    auto* B = dynamic_cast<TBlock*>(A);
    if (!B) continue;
    Blocks.insert(B);
    const std::size_t Before = Out.Held.size();
    bool Known = false;
    for (auto& Inspect : BlockInspectors())
      if ((Known = Inspect(B, Out))) break;
    if (!Known) Out.Fault(B, "no inspector for its kind");
    if (B->InRouting() || B->Passing() || B->Entering() || B->FKick || B->ToDestroy())
      Out.Fault(B, "left in routing");
    if (!Model.MemoReady()) continue;
    if (B->HasTransaction() && !B->ChainEntry() && CurrentManager->Ok())
      Out.Fault(B, "offers a transaction outside the chain");
    for (std::size_t i = Before; i < Out.Held.size(); ++i) {
      TTransaction* T = Out.Held[i];
      if (T->FEvent && (T->FEvent->Trans != T || T->FEvent->Aggregate != B))
        Out.Fault(B, "a transaction's pending activation is not its own");
    }
  }
  if (!Model.MemoReady()) return Out.Faults;

  std::set<TTransaction*> Held;
  for (TTransaction* T : Out.Held)
    if (!Held.insert(T).second) Out.Faults.push_back("a transaction is held in two places");
  std::set<void*> Free;
  TransManager->ForEachDead([&](void* Record) {
    if (!Free.insert(Record).second) Out.Faults.push_back("a record is free twice");
    if (Held.count(static_cast<TTransaction*>(Record)))
      Out.Faults.push_back("a record is free and held at once");
  });
  const std::size_t Carved = std::size_t(TransManager->TotalItemCount());
  if (Held.size() + Free.size() > Carved)
    Out.Faults.push_back("more records held or free than carved");
  if (!LostRecordsAllowed && Held.size() + Free.size() < Carved)
    Out.Faults.push_back("records lost: " + std::to_string(Carved - Held.size() - Free.size()));

  int32_t Entries = 0;
  std::set<TBlock*> InChain;
  for (TCurrentEvent* E = CurrentManager->First(); E; E = E->Next) {
    ++Entries;
    if (!E->Block) continue;
    if (!InChain.insert(E->Block).second) Out.Faults.push_back("a block is twice in the chain");
    if (E->Block->ChainEntry() != E) Out.Faults.push_back("a chain entry not known to its block");
    if (!Blocks.count(E->Block)) Out.Faults.push_back("a chain entry of an unknown block");
  }
  if (Entries != CurrentManager->Count()) Out.Faults.push_back("chain count differs from entries");
  // Parked blocks (retry on change): out of the scanned list, keeping their
  // entry, and still offering (one that stopped is linked back in).
  int32_t Parked = 0;
  for (TCurrentEvent* E = CurrentManager->FirstParked(); E; E = E->Next) {
    ++Parked;
    TBlock* B = E->Block;
    if (!B || !Blocks.count(B)) {
      Out.Faults.push_back("a parked entry of an unknown block");
      continue;
    }
    if (!B->Parked() || B->ChainEntry() != E) Out.Fault(B, "parked, but its entry says otherwise");
    if (InChain.count(B)) Out.Fault(B, "parked and in the scanned chain at once");
    if (!B->HasTransaction()) Out.Fault(B, "parked while offering nothing");
  }
  for (TBlock* B : Blocks)
    if (B->Parked() && (!B->ChainEntry() || InChain.count(B)))
      Out.Fault(B, "parked outside the parked list");
  if (Parked != CurrentManager->ParkedCount())
    Out.Faults.push_back("parked count differs from parked entries");
  return Out.Faults;
}

} // namespace quorin::test
