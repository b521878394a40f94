// rigweave-probe: loads a mesh-object module by file name and class id only,
// makes a type, a factory and a mesh object, says what it did, and releases
// everything. The shortest proof that a module works in an engine.
#include <cstdio>

#include "engine/component_system.h"
#include "engine/object_registry.h"
#include "host/mesh.h"
#include "host/ref.h"
#include "ical3dstate.h"

int main(int argc, char** argv) {
  const char* modulePath = argc > 1 ? argv[1] : "rigweave.so";
  const char* classId = argc > 2 ? argv[2] : kRigweaveClassId;

  auto scf = csRef<rwengine::ComponentSystem>::Adopt(rwengine::ComponentSystem::Start());
  if (!scf->RegisterModule(modulePath)) {
    std::fprintf(stderr, "rigweave-probe: cannot load %s: %s\n", modulePath,
                 scf->LastError().c_str());
    return 1;
  }
  std::printf("loaded %s\n", modulePath);
  if (!scf->ClassRegistered(classId)) {
    std::fprintf(stderr, "rigweave-probe: %s registers no class %s\n", modulePath, classId);
    return 1;
  }
  std::printf("class %s: \"%s\"\n", classId, scf->GetClassDescription(classId));

  int status = 1;
  {
    auto registry = csRef<rwengine::ObjectRegistry>::Adopt(new rwengine::ObjectRegistry);
    auto base = csRef<iBase>::Adopt(scf->CreateInstance(classId));
    auto type = csRef<iMeshObjectType>::Adopt(scfQueryInterface<iMeshObjectType>(base.get()));
    auto component = csRef<iComponent>::Adopt(scfQueryInterface<iComponent>(base.get()));
    if (type && component && component->Initialize(registry.get())) {
      std::printf("created the mesh object type and initialised it\n");
      auto factory = csRef<iMeshObjectFactory>::Adopt(type->NewFactory());
      auto mesh = csRef<iMeshObject>::Adopt(factory ? factory->NewInstance() : nullptr);
      if (mesh) {
        std::printf(
            "created a factory and a mesh object (references: type %d, factory %d, "
            "object %d)\n",
            type->GetRefCount(), factory->GetRefCount(), mesh->GetRefCount());
        status = 0;
      }
    }
  }
  scf->UnloadUnusedModules();
  std::printf(status == 0 ? "released everything and unloaded the module\n"
                          : "rigweave-probe: the module did not hand out a mesh object\n");
  return status;
}
