// The bounded private heap that the run's pools take their pages from, with
// the fault injection that tests use to make it refuse.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorin {

// Private heap: a set of blocks taken from the general heap and accounted
// against a maximum. HeapAlloc answers nullptr once the live bytes would pass
// MaximumSize; HeapDestroy gives every block back at once.
struct TPrivateHeap;
using THeap = TPrivateHeap*;
inline constexpr uint32_t HEAP_NO_SERIALIZE = 0x1;
inline constexpr uint32_t HEAP_ZERO_MEMORY = 0x8;

THeap HeapCreate(uint32_t Options, std::size_t InitialSize, std::size_t MaximumSize);
void* HeapAlloc(THeap Heap, uint32_t Flags, std::size_t Bytes);
bool HeapFree(THeap Heap, uint32_t Flags, void* Memory);
bool HeapDestroy(THeap Heap);
// Bytes currently allocated from Heap (0 for nullptr); for reports and tests.
std::size_t HeapUsed(THeap Heap);

// Fault injection, for tests: after this call HeapAlloc refuses the requests
// numbered First to First + Count - 1 (counting from 1, over all heaps), as
// a full heap would. The default Count refuses every request from First on.
// First 0 turns refusals off. HeapRequests() answers the requests made
// since the last call. While off, HeapAlloc pays one test of a flag.
void HeapInjectFault(std::size_t First, std::size_t Count = SIZE_MAX);
std::size_t HeapRequests();

} // namespace quorin
