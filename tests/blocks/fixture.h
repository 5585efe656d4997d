// Shared scaffolding of the block tests: an application component owning a
// form, with a model and the blocks owned by the form (the arrangement the
// model's scan finds), a message capture, and a log of block events.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "message_capture.h"
#include "quorin/blocks.h"
#include "quorin/detail/future.h"

namespace quorin::test {

using TMessageGuard = TMessageCapture;

// (model time, block name, transaction number, what happened)
using TLogEntry = std::tuple<double, std::string, int32_t, std::string>;
using TLog = std::vector<TLogEntry>;

namespace {
// Cases of a table are shown in test listings by their Name instead of as
// raw bytes (found by argument-dependent lookup: the suites' cases live in
// this same unnamed namespace).
template <class TCase>
  requires requires(const TCase& Case) { Case.Name; }
void PrintTo(const TCase& Case, std::ostream* Out) {
  *Out << Case.Name;
}
} // namespace

class BlockTest : public ::testing::Test {
protected:
  // No test expects a message unless it clears the ones it expected.
  void TearDown() override {
    for (const std::string& Text : Guard.Messages)
      ADD_FAILURE() << "message: " << Text;
  }

  // A component of class T owned by the form, named Name.
  template <class T> T* Make(const std::string& Name) {
    auto* B = new T(Form);
    B->SetName(Name);
    return B;
  }

  // Appends one entry for Sender and Trans at the present model time.
  void Note(TBlock* Sender, TTransaction* Trans, const std::string& What) {
    Log.emplace_back(FSysTime, Sender->Name(), Trans ? Trans->GetTransID() : 0, What);
  }
  // A block event handler that only notes What.
  std::function<void(TBlock*, TTransaction*)> Noting(const std::string& What) {
    return [this, What](TBlock* Sender, TTransaction* Trans) { Note(Sender, Trans, What); };
  }

  // A scheduler that calls Action once at each of the given model times.
  TScheduler* At(std::vector<double> Times, std::function<void()> Action) {
    auto* S = Make<TScheduler>("Sched" + std::to_string(Form->ComponentCount()));
    S->OnBeforeTimeGoOn = [Times](TAggregate* Self) {
      for (double T : Times)
        Self->NextTime(T);
    };
    S->OnPlanned = [Action](TAggregate*) { Action(); };
    return S;
  }

  // Gen makes a transaction at each of Times, as they stand when the run
  // starts.
  void ArriveAt(TGenerator* Gen, const std::vector<double>& Times) {
    Gen->OnBeforeTimeGoOn = [Gen, &Times](TAggregate*) {
      for (double T : Times)
        Gen->NextTime(T);
    };
  }

  // Gen makes a transaction at each time of Arrivals (sorted by time), gives
  // it the arrival's Prty and Preempt mark, hands it with its arrival to
  // Then (if given) and passes it into Into; one that Into refuses is noted
  // and passed to Term. Made counts the arrivals made so far.
  template <class TArrival>
  void Feed(TGenerator* Gen, const std::vector<TArrival>& Arrivals, size_t& Made, TBlock* Into,
            TBlock* Term, std::function<void(TTransaction*, const TArrival&)> Then = nullptr) {
    Gen->OnBeforeTimeGoOn = [Gen, &Arrivals](TAggregate*) {
      for (const TArrival& A : Arrivals)
        Gen->NextTime(A.Time);
    };
    Gen->OnAfterGeneration = [&Arrivals, &Made, Then](TBlock*, TTransaction* T) {
      const TArrival& A = Arrivals[Made++];
      T->SetPrty(A.Prty);
      if (A.Preempt) T->SetPreempt();
      if (Then) Then(T, A);
    };
    Gen->OnRouting = [this, Into, Term](TBlock* Sender, TTransaction* T) {
      if (!Sender->PassTo(Into)) {
        Note(Into, T, "refused");
        Sender->PassTo(Term);
      }
    };
  }

  TMessageGuard Guard;
  TComponent App;
  TComponent* Form = new TComponent(&App);
  TModel* Model = Make<TModel>("Model");
  TLog Log;
};

} // namespace quorin::test
