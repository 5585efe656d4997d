#include "quorin/detail/current.h"

#include <cassert>

#include "quorin/detail/list.h"
#include "quorin/detail/scope.h"
#include "quorin/kernel/block.h"

namespace quorin {

TCurrentManager* CurrentManager = nullptr;
bool FlagPass = false;
int32_t LCECount = 0;
int32_t LCESum = 0;
int32_t LCESumCount = 0;

namespace {
// The entries of the scanned and of the parked list, and the waits on a
// receiver, in the order they joined.
using TEntryList = detail::TListView<TCurrentEvent, &TCurrentEvent::Next, &TCurrentEvent::Prev>;
using TWaitList = detail::TListView<TWaitLink, &TWaitLink::Next, &TWaitLink::Prev>;

// The load counters run for the life of the process; they wrap around
// instead of overflowing (a signed overflow would be undefined).
inline void Bump(int32_t& Counter, int32_t By) {
  Counter = static_cast<int32_t>(static_cast<uint32_t>(Counter) + static_cast<uint32_t>(By));
}
} // namespace

TCurrentManager::TCurrentManager(uint16_t PageSize, bool FreeList)
    : FMemo(std::make_unique<TMemoManager>(PageSize, uint16_t(sizeof(TCurrentEvent)), FreeList)),
      FFreeList(FreeList) {}

TCurrentManager::~TCurrentManager() {
  // The entries and links go with the pools: no block may keep pointing at
  // one. Every waiter link belongs to a parked block.
  for (TCurrentEvent* E = FFirst; E; E = E->Next)
    if (E->Block) E->Block->FChainEntry = nullptr;
  for (TCurrentEvent* E = FFirstParked; E; E = E->Next) {
    TBlock* Block = E->Block;
    for (TWaitLink* L = Block->FWaits; L; L = L->NextOfSender) {
      L->Receiver->FFirstWaiter = nullptr;
      L->Receiver->FLastWaiter = nullptr;
    }
    Block->FWaits = nullptr;
    Block->FParked = false;
    Block->FChainEntry = nullptr;
  }
}

void TCurrentManager::SetPolicy(TRetryPolicy Value) {
  FPolicy = Value;
  if (FPolicy == TRetryPolicy::OnChange && !FLinks)
    FLinks = std::make_unique<TMemoManager>(FMemo->PageSize(), uint16_t(sizeof(TWaitLink)),
                                            FFreeList);
}

TCurrentEvent* TCurrentManager::Add(TBlock* Block) {
  if (TCurrentEvent* Existing = Block->FChainEntry) {
    assert(Existing->Block == Block);
    // A parked block offers anew: route it again, in its place.
    if (Block->FParked) Unpark(Block);
    return Existing;
  }
  TCurrentEvent* Entry = NewEntry(Block);
  if (!Entry) return nullptr;
  LinkAfter(Entry, FLast);
  Block->FChainEntry = Entry;
  Block->FChainSeq = ++FLastSeq;
  return Entry;
}

TCurrentEvent* TCurrentManager::InsertFirst(TBlock* Block) {
  TCurrentEvent* Existing = Block->FChainEntry;
  if (Existing) {
    if (Block->FParked) Unpark(Block);
    if (Existing == FFirst) return Existing;
  }
  TCurrentEvent* Entry = NewEntry(Block);
  if (!Entry) return nullptr;
  if (Existing && FScanning) {
    // The block moves to the front. Its old entry is blanked, not unlinked:
    // the scan under way may stand on it, and drops it when it gets there.
    Existing->Block = nullptr;
  } else if (Existing) {
    Unlink(Existing);
    FMemo->Delete(Existing);
  }
  LinkAfter(Entry, nullptr);
  Block->FChainEntry = Entry;
  Block->FChainSeq = --FFirstSeq;
  return Entry;
}

void TCurrentManager::LinkAfter(TCurrentEvent* Entry, TCurrentEvent* P) {
  TEntryList(FFirst, FLast).InsertAfter(Entry, P);
  ++FCount;
}

void TCurrentManager::Unlink(TCurrentEvent* Event) {
  TEntryList(FFirst, FLast).Remove(Event);
  --FCount;
}

void TCurrentManager::Remove(TCurrentEvent* Event) {
  if (FCount == 0 || !Event) return;
  if (Event->Block) {
    assert(Event->Block->FChainEntry == Event);
    Event->Block->FChainEntry = nullptr;
  }
  Unlink(Event);
  FMemo->Delete(Event);
}

void TCurrentManager::Forget(TBlock* Block) {
  // A receiver noted by the routing under way must not be waited on.
  for (int32_t i = 0; i < FTriedCount; ++i)
    if (FTried[i] == Block) FTriedOverflow = true;
  // Its waiters go back to routing: it will signal nothing any more.
  Wake(Block);
  if (TCurrentEvent* E = Block->FChainEntry) {
    E->Block = nullptr;
    Block->FChainEntry = nullptr;
  }
}

void TCurrentManager::DropWaits(TBlock* Block) {
  TWaitLink* L = Block->FWaits;
  while (L) {
    TBlock* R = L->Receiver;
    TWaitList(R->FFirstWaiter, R->FLastWaiter).Remove(L);
    TWaitLink* Next = L->NextOfSender;
    FLinks->Delete(L);
    L = Next;
  }
  Block->FWaits = nullptr;
}

void TCurrentManager::LinkInOrder(TCurrentEvent* Entry) {
  // The scanned list is in join order: walk back from its tail (blank
  // entries belong to destroyed blocks and are passed over).
  const int64_t Seq = Entry->Block->FChainSeq;
  TCurrentEvent* P = FLast;
  while (P && (!P->Block || P->Block->FChainSeq > Seq))
    P = P->Prev;
  LinkAfter(Entry, P);
}

void TCurrentManager::Unpark(TBlock* Block) {
  if (!Block->FParked) return;
  TCurrentEvent* E = Block->FChainEntry;
  DropWaits(Block);
  Block->FParked = false;
  TEntryList(FFirstParked, FLastParked).Remove(E);
  --FParkedCount;
  LinkInOrder(E);
}

void TCurrentManager::Wake(TBlock* Block) {
  Block->FChangedAt = Block->FOutAt = ++FStamp;
  if (FPolicy != TRetryPolicy::OnChange) return;
  ++FChanges;
  Unpark(Block);
  // Unpark takes the first link off this list each time.
  while (TWaitLink* L = Block->FFirstWaiter)
    Unpark(L->Sender);
}

void TCurrentManager::Passed(TBlock* Sender, TBlock* Receiver) {
  if (Sender->FParked || Sender->FFirstWaiter) Wake(Sender);
  Unpark(Receiver);
}

void TCurrentManager::Park(TCurrentEvent* Entry) {
  TBlock* Block = Entry->Block;
  // Every link first: a refused record leaves the block as it was.
  TWaitLink* Waits = nullptr;
  for (int32_t i = 0; i < FTriedCount; ++i) {
    auto* L = static_cast<TWaitLink*>(FLinks->Add());
    if (!L) {
      while (Waits) {
        TWaitLink* Next = Waits->NextOfSender;
        FLinks->Delete(Waits);
        Waits = Next;
      }
      return;
    }
    L->Sender = Block;
    L->Receiver = FTried[i];
    L->NextOfSender = Waits;
    Waits = L;
  }
  for (TWaitLink* L = Waits; L; L = L->NextOfSender)
    TWaitList(L->Receiver->FFirstWaiter, L->Receiver->FLastWaiter).PushBack(L);
  Block->FWaits = Waits;
  Block->FParked = true;
  Unlink(Entry);
  TEntryList(FFirstParked, FLastParked).PushFront(Entry);
  ++FParkedCount;
}

void TCurrentManager::RouteNoting(TBlock* Block) {
  const bool Before = FlagPass;
  FlagPass = false;
  FTriedCount = 0;
  FTriedOverflow = false;
  detail::TryFinally(
      [Block] {
        detail::TFlagScope Noting(Block->FNoteRefusals);
        Block->DoPass();
      },
      [this, Before] {
        FLastMoved = FlagPass;
        FlagPass = Before || FLastMoved;
      });
}

void TCurrentManager::NoteRouting(TBlock* Block) {
  if (FLastMoved || FTriedOverflow || !Block->FHasTransaction) {
    Block->FTriedFor = nullptr;
    return;
  }
  uint64_t Hash = uint64_t(FTriedCount);
  for (int32_t i = 0; i < FTriedCount; ++i)
    Hash = (Hash ^ reinterpret_cast<uintptr_t>(FTried[i])) * 1099511628211ULL;
  if (Block->FTriedFor == Block->FTransaction && Block->FTriedHash != Hash)
    Block->FRoutingVaries = true;
  Block->FTriedFor = Block->FTransaction;
  Block->FTriedHash = Hash;
}

void TCurrentManager::Run() {
  Bump(LCESum, FCount);
  Bump(LCESumCount, 1);
  detail::TFlagScope Scanning(FScanning);
  FlagPass = true;
  // The policy is chosen once per run: each has its own copy of the loop.
  switch (FPolicy) {
  case TRetryPolicy::EveryScan:
    Scans<TRetryPolicy::EveryScan>();
    break;
  case TRetryPolicy::SkipUnchanged:
    Scans<TRetryPolicy::SkipUnchanged>();
    break;
  case TRetryPolicy::OnChange:
    Scans<TRetryPolicy::OnChange>();
    break;
  }
}

template <TRetryPolicy P> void TCurrentManager::Scans() {
  // An activation ran before this run, which may have changed anything:
  // refusals of earlier runs count for nothing.
  if constexpr (P == TRetryPolicy::SkipUnchanged) FRunStart = ++FStamp;
  while (FlagPass && FOk) {
    FlagPass = false;
    if (FCount == 0) break;
    // A halted chain (a refused record, a run stopped in a loop that takes
    // no time) ends the scan too: a loop of passes would never reach its end.
    for (TCurrentEvent* E = FFirst; E && FOk;) {
      TBlock* Block = E->Block;
      const bool Parks = Block && Route<P>(E, Block);
      // Read after the routing, so entries appended by it are visited in
      // this scan.
      TCurrentEvent* N = E->Next;
      // A blank entry belonged to a block destroyed since it joined; it may
      // also be blanked by this very routing.
      if (!E->Block || !Block->FHasTransaction)
        Remove(E);
      else if (Parks)
        Park(E);
      Bump(LCECount, 1);
      E = N;
    }
  }
  // What is left has been refused by a whole scan: the blocked blocks, each
  // routed again at every scan (parked blocks are not in the count).
  if constexpr (P != TRetryPolicy::OnChange)
    if (FCount > FMostBlocked) FMostBlocked = FCount;
}

template <TRetryPolicy P> bool TCurrentManager::Route(TCurrentEvent* E, TBlock* Block) {
  if constexpr (P == TRetryPolicy::EveryScan) {
    if (!FCheck) {
      Block->DoPass();
      return false;
    }
    RouteNoting(Block);
    if (E->Block) NoteRouting(Block);
    return false;
  } else if constexpr (P == TRetryPolicy::OnChange) {
    // Parked when it still offers the same transaction, nothing moved or
    // changed during its routing, and it was refused by receivers that can
    // signal.
    TTransaction* Offered = Block->FTransaction;
    const uint32_t Changes = FChanges;
    RouteNoting(Block);
    if (!E->Block) return false;
    if (FCheck) NoteRouting(Block);
    return !FLastMoved && FChanges == Changes && FTriedCount > 0 && !FTriedOverflow &&
           Block->FTransaction == Offered;
  } else {
    // A block refused in this run is not routed again while nothing its
    // routing reads has changed (see Unchanged): the routing would see what
    // it saw.
    if (!Block->FHasTransaction || Unchanged(Block)) return false;
    const uint64_t Before = FStamp;
    const bool Moved = FlagPass;
    FlagPass = false;
    // A fixed route from the top of the scan: nothing is nested here.
    const bool Fixed = Block->FRoute && !Block->OnRouting;
    if (Fixed)
      Block->PassOnRoute();
    else if (FCheck)
      RouteNoting(Block);
    else
      Block->DoPass();
    if (E->Block) {
      if (!FlagPass && FStamp == Before) {
        Block->FRefusedStamp = Before;
        Block->FRefusedTrans = Block->FTransaction;
      }
      if (FCheck && !Fixed) NoteRouting(Block);
    }
    FlagPass = FlagPass || Moved;
    return false;
  }
}

bool TCurrentManager::Unchanged(const TBlock* Block) const {
  // Refused in this run, offering the same transaction, none left since.
  if (Block->FRefusedStamp < FRunStart || Block->FTransaction != Block->FRefusedTrans ||
      Block->FOutAt > Block->FRefusedStamp)
    return false;
  // A fixed route asks its receiver only: refused again unless the receiver
  // changed. A handler may look at anything: refused again only if nothing
  // moved or was signalled since.
  if (Block->FRoute && !Block->OnRouting) return Block->FRoute->FChangedAt <= Block->FRefusedStamp;
  return Block->FRefusedStamp == FStamp;
}

} // namespace quorin
