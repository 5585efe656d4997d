// Shared scaffolding of the block tests: an application component owning a
// form, with a model and the blocks owned by the form (the arrangement the
// model's scan finds), a message capture, and a log of block events.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "message_capture.h"
#include "quorin/blocks.h"

namespace quorin::test {

using TMessageGuard = TMessageCapture;

// (model time, block name, transaction number, what happened)
using TLogEntry = std::tuple<double, std::string, int32_t, std::string>;
using TLog = std::vector<TLogEntry>;

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

  TMessageGuard Guard;
  TComponent App;
  TComponent* Form = new TComponent(&App);
  TModel* Model = Make<TModel>("Model");
  TLog Log;
};

} // namespace quorin::test
