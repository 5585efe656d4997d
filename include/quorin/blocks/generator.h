// The source block: each ordered activation creates one transaction.
#pragma once

#include <cstdint>

#include "quorin/blocks/proqueue.h"

namespace quorin {

// Creates one transaction per activation (ordered with NextTime, the first
// from OnBeforeTimeGoOn) and offers it until its OnRouting handler passes it
// on. Never receives a transaction. Measures the intervals between successive
// departures (not creations) in 80-bit precision (in double on
// TEngine::Fast, see TStatSum).
class TGenerator : public TBlock {
public:
  explicit TGenerator(TComponent* AOwner);

  void Activate(TTransaction* Trans) override;
  void FirstInit() override;
  void Reset() override;
  void ExitFromBlock() override;
  void ClearStatistics() override;
  // A generator holds nothing it did not make: every entry is refused, and
  // counted for the model check.
  bool IsReadyToReceive(TTransaction* Trans) override;
  void CheckBlock(std::vector<std::string>& Findings) override;

  // Mean and population deviation of the intervals between departures; 0
  // until there are two departures.
  long double AverageTime() const;
  long double DeviationTime() const;

  TOnAfterGeneration OnAfterGeneration;
  TBeforeTimeGoOnEvent OnBeforeTimeGoOn;
  TOnExitFromBlock OnExit;

protected:
  // Names this generator when the heap ran out while it made transactions
  // with no delay (see Activate).
  [[gnu::cold]] void NoteRefusedRecord();
  // Adds the interval since the last departure in the run's precision.
  template <class TReal> void AddInterval();

  TStatSum FSumInterval;
  TStatSum FSumSqrInterval;
  double FLastExitTime = 0.0;
  // Transactions made since the last Reset, counted up to 2: none, one (a
  // generator that planned no next arrival is a finding), or more.
  uint8_t FGenerated = 0;
  int32_t FRefusedEntries = 0; // passes into the generator, since the last Reset
};

} // namespace quorin
