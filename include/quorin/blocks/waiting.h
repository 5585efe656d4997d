// What the two waiting lines share: offering one transaction at a time, the
// way out, and time limits.
#pragma once

#include <cstdint>

#include "quorin/kernel/block.h"

namespace quorin {

// A waiting line over TLine, the block that keeps its transactions
// (TQueueCustom: one list; TQueuePrtyCustom: priority classes). It offers
// one transaction at a time to OnRouting for as long as it is not empty
// (and stays in the current events chain meanwhile). A time limit set with
// NextTime from OnEnter that runs out while the transaction still waits
// fires OnTimeFinish, which may pass the transaction on; otherwise it is
// destroyed uncounted by Exits, also when the handler throws, so that no
// transaction stays waiting whose limit is spent.
template <class TLine> class TWaitingLine : public TLine {
public:
  using TLine::TLine;

  // A time limit ran out. Ignored: an activation ordered while the line was
  // empty (it carries no transaction), and one whose transaction no longer
  // waits here.
  void Activate(TTransaction* Trans) override;
  // The offered transaction leaves: OnExit, then the next one is offered.
  void ExitFromBlock() override;

  int32_t TimeLimitExits() const { return this->FTimeLimitExits; }

  TOnTimeFinish OnTimeFinish;

protected:
  // Offers the transaction that leaves next (TLine's First), or nothing
  // when empty.
  void OfferHead() {
    this->FTransaction = this->First();
    this->FHasTransaction = this->FCount > 0;
  }

};

} // namespace quorin
