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

#include <bit>
#include <cstdint>
#include <memory>

#include "quorin/kernel/engine.h"
#include "quorin/memoman.h"

namespace quorin {

class TAggregate;
class TTransaction;

// One node: an activation or a sentinel. Head sentinels hold Time -1.0, tail
// sentinels 1e10. Aggregate is null once the activation has been cancelled.
struct TFutureEvent {
  TFutureEvent* Prev;
  TFutureEvent* Next;
  TFutureEvent* Down;
  double Time;
  int64_t ID;
  TAggregate* Aggregate;
  TTransaction* Trans;
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
  int32_t TotalMemoSize() const { return FMemo->TotalMemoSize(); }
  int32_t LiveMemoSize() const { return FMemo->LiveMemoSize(); }
  int32_t DeadMemoSize() const { return FMemo->DeadMemoSize(); }
  int32_t TotalItemCount() const { return FMemo->TotalItemCount(); }

private:
  // The list's pool is a plain TMemoManager: call its Add directly.
  TFutureEvent* NewNode() { return static_cast<TFutureEvent*>(FMemo->TMemoManager::Add()); }

  // One entry of the heap: the order key kept beside the node pointer, so
  // that sifting reads the array only.
  struct THeapEntry {
    double Time;
    int64_t ID;
    TFutureEvent* Node;
  };
  TFutureEvent* InsertHeap(double Time, TAggregate* Aggregate, TTransaction* Trans);
  void TakeNextHeap(TAggregate*& Aggregate, TTransaction*& Trans);
  // Doubles the heap array; false when the private heap refuses.
  bool GrowHeap();

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
  THeapEntry* FHeap = nullptr; // FCount entries in use
  int32_t FHeapCapacity = 0;
};

extern TFutureManager* FutureManager;

} // namespace quorin
