#include "quorin/blocks/generator.h"

#include "quorin/blocks/proqueue.h"
#include "quorin/detail/future.h"
#include "quorin/detail/run.h"

namespace quorin {

TGenerator::TGenerator(TComponent* AOwner) : TBlock(AOwner) {
  FReadyToReceive = false;
  FHasTransaction = false;
}

void TGenerator::FirstInit() {
  if (OnBeforeTimeGoOn) OnBeforeTimeGoOn(this);
}

namespace {

// Moves at one time past which a generator that the heap refuses is taken
// to make its transactions with no delay: far more than a model makes at
// one time on purpose, far fewer than fill the smallest heap.
constexpr int64_t ZeroDelayMoves = 1000;

} // namespace

void TGenerator::NoteRefusedRecord() {
  // The heap has just said it is exhausted; a generator that made them all
  // at this very time is the likely cause, and is named.
  if (!GlobalModel || !GlobalModel->Exhausted() || FExits == 0 || FLastExitTime != FSysTime ||
      detail::MovesAtOneTime < ZeroDelayMoves)
    return;
  MessageDlg("Quorin Error: the private heap ran out while " + DisplayName() +
             " made transactions at model time " + FormatFloat("0.0000000", FSysTime) +
             " without the time advancing (" + std::to_string(detail::MovesAtOneTime) +
             " moves): does its OnAfterGeneration plan the next arrival with no delay?");
}

void TGenerator::Activate(TTransaction*) {
  TTransaction* T = MakeTransaction();
  // Without a new record the transaction on offer, if any, stays on offer:
  // dropping it would lose it and leave the block offering nothing.
  if (!T) {
    NoteRefusedRecord();
    return;
  }
  // A generation that falls due while an earlier transaction still waits
  // replaces it; the replaced one goes back to the pool rather than being
  // lost. It is freed only now, so the new transaction never reuses it.
  if (FHasTransaction && FTransaction) DestroyTransaction(FTransaction);
  FTransaction = T;
  FHasTransaction = true;
  FGenerated += FGenerated < 2;
  // Joins the chain (where it stays while it offers, so never twice) even
  // if OnAfterGeneration throws: an offer outside the chain would be stuck.
  FireThen(OnAfterGeneration, T, [this] { JoinChain(); });
}

void TGenerator::ExitFromBlock() {
  if (OnExit) OnExit(this, FTransaction);
  FHasTransaction = false;
  // The first departure after a clearing opens the first interval only.
  if (FExits > 0) {
    if (detail::StatsInDouble)
      AddInterval<double>();
    else
      AddInterval<long double>();
  }
  ++FExits;
  FLastExitTime = FSysTime;
  FTransaction = nullptr;
}

template <class TReal> void TGenerator::AddInterval() {
  const TReal Dt = static_cast<TReal>(FSysTime) - FLastExitTime;
  FSumInterval.Add<TReal>(Dt);
  FSumSqrInterval.Add<TReal>(Dt * Dt);
}

void TGenerator::ClearStatistics() {
  TBlock::ClearStatistics();
  FSumInterval.Clear();
  FSumSqrInterval.Clear();
  FLastExitTime = FSysTime;
}

bool TGenerator::IsReadyToReceive(TTransaction*) {
  ++FRefusedEntries;
  return false;
}

void TGenerator::CheckBlock(std::vector<std::string>& Findings) {
  TBlock::CheckBlock(Findings);
  const bool Pending = FutureManager && FutureManager->HasPending(this);
  if (FGenerated == 0 && !FHasTransaction && !Pending)
    Findings.push_back(
        DisplayName() + " never planned an arrival: " + detail::NoNextTime(*this, "OnBeforeTimeGoOn"));
  // One transaction and nothing planned after it: the handlers order the
  // first arrival only, so the model runs on with no arrivals at all.
  if (FGenerated == 1 && !Pending)
    Findings.push_back(DisplayName() + " made 1 transaction and planned no next arrival: " +
                       detail::NoNextTime(*this, "OnAfterGeneration"));
  if (FRefusedEntries > 0)
    Findings.push_back(DisplayName() + " refused " +
                       detail::CountOf(FRefusedEntries, "pass", "passes") +
                       " into it: a generator cannot receive transactions");
}

void TGenerator::Reset() {
  TBlock::Reset();
  FGenerated = 0;
  FRefusedEntries = 0;
  FReadyToReceive = false;
  FHasTransaction = false;
}

long double TGenerator::AverageTime() const {
  return FExits > 1 ? FSumInterval.Value() / (FExits - 1) : 0;
}

long double TGenerator::DeviationTime() const {
  return PopulationDeviation(FSumInterval.Value(), FSumSqrInterval.Value(),
                             FExits - 1);
}

} // namespace quorin
