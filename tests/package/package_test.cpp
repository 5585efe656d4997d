#include <gtest/gtest.h>

#include <algorithm>
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

// The block classes still to come (priority queue and storage, divider,
// assembler, creator) take their places in this list when they land.
const std::vector<std::string> QuorinPage = {"TModel",  "TScheduler", "TGenerator", "TQueue",
                                             "TServer", "TStorage",   "TStack",     "TTerminator",
                                             "TGate",   "TMultiRand", "TTabulator"};

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
  // Abstract and internal classes are not on the palette.
  for (const char* Hidden : {"TAggregate", "TBlock", "TProQueue", "TQueueCustom", "TTransaction"})
    EXPECT_EQ(std::count(QuorinPage.begin(), QuorinPage.end(), Hidden), 0) << Hidden;
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
