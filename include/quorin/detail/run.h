// The state of the run under way, which the kernel keeps for the library's
// own sources: the running model and the counters a pass and a statistic
// read. Model code needs none of it.
#pragma once

#include <csignal>
#include <cstdint>

#include "quorin/kernel/model.h"

namespace quorin {

extern TModel* GlobalModel; // the running model; cleared when that model is destroyed

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
