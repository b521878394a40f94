// The mesh object type the engine creates from the class table, and the
// factories it hands out.
#pragma once

#include "host/mesh.h"
#include "host/scf_impl.h"
#include "model/cal3d_skinning.h"

class csCal3DMeshObjectType : public scfImplementation<csCal3DMeshObjectType, iMeshObjectType> {
 public:
  // Null when out of memory.
  static csCal3DMeshObjectType* Create(iBase* parent);

  iMeshObjectFactory* NewFactory() override;
  // Also chooses, once, the instruction set every character of the type
  // skins on (ChooseSkinningIsa, model/cal3d_skinning.h).
  bool Initialize(iObjectRegistry* registry);
  iObjectRegistry* GetObjectRegistry() const { return objectRegistry; }

  void* scfQueryOwn(scfInterfaceID id, scfInterfaceVersion version) {
    return scfOffer<csCal3DMeshObjectType>(id, version, static_cast<iMeshObjectType*>(this),
                                           static_cast<iComponent*>(&scfiComponent));
  }

 private:
  explicit csCal3DMeshObjectType(iBase* parent);

  struct Component : scfEmbedded<csCal3DMeshObjectType, iComponent> {
    using scfEmbedded::scfEmbedded;
    bool Initialize(iObjectRegistry* registry) override { return scfOwner->Initialize(registry); }
  } scfiComponent;
  iObjectRegistry* objectRegistry = nullptr;
  rigweave::SkinningIsa skinningIsa = rigweave::BestSkinningIsa();
};

class csCal3DMeshObjectFactory
    : public scfImplementation<csCal3DMeshObjectFactory, iMeshObjectFactory> {
 public:
  csCal3DMeshObjectFactory(iBase* parent, iObjectRegistry* registry, rigweave::SkinningIsa isa);

  iMeshObject* NewInstance() override;
  void HardTransform(const csReversibleTransform&) override {}
  bool SupportsHardTransform() override { return false; }
  void SetLogicalParent(iBase* logical_parent) override { logicalParent = logical_parent; }
  iBase* GetLogicalParent() override { return logicalParent; }

 private:
  // Where new objects find the engine's file system; no reference is held,
  // as the engine's registry outlives the module's objects.
  iObjectRegistry* objectRegistry;
  iBase* logicalParent = nullptr;
  rigweave::SkinningIsa skinningIsa;
};
