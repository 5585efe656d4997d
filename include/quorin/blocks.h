// The kernel and the block library.
#pragma once

#include "quorin/blocks/kernel.h"
