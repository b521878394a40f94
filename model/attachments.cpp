#include "model/attachments.h"

#include <cal3d/cal3d.h>

#include <algorithm>
#include <utility>

#include "model/bones.h"

namespace rigweave {

int AttachmentList::Add(int bone, iBase* object, const csReversibleTransform& offset) {
  if (object == nullptr || nextHandle_ < 0) return -1;
  Entry entry;
  entry.bone = bone;
  entry.offset = offset;
  entry.receiver =
      csRef<iRigweaveAttachment>::Adopt(scfQueryInterface<iRigweaveAttachment>(object));
  if (!entry.receiver) entry.movable = csRef<iMovable>::Adopt(scfQueryInterface<iMovable>(object));
  if (!entry.receiver && !entry.movable) return -1;
  entry.handle = nextHandle_++;
  entries_.push_back(std::move(entry));
  return entries_.back().handle;
}

bool AttachmentList::Remove(int handle) {
  for (Entry& entry : entries_) {
    if (entry.handle != handle || entry.dead) continue;
    entry.dead = true;
    if (placing_)
      stale_ = true;
    else
      Compact();
    return true;
  }
  return false;
}

void AttachmentList::Clear() {
  generation_++;
  for (Entry& entry : entries_) entry.dead = true;
  if (placing_)
    stale_ = true;
  else
    Compact();
}

void AttachmentList::Compact() {
  stale_ = false;
  // One at a time, the list whole at each release: an object's destructor
  // may call back into it.
  for (;;) {
    auto dead =
        std::find_if(entries_.begin(), entries_.end(), [](const Entry& e) { return e.dead; });
    if (dead == entries_.end()) break;
    csRef<iRigweaveAttachment> receiver = std::move(dead->receiver);
    csRef<iMovable> movable = std::move(dead->movable);
    entries_.erase(dead);
  }
}

bool AttachmentList::Place(CalSkeleton& skeleton, float factor, iBase* owner, int handle) {
  if (placing_) return true;
  placing_ = true;
  const unsigned generation = generation_;
  std::vector<CalBone*>& bones = skeleton.getVectorBone();
  // By index: a receiver may attach more, which moves the entries.
  for (size_t i = 0; i < entries_.size(); i++) {
    if (entries_[i].dead || (handle >= 0 && entries_[i].handle != handle)) continue;
    const size_t bone = static_cast<size_t>(entries_[i].bone);
    if (bone >= bones.size()) continue;
    const csReversibleTransform placed =
        entries_[i].offset * BoneInObjectSpace(*bones[bone], factor);
    if (entries_[i].receiver) {
      csRef<iRigweaveAttachment> receiver = entries_[i].receiver;
      receiver->PlaceOnBone(placed);
    } else {
      csRef<iMovable> movable = entries_[i].movable;
      movable->SetTransform(placed);
      movable->UpdateMove();
    }
    if (owner != nullptr && owner->GetRefCount() == 1) return false;
    // A new model: the skeleton walked is gone.
    if (generation_ != generation) break;
  }
  placing_ = false;
  if (stale_) Compact();
  return owner == nullptr || owner->GetRefCount() > 1;
}

}  // namespace rigweave
