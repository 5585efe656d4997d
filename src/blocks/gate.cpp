#include "quorin/blocks/gate.h"

namespace quorin {

TTerminator::TTerminator(TComponent* AOwner) : TBlock(AOwner) {
  FReadyToReceive = true;
  FHasTransaction = false;
}

void TTerminator::EnterToBlock(TTransaction* Trans) {
  TBlock::EnterToBlock(Trans);
  FTransaction = Trans;
  if (OnEnter) OnEnter(this, Trans);
  // Also cancels an activation still pending for it, so that it can never
  // fire for whoever gets the record next.
  DestroyTransaction(Trans);
  FTransaction = nullptr;
  ++FEntries;
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
  if (OnEnter) OnEnter(this, Trans);
  // Joins the chain at its tail, so a pass made during a scan is offered on
  // in the same scan.
  Offer(Trans);
  FReadyToReceive = false;
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
