// Small reference models for the fault-injection test: each exercises a
// different part of the kernel and the blocks, and is deterministic (its
// random streams restart with TMultiRand::Reset).
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "quorin/quorin.h"

namespace quorin::test {

struct TReferenceModel {
  std::string Name;
  // Creates the model, its blocks and its random streams on Form.
  void (*Build)(TComponent* Form);
  double EndTime;
};

// M/M/1; M/M/3 on a storage; a queue whose waiting-time limits route the
// expired on; a preemptive server that postpones or passes on from
// OnPreempt; a derived transaction class through a gate; a bounded priority
// line with push-out and time limits before a preemptive server; a
// divider-assembler fork-join; batches a scheduler orders from a creator. A
// new block kind adds a model here.
const std::vector<TReferenceModel>& ReferenceModels();

// Test output names the model.
inline void PrintTo(const TReferenceModel& Model, std::ostream* Out) {
  *Out << Model.Name;
}

} // namespace quorin::test
