// The future events list: every pending activation of the run, ordered by
// time and then by insertion. One contract, two implementations (the levels
// list and the heap list), chosen per run by TEventList.
#pragma once

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdint>
#include <memory>

#include "quorin/kernel/engine.h"
#include "quorin/detail/memoman.h"

namespace quorin {

class TAggregate;
class TTransaction;

// One pending activation as its transaction sees it: the aggregate to
// activate (null once cancelled) and the transaction (or null). Both lists
// keep these 16 bytes in their nodes, and a transaction's FEvent points at
// them, so a transaction cancels its activation the same way in either.
struct TFutureEvent {
  TAggregate* Aggregate;
  TTransaction* Trans;
};

inline constexpr double MaxActivationTime = 10000000000.0;

// The two implementations below keep one contract (checked by one test over
// both): Insert(Time, Aggregate, Trans) adds an activation at an absolute
// time below MaxActivationTime and answers its event, or null when no memory
// could be had (reported, and the run stopped); with Trans, Trans->FEvent
// points at the event. TakeNext(Aggregate, Trans), on a list that is not
// empty, removes the activation first by time and then by insertion and
// answers its time: Aggregate null for a cancelled one (Trans as it was),
// else both, Trans->FEvent cleared when it still points at this event.
// Forget(Aggregate) cancels every activation of Aggregate; HasPending tells
// whether one is pending (both walk the whole list). Count, LiveMemoSize,
// DeadMemoSize and TotalItemCount describe the list and its memory.

// A randomised multi-level list in which each activation is stored once, in
// exactly one level. Each level is a sorted doubly linked list between a head
// and a tail sentinel; every node also points Down to its successor in the
// level below, so a search descends from the top. The earliest activation is
// always first in some level, so TakeNext compares the level heads only.
// Cost: Insert expected O(log n); TakeNext O(levels), at most 32 comparisons.
// Nodes and sentinels are records of the list's own TMemoManager.
class TLevelsList {
public:
  TLevelsList(uint16_t PageSize, bool FreeList);

  TFutureEvent* Insert(double Time, TAggregate* Aggregate, TTransaction* Trans);
  double TakeNext(TAggregate*& Aggregate, TTransaction*& Trans);
  void Forget(TAggregate* Aggregate);
  bool HasPending(const TAggregate* Aggregate) const;
  // The time of the earliest pending activation, or +infinity.
  double EarliestTime() const;

  int32_t Count() const { return FCount; }
  int32_t LiveMemoSize() const { return FMemo->LiveMemoSize(); }
  int32_t DeadMemoSize() const { return FMemo->DeadMemoSize(); }
  int32_t TotalItemCount() const { return FMemo->TotalItemCount(); }

  int32_t RandomLevel();
  double FRand();
  int32_t Level() const { return FLevel; }
  int64_t Seed() const { return FSeed; }

private:
  // One node: an activation or a sentinel. Head sentinels hold Time -1.0,
  // tail sentinels 1e10.
  struct TNode {
    TFutureEvent Event;
    TNode* Prev;
    TNode* Next;
    TNode* Down;
    double Time;
    int64_t ID;
  };
  // The list's pool is a plain TMemoManager: call its Add directly.
  TNode* NewNode() { return static_cast<TNode*>(FMemo->TMemoManager::Add()); }
  // The first node of the level, from X on, that is ordered after (Time, ID).
  // The tail sentinel (1e10) bounds the walk, so no null test is needed.
  static TNode* SearchLevel(TNode* X, double Time, int64_t ID) {
    while (X->Time < Time || (X->Time == Time && X->ID < ID))
      X = X->Next;
    return X;
  }

  std::unique_ptr<TMemoManager> FMemo;
  TNode* FHead = nullptr;
  TNode* FTail = nullptr;
  int32_t FCount = 0;
  // Insertion numbers are 64-bit so that they never wrap within a run: a
  // 32-bit counter would pass its range after 2^32 insertions and break the
  // first-in-first-out order of equal times.
  int64_t FNextID = -2147483647;
  int32_t FLevel = 0;
  TNode* FUpdate[33] = {};
  int64_t FSeed = 1000000000;
  // Head sentinel of each level (1 to FLevel), and one bit per level that
  // holds an activation (bit k-1 for level k). Levels are never removed, so
  // a long run has many empty ones; with these, TakeNext looks at the
  // non-empty levels only and Insert starts its descent at the highest one.
  TNode* FHeads[33] = {};
  uint32_t FNonEmpty = 0;
};

// An implicit 4-ary heap of 16-byte entries (time, sequence number, node
// index) over 16-byte nodes (the TFutureEvent), both in chunks of the
// private heap. Both grow a chunk at a time and never move, so growing holds
// no second copy, and an activation costs 32 bytes plus at most one chunk of
// slack per run.
class THeapList {
public:
  explicit THeapList(uint16_t PageSize);
  ~THeapList();
  THeapList(const THeapList&) = delete;
  THeapList& operator=(const THeapList&) = delete;

  TFutureEvent* Insert(double Time, TAggregate* Aggregate, TTransaction* Trans);
  double TakeNext(TAggregate*& Aggregate, TTransaction*& Trans);
  void Forget(TAggregate* Aggregate);
  bool HasPending(const TAggregate* Aggregate) const;
  // The time of the earliest pending activation, or +infinity.
  double EarliestTime() const;

  int32_t Count() const { return FCount; }
  // Its chunks, all live, and the nodes carved.
  int32_t LiveMemoSize() const;
  int32_t DeadMemoSize() const { return 0; }
  int32_t TotalItemCount() const { return int32_t(FNodesCarved); }

  // For tests: the next sequence number, to reach its wrap.
  void SetNextSequence(uint32_t Value) { FSeq = Value; }

private:
  struct TEntry {
    double Time;
    uint32_t Seq;
    uint32_t Node;
  };
  static_assert(sizeof(TEntry) == 16 && sizeof(TFutureEvent) == 16);
  TEntry& EntryAt(uint32_t i) const { return FEntryChunks[i >> FChunkShift][i & FChunkMask]; }
  TFutureEvent& NodeAt(uint32_t i) const { return FNodeChunks[i >> FChunkShift][i & FChunkMask]; }
  // Adds a chunk to one of the two chunk tables; false when the private heap
  // refuses (reported, and the run stopped).
  template <class T> bool AddChunk(T**& Chunks, uint32_t& Count, uint32_t& Capacity);
  void SiftDown(uint32_t i, uint32_t N, TEntry Entry);
  // Sequence numbers are 32 bits; before they wrap, the pending entries are
  // sorted and numbered afresh from 0, which keeps their order.
  void Renumber();

  int32_t FCount = 0;
  TEntry** FEntryChunks = nullptr; // FEntryChunkCount chunks in use
  TFutureEvent** FNodeChunks = nullptr;
  uint32_t FEntryChunkCount = 0, FEntryChunkCapacity = 0;
  uint32_t FNodeChunkCount = 0, FNodeChunkCapacity = 0;
  uint32_t FChunkShift = 6; // log2 of the entries (and nodes) per chunk
  uint32_t FChunkMask = 63;
  uint32_t FNodesCarved = 0;
  // The first given-back node; each links to the next by index, copied as
  // bytes into its Trans (a free node's Aggregate is null, so that Trans is
  // never read as a pointer).
  uint32_t FFreeNode = UINT32_MAX;
  uint32_t FSeq = 0;
};

// The future events list of a run: every pending activation, ordered by
// time and then by insertion, so equal times come out first in, first out.
// It checks the times ordered, answers an empty list, and keeps the
// activations in the list chosen by the model (TEventList): a branch per
// call on the choice, which never changes while activations are pending.
class TFutureManager {
public:
  explicit TFutureManager(uint16_t PageSize, TEventList Kind = TEventList::Levels,
                          bool FreeList = false);
  TFutureManager(const TFutureManager&) = delete;
  TFutureManager& operator=(const TFutureManager&) = delete;

  // Orders an activation of Aggregate (with Trans, or none) at FSysTime + Delay.
  // A negative or NaN delay, or a time of 1e10 or more, is reported and refused.
  // Answers the new event, or null when refused (or no node could be had).
  TFutureEvent* Insert(double Delay, TAggregate* Aggregate, TTransaction* Trans);
  // Removes the earliest activation and moves FSysTime to its time. A
  // cancelled one yields Aggregate null and leaves Trans as it was; an empty
  // list fires the model's OnDeadlock, stops the run and yields null, null.
  void TakeNext(TAggregate*& Aggregate, TTransaction*& Trans);
  // The time of the earliest pending activation (cancelled ones included),
  // or +infinity when none is pending; takes nothing.
  double EarliestTime() const {
    return Heap() ? FHeap.EarliestTime() : FLevels.EarliestTime();
  }

  // Cancels every pending activation of Aggregate (which is being destroyed);
  // costs one walk over the list.
  void Forget(TAggregate* Aggregate) {
    Heap() ? FHeap.Forget(Aggregate) : FLevels.Forget(Aggregate);
  }
  // Whether an activation of Aggregate is pending; one walk over the list.
  bool HasPending(const TAggregate* Aggregate) const {
    return Heap() ? FHeap.HasPending(Aggregate) : FLevels.HasPending(Aggregate);
  }

  // The levels list's generator of levels.
  int32_t RandomLevel() { return FLevels.RandomLevel(); }
  double FRand() { return FLevels.FRand(); }

  // Chooses how activations are kept; only while the list holds none, and
  // answers whether the choice took effect.
  bool SetKind(TEventList Kind);
  TEventList Kind() const { return FKind; }

  int32_t Count() const { return Heap() ? FHeap.Count() : FLevels.Count(); }
  int32_t Level() const { return FLevels.Level(); }
  int64_t Seed() const { return FLevels.Seed(); }
  // Bytes and records of the list's memory: the pool's pages for the
  // levels list; for the heap list its chunks (all live) and nodes carved.
  int32_t TotalMemoSize() const {
    return int32_t(std::min<int64_t>(int64_t(LiveMemoSize()) + DeadMemoSize(), INT32_MAX));
  }
  int32_t LiveMemoSize() const { return Heap() ? FHeap.LiveMemoSize() : FLevels.LiveMemoSize(); }
  int32_t DeadMemoSize() const { return Heap() ? FHeap.DeadMemoSize() : FLevels.DeadMemoSize(); }
  int32_t TotalItemCount() const {
    return Heap() ? FHeap.TotalItemCount() : FLevels.TotalItemCount();
  }
  // For tests: the heap list's next sequence number, to reach its wrap.
  void SetNextSequence(uint32_t Value) { FHeap.SetNextSequence(Value); }

private:
  bool Heap() const { return FKind == TEventList::Heap; }

  TEventList FKind = TEventList::Levels;
  TLevelsList FLevels;
  THeapList FHeap;
};

extern TFutureManager* FutureManager;
extern double FSysTime; // the model clock; moved only by the future events list

} // namespace quorin
