#include "quorin/detail/heap.h"
#include "quorin/framework.h"

#include <cstdint>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

namespace quorin {

// Every block carries a header that links it into its heap, so HeapFree is
// constant time and HeapDestroy walks the blocks once. The header is 32 bytes
// to keep the user part aligned for any fundamental type.
struct alignas(16) TBlockHeader {
  TBlockHeader* Prev;
  TBlockHeader* Next;
  std::size_t Bytes;
};
static_assert(sizeof(TBlockHeader) % 16 == 0);

struct TPrivateHeap {
  std::size_t Maximum;
  std::size_t Used = 0;
  TBlockHeader* First = nullptr;
};

namespace {
bool FaultArmed = false;
std::size_t FaultFirst = 0;
std::size_t FaultLast = 0;
std::size_t Requests = 0;

void Unpoison([[maybe_unused]] TBlockHeader* Header) {
#if defined(__SANITIZE_ADDRESS__)
  // Pools poison records they hold as free; the memory goes back clean.
  ASAN_UNPOISON_MEMORY_REGION(Header + 1, Header->Bytes);
#endif
}
} // namespace

THeap HeapCreate(uint32_t, std::size_t, std::size_t MaximumSize) {
  return new (std::nothrow) TPrivateHeap{MaximumSize};
}

void HeapInjectFault(std::size_t First, std::size_t Count) {
  Requests = 0;
  FaultArmed = First > 0 && Count > 0;
  FaultFirst = First;
  FaultLast = Count > SIZE_MAX - First ? SIZE_MAX : First + (Count - 1);
}

std::size_t HeapRequests() {
  return Requests;
}

void* HeapAlloc(THeap Heap, uint32_t Flags, std::size_t Bytes) {
  ++Requests;
  if (FaultArmed && Requests >= FaultFirst && Requests <= FaultLast) return nullptr;
  if (!Heap || Bytes > Heap->Maximum - Heap->Used) return nullptr;
  void* Raw = (Flags & HEAP_ZERO_MEMORY) ? std::calloc(1, sizeof(TBlockHeader) + Bytes)
                                         : std::malloc(sizeof(TBlockHeader) + Bytes);
  if (!Raw) return nullptr;
  auto* Header = static_cast<TBlockHeader*>(Raw);
  Header->Prev = nullptr;
  Header->Next = Heap->First;
  Header->Bytes = Bytes;
  if (Heap->First) Heap->First->Prev = Header;
  Heap->First = Header;
  Heap->Used += Bytes;
  return Header + 1;
}

bool HeapFree(THeap Heap, uint32_t, void* Memory) {
  if (!Heap || !Memory) return false;
  auto* Header = static_cast<TBlockHeader*>(Memory) - 1;
  if (Header->Prev)
    Header->Prev->Next = Header->Next;
  else
    Heap->First = Header->Next;
  if (Header->Next) Header->Next->Prev = Header->Prev;
  Heap->Used -= Header->Bytes;
  Unpoison(Header);
  std::free(Header);
  return true;
}

bool HeapDestroy(THeap Heap) {
  if (!Heap) return false;
  for (TBlockHeader* Header = Heap->First; Header;) {
    TBlockHeader* Next = Header->Next;
    Unpoison(Header);
    std::free(Header);
    Header = Next;
  }
  delete Heap;
  return true;
}

std::size_t HeapUsed(THeap Heap) {
  return Heap ? Heap->Used : 0;
}

} // namespace quorin
