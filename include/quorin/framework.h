// The small component framework the library runs on: components with an owner,
// a blocking message report, float formatting, the palette and a bounded
// private heap.
#pragma once

#include "quorin/framework/component.h"
#include "quorin/framework/heap.h"
