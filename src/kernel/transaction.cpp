#include "quorin/kernel/transaction.h"

#include <cstring>

#include "quorin/kernel/state.h"
#include "transaction_class.h"

namespace quorin {

namespace {
// The number operator new gives the record it hands out; the constructor,
// which runs right after it, copies it into FTransID.
int32_t NewTransID = 0;
// The number of the transaction destroyed last; operator delete, which runs
// right after the destructor, gives it to the record's rebuilt object.
int32_t DestroyedTransID = 0;

TTransaction* ConstructBase(void* Memory) {
  return ::new (Memory) TTransaction;
}
} // namespace

TTransactionClass DefaultTransactionClass() {
  return {sizeof(TTransaction), &ConstructBase};
}
TTransactionClass TransactionClass = DefaultTransactionClass();

TTransaction::TTransaction() : FTransID(NewTransID) {}

TTransaction::~TTransaction() {
  DestroyedTransID = FTransID;
}

void TTransaction::CancelEvent() {
  if (FEvent) {
    FEvent->Aggregate = nullptr;
    FEvent = nullptr;
  }
}

void* TTransaction::operator new(std::size_t Size) noexcept {
  if (!TransManager) return nullptr;
  if (Size > TransManager->ItemSize()) {
    // Building it would overrun the record: refuse before taking one.
    MessageDlg("Quorin Error: Transaction class does not fit the records of the transaction pool");
    return nullptr;
  }
  void* Memory = TransManager->Add();
  if (!Memory) return nullptr;
  std::memset(Memory, 0, TransManager->ItemSize());
  NewTransID = TransManager->TotalItemCount();
  return Memory;
}

void TTransaction::operator delete(void* Memory) noexcept {
  if (!Memory || !TransManager) return;
  // The destructor has run, so the record is no longer an object. A
  // generator may hand a freed record out again without constructing it, so
  // rebuild it here as the model's transaction class, keeping its number.
  std::memset(Memory, 0, TransManager->ItemSize());
  NewTransID = DestroyedTransID;
  if (TransactionClass.Size <= TransManager->ItemSize()) {
    TransactionClass.Construct(Memory);
  } else {
    ConstructBase(Memory);
  }
  TransManager->Delete(Memory);
}

TTransaction* TTransaction::Create() {
  if (!TransManager) return nullptr;
  void* Memory = TTransaction::operator new(TransactionClass.Size);
  if (!Memory) return nullptr;
  try {
    return TransactionClass.Construct(Memory);
  } catch (...) {
    // Every record of the pool holds an object (a freed one may be handed
    // out again without a constructor, and the pool's end destroys them
    // all): the record goes back as a plain transaction.
    std::memset(Memory, 0, TransManager->ItemSize());
    ConstructBase(Memory);
    TransManager->Delete(Memory);
    throw;
  }
}

} // namespace quorin
