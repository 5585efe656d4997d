#include <algorithm>
#include <cctype>
#include <cstring>

#include "quorin/classinfo.h"
#include "quorin/package.h"

namespace quorin {

namespace {

// The standard 16 colours, 0xRRGGBB, indexed by the digits of the images.
// Index 7 (silver) is the background, as the bottom-left pixel of each
// image shows.
constexpr uint32_t Colours[16] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                                  0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
                                  0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

std::string Upper(std::string Name) {
  for (char& Ch : Name)
    Ch = static_cast<char>(std::toupper(static_cast<unsigned char>(Ch)));
  return Name;
}

} // namespace

// The images are those of the described classes (each class's description
// holds its own), named by class in capitals.
std::vector<std::string> PaletteBitmapNames() {
  std::vector<std::string> Names;
  for (const TClassInfo* C : Classes())
    if (C->Image) Names.push_back(Upper(C->Name));
  std::sort(Names.begin(), Names.end());
  return Names;
}

bool PaletteBitmap(const std::string& Name, TPaletteBitmap& Bitmap) {
  for (const TClassInfo* C : Classes()) {
    if (!C->Image || Name != Upper(C->Name)) continue;
    for (int y = 0; y < TPaletteBitmap::Size; ++y)
      for (int x = 0; x < TPaletteBitmap::Size; ++x) {
        const char Digit = C->Image[y][x];
        Bitmap.Pixels[y][x] = static_cast<uint8_t>(Digit <= '9' ? Digit - '0' : Digit - 'A' + 10);
      }
    std::memcpy(Bitmap.Colours, Colours, sizeof Colours);
    return true;
  }
  return false;
}

} // namespace quorin
