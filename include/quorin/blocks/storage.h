// A multi-channel holding block: every transaction stays for its own time.
#pragma once

#include <cstdint>

#include "quorin/blocks/queue.h"

namespace quorin {

// Holds up to Capacity transactions (0: no limit) at once, each for a holding
// time that OnEnter orders with NextTime. A transaction whose holding time
// ends moves from the holding list (the inherited doubly linked FFirst..FLast)
// to the finished list (singly linked through FNext, FFirstFinished to
// FLastFinished), and finished transactions are offered to OnRouting in the
// order in which they finished. A finished transaction keeps its unit until
// it has left: Count is the holding and the finished ones together.
//
// At rest FTransaction is FFirstFinished and FHasTransaction is true exactly
// while FFinishedCount > 0; during OnEnter FTransaction is the entering one,
// so that NextTime stamps it. All operations are constant time.
class TStorage : public TQueueCustom {
public:
  explicit TStorage(TComponent* AOwner);

  void Activate(TTransaction* Trans) override;
  void Reset() override;
  void ExitFromBlock() override;
  void EnterToBlock(TTransaction* Trans) override;
  int32_t Count() override { return FCount + FFinishedCount; }

  int32_t FinishedCount() const { return FFinishedCount; }
  void CheckBlock(std::vector<std::string>& Findings) override;

protected:
  TTransaction* FFirstFinished = nullptr;
  TTransaction* FLastFinished = nullptr;
  int32_t FFinishedCount = 0;
};

} // namespace quorin
