#include "quorin/framework.h"

#include <algorithm>

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

TComponent* TComponent::Components(int32_t Index) const {
  if (Index < 0 || Index >= ComponentCount()) return nullptr;
  return FComponents[static_cast<std::size_t>(Index)];
}

} // namespace quorin
