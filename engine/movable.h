// Where an object stands in the world: its world-to-object transform, and
// optionally the movable it is attached to.
#pragma once

#include "engine/live_objects.h"
#include "host/ref.h"
#include "host/scf_impl.h"
#include "host/view.h"

namespace rwengine {

class Movable : public scfImplementation<Movable, iMovable>, private LiveCounted<Movable> {
 public:
  static constexpr const char kLiveName[] = "Movable";

  explicit Movable(iMovable* parent = nullptr);

  // The position is the origin of the transform: the object's origin in
  // world (or parent) space.
  void SetPosition(const csVector3& position) override;
  const csVector3& GetPosition() override { return transform_.GetOrigin(); }
  void SetTransform(const csReversibleTransform& transform) override { transform_ = transform; }
  csReversibleTransform& GetTransform() override { return transform_; }
  void UpdateMove() override { updates_++; }
  // With a parent: world to parent first, then parent to this object.
  csReversibleTransform GetFullTransform() override;

  // Holds a reference on the parent; null detaches.
  void SetParent(iMovable* parent);
  iMovable* GetParent() const { return parent_.get(); }
  int UpdateCount() const { return updates_; }

 private:
  csReversibleTransform transform_;
  csRef<iMovable> parent_;
  int updates_ = 0;
};

}  // namespace rwengine
