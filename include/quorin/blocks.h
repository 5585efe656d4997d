// The kernel and the block library as a model sees them. A model needs only
// the headers of the blocks it uses. quorin/blocks/all.h, which the build
// makes, includes every header of the folder quorin/blocks/. The kernel's
// machinery (pools, event lists, chain, run state) is under quorin/detail/,
// for the library's own sources, tools and tests.
#pragma once

#include "quorin/blocks/all.h"
#include "quorin/kernel/aggregate.h"
#include "quorin/kernel/block.h"
#include "quorin/kernel/model.h"
#include "quorin/kernel/transaction.h"
