// The moving entity of a model: a transaction, with its priority, preempt
// mark, numbers and times.
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

  // A new instance of the model's transaction class, or nullptr.
  static TTransaction* Create();

  void SetPrty(uint8_t Value) { FPrty = Value; }
  uint8_t GetPrty() const { return FPrty; }
  void SetPreempt() { FPreempt = true; }
  void SetNonPreempt() { FPreempt = false; }
  bool IsPreempt() const { return FPreempt; }
  // The number of its record in the transaction pool: a record freed by one
  // transaction is handed to a later one with the same number.
  int32_t GetTransID() const { return FTransID; }
  // Its serial number in the run: 1 for the first transaction made, and
  // never given to another transaction of the same run.
  uint64_t Serial() const { return FSerial; }
  // The model time it was made (a divider's copies: their original's), and
  // the time it entered the block it is in (while a generator or creator
  // offers it: the time it was made).
  double MadeTime() const { return FMadeTime; }
  double EnterTime() const { return FEnterTime; }
  // Model time now less MadeTime (its time in the system so far), and less
  // EnterTime (its time in the present block so far).
  double Age() const;
  double TimeInBlock() const;
  // The family a divider gave it: the number of the original it was split
  // from (the original's own number for the original itself), or 0 when it
  // was never split. A later split gives the parts a new family.
  int32_t Family() const;
  // The holding time it had left when a priority storage pushed it out,
  // kept until its next activation is ordered: a storage it re-enters can
  // hold it for exactly that remainder. -1 when there is none.
  bool HasRemaining() const { return (FMarks & MarkRemaining) != 0; }
  double Remaining() const { return HasRemaining() ? FActivateTime : -1.0; }

  static void* operator new(std::size_t Size) noexcept;
  static void operator delete(void* Memory) noexcept;

  // The documented fields. The blocks keep them: FNext and FPrev link the
  // transaction into the list of the block it waits in (FBlock), FEnterTime
  // is the time it entered, FActivateTime the time its pending activation
  // (FEvent, or null) falls due.
  int32_t FTransID;
  uint8_t FPrty = 0;
  bool FPreempt = false;
  // Two bytes that would otherwise be padding, so that records keep their
  // size: the priority class a priority block filed it under (its per-class
  // statistics find the class of a finished transaction by it), and marks.
  uint8_t FClassPrty = 0;
  uint8_t FMarks = 0;
  enum : uint8_t {
    MarkFamily = 1,    // Family() is kept for it
    MarkRemaining = 2, // FActivateTime holds its remaining holding time
  };
  TTransaction* FNext = nullptr;
  TTransaction* FPrev = nullptr;
  TBlock* FBlock = nullptr;
  double FEnterTime = 0.0;
  double FActivateTime = 0.0;
  TFutureEvent* FEvent = nullptr;
  // Stamped when it is made (see MadeTime, Serial).
  double FMadeTime = 0.0;
  uint64_t FSerial = 0;

  // Cancels the pending activation, if any, without touching the list order.
  void CancelEvent();

protected:
  // Copies nothing of the base: the implicit copy assignment of a
  // transaction class then copies exactly the class's own fields, which is
  // how a divider's copies take the original's fields. Number, priority,
  // links, block, times and pending event stay the copy's own.
  TTransaction& operator=(const TTransaction&) { return *this; }
};

} // namespace quorin
