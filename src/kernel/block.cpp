#include "quorin/kernel/block.h"

#include "quorin/detail/current.h"
#include "quorin/detail/future.h"
#include "quorin/detail/run.h"

namespace quorin {

TBlock::TBlock(TComponent* AOwner) : TAggregate(AOwner) {
  FKind = TKind::Block;
}

TBlock::~TBlock() {
  if (CurrentManager) CurrentManager->Forget(this);
  SetRoute(nullptr);
  for (TBlock* Sender : FRoutedFrom)
    Sender->FRoute = nullptr;
}

void TBlock::SetRoute(TBlock* Receiver) {
  if (FRoute == Receiver) return;
  if (FRoute) std::erase(FRoute->FRoutedFrom, this);
  FRoute = Receiver;
  if (Receiver) Receiver->FRoutedFrom.push_back(this);
}

void TBlock::Reset() {
  ClearStatistics();
  FKick = false;
  FInRouting = false;
  FPassed = false;
  FCount = 0;
  FTransaction = nullptr;
  FToDestroy = nullptr;
  FTriedFor = nullptr;
  FRoutingVaries = false;
}

void TBlock::ExitFromBlock() {}
void TBlock::KickFromBlock() {}
void TBlock::EnterToBlock(TTransaction* Trans) {
  Trans->FBlock = this;
  Trans->FEnterTime = FSysTime;
}
bool TBlock::IsReadyToReceive(TTransaction*) {
  return FReadyToReceive;
}
int32_t TBlock::Count() {
  return FCount;
}

void TBlock::ClearStatistics() {
  FExits = 0;
  FEntries = 0;
}

void TBlock::PostPone() {}

void TBlock::CheckBlock(std::vector<std::string>& Findings) {
  if (FHasTransaction && !OnRouting && !FRoute)
    Findings.push_back(DisplayName() + " holds " +
                       detail::CountOf(Count(), "transaction", "transactions") +
                       " that cannot leave: it has no OnRouting handler");
  else if (FHasTransaction && FEntries > 1 && FExits == 0 && Count() > 1)
    // Transactions pile up where nothing ever leaves: routed to the block
    // itself, or to blocks that never take them.
    Findings.push_back(DisplayName() + " received " +
                       detail::CountOf(FEntries, "transaction", "transactions") +
                       " and let none leave (" + std::to_string(Count()) +
                       " still inside): does its OnRouting pass to a block that can take them?");
  if (FRoutingVaries)
    Findings.push_back(DisplayName() +
                       "'s routing tried different receivers for one transaction: it decides by "
                       "more than whether its receivers take the transaction, so retry on change "
                       "may route it otherwise than retry at every scan; run it with "
                       "TRetry::EveryScan (RetryOnChange = false in a model file)");
}

std::string detail::NoNextTime(const TAggregate& Block, const std::string& Handler) {
  if (Block.RefusedOrders() == 0) return "its " + Handler + " handler orders no NextTime";
  return "its " + Handler + " handler ordered a NextTime that was refused (" +
         CountOf(Block.RefusedOrders(), "refusal", "refusals") + " in the run, see the error above)";
}

std::string detail::CountOf(int32_t N, const std::string& Singular, const std::string& Plural) {
  return std::to_string(N) + " " + (N == 1 ? Singular : Plural);
}

void TBlock::WakeWaiters() {
  if (CurrentManager) CurrentManager->Wake(this);
}

void TBlock::AppendToChain() {
  if (CurrentManager) CurrentManager->Add(this);
}

void TBlock::UnparkInChain() {
  CurrentManager->Unpark(this);
}

void TBlock::ReorderFor(double Delay, TTransaction* Trans) {
  TFutureEvent* Pending = Trans ? Trans->FEvent : nullptr;
  if (FOrderNextTime(Delay, Trans) && Pending) Pending->Aggregate = nullptr;
}

bool TBlock::MoveTo(TBlock* Receiver) {
  TTransaction* T = FTransaction;
  detail::TFlagScope Passing(FPassing);
  // A transaction the receiver destroyed on entry goes back to the pool once
  // the pass has been reported, also when a handler throws.
  detail::TryFinally([this, Receiver, T] { Hand(Receiver, T); },
                     [Receiver, T] { Receiver->DestroyPassed(T); });
  if (++detail::MovesAtOneTime > detail::MoveAlarm) [[unlikely]]
    if (GlobalModel) GlobalModel->MoveAtOneTime(this, Receiver);
  return true;
}

void TBlock::Hand(TBlock* Receiver, TTransaction* T) {
  {
    // The receiver is held for T from here: the sender's OnExit may do
    // anything, and T must still find the place it was promised.
    detail::TFlagScope Entering(Receiver->FEntering);
    {
      detail::TFlagScope Exiting(FExiting);
      if (FKick) {
        KickFromBlock();
      } else {
        ExitFromBlock();
      }
    }
    // The chain learns of the move as its retry policy needs: with retry on
    // change, the exit may have made room for the blocks parked on this
    // one, and this block and the receiver may offer another transaction
    // now; on the fast engine's policy, both blocks changed.
    if (CurrentManager) {
      switch (CurrentManager->Policy()) {
      case TRetryPolicy::OnChange:
        CurrentManager->Passed(this, Receiver);
        break;
      case TRetryPolicy::SkipUnchanged: {
        const uint64_t Stamp = CurrentManager->NextStamp();
        FChangedAt = Stamp;
        FOutAt = Stamp;
        Receiver->FChangedAt = Stamp;
        break;
      }
      case TRetryPolicy::EveryScan:
        break;
      }
    }
    // The transaction has left: the move counts as made even if a
    // handler of the receiver throws (the receiver still takes it in).
    FlagPass = true;
    FPassed = true;
    Receiver->EnterToBlock(T);
  }
  if (GlobalModel) GlobalModel->RegisterPass(this, Receiver, T);
}

void TBlock::NoteRefusal(TBlock* Receiver) {
  CurrentManager->NoteRefusal(Receiver);
}

bool TBlock::RouteThrough(const TOnRoutingEvent& Handler, TTransaction* Trans, bool Kick) {
  FTransaction = Trans;
  FPassed = false;
  FKick = Kick;
  FInRouting = true;
  // Cleared however the handler ends, a throw included.
  detail::TryFinally(
      [&] {
        if (Handler) Handler(this, Trans);
      },
      [this] {
        FInRouting = false;
        FKick = false;
      });
  return FPassed;
}

void TBlock::DestroyTransaction(TTransaction* Trans) {
  // A pending activation of a destroyed record must never fire for the
  // record's next holder.
  Trans->CancelEvent();
  if (TransManager) TransManager->Delete(Trans);
}

TTransaction* TBlock::MakeTransaction() {
  if (!TransManager) return nullptr;
  TTransaction* T = TransManager->isDeadExist() ? static_cast<TTransaction*>(TransManager->Add())
                                                : TTransaction::Create();
  if (!T) return nullptr;
  T->FPrty = 0;
  T->FPreempt = false;
  T->FMarks = 0;
  T->FEvent = nullptr;
  T->FMadeTime = FSysTime;
  T->FEnterTime = FSysTime;
  T->FSerial = ++detail::LastSerial;
  return T;
}

} // namespace quorin
