#include "quorin/framework.h"

#include <cxxabi.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <typeinfo>

namespace quorin {

TComponent::TComponent(TComponent* AOwner) : FOwner(AOwner) {
  if (FOwner) FOwner->FComponents.push_back(this);
}

TComponent::~TComponent() {
  // Owned components go last-created first; each is detached before deletion
  // so its own destructor does not search this list.
  while (!FComponents.empty()) {
    TComponent* Child = FComponents.back();
    FComponents.pop_back();
    Child->FOwner = nullptr;
    delete Child;
  }
  if (FOwner) {
    auto& Siblings = FOwner->FComponents;
    Siblings.erase(std::find(Siblings.begin(), Siblings.end(), this));
  }
}

std::string ClassNameOf(const TComponent& X) {
  const char* Mangled = typeid(X).name();
  int Status = 0;
  std::unique_ptr<char, void (*)(void*)> Plain(
      abi::__cxa_demangle(Mangled, nullptr, nullptr, &Status), std::free);
  std::string Name = Status == 0 && Plain ? Plain.get() : Mangled;
  const std::string Prefix = "quorin::";
  if (Name.rfind(Prefix, 0) == 0) Name.erase(0, Prefix.size());
  return Name;
}

std::string TComponent::DisplayName() const {
  if (!FName.empty()) return FName;
  // The class without any namespace: a message names "TCounter#1".
  std::string Class = ClassNameOf(*this);
  const std::string::size_type Scope = Class.rfind("::");
  if (Scope != std::string::npos) Class.erase(0, Scope + 2);
  int32_t Number = 1;
  if (FOwner)
    for (TComponent* C : FOwner->FComponents) {
      if (C == this) break;
      if (typeid(*C) == typeid(*this)) ++Number;
    }
  return Class + "#" + std::to_string(Number);
}

TComponent* TComponent::Components(int32_t Index) const {
  if (Index < 0 || Index >= ComponentCount()) return nullptr;
  return FComponents[static_cast<std::size_t>(Index)];
}

} // namespace quorin
