// The block that makes transactions on demand.
#pragma once

#include <cstdint>

#include "quorin/kernel/block.h"

namespace quorin {

// Generate(N), called from any handler, makes N transactions and offers them
// one by one, first made first, to OnRouting. It also orders an activation
// of the creator at the present time, so that the chain runs even when
// Generate was called from outside a block activation (a scheduler's
// OnPlanned): the batch leaves at the model time it was made. Transactions
// wait in a singly linked queue from FFirst to FLast through FNext.
//
// A creator never takes a transaction in: it refuses every entry, since it
// would have nowhere to put one. It counts its departures as Exits, like a
// generator. It is in the chain at most once and has at most one activation
// pending, however often Generate is called.
class TCreator : public TBlock {
public:
  explicit TCreator(TComponent* AOwner);

  void Activate(TTransaction* Trans) override;
  void Reset() override;
  void ExitFromBlock() override;
  // Always false; the model check reports the passes it refused.
  bool IsReadyToReceive(TTransaction* Trans) override;
  void CheckBlock(std::vector<std::string>& Findings) override;

  // Makes N transactions (nothing for N < 1) behind those still waiting. When
  // the pool runs out, the ones made so far are offered all the same. A call
  // made while the creator generates (from its OnAfterGeneration) is refused
  // with a message.
  void Generate(int32_t N);
  // Appends Trans to the queue, with no further handling.
  void AddTrans(TTransaction* Trans);

  // The first and the last transaction waiting to leave; nullptr when none.
  TTransaction* First() const { return FFirst; }
  TTransaction* Last() const { return FLast; }

  TOnAfterGeneration OnAfterGeneration;
  TOnExitFromBlock OnExit;

protected:
  TTransaction* FFirst = nullptr;
  TTransaction* FLast = nullptr;
  bool FGenerating = false;

private:
  // Offers FFirst, joining the chain and ordering the activation as needed.
  void OfferBatch();

  bool FActivationPending = false;
  int32_t FRefusedEntries = 0; // passes into the creator, since the last Reset
};

} // namespace quorin
