// The register of class descriptions: the library's, then the application's.
#include <algorithm>

#include "describe.h"
#include "quorin/package.h"

namespace quorin {

namespace classes {

// The library's classes, found by the build, in ascending Order: those that
// only describe what descendants inherit first, then the palette's.
const std::vector<const TClassInfo*>& LibraryClasses() {
  static const std::vector<const TClassInfo*> All = [] {
    std::vector<const TClassInfo*> Found = {
#define QUORIN_CLASS(Describe) &Describe(),
#include "library_classes.inc"
#undef QUORIN_CLASS
    };
    std::stable_sort(Found.begin(), Found.end(), [](const TClassInfo* A, const TClassInfo* B) {
      return A->Order < B->Order;
    });
    return Found;
  }();
  return All;
}

namespace {

std::vector<const TClassInfo*>& ApplicationClasses() {
  static std::vector<const TClassInfo*> Registered;
  return Registered;
}

int Depth(const TClassInfo* C) {
  int D = 0;
  for (; C->Base; C = C->Base)
    ++D;
  return D;
}

} // namespace

} // namespace classes

const TPropertyInfo* TClassInfo::FindProperty(const std::string& Wanted) const {
  for (const TPropertyInfo& P : Properties)
    if (P.Name == Wanted) return &P;
  return nullptr;
}

const TEventInfo* TClassInfo::FindEvent(const std::string& Wanted) const {
  for (const TEventInfo& E : Events)
    if (E.Name == Wanted) return &E;
  return nullptr;
}

std::string TClassInfo::EventNames() const {
  std::string Names;
  for (const TEventInfo& E : Events)
    Names += (Names.empty() ? "" : ", ") + E.Name;
  return Names.empty() ? "none" : Names;
}

std::vector<const TClassInfo*> Classes() {
  std::vector<const TClassInfo*> All = classes::LibraryClasses();
  const auto& Mine = classes::ApplicationClasses();
  All.insert(All.end(), Mine.begin(), Mine.end());
  return All;
}

const TClassInfo* FindClassInfo(const std::string& Name) {
  for (const TClassInfo* C : Classes())
    if (C->Name == Name) return C;
  return nullptr;
}

const TClassInfo* ClassInfoOf(const TComponent& X) {
  // The deepest description that X is an instance of: its own class's when
  // described, else its nearest described ancestor's.
  const TClassInfo* Best = &classes::ComponentClass();
  int BestDepth = 0;
  for (const TClassInfo* C : Classes())
    if (C->Is && C->Is(X) && classes::Depth(C) > BestDepth) {
      Best = C;
      BestDepth = classes::Depth(C);
    }
  return Best;
}

const TClassTraits& TraitsOf(const TClassInfo& Info) {
  static const TClassTraits None;
  for (const TClassInfo* C = &Info; C; C = C->Base)
    if (C->Traits) return *C->Traits;
  return None;
}

const TClassTraits& TraitsOf(const TComponent& X) {
  return TraitsOf(*ClassInfoOf(X));
}

std::string ClassesThat(bool (*Test)(const TClassTraits& Traits)) {
  std::vector<std::string> Names;
  for (const TClassInfo* C : classes::LibraryClasses())
    if (C->Create && Test(TraitsOf(*C))) Names.push_back(C->Name);
  std::string Text;
  for (std::size_t i = 0; i < Names.size(); ++i)
    Text += (i == 0 ? "a " : i + 1 == Names.size() ? " or " : ", ") + Names[i];
  return Text;
}

void RegisterClassInfo(const std::string& Page, const TClassInfo& Info) {
  if (FindClassInfo(Info.Name)) return;
  classes::ApplicationClasses().push_back(&Info);
  if (Info.Create) RegisterComponents(Page, {{Info.Name, Info.Create}});
}

} // namespace quorin
