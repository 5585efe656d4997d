// The small component framework the library runs on: components with an owner,
// a blocking message report, float formatting and the palette. The bounded
// private heap that the run's pools draw on is machinery (quorin/detail/heap.h).
#pragma once

#include "quorin/framework/component.h"
