#include "engine/object_registry.h"

namespace rwengine {

bool ObjectRegistry::Register(iBase* object, const char* tag) {
  if (object == nullptr) return false;
  object->IncRef();
  entries_.push_back({object, tag ? tag : ""});
  return true;
}

void ObjectRegistry::Unregister(iBase* object, const char* tag) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->object == object && (tag == nullptr || it->tag == tag)) {
      iBase* gone = it->object;
      entries_.erase(it);
      gone->DecRef();
      return;
    }
  }
}

iBase* ObjectRegistry::Get(const char* tag) {
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it)
    if (tag != nullptr && it->tag == tag) return it->object;
  return nullptr;
}

void ObjectRegistry::Clear() {
  while (!entries_.empty()) {
    iBase* gone = entries_.back().object;
    entries_.pop_back();
    gone->DecRef();
  }
}

}  // namespace rwengine
