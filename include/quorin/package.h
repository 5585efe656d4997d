// The package: registration of the components on the palette page "Quorin",
// the palette images, and the description and information of the package.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorin {

namespace Blocks {
// Puts the model, the scheduler and the blocks on page "Quorin".
void Register();
} // namespace Blocks

namespace Statsim {
// Puts TMultiRand, then TTabulator, on page "Quorin".
void Register();
} // namespace Statsim

// A palette image: 24 x 24 pixels, each an index into 16 colours (0xRRGGBB).
struct TPaletteBitmap {
  static constexpr int Size = 24;
  uint32_t Colours[16];
  uint8_t Pixels[Size][Size]; // [row][column], top row first
};

// The package information: its name and version, the framework it needs,
// the units it contains, and one start-up and shut-down per unit in the
// order of initialisation (finalisation runs in reverse).
struct TUnitInfo {
  const char* Name;
  void (*Initialize)();
  void (*Finalize)();
};
struct TPackageInfoTable {
  const char* Name;
  const char* Version;
  const char* Requires;
  const char* const* Contains;
  int32_t ContainsCount;
  const TUnitInfo* Units;
  int32_t UnitCount;
};
const TPackageInfoTable& PackageInfoTable();
// The description shown for the package: its name and version, UTF-16.
std::u16string PackageDescription();
// Runs every unit's start-up in table order, once; PackageUnload runs the
// shut-downs in reverse. Neither creates nor frees any simulation memory.
void PackageLoad();
void PackageUnload();
bool PackageLoaded();
// The units started and stopped so far, in order ("+Statsim", "-Statsim").
const std::vector<std::string>& PackageTrace();

// The names of the images, one per registered class in capitals (TQUEUE, ...).
std::vector<std::string> PaletteBitmapNames();
// Fills Bitmap with the image of that name; false for an unknown name.
bool PaletteBitmap(const std::string& Name, TPaletteBitmap& Bitmap);

} // namespace quorin
