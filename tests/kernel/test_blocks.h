// Minimal blocks that drive the kernel in its tests, and a small application.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "message_capture.h"
#include "quorin/blocks.h"

namespace quorin::test {

// Makes one transaction at each activation and offers it.
class TSource : public TBlock {
public:
  explicit TSource(TComponent* Owner) : TBlock(Owner) {}
  void Activate(TTransaction*) override {
    if (TTransaction* T = MakeTransaction()) Offer(T);
  }
  void ExitFromBlock() override {
    FHasTransaction = false;
    FTransaction = nullptr;
    ++FExits;
  }
  std::function<void()> OnFirstInit;
  void FirstInit() override {
    if (OnFirstInit) OnFirstInit();
  }
};

// Holds up to Capacity transactions (0: no limit) and offers the oldest.
class TBuffer : public TBlock {
public:
  explicit TBuffer(TComponent* Owner, std::size_t Capacity = 0)
      : TBlock(Owner), FCapacity(Capacity) {
    FReadyToReceive = true;
  }
  bool IsReadyToReceive(TTransaction*) override {
    return FCapacity == 0 || Held.size() < FCapacity;
  }
  void EnterToBlock(TTransaction* Trans) override {
    TBlock::EnterToBlock(Trans);
    ++FEntries;
    ++FCount;
    Held.push_back(Trans);
    if (!FHasTransaction) Offer(Trans);
  }
  void ExitFromBlock() override {
    Held.pop_front();
    --FCount;
    ++FExits;
    if (Held.empty()) {
      FHasTransaction = false;
      FTransaction = nullptr;
    } else {
      FTransaction = Held.front();
    }
  }
  void Reset() override {
    TBlock::Reset();
    Held.clear();
    FHasTransaction = false;
    FReadyToReceive = true;
  }
  std::deque<TTransaction*> Held;

private:
  std::size_t FCapacity;
};

// Destroys whatever enters.
class TSink : public TBlock {
public:
  explicit TSink(TComponent* Owner) : TBlock(Owner) { FReadyToReceive = true; }
  void EnterToBlock(TTransaction* Trans) override {
    TBlock::EnterToBlock(Trans);
    ++FEntries;
    Ids.push_back(Trans->GetTransID());
    DestroyTransaction(Trans);
  }
  std::vector<int32_t> Ids;
};

// An application object, one form, and a model on it.
struct TApplication {
  TComponent App{nullptr};
  TComponent* Form = new TComponent(&App);
  TModel* Model = new TModel(Form);
  TMessageCapture Capture;
  template <class T, class... A> T* Add(A&&... Args) {
    return new T(Form, std::forward<A>(Args)...);
  }
};

} // namespace quorin::test
