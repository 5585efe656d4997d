#include "quorin/blocks/creator.h"
#include "quorin/detail/future.h"
#include "quorin/detail/list.h"

namespace quorin {

TCreator::TCreator(TComponent* AOwner) : TBlock(AOwner) {
  FReadyToReceive = false;
  FHasTransaction = false;
}

bool TCreator::IsReadyToReceive(TTransaction*) {
  ++FRefusedEntries;
  return false;
}

void TCreator::CheckBlock(std::vector<std::string>& Findings) {
  TBlock::CheckBlock(Findings);
  if (FRefusedEntries > 0)
    Findings.push_back(DisplayName() + " refused " +
                       detail::CountOf(FRefusedEntries, "pass", "passes") +
                       " into it: a creator cannot receive transactions");
}

void TCreator::AddTrans(TTransaction* Trans) {
  Trans->FPrev = nullptr;
  detail::TTransFifo(FFirst, FLast, FCount).PushBack(Trans);
}

void TCreator::Generate(int32_t N) {
  if (N < 1) return;
  if (FGenerating) {
    // Generate from a handler of the batch under way (OnAfterGeneration)
    // would nest once per transaction, without bound, until the stack runs
    // out: refused, as nested passes are.
    MessageDlg("Quorin Error: Generate of " + DisplayName() +
               " is called while it generates (from its OnAfterGeneration); the call is refused");
    return;
  }
  detail::TFlagScope Generating(FGenerating);
  // A handler that throws leaves the transactions made so far on offer,
  // never stranded in a creator that does not offer them.
  detail::TryFinally(
      [this, N] {
        for (int32_t i = 0; i < N; ++i) {
          TTransaction* T = MakeTransaction();
          if (!T) break; // the pool has reported it and stopped the run
          T->FBlock = this;
          AddTrans(T);
          if (OnAfterGeneration) OnAfterGeneration(this, T);
        }
      },
      [this] { OfferBatch(); });
}

void TCreator::OfferBatch() {
  if (FCount == 0) return;
  // A creator that offers is in the chain already, and so is one in routing
  // (a batch made from its own OnRouting: the chain keeps it once it offers).
  if (!FHasTransaction && !FInRouting) JoinChain();
  FTransaction = FFirst;
  FHasTransaction = true;
  if (!FActivationPending && FutureManager) {
    FActivationPending = true;
    FOrderNextTime(0, nullptr);
  }
}

void TCreator::Activate(TTransaction*) {
  // Nothing to do: the run loop runs the chain after this activation.
  FActivationPending = false;
}

void TCreator::ExitFromBlock() {
  TTransaction* T = FFirst;
  FTransaction = T;
  if (OnExit) OnExit(this, T);
  detail::TTransFifo(FFirst, FLast, FCount).PopFront();
  ++FExits;
  FHasTransaction = FCount > 0;
  FTransaction = FFirst;
}

void TCreator::Reset() {
  TBlock::Reset();
  // The transactions are not given back: the model discards the whole pool.
  FFirst = nullptr;
  FLast = nullptr;
  FHasTransaction = false;
  FReadyToReceive = false;
  FActivationPending = false;
  FRefusedEntries = 0;
}

} // namespace quorin
