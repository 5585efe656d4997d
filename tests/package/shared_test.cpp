// Loads the shared library as a loader does, with dlopen, and runs its entry
// points. The test is not linked with the library: everything it calls comes
// through dlsym.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <string>
#include <vector>

#include "quorin/package.h"

namespace {

template <class F> F Entry(void* Library, const char* Name) {
  void* Address = dlsym(Library, Name);
  EXPECT_NE(Address, nullptr) << Name;
  return reinterpret_cast<F>(Address);
}

TEST(SharedLibrary, LoadAndUnloadRunTheUnitsInOrderAndMakeNoSimulationMemory) {
  void* Library = dlopen(QUORIN_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(Library, nullptr) << dlerror();
  const auto Table =
      Entry<const quorin::TPackageInfoTable* (*)()>(Library, "QuorinGetPackageInfoTable");
  const auto Initialize = Entry<void (*)()>(Library, "QuorinInitialize");
  const auto Finalize = Entry<void (*)()>(Library, "QuorinFinalize");
  const auto Memory = Entry<int (*)()>(Library, "QuorinSimulationMemory");
  const auto TraceCount = Entry<int (*)()>(Library, "QuorinTraceCount");
  const auto TraceEntry = Entry<const char* (*)(int)>(Library, "QuorinTraceEntry");
  ASSERT_TRUE(Table && Initialize && Finalize && Memory && TraceCount && TraceEntry);
  auto Trace = [&] {
    std::vector<std::string> T;
    for (int i = 0; i < TraceCount(); ++i)
      T.push_back(TraceEntry(i));
    return T;
  };

  const quorin::TPackageInfoTable* Info = Table();
  EXPECT_STREQ(Info->Name, "Quorin");
  EXPECT_STREQ(Info->Version, "1.1");
  EXPECT_STREQ(Info->Requires, "Framework");
  std::vector<std::string> Units;
  for (int i = 0; i < Info->UnitCount; ++i)
    Units.push_back(Info->Units[i].Name);
  EXPECT_EQ(Units, (std::vector<std::string>{"SysInit", "Statsim", "Memoman", "Current", "Future",
                                             "Blocks", "Quorin"}));
  EXPECT_EQ(Info->ContainsCount, 7);

  EXPECT_EQ(Memory(), 0);
  Initialize();
  Initialize(); // a second load of a loaded package does nothing
  EXPECT_EQ(Memory(), 0);
  Finalize();
  Finalize();
  EXPECT_EQ(Memory(), 0);
  EXPECT_EQ(Trace(),
            (std::vector<std::string>{"+SysInit", "+Statsim", "+Memoman", "+Current", "+Future",
                                      "+Blocks", "+Quorin", "-Quorin", "-Blocks", "-Future",
                                      "-Current", "-Memoman", "-Statsim", "-SysInit"}));
  EXPECT_EQ(dlclose(Library), 0);
}

} // namespace
