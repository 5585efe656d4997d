#include "classes/describe.h"
#include "quorin/package.h"

namespace quorin {

namespace {

constexpr const char* Page = "Quorin";

void Put(const TClassInfo& Info) {
  RegisterComponents(Page, {{Info.Name, Info.Create}});
}

bool IsStatsim(const TClassInfo* C) {
  return C == &classes::MultiRandClass() || C == &classes::TabulatorClass();
}

} // namespace

// The library's classes in palette order. Those without a factory describe
// only what their descendants inherit (component, block, statistics base):
// they cannot stand on a form by themselves and are never registered.
void Blocks::Register() {
  for (const TClassInfo* C : classes::LibraryClasses())
    if (C->Create && !IsStatsim(C)) Put(*C);
}

void Statsim::Register() {
  Put(classes::MultiRandClass());
  Put(classes::TabulatorClass());
}

} // namespace quorin
