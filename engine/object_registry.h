// The engine's object registry: engine-wide objects under a tag.
#pragma once

#include <string>
#include <vector>

#include "host/mesh.h"
#include "host/scf_impl.h"

namespace rwengine {

class ObjectRegistry : public scfImplementation<ObjectRegistry, iObjectRegistry> {
 public:
  ~ObjectRegistry() override { Clear(); }
  bool Register(iBase* object, const char* tag) override;
  void Unregister(iBase* object, const char* tag) override;
  iBase* Get(const char* tag) override;
  // Releases the objects, the latest registered first.
  void Clear() override;

 private:
  struct Entry {
    iBase* object;
    std::string tag;
  };
  std::vector<Entry> entries_;
};

}  // namespace rwengine
