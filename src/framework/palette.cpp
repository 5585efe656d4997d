#include <utility>

#include "quorin/framework.h"

namespace quorin {

namespace {

struct TPage {
  std::string Name;
  std::vector<TComponentClass> Classes;
};

// Function-local, so that registration from any other function works
// whatever the order of static initialisation.
std::vector<TPage>& Pages() {
  static std::vector<TPage> Registered;
  return Registered;
}

} // namespace

void RegisterComponents(const std::string& Page, std::initializer_list<TComponentClass> Classes) {
  auto& All = Pages();
  TPage* Target = nullptr;
  for (TPage& P : All)
    if (P.Name == Page) Target = &P;
  if (!Target) Target = &All.emplace_back(TPage{Page, {}});
  for (const TComponentClass& C : Classes) {
    bool Known = false;
    for (const TComponentClass& K : Target->Classes)
      Known = Known || K.ClassName == C.ClassName;
    if (!Known && C.Create) Target->Classes.push_back(C);
  }
}

std::vector<std::string> PalettePages() {
  std::vector<std::string> Names;
  for (const TPage& P : Pages())
    Names.push_back(P.Name);
  return Names;
}

std::vector<TComponentClass> PaletteClasses(const std::string& Page) {
  for (const TPage& P : Pages())
    if (P.Name == Page) return P.Classes;
  return {};
}

} // namespace quorin
