// The class of the pooled transactions, shared by the model and TTransaction.
#pragma once

#include "quorin/kernel/model.h"

namespace quorin {

extern TTransactionClass TransactionClass;
TTransactionClass DefaultTransactionClass();
// Drops the families of the run's transactions (the model's reset).
void ForgetFamilies();

} // namespace quorin
