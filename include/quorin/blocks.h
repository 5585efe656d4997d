// The kernel and the block library.
#pragma once

#include "quorin/blocks/creator.h"
#include "quorin/blocks/divider.h"
#include "quorin/blocks/gate.h"
#include "quorin/blocks/generator.h"
#include "quorin/blocks/kernel.h"
#include "quorin/blocks/proqueue.h"
#include "quorin/blocks/prtyqueue.h"
#include "quorin/blocks/prtystorage.h"
#include "quorin/blocks/queue.h"
#include "quorin/blocks/server.h"
#include "quorin/blocks/storage.h"
