// The choices of how a model runs (TModel::SetEventList, SetRetry, SetEngine), kept
// apart so that the model, the future events list and the current events
// chain name them without including one another.
#pragma once

#include <cstdint>

namespace quorin {

// How the pending activations are kept. Levels, the default, is the
// randomised multi-level list described in quorin/detail/future.h. Heap is an
// opt-in implicit 4-ary heap of 16-byte (time, sequence number, node index)
// entries over 16-byte nodes, both in chunks of the private heap that never
// move: the same order and the same activations, but its cost per operation
// stays near O(log n) cache lines at millions of pending activations, where
// the levels walk misses the cache at every step, and an activation costs 32
// bytes. A transaction's FEvent cancels a node of either list the same way.
enum class TEventList : uint8_t { Levels, Heap };

// How the chain retries a blocked block: at every scan (the default), or
// only once a receiver it tried, or the block itself, has changed.
enum class TRetry : uint8_t { EveryScan, OnChange };

// The three engines, each a set of the switches above, chosen at once with
// TModel::SetEngine. Documented (the default) is the documented behaviour
// bit for bit: the levels list and retry at every scan. Scalable is the heap
// list with retry on change: the same flows on models whose routing decides
// by its receivers only, at a cost that stays flat with many pending
// activations and many blocked blocks. Fast is the heap list with retry at
// every scan, cut for the constant factor of small and middle-sized models:
// statistics in double, fixed routes (TBlock::SetRoute) taken with no
// handler call, a free-list fast path in the pools, and a chain that does
// not route again a block refused since the last move. It gives the same
// flows on such models, but its fingerprints (routing calls, chain and pool
// counters, the last bits of the statistics) are its own.
enum class TEngine : uint8_t { Documented, Scalable, Fast };

} // namespace quorin
