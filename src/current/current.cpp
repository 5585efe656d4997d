#include "quorin/current.h"

#include <cassert>

#include "quorin/blocks.h"

namespace quorin {

TCurrentManager* CurrentManager = nullptr;
int32_t LCECount = 0;
int32_t LCESum = 0;
int32_t LCESumCount = 0;

namespace {
// The load counters run for the life of the process; they wrap around
// instead of overflowing (a signed overflow would be undefined).
inline void Bump(int32_t& Counter, int32_t By) {
  Counter = static_cast<int32_t>(static_cast<uint32_t>(Counter) + static_cast<uint32_t>(By));
}
} // namespace

TCurrentManager::TCurrentManager(uint16_t PageSize)
    : FMemo(std::make_unique<TMemoManager>(PageSize, uint16_t(sizeof(TCurrentEvent)))) {}

TCurrentManager::~TCurrentManager() {
  // The entries go with the pool: no block may keep pointing at one.
  for (TCurrentEvent* E = FFirst; E; E = E->Next)
    if (E->Block) E->Block->FChainEntry = nullptr;
}

TCurrentEvent* TCurrentManager::InsertFirst(TBlock* Block) {
  if (TCurrentEvent* Existing = Block->FChainEntry) return Existing;
  TCurrentEvent* Entry = NewEntry(Block);
  if (!Entry) return nullptr;
  Entry->Prev = nullptr;
  Entry->Next = FFirst;
  if (FFirst)
    FFirst->Prev = Entry;
  else
    FLast = Entry;
  FFirst = Entry;
  Block->FChainEntry = Entry;
  return Entry;
}

void TCurrentManager::Remove(TCurrentEvent* Event) {
  if (FCount == 0 || !Event) return;
  if (Event->Block) {
    assert(Event->Block->FChainEntry == Event);
    Event->Block->FChainEntry = nullptr;
  }
  if (Event->Prev)
    Event->Prev->Next = Event->Next;
  else
    FFirst = Event->Next;
  if (Event->Next)
    Event->Next->Prev = Event->Prev;
  else
    FLast = Event->Prev;
  --FCount;
  FMemo->Delete(Event);
}

void TCurrentManager::Forget(TBlock* Block) {
  if (TCurrentEvent* E = Block->FChainEntry) {
    E->Block = nullptr;
    Block->FChainEntry = nullptr;
  }
}

void TCurrentManager::Run() {
  Bump(LCESum, FCount);
  Bump(LCESumCount, 1);
  FlagPass = true;
  while (FlagPass && FOk) {
    FlagPass = false;
    if (FCount == 0) break;
    for (TCurrentEvent* E = FFirst; E;) {
      TBlock* Block = E->Block;
      if (Block) Block->DoPass();
      // Read after DoPass, so entries appended by it are visited in this scan.
      TCurrentEvent* N = E->Next;
      // A blank entry belonged to a block destroyed since it joined; it may
      // also be blanked by this very DoPass.
      if (!E->Block || !Block->FHasTransaction) Remove(E);
      Bump(LCECount, 1);
      E = N;
    }
  }
}

} // namespace quorin
