#include "plugin/type.h"

#include <new>

#include "model/diagnostics.h"
#include "model/mesh_object.h"

csCal3DMeshObjectType* csCal3DMeshObjectType::Create(iBase* parent) {
  try {
    return new csCal3DMeshObjectType(parent);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

csCal3DMeshObjectType::csCal3DMeshObjectType(iBase* parent)
    : scfImplementation(parent), scfiComponent(this) {}

bool csCal3DMeshObjectType::Initialize(iObjectRegistry* registry) {
  objectRegistry = registry;
  if (registry == nullptr) return false;
  try {
    skinningIsa = rigweave::ChooseSkinningIsa();
  } catch (const std::bad_alloc&) {
    // Only the line about a bad value can run out; the set is still sound.
    skinningIsa = rigweave::BestSkinningIsa();
  }
  return true;
}

namespace {

// Hands a new object over as interface I with the one reference its
// constructor gave. The id is looked up anew: this is not a cached query.
template <class I, class T>
I* HandOver(T* object) {
  if (object == nullptr) return nullptr;
  void* answer = nullptr;
  if (iSCF::SCF != nullptr)
    answer =
        object->QueryInterface(iSCF::SCF->GetInterfaceID(I::scfInterfaceName()), I::scfVersion());
  if (answer == nullptr) {
    // Nobody could ever release an object we do not hand out.
    object->DecRef();
    return nullptr;
  }
  static_cast<I*>(answer)->DecRef();
  return static_cast<I*>(answer);
}

}  // namespace

iMeshObjectFactory* csCal3DMeshObjectType::NewFactory() {
  csCal3DMeshObjectFactory* factory = nullptr;
  try {
    factory = new csCal3DMeshObjectFactory(static_cast<iMeshObjectType*>(this), objectRegistry,
                                           skinningIsa);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return HandOver<iMeshObjectFactory>(factory);
}

csCal3DMeshObjectFactory::csCal3DMeshObjectFactory(iBase* parent, iObjectRegistry* registry,
                                                   rigweave::SkinningIsa isa)
    : scfImplementation(parent), objectRegistry(registry), skinningIsa(isa) {}

iMeshObject* csCal3DMeshObjectFactory::NewInstance() {
  // A mesh object carries its colour arrays, tens of megabytes of address
  // space: under a limit the allocation is what fails, and the caller should
  // know that.
  csCal3DMeshObject* object = nullptr;
  try {
    object = new csCal3DMeshObject(nullptr, objectRegistry, skinningIsa);
  } catch (const std::bad_alloc&) {
    rigweave::Diagnose(": Out of memory for a new mesh object");
    return nullptr;
  }
  return HandOver<iMeshObject>(object);
}
