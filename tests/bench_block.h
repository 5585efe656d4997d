// TBench: a holding block of the tests' own, derived from TProQueue (through
// TQueueCustom) but from none of the library's holding classes, and its
// description. It shows that a new class takes part through its description
// alone: model files, the model check, the fuzzer and the report.
#pragma once

#include "quorin/blocks.h"
#include "quorin/classinfo.h"

namespace quorin {

// Holds each entering transaction until the end its OnEnter orders, up to
// Capacity at once, like a storage.
class TBench : public TStorageCustom<TQueueCustom> {
public:
  explicit TBench(TComponent* AOwner) : TStorageCustom(AOwner) {
    FReadyToReceive = true;
    FHasTransaction = false;
  }

  void EnterToBlock(TTransaction* Trans) override {
    TBlock::EnterToBlock(Trans);
    FTransaction = Trans;
    EnterStat(Trans);
    FireThen(OnEnter, Trans, [this, Trans] {
      FTransaction = FFirstFinished;
      AddTrans(Trans);
    });
  }
};

// Described as a storage is, with its own name and traits: it holds for a
// time and follows no schedule.
inline const TClassInfo& BenchClass() {
  static const TClassInfo Info = [] {
    TClassInfo C = *FindClassInfo("TStorage");
    C.Name = "TBench";
    C.Create = [](TComponent* Owner) -> TComponent* { return new TBench(Owner); };
    C.Is = [](const TComponent& X) { return dynamic_cast<const TBench*>(&X) != nullptr; };
    C.Base = FindClassInfo("TProQueue");
    C.Traits = TClassTraits{.HoldsForTime = true};
    C.Summary = "a storage of the tests' own";
    return C;
  }();
  return Info;
}

// Puts TBench on the palette page "Tests" (once).
inline void RegisterBenchClass() {
  RegisterClassInfo("Tests", BenchClass());
}

} // namespace quorin
