// Everything of Quorin that a model and its front ends use. The machinery
// (pools, event lists, chain, private heap, run state) is not included: it
// lives under quorin/detail/.
#pragma once

#include "quorin/blocks.h"
#include "quorin/classinfo.h"
#include "quorin/diagram.h"
#include "quorin/framework.h"
#include "quorin/inputs.h"
#include "quorin/modelfile.h"
#include "quorin/package.h"
#include "quorin/output.h"
#include "quorin/report.h"
#include "quorin/statsim.h"
