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

std::string TComponent::DisplayName() const {
  if (!FName.empty()) return FName;
  const std::type_info& Type = typeid(*this);
  int Status = 0;
  std::unique_ptr<char, void (*)(void*)> Plain(
      abi::__cxa_demangle(Type.name(), nullptr, nullptr, &Status), std::free);
  std::string Class = Status == 0 && Plain ? Plain.get() : Type.name();
  const std::string::size_type Scope = Class.rfind("::");
  if (Scope != std::string::npos) Class.erase(0, Scope + 2);
  int32_t Number = 1;
  if (FOwner)
    for (TComponent* C : FOwner->FComponents) {
      if (C == this) break;
      if (typeid(*C) == Type) ++Number;
    }
  return Class + "#" + std::to_string(Number);
}

TComponent* TComponent::Components(int32_t Index) const {
  if (Index < 0 || Index >= ComponentCount()) return nullptr;
  return FComponents[static_cast<std::size_t>(Index)];
}

} // namespace quorin
