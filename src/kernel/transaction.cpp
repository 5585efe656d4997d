#include "quorin/kernel/transaction.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "quorin/detail/future.h"
#include "quorin/detail/run.h"
#include "quorin/kernel/block.h"
#include "transaction_class.h"

namespace quorin {

// The marks live in what would otherwise be padding; the time a transaction
// was made and its serial number take 16 bytes more than the 64 the
// documented fields need.
static_assert(sizeof(void*) != 8 || sizeof(TTransaction) == 80, "TTransaction grew");

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

// The families of split transactions, by transaction number. A record keeps
// its number for its whole life in the pool, and the family mark of a
// transaction (cleared whenever a record gets a new transaction) says
// whether its entry is its own. The table grows only when a divider marks a
// record numbered beyond it, so at most once per record the pool carves.
namespace {
std::vector<int32_t> Families;

void AssignBase(TTransaction*, const TTransaction&) {}
} // namespace

// The base keeps no fields a copy could take.
TTransactionClass DefaultTransactionClass() {
  return {sizeof(TTransaction), &ConstructBase, &AssignBase, &typeid(TTransaction)};
}

void ForgetFamilies() {
  Families.clear();
  Families.shrink_to_fit();
}

int32_t TTransaction::Family() const {
  if (!(FMarks & MarkFamily) || FTransID < 0 || std::size_t(FTransID) >= Families.size()) return 0;
  return Families[std::size_t(FTransID)];
}

void TBlock::SetFamily(TTransaction* Trans, int32_t Family) {
  if (Trans->FTransID < 0) return;
  const auto Index = std::size_t(Trans->FTransID);
  if (Index >= Families.size()) Families.resize(std::max(Index + 1, Families.size() * 2));
  Families[Index] = Family;
  Trans->FMarks |= TTransaction::MarkFamily;
}

void TBlock::CopyFields(TTransaction* Copy, const TTransaction& Original) {
  const TTransactionClass& Class = TransactionClass;
  if (!Class.Assign || !Class.Type || typeid(*Copy) != *Class.Type ||
      typeid(Original) != *Class.Type)
    return;
  Class.Assign(Copy, Original);
}

TTransactionClass TransactionClass = DefaultTransactionClass();

TTransaction::TTransaction() : FTransID(NewTransID) {}

TTransaction::~TTransaction() {
  DestroyedTransID = FTransID;
}

double TTransaction::Age() const {
  return FSysTime - FMadeTime;
}

double TTransaction::TimeInBlock() const {
  return FSysTime - FEnterTime;
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
