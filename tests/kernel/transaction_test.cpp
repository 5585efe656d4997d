#include <gtest/gtest.h>

#include "test_blocks.h"
#include "quorin/detail/memoman.h"

using namespace quorin;
using test::TApplication;
using test::TBuffer;
using test::TSink;
using test::TSource;

namespace {

struct TCustomer : TTransaction {
  double Budget = 0;
  int32_t Visits = 0;
  char Notes[200] = {};
};

// A source that makes one transaction per time unit, and a handler chosen
// by each test that decides where it goes.
struct TLine : TApplication {
  TSource* Source = Add<TSource>();
  TBuffer* Hold = Add<TBuffer>();
  TSink* Sink = Add<TSink>();
  explicit TLine(int Count) {
    Source->OnFirstInit = [this, Count] {
      for (int i = 1; i <= Count; ++i)
        Source->NextTime(i);
    };
  }
};

TEST(Transaction, FirstOfARunIsNumberOneWithDefaults) {
  TLine M(1);
  TTransaction* Seen = nullptr;
  M.Source->OnRouting = [&](TBlock* Sender, TTransaction* T) {
    Seen = T;
    Sender->PassTo(M.Hold);
  };
  M.Model->Simulate(10);
  ASSERT_NE(Seen, nullptr);
  EXPECT_EQ(Seen->GetTransID(), 1);
  EXPECT_EQ(Seen->GetPrty(), 0);
  EXPECT_FALSE(Seen->IsPreempt());
  EXPECT_EQ(dynamic_cast<TCustomer*>(Seen), nullptr);
}

// A reused record is a new transaction: its own serial number and times,
// the record's number and the class's fields as the last holder left them.
TEST(Transaction, ReusedRecordKeepsNumberAndFieldsButNotPriority) {
  TLine M(2);
  M.Model->SetTransactionClass<TCustomer>();
  std::vector<TTransaction*> Made;
  TCustomer Seen; // what the second transaction looked like on arrival
  M.Source->OnRouting = [&](TBlock* Sender, TTransaction* T) {
    Made.push_back(T);
    auto* C = dynamic_cast<TCustomer*>(T);
    ASSERT_NE(C, nullptr);
    if (Made.size() == 1) {
      C->Budget = 42;
      C->SetPrty(9);
      C->SetPreempt();
      C->FEnterTime = 5;
    } else {
      Seen.Budget = C->Budget;
      Seen.FEnterTime = C->FEnterTime;
      Seen.FMadeTime = C->FMadeTime;
      Seen.FSerial = C->FSerial;
      Seen.FPrty = C->GetPrty();
      Seen.FPreempt = C->IsPreempt();
    }
    Sender->PassTo(M.Sink); // destroyed at once: the next one reuses the record
  };
  M.Model->Simulate(10);
  ASSERT_EQ(Made.size(), 2u);
  EXPECT_EQ(Made[0], Made[1]);
  EXPECT_EQ(M.Sink->Ids, (std::vector<int32_t>{1, 1}));
  EXPECT_EQ(Seen.Budget, 42);
  EXPECT_EQ(Seen.FEnterTime, 2); // made at 2, the second arrival
  EXPECT_EQ(Seen.FMadeTime, 2);
  EXPECT_EQ(Seen.FSerial, 2u);
  EXPECT_EQ(Seen.FPrty, 0);
  EXPECT_FALSE(Seen.FPreempt);
  EXPECT_EQ(M.Model->TransactionCount(), 1);
}

TEST(Transaction, CountIsTheMostAliveAtOnce) {
  TLine M(12);
  M.Source->OnRouting = [&](TBlock* Sender, TTransaction*) { Sender->PassTo(M.Hold); };
  M.Hold->OnRouting = [&](TBlock* Sender, TTransaction*) {
    if (M.Hold->Held.size() == 5) Sender->PassTo(M.Sink); // at most five alive
  };
  M.Model->Simulate(100);
  EXPECT_EQ(M.Sink->Entries(), 8);
  EXPECT_EQ(M.Model->TransactionCount(), 5);
  EXPECT_EQ(M.Sink->Ids, (std::vector<int32_t>{1, 2, 3, 4, 5, 1, 2, 3}));
}

TEST(Transaction, ConstructionOutsideARunYieldsNull) {
  TApplication M;
  EXPECT_EQ(TTransaction::Create(), nullptr);
  EXPECT_EQ(new TTransaction, nullptr);
  EXPECT_EQ(M.Model->TransactionCount(), 0);
}

TEST(Transaction, ClassTooLargeForThePoolIsNeverBuiltInIt) {
  TLine M(1);
  M.Source->OnRouting = [&](TBlock* Sender, TTransaction*) { Sender->PassTo(M.Hold); };
  M.Model->Simulate(-1); // the pool exists now, sized for TTransaction
  M.Model->SetTransactionClass<TCustomer>();
  EXPECT_EQ(
      M.Capture.Messages,
      std::vector<std::string>{
          "Quorin Error: Transaction class does not fit the records of the transaction pool"});
  EXPECT_EQ(new TCustomer, nullptr); // refused before a record is taken
  EXPECT_EQ(TransManager->TotalItemCount(), 0);
  M.Model->Simulate(10);
  ASSERT_EQ(M.Hold->Held.size(), 1u);
  EXPECT_EQ(dynamic_cast<TCustomer*>(M.Hold->Held[0]), nullptr);

  // After Reset the class is free to change and takes effect.
  M.Model->Reset();
  M.Model->SetTransactionClass<TCustomer>();
  M.Model->Simulate(10);
  ASSERT_EQ(M.Hold->Held.size(), 1u);
  EXPECT_NE(dynamic_cast<TCustomer*>(M.Hold->Held[0]), nullptr);
}

TEST(Transaction, RecordFreedByDeleteIsReusedAsALiveObject) {
  TLine M(2);
  M.Model->SetTransactionClass<TCustomer>();
  std::vector<TTransaction*> Made;
  M.Source->OnRouting = [&](TBlock* Sender, TTransaction* T) {
    Made.push_back(T);
    static_cast<TCustomer*>(T)->Visits = 3;
    Sender->PassTo(M.Hold);
    if (Made.size() == 1) {
      // The application takes it back out and frees it itself.
      M.Hold->Held.clear();
      M.Hold->FHasTransaction = false;
      delete T;
    }
  };
  M.Model->Simulate(10);
  ASSERT_EQ(Made.size(), 2u);
  EXPECT_EQ(Made[0], Made[1]);
  auto* C = dynamic_cast<TCustomer*>(Made[1]);
  ASSERT_NE(C, nullptr); // a live object of the model's class, not a destroyed one
  EXPECT_EQ(C->GetTransID(), 1);
}

TEST(Transaction, ApplicationConstructionWhileARecordWaitsTakesTheCurrentCount) {
  TLine M(3);
  std::vector<int32_t> Ids;
  M.Source->OnRouting = [&](TBlock* Sender, TTransaction*) {
    Sender->PassTo(M.Hold);
    if (M.Hold->Held.size() == 2 && Ids.empty()) {
      TTransaction* First = M.Hold->Held.front();
      M.Hold->Held.pop_front();
      TransManager->Delete(First); // a block destroying number 1
      TTransaction* Copy = TTransaction::Create();
      Ids.push_back(Copy->GetTransID()); // reuses record 1 but is numbered 2
      delete Copy;
    }
  };
  M.Model->Simulate(10);
  EXPECT_EQ(Ids, std::vector<int32_t>{2});
}

} // namespace
