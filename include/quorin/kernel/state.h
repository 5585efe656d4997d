// The kernel's shared state and machinery, for the library's own sources,
// tools and tests: the clock, the running model, the pass flag, the pools,
// the future events list and the current events chain. Model code needs none
// of it: it reads the clock through ModelTime() and includes the headers of
// the blocks it uses.
#pragma once

#include <csignal>
#include <cstdint>

#include "quorin/current.h"
#include "quorin/framework.h"
#include "quorin/future.h"
#include "quorin/kernel/block.h"
#include "quorin/kernel/model.h"
#include "quorin/memoman.h"

namespace quorin {

extern double FSysTime;     // the model clock; moved only by the future events list
extern TModel* GlobalModel; // the running model; cleared when that model is destroyed
extern bool FlagPass;       // set by every successful PassTo, read by the chain
extern TTransManager* TransManager;
extern TMemoManager* QueHeadsManager; // the classes (TQueHead) of the priority blocks

namespace detail {
// Moves (passes and activations) made since the model time last advanced,
// and the number at which the running model is told (see
// TModel::SetMoveLimit). Kept here so that a pass pays an increment and a
// compare for the limit.
extern int64_t MovesAtOneTime;
extern int64_t MoveAlarm;
// The precision in which the blocks' statistics accumulate during the run
// (TStatSum): double on TEngine::Fast, set by the model with the run's
// memory, else 80-bit.
extern bool StatsInDouble;
// The serial number of the run's latest transaction (TTransaction::Serial).
extern uint64_t LastSerial;
// Set by TModel::Interrupt, which also brings the alarm down to 0 so that
// the next move reaches TModel::MoveAtOneTime.
extern volatile std::sig_atomic_t InterruptRequested;
} // namespace detail

} // namespace quorin
