#include "quorin/blocks/waiting.h"
#include "quorin/blocks/prtyqueue.h"
#include "quorin/blocks/queue.h"

#include <type_traits>

namespace quorin {

// Whether TLine keeps priority classes, each with statistics of its own.
template <class TLine> constexpr bool HasClasses = std::is_same_v<TLine, TQueuePrtyCustom>;

template <class TLine> void TWaitingLine<TLine>::Activate(TTransaction* Trans) {
  if (!Trans || Trans->FBlock != this) return;
  if constexpr (HasClasses<TLine>) {
    if (!this->FindQue(Trans)) return;
    this->ClassTimeLimit(Trans);
  }
  ++this->FTimeLimitExits;
  // Either way the line has room now and may offer another transaction.
  detail::TryFinally([this, Trans] { this->RouteThrough(OnTimeFinish, Trans, false); },
                     [this, Trans] {
                       if (!this->FPassed) {
                         this->DelTrans(Trans);
                         if constexpr (HasClasses<TLine>) this->ClassDrop(Trans);
                         this->DestroyTransaction(Trans);
                       }
                       OfferHead();
                       this->WakeWaiters();
                     });
}

template <class TLine> void TWaitingLine<TLine>::ExitFromBlock() {
  TTransaction* T = this->FTransaction;
  // It no longer waits: its time limit must not fire.
  this->CountExit(this->OnExit, T);
  this->DelTrans(T);
  OfferHead();
}

template class TWaitingLine<TQueueCustom>;
template class TWaitingLine<TQueuePrtyCustom>;

} // namespace quorin
