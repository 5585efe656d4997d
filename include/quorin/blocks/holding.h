// What the two storages share: the finished list and the way out of it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "quorin/kernel/block.h"

namespace quorin {

// A storage over TLine, the block that keeps its holding transactions
// (TQueueCustom: one list in order of entry; TQueuePrtyCustom: priority
// classes). A transaction whose holding time ends moves from TLine's lists to
// the finished list, singly linked through FNext from FFirstFinished to
// FLastFinished, and finished transactions are offered to OnRouting in the
// order in which they finished. A finished transaction keeps its unit until
// it has left: Count is the holding and the finished ones together.
//
// At rest FTransaction is FFirstFinished and FHasTransaction is true exactly
// while FFinishedCount > 0. Moving a transaction to the finished list and
// letting the first one go are constant time.
template <class TLine> class TStorageCustom : public TLine {
public:
  using TLine::TLine;

  // The end of a holding time that runs: the transaction is finished. An
  // activation for a transaction not holding here (none, one that has left,
  // was pushed out or finished already) is ignored.
  void Activate(TTransaction* Trans) override;
  // The first finished transaction leaves: OnExit, then the next one is
  // offered.
  void ExitFromBlock() override;
  // Empties both the holding and the finished lists.
  void Reset() override;
  int32_t Count() override { return this->FCount + FFinishedCount; }
  // Adds held transactions whose holding has no end.
  void CheckBlock(std::vector<std::string>& Findings) override;

  int32_t FinishedCount() const { return FFinishedCount; }
  // Mean busy units over the capacity on duty: the share of the units that
  // were held (Usage is the share of the time any unit was held). Where the
  // capacity changed (a schedule), over the capacity on duty at each time;
  // NaN without a limit (Capacity 0).
  long double Utilisation() { return this->DutyShare(this->ContentTime()); }
  // First and last of the finished list (linked on through FNext), or null.
  TTransaction* FirstFinished() const { return FFirstFinished; }
  TTransaction* LastFinished() const { return FLastFinished; }

protected:
  TTransaction* FFirstFinished = nullptr;
  TTransaction* FLastFinished = nullptr;
  int32_t FFinishedCount = 0;

private:
  // Whether Trans holds here (is in TLine's lists), and how many of the
  // holding transactions have no end of holding ordered.
  bool Holds(TTransaction* Trans) const;
  int32_t Endless() const;
};

} // namespace quorin
