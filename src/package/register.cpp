#include "quorin/blocks.h"
#include "quorin/framework.h"
#include "quorin/package.h"
#include "quorin/statsim.h"

namespace quorin {

namespace {

template <class T> TComponent* CreateOf(TComponent* AOwner) {
  return new T(AOwner);
}

template <class T> TComponentClass ClassOf(const char* Name) {
  return {Name, &CreateOf<T>};
}

constexpr const char* Page = "Quorin";

} // namespace

// One call per class, in palette order. The abstract and internal classes
// (aggregate, block, statistics base, list bases, transaction, managers)
// are never registered: they cannot stand on a form by themselves.
void Blocks::Register() {
  RegisterComponents(Page, {ClassOf<TModel>("TModel")});
  RegisterComponents(Page, {ClassOf<TScheduler>("TScheduler")});
  RegisterComponents(Page, {ClassOf<TGenerator>("TGenerator")});
  RegisterComponents(Page, {ClassOf<TQueue>("TQueue")});
  RegisterComponents(Page, {ClassOf<TQueuePrty>("TQueuePrty")});
  RegisterComponents(Page, {ClassOf<TServer>("TServer")});
  RegisterComponents(Page, {ClassOf<TStorage>("TStorage")});
  RegisterComponents(Page, {ClassOf<TStoragePrty>("TStoragePrty")});
  RegisterComponents(Page, {ClassOf<TStack>("TStack")});
  RegisterComponents(Page, {ClassOf<TTerminator>("TTerminator")});
  RegisterComponents(Page, {ClassOf<TDivider>("TDivider")});
  RegisterComponents(Page, {ClassOf<TAssembler>("TAssembler")});
  RegisterComponents(Page, {ClassOf<TCreator>("TCreator")});
  RegisterComponents(Page, {ClassOf<TGate>("TGate")});
}

void Statsim::Register() {
  RegisterComponents(Page, {ClassOf<TMultiRand>("TMultiRand")});
  RegisterComponents(Page, {ClassOf<TTabulator>("TTabulator")});
}

} // namespace quorin
