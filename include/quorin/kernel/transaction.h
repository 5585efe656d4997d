// The moving entity of a model: a transaction, with its priority, preempt
// mark and number.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorin {

class TBlock;
struct TFutureEvent;

// Every instance lives in a record of the transaction pool (TransManager):
// the class operator new takes a zero-filled record (nullptr when the pool is
// exhausted or absent, or the record is too small for the class) and numbers
// it; operator delete gives the record back. Blocks that destroy a
// transaction hand the record back directly, with no destructor. A model
// derives its own class to carry data and names it with
// TModel::SetTransactionClass.
class TTransaction {
public:
  TTransaction();
  virtual ~TTransaction();
  TTransaction(const TTransaction&) = delete;
  TTransaction& operator=(const TTransaction&) = delete;

  // A new instance of the model's transaction class, or nullptr.
  static TTransaction* Create();

  void SetPrty(uint8_t Value) { FPrty = Value; }
  uint8_t GetPrty() const { return FPrty; }
  void SetPreempt() { FPreempt = true; }
  void SetNonPreempt() { FPreempt = false; }
  bool IsPreempt() const { return FPreempt; }
  int32_t GetTransID() const { return FTransID; }

  static void* operator new(std::size_t Size) noexcept;
  static void operator delete(void* Memory) noexcept;

  // The documented fields. The blocks keep them: FNext and FPrev link the
  // transaction into the list of the block it waits in (FBlock), FEnterTime
  // is the time it entered, FActivateTime the time its pending activation
  // (FEvent, or null) falls due.
  int32_t FTransID;
  uint8_t FPrty = 0;
  bool FPreempt = false;
  TTransaction* FNext = nullptr;
  TTransaction* FPrev = nullptr;
  TBlock* FBlock = nullptr;
  double FEnterTime = 0.0;
  double FActivateTime = 0.0;
  TFutureEvent* FEvent = nullptr;

  // Cancels the pending activation, if any, without touching the list order.
  void CancelEvent();
};

} // namespace quorin
