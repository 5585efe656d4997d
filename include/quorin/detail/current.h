// The current events chain: the blocks that offer a transaction, retried in
// the order they joined after every block activation until a whole scan
// moves nothing. Entries are records of the chain's own TMemoManager, so Add
// and Remove are constant time; a run costs one DoPass per entry per scan.
//
// A block is in the chain at most once: the chain records a block's entry in
// the block's FChainEntry, and Add or InsertFirst of a block already in the
// chain answers its existing entry, which keeps its place. A block that
// offered anew at every event while blocked would otherwise pile up entries
// and be routed once per entry per scan.
#pragma once

#include <cstdint>
#include <memory>

#include "quorin/kernel/engine.h"
#include "quorin/detail/memoman.h"

namespace quorin {

class TBlock;

struct TCurrentEvent {
  TCurrentEvent* Next;
  TCurrentEvent* Prev;
  TBlock* Block;
};

// One wait of a parked sender on a receiver it tried: linked into the
// receiver's waiters (Next, Prev) and into the sender's waits (NextOfSender).
struct TWaitLink {
  TWaitLink* Next;
  TWaitLink* Prev;
  TWaitLink* NextOfSender;
  TBlock* Sender;
  TBlock* Receiver;
};

// How a run of the chain routes a blocked block again: its retry policy,
// which the model derives from its engine.
//  - EveryScan: at every scan.
//  - SkipUnchanged (the fast engine): at every scan, unless the block was
//    refused earlier in the same run and nothing its routing reads has
//    changed since (see Unchanged).
//  - OnChange: only once a receiver it tried, or the block itself, has
//    changed; it is parked meanwhile.
enum class TRetryPolicy : uint8_t { EveryScan, SkipUnchanged, OnChange };

class TCurrentManager {
public:
  // FreeList: the chain's pools keep given-back records on a free list.
  explicit TCurrentManager(uint16_t PageSize, bool FreeList = false);
  ~TCurrentManager();
  TCurrentManager(const TCurrentManager&) = delete;
  TCurrentManager& operator=(const TCurrentManager&) = delete;

  // Appends an entry for Block, or answers the entry Block already has.
  // Without a record, answers null, leaves the chain unchanged and clears
  // FOk for good.
  TCurrentEvent* Add(TBlock* Block);
  // Puts Block's entry first, so that it is retried before all others in
  // the next scan: a new entry, or the one it has moved to the front (a
  // block is in the chain once). Without a record, as Add.
  TCurrentEvent* InsertFirst(TBlock* Block);
  // Stops the scans for good, as a refused record does: the model calls it
  // when it stops a run that loops without the time advancing.
  void Halt() { FOk = false; }
  // Unlinks an entry of this chain and gives its record back.
  void Remove(TCurrentEvent* Event);
  // Retries the blocks of the chain until a scan moves no transaction.
  void Run();
  // Blanks the entry of Block (which is being destroyed); Run drops it. A
  // parked Block is dropped at once, and the blocks waiting on it are
  // linked back in.
  void Forget(TBlock* Block);

  TRetryPolicy Policy() const { return FPolicy; }
  TRetry Retry() const {
    return FPolicy == TRetryPolicy::OnChange ? TRetry::OnChange : TRetry::EveryScan;
  }
  // The model check's notes: with Check on, every routing notes the
  // receivers that refuse it, and a block whose refused routings of one
  // transaction tried different receivers is marked (FRoutingVaries).
  void SetCheck(bool Value) { FCheck = Value; }
  // The most blocks left blocked in the chain at the end of a chain run
  // retrying at every scan (EveryScan, SkipUnchanged), where each is routed
  // again at every scan.
  int32_t MostBlocked() const { return FMostBlocked; }
  // Chosen before any block joins; the model sets it when it makes the chain.
  void SetPolicy(TRetryPolicy Value);
  // SetPolicy with EveryScan or OnChange.
  void SetRetry(TRetry Value) {
    SetPolicy(Value == TRetry::OnChange ? TRetryPolicy::OnChange : TRetryPolicy::EveryScan);
  }
  // Links back in Block, if parked, and every block waiting on Block.
  // Counts as a change for the routing under way, which then parks nothing.
  void Wake(TBlock* Block);
  // Links Block back in if it is parked.
  void Unpark(TBlock* Block);
  // OnChange: a transaction left Sender for Receiver: wakes Sender's
  // waiters, and both blocks if parked (each may offer another transaction
  // now).
  void Passed(TBlock* Sender, TBlock* Receiver);
  // Notes a receiver that refused the block being routed by the chain.
  void NoteRefusal(TBlock* Receiver) {
    for (int32_t i = 0; i < FTriedCount; ++i)
      if (FTried[i] == Receiver) return;
    if (FTriedCount < MaxTried)
      FTried[FTriedCount++] = Receiver;
    else
      FTriedOverflow = true;
  }

  // SkipUnchanged: the next value of the chain's stamp, for a change.
  uint64_t NextStamp() { return ++FStamp; }

  // Entries in the scanned list; parked entries are counted apart.
  int32_t Count() const { return FCount; }
  int32_t ParkedCount() const { return FParkedCount; }
  TCurrentEvent* FirstParked() const { return FFirstParked; }
  bool Ok() const { return FOk; }
  TCurrentEvent* First() const { return FFirst; }
  int32_t TotalMemoSize() const { return FMemo->TotalMemoSize(); }
  int32_t LiveMemoSize() const { return FMemo->LiveMemoSize(); }
  int32_t DeadMemoSize() const { return FMemo->DeadMemoSize(); }
  int32_t TotalItemCount() const { return FMemo->TotalItemCount(); }

private:
  // More receivers than this tried by one routing: the block is not parked.
  static constexpr int32_t MaxTried = 16;

  // The scans of Run under policy P, until one moves nothing.
  template <TRetryPolicy P> void Scans();
  // Routes the block of entry E once as policy P does, and answers whether
  // E is to be parked (OnChange only).
  template <TRetryPolicy P> bool Route(TCurrentEvent* E, TBlock* Block);
  // Routes Block once, noting the receivers that refuse it (for OnChange,
  // and for the model check).
  void RouteNoting(TBlock* Block);
  // Compares the receivers that the routing just made tried with those of
  // the block's last refused routing of the same transaction.
  void NoteRouting(TBlock* Block);
  // Unlinks Entry from the scanned list and waits it on the tried receivers;
  // without records for the waits, Entry stays where it is.
  void Park(TCurrentEvent* Entry);
  // Links Entry into the scanned list by its block's join order.
  void LinkInOrder(TCurrentEvent* Entry);
  // Links Entry into the scanned list after P (first when P is null).
  void LinkAfter(TCurrentEvent* Entry, TCurrentEvent* P);
  // Gives back the wait links of a parked block.
  void DropWaits(TBlock* Block);
  void Unlink(TCurrentEvent* Entry);

  // A record for a new entry of Block, not yet linked.
  TCurrentEvent* NewEntry(TBlock* Block) {
    auto* Entry = static_cast<TCurrentEvent*>(FMemo->TMemoManager::Add());
    if (!Entry) {
      FOk = false;
      return nullptr;
    }
    Entry->Block = Block;
    return Entry;
  }

  std::unique_ptr<TMemoManager> FMemo;
  bool FFreeList = false; // for the wait links' pool, made with OnChange
  TCurrentEvent* FFirst = nullptr;
  TCurrentEvent* FLast = nullptr;
  int32_t FCount = 0;
  bool FOk = true;
  // True while Run scans: an entry is then blanked rather than unlinked.
  bool FScanning = false;
  TRetryPolicy FPolicy = TRetryPolicy::EveryScan;
  bool FCheck = false;
  bool FLastMoved = false; // whether the last noted routing moved anything
  int32_t FMostBlocked = 0;
  // Join order: Add numbers upwards, InsertFirst downwards.
  int64_t FLastSeq = 0;
  int64_t FFirstSeq = 0;
  // OnChange only: the parked entries (linked through Next and Prev), the
  // wait links' own pool, the receivers tried by the routing under way, and
  // a count of changes signalled, read around each routing.
  TCurrentEvent* FFirstParked = nullptr;
  TCurrentEvent* FLastParked = nullptr;
  int32_t FParkedCount = 0;
  std::unique_ptr<TMemoManager> FLinks;
  TBlock* FTried[MaxTried] = {};
  int32_t FTriedCount = 0;
  bool FTriedOverflow = false;
  uint32_t FChanges = 0;
  // SkipUnchanged: bumped by every move, every signal and every run of the
  // chain; FRunStart is its value when the run under way began.
  uint64_t FStamp = 0;
  uint64_t FRunStart = 0;
  // Whether Block, refused earlier in this run, would be refused again.
  bool Unchanged(const TBlock* Block) const;
};

extern TCurrentManager* CurrentManager;
extern bool FlagPass; // set by every successful PassTo, read by the chain
extern int32_t LCECount;    // entries visited by all runs of the chain
extern int32_t LCESum;      // sum of the chain length at the start of each run
extern int32_t LCESumCount; // runs of the chain

} // namespace quorin
