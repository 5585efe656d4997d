// Everything of Quorin.
#pragma once

#include "quorin/blocks.h"
#include "quorin/classinfo.h"
#include "quorin/current.h"
#include "quorin/diagram.h"
#include "quorin/framework.h"
#include "quorin/future.h"
#include "quorin/inputs.h"
#include "quorin/kernel/state.h"
#include "quorin/memoman.h"
#include "quorin/modelfile.h"
#include "quorin/package.h"
#include "quorin/output.h"
#include "quorin/report.h"
#include "quorin/statsim.h"
