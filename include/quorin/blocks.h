// The kernel and the block library, with the kernel's shared state
// (quorin/kernel/state.h), which tools and tests inspect. A model needs only
// the headers of the blocks it uses.
#pragma once

#include "quorin/blocks/creator.h"
#include "quorin/blocks/divider.h"
#include "quorin/blocks/gate.h"
#include "quorin/blocks/generator.h"
#include "quorin/blocks/proqueue.h"
#include "quorin/blocks/prtyqueue.h"
#include "quorin/blocks/prtystorage.h"
#include "quorin/blocks/queue.h"
#include "quorin/blocks/server.h"
#include "quorin/blocks/storage.h"
#include "quorin/kernel/aggregate.h"
#include "quorin/kernel/block.h"
#include "quorin/kernel/model.h"
#include "quorin/kernel/state.h"
#include "quorin/kernel/transaction.h"
