// Loads the real module through our component system, as the engine does.
#pragma once

#include <gtest/gtest.h>

#include "engine/component_system.h"
#include "engine/object_registry.h"
#include "host/mesh.h"
#include "host/ref.h"
#include "ical3dstate.h"

namespace rwtest {

constexpr const char* kClassId = kRigweaveClassId;

template <class I>
scfInterfaceID IdOf() {
  return iSCF::SCF->GetInterfaceID(I::scfInterfaceName());
}

// Asks `object` for I at the given version; null when refused.
template <class I>
I* Ask(iBase* object, scfInterfaceVersion version = I::scfVersion()) {
  return static_cast<I*>(object->QueryInterface(IdOf<I>(), version));
}

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scf = csRef<rwengine::ComponentSystem>::Adopt(rwengine::ComponentSystem::Start());
    ASSERT_TRUE(scf->RegisterModule(RIGWEAVE_MODULE_PATH)) << scf->LastError();
    registry = csRef<rwengine::ObjectRegistry>::Adopt(new rwengine::ObjectRegistry);
  }
  void TearDown() override {
    // Every object of the module must be gone before its code is unloaded.
    registry.reset();
    scf->UnloadUnusedModules();
    scf.reset();
  }

  // A new type with one reference, initialised with the registry.
  csRef<iMeshObjectType> NewType() {
    csRef<iBase> base = csRef<iBase>::Adopt(scf->CreateInstance(kClassId));
    if (!base) return {};
    auto type = csRef<iMeshObjectType>::Adopt(Ask<iMeshObjectType>(base.get()));
    auto component = csRef<iComponent>::Adopt(Ask<iComponent>(base.get()));
    if (!component || !component->Initialize(registry.get())) return {};
    return type;
  }

  csRef<iMeshObject> NewMeshObject(csRef<iMeshObjectFactory>* keepFactory = nullptr) {
    csRef<iMeshObjectType> type = NewType();
    if (!type) return {};
    auto factory = csRef<iMeshObjectFactory>::Adopt(type->NewFactory());
    if (!factory) return {};
    auto mesh = csRef<iMeshObject>::Adopt(factory->NewInstance());
    if (keepFactory) *keepFactory = factory;
    return mesh;
  }

  csRef<rwengine::ComponentSystem> scf;
  csRef<rwengine::ObjectRegistry> registry;
};

}  // namespace rwtest
