// Blocks that change the number of transactions: the divider splits one
// transaction into Capacity, the assembler joins Capacity into one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "quorin/blocks/proqueue.h"
#include "quorin/kernel/block.h"

namespace quorin {

// What the divider and the assembler share: a doubly linked list of the
// transactions held, through their FNext and FPrev links, with the newest at
// FFirst; Capacity (any value; 1 or less neither splits nor joins); counts of
// entries and exits like every other block.
class TSplitJoin : public TBlock {
public:
  explicit TSplitJoin(TComponent* AOwner);

  // Empties the block. The transactions held are not given back: the model
  // discards the whole pool right after a reset.
  void Reset() override;

  // Puts Trans at the front of the list, with no entry handling.
  void AddTrans(TTransaction* Trans);

  // The newest and the oldest transaction held; nullptr when empty.
  TTransaction* First() const { return FFirst; }
  TTransaction* Last() const { return FLast; }

  int32_t Capacity() const { return FCapacity; }
  // Read at the next entry only.
  void SetCapacity(int32_t Value) {
    FCapacity = Value;
    WakeWaiters();
  }

  TOnExitFromBlock OnExit;
  TOnEnterToBlock OnEnter;

protected:
  // Stops taking entries and offers FFirst; joins the chain if not offering.
  void OfferFirst();
  // Unlinks FFirst, after its OnExit; the block is ready again when empty.
  void TakeFirst();

  int32_t FCapacity = 1;
  TTransaction* FFirst = nullptr;
  TTransaction* FLast = nullptr;
};

// One entering transaction leaves as Capacity transactions: Capacity - 1
// new ones with its priority and preempt mark, then itself, one per
// successful PassTo (the last-made copy first, the entering one last). The
// divider refuses entries until all have left. Copies are made as a
// generator makes transactions (a freed record with its own number, else a
// new one), so no two live transactions share a number; when the pool runs
// out, the copies made so far leave and the rest are not made.
//
// A copy carries the original's own fields: the fields of the model's
// transaction class are copy-assigned from the original (TTransaction's
// own fields are not: number, links, times and pending event stay the
// copy's, priority and preempt mark are the original's). A split of more
// than one marks the original and its copies with the family of the
// original's number (TTransaction::Family), which a matching assembler
// joins by.
class TDivider : public TSplitJoin {
public:
  explicit TDivider(TComponent* AOwner) : TSplitJoin(AOwner) {}

  void ExitFromBlock() override;
  void EnterToBlock(TTransaction* Trans) override;

private:
  void Split(TTransaction* Trans);
};

// Gathers entering transactions until it holds Capacity of them, then keeps
// the one that completed the set, gives the others back to the pool, and
// offers the kept one; Count stays at the number gathered until it leaves.
// The assembler refuses entries while it offers. A Capacity lowered below
// the number gathered completes the set at the next entry.
//
// With Match set, it joins only the parts of one original: it gathers by
// family (TTransaction::Family, given by the divider), and a set is
// complete when Capacity parts of one family are held; parts of other
// families wait meanwhile, without blocking one another. The original
// leaves for its set when it is one of the parts, else the part that
// completed the set; the others go back to the pool. Transactions without
// a family gather among themselves as in the default mode. Count is the
// parts held, the whole set included until its kept part leaves.
//
// Keeps the time each part waited at the join, from its entry until its
// set was complete (per priority class as well once more than one class
// was joined).
//
// The model check warns about an assembler without Match that split parts
// reach from more than one block: parts of different originals overtake one
// another on different routes, so the sets it joins mix them.
class TAssembler : public TSplitJoin {
public:
  explicit TAssembler(TComponent* AOwner) : TSplitJoin(AOwner) {}

  void Reset() override;
  void ExitFromBlock() override;
  void EnterToBlock(TTransaction* Trans) override;
  int32_t Count() override { return FCount + FSetRest; }
  void CheckBlock(std::vector<std::string>& Findings) override;
  void ClearStatistics() override;

  // Waits of the parts joined since the statistics were cleared: mean (NaN
  // for none), mean of those above 0, population deviation, greatest, and
  // the tally with its classes.
  long double AverageTime() const { return FWaits.Mean(); }
  long double SAverageTime() const { return FWaits.SMean(); }
  long double DeviationTime() const { return FWaits.Deviation(); }
  double MaxTime() const { return FWaits.Max(); }
  const TTimeTally& Waits() const { return FWaits; }

  bool Match() const { return FMatch; }
  // Read at the next entry; meant to be set before the run.
  void SetMatch(bool Value) { FMatch = Value; }

private:
  void Gather(TTransaction* Trans);
  void GatherFamily(TTransaction* Trans);
  void Unlink(TTransaction* Trans);
  // Notes the block a split part came from, for the model check.
  void NoteRoute(const TBlock* From);

  bool FMatch = false;
  // With Match: the parts of the offered set given back to the pool, still
  // counted until its kept part leaves.
  int32_t FSetRest = 0;
  // A set gathered by family is on offer.
  bool FMatchedSet = false;
  // The first two blocks that split parts came from, since the last Reset.
  const TBlock* FRoute = nullptr;
  std::string FRouteNames;
  bool FManyRoutes = false;
  TTimeTally FWaits;
};

} // namespace quorin
