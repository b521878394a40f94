#include "model/mesh_object.h"

#include <cal3d/cal3d.h>

#include "model/cal3d_skinning.h"
#include "model/shared_model.h"

namespace {

csRef<iFileSystem> FindFileSystem(iObjectRegistry* registry) {
  iBase* found = registry != nullptr ? registry->Get(kFileSystemTag) : nullptr;
  return csRef<iFileSystem>::Adopt(scfQueryInterface<iFileSystem>(found));
}

}  // namespace

csCal3DMeshObject::csCal3DMeshObject(iBase* parent, iObjectRegistry* registry,
                                     rigweave::SkinningIsa isa)
    : scfImplementation(parent),
      scfiCal3DState(this),
      scfiVertexBufferManagerClient(this),
      logicalParent(parent),
      lastTicks(csGetTicks()),
      modelPath("models/"),
      fileSystem(FindFileSystem(registry)),
      scfiSprite3DState(this),
      scfiPolygonMesh(this),
      scfiRigweaveState(static_cast<iMeshObject*>(this), this),
      skinningIsa(isa) {}

csCal3DMeshObject::~csCal3DMeshObject() {
  if (visibleCallback != nullptr) visibleCallback->DecRef();
  if (vertexBuffer != nullptr) vertexBuffer->DecRef();
  // The manager came without a reference; it must just never call us again.
  if (vertexBufferManager != nullptr)
    vertexBufferManager->RemoveClient(&scfiVertexBufferManagerClient);
  Unload();
}

void csCal3DMeshObject::Unload() {
  scfiRigweaveState.Unbind();
  delete[] meshRecords;
  meshRecords = nullptr;
  meshRecordCount = 0;

  box = rigweave::BoxMesh();
  pose.Release();
  meshHidden.clear();
  geometryChanges++;

  skinning.reset();
  // The instance goes before what it was made from; the last character of
  // a model frees the shared data with it.
  calModel.reset();
  faceLevels.clear();
  calCoreModel = nullptr;
  shared.reset();

  for (std::string& name : animationNames) name.clear();
  animationCount = 0;
  currentAnimation = 0;
  morphAnimations.clear();
  morphNames.clear();
  scale = 1.0f;
  lastTextureImage = nullptr;
  defaultMaterial = nullptr;
}

void* csCal3DMeshObject::scfQueryOwn(scfInterfaceID id, scfInterfaceVersion version) {
  return scfOffer<csCal3DMeshObject>(
      id, version, static_cast<iMeshObject*>(this), static_cast<iCal3DState*>(&scfiCal3DState),
      static_cast<iSprite3DState*>(&scfiSprite3DState),
      static_cast<iPolygonMesh*>(&scfiPolygonMesh),
      static_cast<iVertexBufferManagerClient*>(&scfiVertexBufferManagerClient),
      static_cast<iRigweaveState*>(&scfiRigweaveState));
}
