#include "quorin/blocks/gate.h"
#include "quorin/detail/future.h"

namespace quorin {

TTerminator::TTerminator(TComponent* AOwner) : TBlock(AOwner) {
  FReadyToReceive = true;
  FHasTransaction = false;
}

void TTerminator::EnterToBlock(TTransaction* Trans) {
  TBlock::EnterToBlock(Trans);
  FTransaction = Trans;
  // Destroyed also when OnEnter throws; the destruction cancels an
  // activation still pending for it, so it never fires for the record's
  // next holder.
  FireThen(OnEnter, Trans, [this, Trans] {
    FTransaction = nullptr;
    ++FEntries;
    FTimes.Add(FSysTime - Trans->FMadeTime, Trans->FPrty);
    DestroyEntered(Trans);
  });
}

void TTerminator::ClearStatistics() {
  TBlock::ClearStatistics();
  FTimes.Clear();
}

TGate::TGate(TComponent* AOwner) : TBlock(AOwner) {
  FReadyToReceive = true;
  FHasTransaction = false;
  FLocked = false;
}

bool TGate::IsReadyToReceive(TTransaction*) {
  return FReadyToReceive && !FLocked;
}

void TGate::EnterToBlock(TTransaction* Trans) {
  TBlock::EnterToBlock(Trans);
  FTransaction = Trans;
  FCount = 1;
  ++FEntries;
  // Full from here: an entry during OnEnter would overwrite this one.
  FReadyToReceive = false;
  // Joins the chain at its tail, so a pass made during a scan is offered on
  // in the same scan; offered even if OnEnter throws, so it is not lost.
  FireThen(OnEnter, Trans, [this, Trans] { Offer(Trans); });
}

void TGate::ExitFromBlock() {
  if (OnExit) OnExit(this, FTransaction);
  FCount = 0;
  ++FExits;
  FTransaction = nullptr;
  FHasTransaction = false;
  FReadyToReceive = true;
}

void TGate::Reset() {
  TBlock::Reset();
  FHasTransaction = false;
  FReadyToReceive = true;
}

} // namespace quorin
