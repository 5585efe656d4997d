// Consistency checks of a model at rest (between runs): every block's counts
// match its lists, every held transaction names its block and is held once,
// every pool record is either held or free, and the current events chain
// holds each block at most once.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "quorin/blocks.h"

namespace quorin::test {

// What the inspection of one block reports.
struct TInspection {
  std::vector<std::string> Faults;
  // Transactions the block holds, in no particular order.
  std::vector<TTransaction*> Held;
  void Fault(const TBlock* Block, const std::string& What) {
    Faults.push_back(Block->Name() + ": " + What);
  }
};

// Inspects Block if it is of a kind the inspector knows; answers whether it
// was. A new block kind adds an inspector to BlockInspectors().
using TBlockInspector = std::function<bool(TBlock* Block, TInspection& Out)>;
std::vector<TBlockInspector>& BlockInspectors();

// Every broken invariant of Model's blocks, pool and chain; empty when all
// hold. LostRecordsAllowed admits records neither held nor free (a block
// holding some was destroyed, or the heap refused a page of the free stack).
std::vector<std::string> CheckInvariants(TModel& Model, bool LostRecordsAllowed = false);

} // namespace quorin::test
