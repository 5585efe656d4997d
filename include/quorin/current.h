// The current events chain: the blocks that offer a transaction, retried in
// the order they joined after every block activation until a whole scan
// moves nothing. Entries are records of the chain's own TMemoManager, so Add
// and Remove are constant time; a run costs one DoPass per entry per scan.
#pragma once

#include <cstdint>
#include <memory>

#include "quorin/memoman.h"

namespace quorin {

class TBlock;

struct TCurrentEvent {
  TCurrentEvent* Next;
  TCurrentEvent* Prev;
  TBlock* Block;
};

class TCurrentManager {
public:
  explicit TCurrentManager(uint16_t PageSize);
  ~TCurrentManager();
  TCurrentManager(const TCurrentManager&) = delete;
  TCurrentManager& operator=(const TCurrentManager&) = delete;

  // Appends (Add) or prepends (InsertFirst) an entry for Block. Without a
  // record, answers null, leaves the chain unchanged and clears FOk for good.
  TCurrentEvent* Add(TBlock* Block) {
    TCurrentEvent* Entry = NewEntry(Block);
    if (!Entry) return nullptr;
    Entry->Next = nullptr;
    Entry->Prev = FLast;
    if (FLast)
      FLast->Next = Entry;
    else
      FFirst = Entry;
    FLast = Entry;
    return Entry;
  }
  TCurrentEvent* InsertFirst(TBlock* Block);
  // Unlinks an entry of this chain and gives its record back.
  void Remove(TCurrentEvent* Event);
  // Retries the blocks of the chain until a scan moves no transaction.
  void Run();
  // Blanks the entries of Block (which is being destroyed); Run drops them.
  void Forget(TBlock* Block);

  int32_t Count() const { return FCount; }
  bool Ok() const { return FOk; }
  TCurrentEvent* First() const { return FFirst; }
  int32_t TotalMemoSize() const { return FMemo->TotalMemoSize(); }
  int32_t LiveMemoSize() const { return FMemo->LiveMemoSize(); }
  int32_t DeadMemoSize() const { return FMemo->DeadMemoSize(); }
  int32_t TotalItemCount() const { return FMemo->TotalItemCount(); }

private:
  TCurrentEvent* NewEntry(TBlock* Block) {
    auto* Entry = static_cast<TCurrentEvent*>(FMemo->TMemoManager::Add());
    if (!Entry) {
      FOk = false;
      return nullptr;
    }
    Entry->Block = Block;
    ++FCount;
    return Entry;
  }

  std::unique_ptr<TMemoManager> FMemo;
  TCurrentEvent* FFirst = nullptr;
  TCurrentEvent* FLast = nullptr;
  int32_t FCount = 0;
  bool FOk = true;
};

extern TCurrentManager* CurrentManager;
extern int32_t LCECount;    // entries visited by all runs of the chain
extern int32_t LCESum;      // sum of the chain length at the start of each run
extern int32_t LCESumCount; // runs of the chain

} // namespace quorin
