#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <typeinfo>
#include <vector>

#include "quorin/quorin.h"

using namespace quorin;

namespace {

std::vector<std::string> NamesOn(const std::string& Page) {
  std::vector<std::string> Names;
  for (const TComponentClass& C : PaletteClasses(Page))
    Names.push_back(C.ClassName);
  return Names;
}

// Fourteen from Blocks::Register, then two from Statsim::Register.
const std::vector<std::string> QuorinPage = {
    "TModel",   "TScheduler",   "TGenerator", "TQueue",      "TQueuePrty", "TServer",
    "TStorage", "TStoragePrty", "TStack",     "TTerminator", "TDivider",   "TAssembler",
    "TCreator", "TGate",        "TMultiRand", "TTabulator"};

TEST(Palette, BothRegistrationsFillPageQuorinInOrderOnce) {
  Blocks::Register();
  Statsim::Register();
  Blocks::Register(); // again: nothing changes
  Statsim::Register();
  const auto Pages = PalettePages();
  EXPECT_EQ(std::count(Pages.begin(), Pages.end(), "Quorin"), 1);
  EXPECT_EQ(NamesOn("Quorin"), QuorinPage);
}

TEST(Palette, EachFactoryMakesItsClassOwnedByTheOwner) {
  Blocks::Register();
  Statsim::Register();
  TComponent Form(nullptr);
  for (const TComponentClass& C : PaletteClasses("Quorin")) {
    TComponent* Made = C.Create(&Form);
    ASSERT_NE(Made, nullptr) << C.ClassName;
    EXPECT_EQ(Made->Owner(), &Form) << C.ClassName;
    EXPECT_EQ(Form.Components(Form.ComponentCount() - 1), Made) << C.ClassName;
    const std::string Demangled = typeid(*Made).name();
    EXPECT_NE(Demangled.find(C.ClassName.substr(1)), std::string::npos) << C.ClassName;
  }
}

TEST(Palette, PagesAndClassesKeepRegistrationOrder) {
  Blocks::Register();
  auto MakeGate = [](TComponent* Owner) -> TComponent* { return new TGate(Owner); };
  RegisterComponents("Second page", {{"B", MakeGate}, {"A", MakeGate}, {"B", MakeGate}});
  RegisterComponents("Second page", {{"C", MakeGate}, {"Null", nullptr}});
  EXPECT_EQ(NamesOn("Second page"), (std::vector<std::string>{"B", "A", "C"}));
  EXPECT_TRUE(PaletteClasses("No such page").empty());
  const auto Pages = PalettePages();
  EXPECT_LT(std::find(Pages.begin(), Pages.end(), "Quorin") - Pages.begin(),
            std::find(Pages.begin(), Pages.end(), "Second page") - Pages.begin());
}

} // namespace

namespace {

TEST(PaletteImages, OneDistinctImagePerClassNamedInCapitals) {
  Blocks::Register();
  Statsim::Register();
  const auto Names = PaletteBitmapNames();
  EXPECT_EQ(Names.size(), 16u);
  for (const TComponentClass& C : PaletteClasses("Quorin")) {
    std::string Upper = C.ClassName;
    for (char& Ch : Upper)
      Ch = static_cast<char>(std::toupper(static_cast<unsigned char>(Ch)));
    EXPECT_NE(std::find(Names.begin(), Names.end(), Upper), Names.end()) << Upper;
  }
  std::vector<std::vector<uint8_t>> Seen;
  for (const std::string& Name : Names) {
    TPaletteBitmap B;
    ASSERT_TRUE(PaletteBitmap(Name, B)) << Name;
    std::vector<uint8_t> Pixels;
    int Drawn = 0;
    const uint8_t Background = B.Pixels[TPaletteBitmap::Size - 1][0];
    for (const auto& Row : B.Pixels)
      for (uint8_t P : Row) {
        EXPECT_LT(P, 16) << Name;
        Drawn += P != Background;
        Pixels.push_back(P);
      }
    EXPECT_EQ(Background, 7) << Name; // silver, the transparent colour
    EXPECT_GT(Drawn, 40) << Name;
    EXPECT_EQ(std::count(Seen.begin(), Seen.end(), Pixels), 0) << Name << " repeats an image";
    Seen.push_back(Pixels);
  }
  TPaletteBitmap B;
  EXPECT_FALSE(PaletteBitmap("TBLOCK", B));
}

} // namespace
