// Objects an application hung on a character's bones, placed in every
// advance from the pose that advance made.
#pragma once

#include <vector>

#include "host/ref.h"
#include "host/view.h"
#include "irigweavestate.h"

class CalSkeleton;

namespace rigweave {

class AttachmentList {
 public:
  AttachmentList() = default;
  AttachmentList(const AttachmentList&) = delete;
  AttachmentList& operator=(const AttachmentList&) = delete;

  // The handle (>= 0), or -1 for an object offering neither iRigweaveAttachment
  // nor iMovable. The caller checked the bone and places the object at once.
  int Add(int bone, iBase* object, const csReversibleTransform& offset);
  bool Remove(int handle);
  // Releases every object (a new model).
  void Clear();
  bool Empty() const { return entries_.empty(); }

  // Places every object on its bone of the skeleton's current pose (one
  // handle, or every one for -1). `owner` as for EventTable::Fire: false
  // when a receiver left the caller's hold the only one. Allocates nothing.
  bool Place(CalSkeleton& skeleton, float factor, iBase* owner, int handle = -1);

 private:
  struct Entry {
    int handle = -1;
    int bone = -1;
    bool dead = false;
    csReversibleTransform offset;
    csRef<iRigweaveAttachment> receiver;
    csRef<iMovable> movable;
  };
  void Compact();

  std::vector<Entry> entries_;
  int nextHandle_ = 0;
  unsigned generation_ = 0;
  bool placing_ = false;
  bool stale_ = false;
};

}  // namespace rigweave
