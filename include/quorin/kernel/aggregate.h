// What the model activates at points of model time: the aggregate, and the
// scheduler that only fires timed events of the model's own.
#pragma once

#include <cstdint>
#include <functional>

#include "quorin/framework/component.h"
#include "quorin/kernel/model.h"
#include "quorin/kernel/transaction.h"

namespace quorin {

using TBeforeTimeGoOnEvent = std::function<void(TAggregate* Sender)>;
using TPlannedEvent = std::function<void(TAggregate* Sender)>;

// Anything the model activates at a point of model time.
class TAggregate : public TComponent {
public:
  explicit TAggregate(TComponent* AOwner) : TComponent(AOwner) {}
  // An aggregate destroyed before its model leaves the model's list, and its
  // pending activations are cancelled, so nothing reaches it afterwards.
  ~TAggregate() override;

  virtual void Activate(TTransaction* Trans);
  virtual void FirstInit();
  virtual void NextTime(double Delay);
  // Plans an activation Delay from now, for Trans (which records the time).
  // Answers whether the future events list accepted it; a refused one
  // changes nothing, Trans's activation time included.
  bool FOrderNextTime(double Delay, TTransaction* Trans);

  TModel* Model() const { return FModel; }
  // Activations this aggregate ordered and the future events list refused
  // (a negative delay, a time past the limit), since the run's start; the
  // model check names them instead of a missing NextTime.
  int32_t RefusedOrders() const { return FRefusedOrders; }

  // The model that gathered this aggregate, or null.
  TModel* FModel = nullptr;

protected:
  friend class TModel;
  // What the run loop does after Activate: schedulers and blocks are
  // activated, blocks are followed by a run of the chain, other classes are
  // not activated at all. Kept as a field so the loop needs no class test.
  enum class TKind : uint8_t { Other, Scheduler, Block };
  TKind FKind = TKind::Other;
  int32_t FRefusedOrders = 0;
};

// An aggregate that only fires timed user events: OnBeforeTimeGoOn at the
// start of a run, OnPlanned at each activation it ordered with NextTime.
class TScheduler : public TAggregate {
public:
  explicit TScheduler(TComponent* AOwner);
  void Activate(TTransaction* Trans) override;
  void FirstInit() override;

  TBeforeTimeGoOnEvent OnBeforeTimeGoOn;
  TPlannedEvent OnPlanned;
};

} // namespace quorin
