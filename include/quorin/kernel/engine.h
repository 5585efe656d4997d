// The two choices of how a model runs (TModel::SetEventList, SetRetry), kept
// apart so that the model, the future events list and the current events
// chain name them without including one another.
#pragma once

#include <cstdint>

namespace quorin {

// How the pending activations are kept. Levels, the default, is the
// randomised multi-level list described in quorin/future.h. Heap is an
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

} // namespace quorin
