#include "engine/movable.h"

namespace rwengine {

Movable::Movable(iMovable* parent) : parent_(parent) {}

void Movable::SetPosition(const csVector3& position) {
  transform_.SetOrigin(position);
}

csReversibleTransform Movable::GetFullTransform() {
  if (!parent_) return transform_;
  return transform_ * parent_->GetFullTransform();
}

void Movable::SetParent(iMovable* parent) {
  // A movable that ends up among its own ancestors would recurse forever.
  for (iMovable* up = parent; up != nullptr;) {
    if (up == this) return;
    auto* known = dynamic_cast<Movable*>(up);
    up = known != nullptr ? known->GetParent() : nullptr;
  }
  parent_ = csRef<iMovable>(parent);
}

}  // namespace rwengine
