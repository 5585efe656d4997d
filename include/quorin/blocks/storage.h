// A multi-channel holding block: every transaction stays for its own time.
#pragma once

#include <cstdint>

#include "quorin/blocks/holding.h"
#include "quorin/blocks/queue.h"

namespace quorin {

extern template class TStorageCustom<TQueueCustom>;

// Holds up to Capacity transactions (0: no limit) at once, each for a holding
// time that OnEnter orders with NextTime. The holding transactions are in
// the inherited doubly linked list FFirst..FLast in order of entry; a
// finished one moves to the finished list (see TStorageCustom). During
// OnEnter FTransaction is the entering transaction, so that NextTime stamps
// it. All operations are constant time.
class TStorage : public TStorageCustom<TQueueCustom> {
public:
  explicit TStorage(TComponent* AOwner);

  void EnterToBlock(TTransaction* Trans) override;
};

} // namespace quorin
