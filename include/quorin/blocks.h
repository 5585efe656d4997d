// The kernel and the block library, with the kernel's shared state
// (quorin/kernel/state.h), which tools and tests inspect. A model needs only
// the headers of the blocks it uses. quorin/blocks/all.h, which the build
// makes, includes every header of the folder quorin/blocks/.
#pragma once

#include "quorin/blocks/all.h"
#include "quorin/kernel/aggregate.h"
#include "quorin/kernel/block.h"
#include "quorin/kernel/model.h"
#include "quorin/kernel/state.h"
#include "quorin/kernel/transaction.h"
