#include "quorin/kernel/aggregate.h"

#include "quorin/detail/future.h"

namespace quorin {

TAggregate::~TAggregate() {
  if (FModel) FModel->ForgetAggregate(this);
  if (FutureManager) FutureManager->Forget(this);
}

void TAggregate::Activate(TTransaction*) {}
void TAggregate::FirstInit() {}
void TAggregate::NextTime(double Delay) {
  FOrderNextTime(Delay, nullptr);
}

bool TAggregate::FOrderNextTime(double Delay, TTransaction* Trans) {
  if (!FutureManager) {
    // No run memory exists: there is no list to plan into.
    MessageDlg("Quorin Error: Activation is ordered outside a simulation run by " + DisplayName());
    return false;
  }
  if (!FutureManager->Insert(Delay, this, Trans)) {
    ++FRefusedOrders;
    return false;
  }
  if (Trans) {
    Trans->FActivateTime = FSysTime + Delay;
    // The field no longer holds a remainder kept at a push-out.
    Trans->FMarks &= uint8_t(~TTransaction::MarkRemaining);
  }
  return true;
}

TScheduler::TScheduler(TComponent* AOwner) : TAggregate(AOwner) {
  FKind = TKind::Scheduler;
}

void TScheduler::FirstInit() {
  if (OnBeforeTimeGoOn) OnBeforeTimeGoOn(this);
}

void TScheduler::Activate(TTransaction*) {
  if (OnPlanned) OnPlanned(this);
}

} // namespace quorin
