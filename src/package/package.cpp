#include <string>

#include <iterator>

#include "quorin/package.h"

namespace quorin {

namespace {

std::vector<std::string>& Trace() {
  static std::vector<std::string> Units;
  return Units;
}

bool Loaded = false;

// The units have no start-up or shut-down actions of their own: the run's
// memory is made by a model's first Simulate, never by loading. What each
// procedure leaves is the record that it ran.
template <const char* Name> void Start() {
  Trace().push_back(std::string("+") + Name);
}
template <const char* Name> void Stop() {
  Trace().push_back(std::string("-") + Name);
}

constexpr char SysInit[] = "SysInit";
constexpr char Statsim[] = "Statsim";
constexpr char Memoman[] = "Memoman";
constexpr char Current[] = "Current";
constexpr char Future[] = "Future";
constexpr char Blocks[] = "Blocks";
constexpr char Package[] = "Quorin";

// The framework's start-up unit first, then the package's own units in the
// order in which they use one another, then the package unit.
constexpr TUnitInfo Units[] = {
    {SysInit, &Start<SysInit>, &Stop<SysInit>}, {Statsim, &Start<Statsim>, &Stop<Statsim>},
    {Memoman, &Start<Memoman>, &Stop<Memoman>}, {Current, &Start<Current>, &Stop<Current>},
    {Future, &Start<Future>, &Stop<Future>},    {Blocks, &Start<Blocks>, &Stop<Blocks>},
    {Package, &Start<Package>, &Stop<Package>}};

constexpr const char* Contains[] = {"Quorin",  "Memoman", "Blocks", "Future",
                                    "SysInit", "Current", "Statsim"};

constexpr TPackageInfoTable Table = {"Quorin",
                                     "1.1",
                                     "Framework",
                                     Contains,
                                     static_cast<int32_t>(std::size(Contains)),
                                     Units,
                                     static_cast<int32_t>(std::size(Units))};

} // namespace

const TPackageInfoTable& PackageInfoTable() {
  return Table;
}

std::u16string PackageDescription() {
  return u"Quorin 1.1";
}

void PackageLoad() {
  if (Loaded) return;
  Loaded = true;
  for (const TUnitInfo& U : Units)
    U.Initialize();
}

void PackageUnload() {
  if (!Loaded) return;
  Loaded = false;
  for (auto U = std::rbegin(Units); U != std::rend(Units); ++U)
    U->Finalize();
}

bool PackageLoaded() {
  return Loaded;
}

const std::vector<std::string>& PackageTrace() {
  return Trace();
}

} // namespace quorin
