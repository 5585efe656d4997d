// The kernel as one header, for code written before it had a folder of its
// own: the model, aggregates, blocks and transactions with the kernel's
// shared state. New code includes the headers of what it uses.
#pragma once

#include "quorin/kernel/aggregate.h"
#include "quorin/kernel/block.h"
#include "quorin/kernel/model.h"
#include "quorin/kernel/state.h"
#include "quorin/kernel/transaction.h"
