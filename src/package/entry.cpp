// The entry points of the shared library, under C names so that a loader
// finds them with dlsym: the package information table, the start-up and
// shut-down of the units, and what a test of loading needs to look at.
#include "quorin/blocks.h"
#include "quorin/detail/current.h"
#include "quorin/detail/future.h"
#include "quorin/detail/prtyqueue.h"
#include "quorin/package.h"

extern "C" {

const quorin::TPackageInfoTable* QuorinGetPackageInfoTable() {
  return &quorin::PackageInfoTable();
}

void QuorinInitialize() {
  quorin::PackageLoad();
}

void QuorinFinalize() {
  quorin::PackageUnload();
}

// The number of trace entries, and entry Index as text (nullptr outside).
int QuorinTraceCount() {
  return static_cast<int>(quorin::PackageTrace().size());
}
const char* QuorinTraceEntry(int Index) {
  const auto& T = quorin::PackageTrace();
  return Index >= 0 && Index < static_cast<int>(T.size()) ? T[Index].c_str() : nullptr;
}

// How many pieces of simulation memory exist: the private heap, the four
// managers and the allocator's pages. 0 while no model has run.
int QuorinSimulationMemory() {
  using namespace quorin;
  return (GlobalHeap != nullptr) + (FutureManager != nullptr) + (CurrentManager != nullptr) +
         (TransManager != nullptr) + (QueHeadsManager != nullptr) + static_cast<int>(CountPages);
}
}
