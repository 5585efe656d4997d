#include "quorin/future.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <limits>
#include <utility>

#include "quorin/kernel/state.h"

namespace quorin {

TFutureManager* FutureManager = nullptr;

TFutureManager::TFutureManager(uint16_t PageSize)
    : FMemo(std::make_unique<TMemoManager>(PageSize, uint16_t(sizeof(TFutureEvent)))) {
  // A heap chunk is the largest power of two of 16-byte records that fits a
  // page (at least 64), so a chunk costs what a page of the pools costs.
  const uint32_t PerPage = std::max<uint32_t>(PageSize / 16u, 64u);
  FChunkShift = uint32_t(std::bit_width(PerPage) - 1);
  FChunkMask = (1u << FChunkShift) - 1;
}

TFutureManager::~TFutureManager() {
  if (!GlobalHeap) return;
  for (uint32_t i = 0; i < FEntryChunkCount; ++i)
    HeapFree(GlobalHeap, 0, FEntryChunks[i]);
  for (uint32_t i = 0; i < FNodeChunkCount; ++i)
    HeapFree(GlobalHeap, 0, FNodeChunks[i]);
  if (FEntryChunks) HeapFree(GlobalHeap, 0, FEntryChunks);
  if (FNodeChunks) HeapFree(GlobalHeap, 0, FNodeChunks);
}

int32_t TFutureManager::LiveMemoSize() const {
  if (FKind != TEventList::Heap) return FMemo->LiveMemoSize();
  const int64_t Bytes = (int64_t(FEntryChunkCount) + FNodeChunkCount) * 16 * (int64_t(FChunkMask) + 1);
  return int32_t(std::min<int64_t>(Bytes, INT32_MAX));
}

bool TFutureManager::SetKind(TEventList Kind) {
  if (FCount != 0) return false;
  FKind = Kind;
  return true;
}

namespace {
// (950706376 * Seed) mod (2^31 - 1) without a division: for a modulus of
// 2^31 - 1, x mod m is (x & m) + (x >> 31), reduced once more by m.
inline int64_t NextSeed(int64_t Seed) {
  const uint64_t X = 950706376ULL * uint64_t(Seed);
  uint64_t R = (X & 2147483647ULL) + (X >> 31);
  if (R >= 2147483647ULL) R -= 2147483647ULL;
  return int64_t(R);
}
} // namespace

double TFutureManager::FRand() {
  FSeed = NextSeed(FSeed);
  return double(FSeed) / 2147483647.0;
}

int32_t TFutureManager::RandomLevel() {
  // FRand() < 0.5 exactly when the new state is at most 1073741823 (the
  // quotient is 2.3e-10 away from 0.5 at the nearest states), so the test is
  // made on the integer and the division is saved.
  int32_t Level = 1;
  for (;;) {
    FSeed = NextSeed(FSeed);
    if (FSeed > 1073741823 || Level >= 32) return Level;
    ++Level;
  }
}

namespace {
// The first node of the level, from X on, that is ordered after (Time, ID).
// The tail sentinel (1e10) bounds the walk, so no null test is needed.
inline TFutureEvent* SearchLevel(TFutureEvent* X, double Time, int64_t ID) {
  while (X->Time < Time || (X->Time == Time && X->ID < ID))
    X = X->Next;
  return X;
}
} // namespace

TFutureEvent* TFutureManager::Insert(double Delay, TAggregate* Aggregate, TTransaction* Trans) {
  if (!(Delay >= 0.0)) { // negative or NaN
    MessageDlg("Quorin Error: Negative activation time is ordered by " +
               (Aggregate ? Aggregate->DisplayName() : std::string()) + " at model time " +
               FormatFloat("0.0000000", FSysTime));
    return nullptr;
  }
  const double Time = FSysTime + Delay;
  if (!(Time < MaxActivationTime)) {
    MessageDlg("Quorin Error: Value of activation time is limited by 10000000000.0");
    return nullptr;
  }
  if (FKind == TEventList::Heap) return InsertHeap(Time, Aggregate, Trans);
  TFutureEvent* Node = NewNode();
  if (!Node) return nullptr;
  const int32_t L = RandomLevel();
  TFutureEvent* H = nullptr;
  TFutureEvent* T = nullptr;
  if (L > FLevel) {
    // A new level needs two sentinels; without them nothing is inserted and
    // what was taken goes back (the pool has reported and stopped the run).
    H = NewNode();
    T = H ? NewNode() : nullptr;
    if (!T) {
      if (H) FMemo->Delete(H);
      FMemo->Delete(Node);
      return nullptr;
    }
  }
  Node->Time = Time;
  Node->ID = ++FNextID;
  Node->Aggregate = Aggregate;
  Node->Trans = Trans;
  if (Trans) Trans->FEvent = Node;

  if (L > FLevel) {
    TFutureEvent* Stop = FLevel > 0 ? SearchLevel(FHead, Time, Node->ID) : nullptr;
    ++FLevel;
    H->Time = -1.0;
    H->Prev = nullptr;
    H->Next = Node;
    T->Time = MaxActivationTime;
    T->Prev = Node;
    T->Next = nullptr;
    Node->Prev = H;
    Node->Next = T;
    H->Down = FHead; // null for the first level
    T->Down = FTail;
    Node->Down = Stop;
    FHead = H;
    FTail = T;
    FHeads[FLevel] = H;
    FNonEmpty |= 1u << (FLevel - 1);
  } else {
    // Levels above the highest non-empty one hold nothing to pass: a search
    // there stops at the tail and descends to the head below. Starting at
    // the highest non-empty level (or L) gives the same search path.
    const int32_t Top = std::bit_width(FNonEmpty);
    const int32_t Start = Top > L ? Top : L;
    TFutureEvent* X = FHeads[Start];
    const int32_t Lowest = L > 1 ? L - 1 : 1;
    for (int32_t k = Start; k >= Lowest; --k) {
      FUpdate[k] = SearchLevel(X, Time, Node->ID);
      if (k > Lowest) X = FUpdate[k]->Prev->Down;
    }
    Node->Down = L >= 2 ? FUpdate[L - 1] : nullptr;
    // The level above is empty when it lies beyond Start: nothing to repair.
    if (L < Start) {
      // Nodes of the level above whose successor below is now the new node.
      TFutureEvent* Succ = FUpdate[L];
      for (TFutureEvent* Y = FUpdate[L + 1]->Prev; Y->Down == Succ; Y = Y->Prev)
        Y->Down = Node;
    }
    TFutureEvent* Next = FUpdate[L];
    Node->Next = Next;
    Node->Prev = Next->Prev;
    Next->Prev->Next = Node;
    Next->Prev = Node;
    FNonEmpty |= 1u << (L - 1);
  }
  ++FCount;
  return Node;
}

bool TFutureManager::HasPending(const TAggregate* Aggregate) const {
  if (FKind == TEventList::Heap) {
    for (uint32_t i = 0; i < uint32_t(FCount); ++i)
      if (NodeAt(EntryAt(i).Node).Aggregate == Aggregate) return true;
    return false;
  }
  for (uint32_t Levels = FNonEmpty; Levels; Levels &= Levels - 1)
    for (TFutureEvent* Node = FHeads[std::countr_zero(Levels) + 1]->Next; Node->Next;
         Node = Node->Next)
      if (Node->Aggregate == Aggregate) return true;
  return false;
}

void TFutureManager::Forget(TAggregate* Aggregate) {
  if (FKind == TEventList::Heap) {
    for (uint32_t i = 0; i < uint32_t(FCount); ++i) {
      THeapNode& Node = NodeAt(EntryAt(i).Node);
      if (Node.Aggregate != Aggregate) continue;
      if (Node.Trans && Node.Trans->FEvent == reinterpret_cast<TFutureEvent*>(&Node))
        Node.Trans->FEvent = nullptr;
      Node.Aggregate = nullptr;
    }
    return;
  }
  for (uint32_t Levels = FNonEmpty; Levels; Levels &= Levels - 1) {
    for (TFutureEvent* Node = FHeads[std::countr_zero(Levels) + 1]->Next; Node->Next;
         Node = Node->Next) {
      if (Node->Aggregate != Aggregate) continue;
      if (Node->Trans && Node->Trans->FEvent == Node) Node->Trans->FEvent = nullptr;
      Node->Aggregate = nullptr;
    }
  }
}

namespace {
inline bool Before(double TimeA, uint32_t SeqA, double TimeB, uint32_t SeqB) {
  return TimeA < TimeB || (TimeA == TimeB && SeqA < SeqB);
}
} // namespace

void TFutureManager::ReportExhaustion() {
  // The same failure as a pool that cannot get a page: reported, and the
  // run stops; the activation is refused and the list stays as it was.
  const std::string Message = "Quorin Error: Not enough memory in private heap at model time " +
                              FormatFloat("0.000", FSysTime);
  if (GlobalModel)
    GlobalModel->StopOnExhaustion(Message);
  else
    MessageDlg(Message);
}

template <class T> bool TFutureManager::AddChunk(T**& Chunks, uint32_t& Count, uint32_t& Capacity) {
  if (Count == Capacity) {
    // The table of chunk pointers doubles: it holds one pointer per chunk,
    // a few hundredths of the chunks' own size.
    const uint32_t Grown = Capacity > 0 ? 2 * Capacity : 16;
    auto* Table = static_cast<T**>(HeapAlloc(GlobalHeap, HEAP_NO_SERIALIZE, Grown * sizeof(T*)));
    if (!Table) {
      ReportExhaustion();
      return false;
    }
    if (Count > 0) std::memcpy(Table, Chunks, Count * sizeof(T*));
    if (Chunks) HeapFree(GlobalHeap, 0, Chunks);
    Chunks = Table;
    Capacity = Grown;
  }
  auto* Chunk = static_cast<T*>(
      HeapAlloc(GlobalHeap, HEAP_NO_SERIALIZE, (std::size_t(FChunkMask) + 1) * sizeof(T)));
  if (!Chunk) {
    ReportExhaustion();
    return false;
  }
  Chunks[Count++] = Chunk;
  return true;
}

void TFutureManager::SiftDown(uint32_t i, uint32_t N, THeapEntry Entry) {
  for (;;) {
    const uint32_t First = 4 * i + 1;
    if (First >= N) break;
    uint32_t Min = First;
    const THeapEntry* MinEntry = &EntryAt(First);
    const uint32_t End = First + 4 < N ? First + 4 : N;
    for (uint32_t c = First + 1; c < End; ++c) {
      const THeapEntry& E = EntryAt(c);
      if (Before(E.Time, E.Seq, MinEntry->Time, MinEntry->Seq)) {
        Min = c;
        MinEntry = &E;
      }
    }
    if (!Before(MinEntry->Time, MinEntry->Seq, Entry.Time, Entry.Seq)) break;
    EntryAt(i) = *MinEntry;
    i = Min;
  }
  EntryAt(i) = Entry;
}

void TFutureManager::Renumber() {
  // Heapsort in place leaves the entries latest first; reversed, they are
  // in order, which is a heap too, and their ranks are their new numbers.
  const uint32_t N = uint32_t(FCount);
  for (uint32_t k = N; k-- > 1;) {
    const THeapEntry Last = EntryAt(k);
    EntryAt(k) = EntryAt(0);
    SiftDown(0, k, Last);
  }
  for (uint32_t i = 0, j = N; i + 1 < j; ++i, --j)
    std::swap(EntryAt(i), EntryAt(j - 1));
  for (uint32_t i = 0; i < N; ++i)
    EntryAt(i).Seq = i;
  FSeq = N;
}

TFutureEvent* TFutureManager::InsertHeap(double Time, TAggregate* Aggregate, TTransaction* Trans) {
  const uint32_t PerChunk = FChunkMask + 1;
  if (uint32_t(FCount) == FEntryChunkCount * PerChunk &&
      !AddChunk(FEntryChunks, FEntryChunkCount, FEntryChunkCapacity))
    return nullptr;
  uint32_t Index = FFreeNode;
  if (Index != UINT32_MAX) {
    std::memcpy(&FFreeNode, &NodeAt(Index).Trans, sizeof FFreeNode);
  } else {
    if (FNodesCarved == FNodeChunkCount * PerChunk &&
        !AddChunk(FNodeChunks, FNodeChunkCount, FNodeChunkCapacity))
      return nullptr;
    Index = FNodesCarved++;
  }
  THeapNode& Node = NodeAt(Index);
  Node.Aggregate = Aggregate;
  Node.Trans = Trans;
  // The node's Aggregate and Trans sit where TFutureEvent keeps them, so a
  // transaction's FEvent cancels it as it cancels a node of the levels list.
  auto* Event = reinterpret_cast<TFutureEvent*>(&Node);
  if (Trans) Trans->FEvent = Event;
  ++FNextID;
  if (FSeq == UINT32_MAX) Renumber();
  const uint32_t Seq = FSeq++;
  // Sift up: the new entry has the largest sequence number, so among equal
  // times it stays below every entry already there.
  uint32_t i = uint32_t(FCount++);
  while (i > 0) {
    const uint32_t Parent = (i - 1) / 4;
    const THeapEntry& P = EntryAt(Parent);
    if (!Before(Time, Seq, P.Time, P.Seq)) break;
    EntryAt(i) = P;
    i = Parent;
  }
  EntryAt(i) = {Time, Seq, Index};
  return Event;
}

void TFutureManager::TakeNextHeap(TAggregate*& Aggregate, TTransaction*& Trans) {
  const THeapEntry Best = EntryAt(0);
  THeapNode& Node = NodeAt(Best.Node);
  FSysTime = Best.Time;
  Aggregate = Node.Aggregate;
  if (Aggregate) {
    Trans = Node.Trans;
    if (Trans && Trans->FEvent == reinterpret_cast<TFutureEvent*>(&Node)) Trans->FEvent = nullptr;
  }
  // The node goes on the free list, linked through its Trans.
  Node.Aggregate = nullptr;
  std::memcpy(&Node.Trans, &FFreeNode, sizeof FFreeNode);
  FFreeNode = Best.Node;
  const uint32_t N = uint32_t(--FCount);
  if (N > 0) {
    SiftDown(0, N, EntryAt(N));
    // The next take reads the new root's node, which was written long ago
    // in a large list: fetch it while the model handles this activation.
    __builtin_prefetch(&NodeAt(EntryAt(0).Node));
  }
}

void TFutureManager::TakeNext(TAggregate*& Aggregate, TTransaction*& Trans) {
  if (FCount == 0) {
    if (GlobalModel) {
      if (GlobalModel->OnDeadlock) GlobalModel->OnDeadlock();
      GlobalModel->Stop();
    }
    Aggregate = nullptr;
    Trans = nullptr;
    return;
  }
  if (FKind == TEventList::Heap) {
    TakeNextHeap(Aggregate, Trans);
    return;
  }
  // The earliest activation is first in some level; only non-empty levels
  // are looked at.
  TFutureEvent* Best = nullptr;
  int32_t BestLevel = 0;
  for (uint32_t Levels = FNonEmpty; Levels; Levels &= Levels - 1) {
    const int32_t k = std::countr_zero(Levels) + 1;
    TFutureEvent* First = FHeads[k]->Next;
    if (!Best || First->Time < Best->Time || (First->Time == Best->Time && First->ID < Best->ID)) {
      Best = First;
      BestLevel = k;
    }
  }
  FSysTime = Best->Time;
  Aggregate = Best->Aggregate;
  if (Aggregate) {
    Trans = Best->Trans;
    // Only this entry is forgotten: a later activation planned for the same
    // transaction stays its pending one.
    if (Trans && Trans->FEvent == Best) Trans->FEvent = nullptr;
  }
  Best->Prev->Next = Best->Next;
  Best->Next->Prev = Best->Prev;
  if (Best->Prev == FHeads[BestLevel] && !Best->Next->Next) FNonEmpty &= ~(1u << (BestLevel - 1));
  FMemo->Delete(Best);
  --FCount;
}

double TFutureManager::EarliestTime() const {
  if (FCount == 0) return std::numeric_limits<double>::infinity();
  if (FKind == TEventList::Heap) return EntryAt(0).Time;
  double Earliest = std::numeric_limits<double>::infinity();
  for (uint32_t Levels = FNonEmpty; Levels; Levels &= Levels - 1)
    Earliest = std::min(Earliest, FHeads[std::countr_zero(Levels) + 1]->Next->Time);
  return Earliest;
}

} // namespace quorin
