// The future events list: every pending activation of the run, ordered by
// time and then by insertion, so equal times come out first in, first out.
//
// A randomised multi-level list in which each activation is stored once, in
// exactly one level. Each level is a sorted doubly linked list between a head
// and a tail sentinel; every node also points Down to its successor in the
// level below, so a search descends from the top. The earliest activation is
// always first in some level, so TakeNext compares the level heads only.
// Cost: Insert expected O(log n); TakeNext O(levels), at most 32 comparisons.
// Nodes and sentinels are records of the list's own TMemoManager.
#pragma once

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdint>
#include <memory>

#include "quorin/kernel/engine.h"
#include "quorin/memoman.h"

namespace quorin {

class TAggregate;
class TTransaction;

// One node: an activation or a sentinel. Head sentinels hold Time -1.0, tail
// sentinels 1e10. Aggregate is null once the activation has been cancelled.
// Aggregate and Trans come first: the heap list's nodes hold these two only
// (16 bytes), and a transaction's FEvent reaches Aggregate the same way in
// both lists.
struct TFutureEvent {
  TAggregate* Aggregate;
  TTransaction* Trans;
  TFutureEvent* Prev;
  TFutureEvent* Next;
  TFutureEvent* Down;
  double Time;
  int64_t ID;
};

inline constexpr double MaxActivationTime = 10000000000.0;

class TFutureManager {
public:
  explicit TFutureManager(uint16_t PageSize);
  ~TFutureManager();
  TFutureManager(const TFutureManager&) = delete;
  TFutureManager& operator=(const TFutureManager&) = delete;

  // Orders an activation of Aggregate (with Trans, or none) at FSysTime + Delay.
  // A negative or NaN delay, or a time of 1e10 or more, is reported and refused.
  // Answers the new node, or null when refused (or no node could be had).
  TFutureEvent* Insert(double Delay, TAggregate* Aggregate, TTransaction* Trans);
  // Removes the earliest activation and moves FSysTime to its time. A
  // cancelled one yields Aggregate null and leaves Trans as it was; an empty
  // list fires the model's OnDeadlock, stops the run and yields null, null.
  void TakeNext(TAggregate*& Aggregate, TTransaction*& Trans);
  // The time of the earliest pending activation (cancelled ones included),
  // or +infinity when none is pending; takes nothing.
  double EarliestTime() const;

  // Cancels every pending activation of Aggregate (which is being destroyed);
  // costs one walk over the list.
  void Forget(TAggregate* Aggregate);
  // Whether an activation of Aggregate is pending; one walk over the list.
  bool HasPending(const TAggregate* Aggregate) const;

  int32_t RandomLevel();
  double FRand();

  // Chooses how activations are kept; only while the list holds none, and
  // answers whether the choice took effect.
  bool SetKind(TEventList Kind);
  TEventList Kind() const { return FKind; }

  int32_t Count() const { return FCount; }
  int32_t Level() const { return FLevel; }
  int64_t Seed() const { return FSeed; }
  // Bytes and records of the list's memory: the pool's pages for the
  // levels list; for the heap list its chunks (all live) and nodes carved.
  int32_t TotalMemoSize() const {
    return int32_t(std::min<int64_t>(int64_t(LiveMemoSize()) + DeadMemoSize(), INT32_MAX));
  }
  int32_t LiveMemoSize() const;
  int32_t DeadMemoSize() const { return FKind == TEventList::Heap ? 0 : FMemo->DeadMemoSize(); }
  int32_t TotalItemCount() const {
    return FKind == TEventList::Heap ? int32_t(FNodesCarved) : FMemo->TotalItemCount();
  }
  // For tests: the heap list's next sequence number, to reach its wrap.
  void SetNextSequence(uint32_t Value) { FSeq = Value; }

private:
  // The list's pool is a plain TMemoManager: call its Add directly.
  TFutureEvent* NewNode() { return static_cast<TFutureEvent*>(FMemo->TMemoManager::Add()); }

  // The heap list. Its nodes are 16-byte records (Aggregate, Trans) in
  // chunks, named by a 32-bit index; the heap itself is an array of 16-byte
  // entries (time, sequence number, node index), also in chunks. Both grow a
  // chunk at a time and never move, so growing holds no second copy, and an
  // activation costs 32 bytes plus at most one chunk of slack per run.
  struct THeapEntry {
    double Time;
    uint32_t Seq;
    uint32_t Node;
  };
  struct THeapNode {
    TAggregate* Aggregate;
    TTransaction* Trans;
  };
  static_assert(sizeof(THeapEntry) == 16 && sizeof(THeapNode) == 16);
  THeapEntry& EntryAt(uint32_t i) const { return FEntryChunks[i >> FChunkShift][i & FChunkMask]; }
  THeapNode& NodeAt(uint32_t i) const { return FNodeChunks[i >> FChunkShift][i & FChunkMask]; }
  TFutureEvent* InsertHeap(double Time, TAggregate* Aggregate, TTransaction* Trans);
  void TakeNextHeap(TAggregate*& Aggregate, TTransaction*& Trans);
  // Adds a chunk to one of the two chunk tables; false when the private heap
  // refuses (reported, and the run stopped).
  template <class T> bool AddChunk(T**& Chunks, uint32_t& Count, uint32_t& Capacity);
  void SiftDown(uint32_t i, uint32_t N, THeapEntry Entry);
  // Sequence numbers are 32 bits; before they wrap, the pending entries are
  // sorted and numbered afresh from 0, which keeps their order.
  void Renumber();
  static void ReportExhaustion();

  std::unique_ptr<TMemoManager> FMemo;
  TFutureEvent* FHead = nullptr;
  TFutureEvent* FTail = nullptr;
  int32_t FCount = 0;
  // Insertion numbers are 64-bit so that they never wrap within a run: a
  // 32-bit counter would pass its range after 2^32 insertions and break the
  // first-in-first-out order of equal times.
  int64_t FNextID = -2147483647;
  int32_t FLevel = 0;
  TFutureEvent* FUpdate[33] = {};
  int64_t FSeed = 1000000000;
  // Head sentinel of each level (1 to FLevel), and one bit per level that
  // holds an activation (bit k-1 for level k). Levels are never removed, so
  // a long run has many empty ones; with these, TakeNext looks at the
  // non-empty levels only and Insert starts its descent at the highest one.
  TFutureEvent* FHeads[33] = {};
  uint32_t FNonEmpty = 0;

  TEventList FKind = TEventList::Levels;
  THeapEntry** FEntryChunks = nullptr; // FEntryChunkCount chunks in use
  THeapNode** FNodeChunks = nullptr;
  uint32_t FEntryChunkCount = 0, FEntryChunkCapacity = 0;
  uint32_t FNodeChunkCount = 0, FNodeChunkCapacity = 0;
  uint32_t FChunkShift = 6; // log2 of the entries (and nodes) per chunk
  uint32_t FChunkMask = 63;
  uint32_t FNodesCarved = 0;
  uint32_t FFreeNode = UINT32_MAX; // head of the given-back nodes, linked through Trans
  uint32_t FSeq = 0;
};

extern TFutureManager* FutureManager;

} // namespace quorin
