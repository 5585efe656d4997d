// The storage whose holding transactions are kept by priority.
#pragma once

#include <cstdint>

#include "quorin/blocks/holding.h"
#include "quorin/blocks/prtyqueue.h"

namespace quorin {

extern template class TStorageCustom<TQueuePrtyCustom>;

// Holds up to Capacity transactions (0: no limit), each for a holding time
// that OnEnter orders with NextTime. Holding transactions sit in priority
// classes; one whose holding time ends moves to the finished list (singly
// linked through FNext, FFirstFinished to FLastFinished), and finished
// transactions are offered to OnRouting in the order in which they finished,
// whatever their priority. A finished transaction keeps its unit until it
// has left: Count is the held and the finished ones together, while
// PrtyCount, MinPrty and MaxPrty see the held ones only.
//
// An entry that overfills Capacity pushes out the oldest held transaction of
// the lowest priority, its end of holding cancelled; with Preemptive set, a
// full storage admits a transaction with the preempt mark that outranks the
// lowest priority held, provided one is held (finished ones cannot be pushed
// out) and the storage is not in routing (see Overfilled). OnEnter runs
// before the statistics take the entry.
//
// Preemptive resume: a pushed-out transaction keeps the holding time it had
// left (TTransaction::Remaining, readable in OnPreempt) until its next
// activation is ordered. OnPreempt passes it to a waiting line, and OnEnter
// holds a transaction that comes back with a remainder for exactly that:
//   Cpu->OnEnter = [=](TBlock*, TTransaction* T) {
//     Cpu->NextTime(T->HasRemaining() ? T->Remaining() : Work->Exponential(1));
//   };
//
// During OnEnter the current transaction is the entering one and during
// OnPreempt the pushed-out one; at rest it is the first finished one (see
// TStorageCustom).
class TStoragePrty : public TStorageCustom<TQueuePrtyCustom> {
public:
  explicit TStoragePrty(TComponent* AOwner);

  // OnExit for a pushed-out transaction that OnPreempt passes on; a second
  // PassTo in the same OnPreempt call is refused.
  void KickFromBlock() override;
  void EnterToBlock(TTransaction* Trans) override;
};

} // namespace quorin
