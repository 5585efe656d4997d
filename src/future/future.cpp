#include "quorin/detail/future.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <limits>
#include <utility>

#include "quorin/detail/run.h"
#include "quorin/kernel/aggregate.h"

namespace quorin {

TFutureManager* FutureManager = nullptr;
double FSysTime = 0.0;

// ---- The run's list: checks and the choice of implementation

TFutureManager::TFutureManager(uint16_t PageSize, TEventList Kind, bool FreeList)
    : FKind(Kind), FLevels(PageSize, FreeList), FHeap(PageSize) {}

bool TFutureManager::SetKind(TEventList Kind) {
  if (Count() != 0) return false;
  FKind = Kind;
  return true;
}

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
  return Heap() ? FHeap.Insert(Time, Aggregate, Trans) : FLevels.Insert(Time, Aggregate, Trans);
}

void TFutureManager::TakeNext(TAggregate*& Aggregate, TTransaction*& Trans) {
  if (Count() == 0) {
    if (GlobalModel) {
      if (GlobalModel->OnDeadlock) GlobalModel->OnDeadlock();
      GlobalModel->Stop();
    }
    Aggregate = nullptr;
    Trans = nullptr;
    return;
  }
  FSysTime = Heap() ? FHeap.TakeNext(Aggregate, Trans) : FLevels.TakeNext(Aggregate, Trans);
}

// ---- The levels list

TLevelsList::TLevelsList(uint16_t PageSize, bool FreeList)
    : FMemo(std::make_unique<TMemoManager>(PageSize, uint16_t(sizeof(TNode)), FreeList)) {}

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

double TLevelsList::FRand() {
  FSeed = NextSeed(FSeed);
  return double(FSeed) / 2147483647.0;
}

int32_t TLevelsList::RandomLevel() {
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

TFutureEvent* TLevelsList::Insert(double Time, TAggregate* Aggregate, TTransaction* Trans) {
  TNode* Node = NewNode();
  if (!Node) return nullptr;
  const int32_t L = RandomLevel();
  TNode* H = nullptr;
  TNode* T = nullptr;
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
  Node->Event = {Aggregate, Trans};
  if (Trans) Trans->FEvent = &Node->Event;

  if (L > FLevel) {
    TNode* Stop = FLevel > 0 ? SearchLevel(FHead, Time, Node->ID) : nullptr;
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
    TNode* X = FHeads[Start];
    const int32_t Lowest = L > 1 ? L - 1 : 1;
    for (int32_t k = Start; k >= Lowest; --k) {
      FUpdate[k] = SearchLevel(X, Time, Node->ID);
      if (k > Lowest) X = FUpdate[k]->Prev->Down;
    }
    Node->Down = L >= 2 ? FUpdate[L - 1] : nullptr;
    // The level above is empty when it lies beyond Start: nothing to repair.
    if (L < Start) {
      // Nodes of the level above whose successor below is now the new node.
      TNode* Succ = FUpdate[L];
      for (TNode* Y = FUpdate[L + 1]->Prev; Y->Down == Succ; Y = Y->Prev)
        Y->Down = Node;
    }
    TNode* Next = FUpdate[L];
    Node->Next = Next;
    Node->Prev = Next->Prev;
    Next->Prev->Next = Node;
    Next->Prev = Node;
    FNonEmpty |= 1u << (L - 1);
  }
  ++FCount;
  return &Node->Event;
}

bool TLevelsList::HasPending(const TAggregate* Aggregate) const {
  for (uint32_t Levels = FNonEmpty; Levels; Levels &= Levels - 1)
    for (TNode* Node = FHeads[std::countr_zero(Levels) + 1]->Next; Node->Next; Node = Node->Next)
      if (Node->Event.Aggregate == Aggregate) return true;
  return false;
}

void TLevelsList::Forget(TAggregate* Aggregate) {
  for (uint32_t Levels = FNonEmpty; Levels; Levels &= Levels - 1) {
    for (TNode* Node = FHeads[std::countr_zero(Levels) + 1]->Next; Node->Next; Node = Node->Next) {
      TFutureEvent& Event = Node->Event;
      if (Event.Aggregate != Aggregate) continue;
      if (Event.Trans && Event.Trans->FEvent == &Event) Event.Trans->FEvent = nullptr;
      Event.Aggregate = nullptr;
    }
  }
}

double TLevelsList::TakeNext(TAggregate*& Aggregate, TTransaction*& Trans) {
  // The earliest activation is first in some level; only non-empty levels
  // are looked at.
  TNode* Best = nullptr;
  int32_t BestLevel = 0;
  for (uint32_t Levels = FNonEmpty; Levels; Levels &= Levels - 1) {
    const int32_t k = std::countr_zero(Levels) + 1;
    TNode* First = FHeads[k]->Next;
    if (!Best || First->Time < Best->Time || (First->Time == Best->Time && First->ID < Best->ID)) {
      Best = First;
      BestLevel = k;
    }
  }
  const double Time = Best->Time;
  Aggregate = Best->Event.Aggregate;
  if (Aggregate) {
    Trans = Best->Event.Trans;
    // Only this entry is forgotten: a later activation planned for the same
    // transaction stays its pending one.
    if (Trans && Trans->FEvent == &Best->Event) Trans->FEvent = nullptr;
  }
  Best->Prev->Next = Best->Next;
  Best->Next->Prev = Best->Prev;
  if (Best->Prev == FHeads[BestLevel] && !Best->Next->Next) FNonEmpty &= ~(1u << (BestLevel - 1));
  // The clock moves before the node goes back to its pool: a heap that
  // refuses the pool a page then reports the activation's own time.
  FSysTime = Time;
  FMemo->Delete(Best);
  --FCount;
  return Time;
}

// ---- The heap list

THeapList::THeapList(uint16_t PageSize) {
  // A chunk is the largest power of two of 16-byte records that fits a
  // page (at least 64), so a chunk costs what a page of the pools costs.
  const uint32_t PerPage = std::max<uint32_t>(PageSize / 16u, 64u);
  FChunkShift = uint32_t(std::bit_width(PerPage) - 1);
  FChunkMask = (1u << FChunkShift) - 1;
}

THeapList::~THeapList() {
  if (!GlobalHeap) return;
  for (uint32_t i = 0; i < FEntryChunkCount; ++i)
    HeapFree(GlobalHeap, 0, FEntryChunks[i]);
  for (uint32_t i = 0; i < FNodeChunkCount; ++i)
    HeapFree(GlobalHeap, 0, FNodeChunks[i]);
  if (FEntryChunks) HeapFree(GlobalHeap, 0, FEntryChunks);
  if (FNodeChunks) HeapFree(GlobalHeap, 0, FNodeChunks);
}

int32_t THeapList::LiveMemoSize() const {
  const int64_t Bytes = (int64_t(FEntryChunkCount) + FNodeChunkCount) * 16 * (int64_t(FChunkMask) + 1);
  return int32_t(std::min<int64_t>(Bytes, INT32_MAX));
}

bool THeapList::HasPending(const TAggregate* Aggregate) const {
  for (uint32_t i = 0; i < uint32_t(FCount); ++i)
    if (NodeAt(EntryAt(i).Node).Aggregate == Aggregate) return true;
  return false;
}

void THeapList::Forget(TAggregate* Aggregate) {
  for (uint32_t i = 0; i < uint32_t(FCount); ++i) {
    TFutureEvent& Node = NodeAt(EntryAt(i).Node);
    if (Node.Aggregate != Aggregate) continue;
    if (Node.Trans && Node.Trans->FEvent == &Node) Node.Trans->FEvent = nullptr;
    Node.Aggregate = nullptr;
  }
}

namespace {
inline bool Before(double TimeA, uint32_t SeqA, double TimeB, uint32_t SeqB) {
  return TimeA < TimeB || (TimeA == TimeB && SeqA < SeqB);
}

// The same failure as a pool that cannot get a page: reported, and the run
// stops; the activation is refused and the list stays as it was.
void ReportExhaustion() {
  const std::string Message = "Quorin Error: Not enough memory in private heap at model time " +
                              FormatFloat("0.000", FSysTime);
  if (GlobalModel)
    GlobalModel->StopOnExhaustion(Message);
  else
    MessageDlg(Message);
}
} // namespace

template <class T> bool THeapList::AddChunk(T**& Chunks, uint32_t& Count, uint32_t& Capacity) {
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

void THeapList::SiftDown(uint32_t i, uint32_t N, TEntry Entry) {
  for (;;) {
    const uint32_t First = 4 * i + 1;
    if (First >= N) break;
    uint32_t Min = First;
    const TEntry* MinEntry = &EntryAt(First);
    const uint32_t End = First + 4 < N ? First + 4 : N;
    for (uint32_t c = First + 1; c < End; ++c) {
      const TEntry& E = EntryAt(c);
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

void THeapList::Renumber() {
  // Heapsort in place leaves the entries latest first; reversed, they are
  // in order, which is a heap too, and their ranks are their new numbers.
  const uint32_t N = uint32_t(FCount);
  for (uint32_t k = N; k-- > 1;) {
    const TEntry Last = EntryAt(k);
    EntryAt(k) = EntryAt(0);
    SiftDown(0, k, Last);
  }
  for (uint32_t i = 0, j = N; i + 1 < j; ++i, --j)
    std::swap(EntryAt(i), EntryAt(j - 1));
  for (uint32_t i = 0; i < N; ++i)
    EntryAt(i).Seq = i;
  FSeq = N;
}

TFutureEvent* THeapList::Insert(double Time, TAggregate* Aggregate, TTransaction* Trans) {
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
  TFutureEvent& Node = NodeAt(Index);
  Node = {Aggregate, Trans};
  if (Trans) Trans->FEvent = &Node;
  if (FSeq == UINT32_MAX) Renumber();
  const uint32_t Seq = FSeq++;
  // Sift up: the new entry has the largest sequence number, so among equal
  // times it stays below every entry already there.
  uint32_t i = uint32_t(FCount++);
  while (i > 0) {
    const uint32_t Parent = (i - 1) / 4;
    const TEntry& P = EntryAt(Parent);
    if (!Before(Time, Seq, P.Time, P.Seq)) break;
    EntryAt(i) = P;
    i = Parent;
  }
  EntryAt(i) = {Time, Seq, Index};
  return &Node;
}

double THeapList::TakeNext(TAggregate*& Aggregate, TTransaction*& Trans) {
  const TEntry Best = EntryAt(0);
  TFutureEvent& Node = NodeAt(Best.Node);
  Aggregate = Node.Aggregate;
  if (Aggregate) {
    Trans = Node.Trans;
    if (Trans && Trans->FEvent == &Node) Trans->FEvent = nullptr;
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
  return Best.Time;
}

double THeapList::EarliestTime() const {
  return FCount == 0 ? std::numeric_limits<double>::infinity() : EntryAt(0).Time;
}

double TLevelsList::EarliestTime() const {
  double Earliest = std::numeric_limits<double>::infinity();
  for (uint32_t Levels = FNonEmpty; Levels; Levels &= Levels - 1)
    Earliest = std::min(Earliest, FHeads[std::countr_zero(Levels) + 1]->Next->Time);
  return Earliest;
}

} // namespace quorin
