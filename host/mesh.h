// Mesh object plugins: the type, its factories, the objects, and the views
// that collision and sprite code use.
#pragma once

#include <cstdint>

#include "host/clock.h"
#include "host/graphics.h"
#include "host/math_types.h"
#include "host/scf.h"
#include "host/view.h"

struct iLight;
struct iObjectModel;
struct iMaterialWrapper;
struct iMeshObject;
struct iMeshObjectFactory;
struct iSkeletonState;

struct iObjectRegistry : iBase {
  SCF_INTERFACE(iObjectRegistry, 0, 0, 1)
  // Takes a reference on the object until it is unregistered or the registry clears.
  virtual bool Register(iBase* object, const char* tag) = 0;
  virtual void Unregister(iBase* object, const char* tag) = 0;
  // 6. The object under the tag, without a reference for the caller.
  virtual iBase* Get(const char* tag) = 0;
  virtual void Clear() = 0;

 protected:
  ~iObjectRegistry() = default;
};

struct iComponent : iBase {
  SCF_INTERFACE(iComponent, 0, 0, 1)
  virtual bool Initialize(iObjectRegistry* registry) = 0;

 protected:
  ~iComponent() = default;
};

struct iMeshObjectDrawCallback : iBase {
  SCF_INTERFACE(iMeshObjectDrawCallback, 0, 0, 1)
  // 4. False: the object is not drawn in this view.
  virtual bool BeforeDrawing(iMeshObject* mesh, iRenderView* view) = 0;

 protected:
  ~iMeshObjectDrawCallback() = default;
};

struct iMeshObject : iBase {
  SCF_INTERFACE(iMeshObject, 0, 0, 21)
  virtual iMeshObjectFactory* GetFactory() = 0;
  virtual bool DrawTest(iRenderView* view, iMovable* movable) = 0;
  virtual void UpdateLighting(iLight** lights, int num_lights, iMovable* movable) = 0;
  virtual bool Draw(iRenderView* view, iMovable* movable, csZBufMode zbufMode) = 0;
  virtual void SetVisibleCallback(iMeshObjectDrawCallback* callback) = 0;
  virtual iMeshObjectDrawCallback* GetVisibleCallback() = 0;
  virtual void GetObjectBoundingBox(csBox3& bbox, int type) = 0;
  virtual void GetRadius(csVector3& radius, csVector3& center) = 0;
  virtual void NextFrame(csTicks current_time) = 0;
  virtual bool WantToDie() = 0;
  virtual void HardTransform(const csReversibleTransform& transform) = 0;
  virtual bool SupportsHardTransform() = 0;
  virtual bool HitBeamOutline(const csVector3& start, const csVector3& end, csVector3& isect,
                              float* pr) = 0;
  virtual bool HitBeamObject(const csVector3& start, const csVector3& end, csVector3& isect,
                             float* pr) = 0;
  virtual iObjectModel* GetObjectModel() = 0;
  virtual void SetLogicalParent(iBase* logical_parent) = 0;
  virtual iBase* GetLogicalParent() = 0;

 protected:
  ~iMeshObject() = default;
};

struct iMeshObjectFactory : iBase {
  SCF_INTERFACE(iMeshObjectFactory, 0, 0, 5)
  // A new, empty mesh object with one reference for the caller.
  virtual iMeshObject* NewInstance() = 0;
  virtual void HardTransform(const csReversibleTransform& transform) = 0;
  virtual bool SupportsHardTransform() = 0;
  virtual void SetLogicalParent(iBase* logical_parent) = 0;
  virtual iBase* GetLogicalParent() = 0;

 protected:
  ~iMeshObjectFactory() = default;
};

struct iMeshObjectType : iBase {
  SCF_INTERFACE(iMeshObjectType, 0, 0, 2)
  // A new factory with one reference for the caller.
  virtual iMeshObjectFactory* NewFactory() = 0;

 protected:
  ~iMeshObjectType() = default;
};

// A polygon of a polygon mesh: its corner count and indices into the vertices.
struct csMeshedPolygon {
  int32_t num_vertices;
  int32_t* vertices;
};

struct iPolygonMesh : iBase {
  SCF_INTERFACE(iPolygonMesh, 0, 2, 0)
  virtual int GetVertexCount() = 0;
  virtual csVector3* GetVertices() = 0;
  virtual int GetPolygonCount() = 0;
  virtual csMeshedPolygon* GetPolygons() = 0;
  // Frees what the view derived for itself; the described geometry stays.
  virtual void Cleanup() = 0;

 protected:
  ~iPolygonMesh() = default;
};

struct iSprite3DState : iBase {
  SCF_INTERFACE(iSprite3DState, 0, 0, 5)
  virtual void SetMaterialWrapper(iMaterialWrapper* material) = 0;
  virtual iMaterialWrapper* GetMaterialWrapper() = 0;
  virtual void SetMixMode(uint32_t mode) = 0;
  virtual uint32_t GetMixMode() = 0;
  virtual void SetLighting(bool lighting) = 0;
  virtual bool IsLighting() = 0;
  virtual iSkeletonState* GetSkeletonState() = 0;
  virtual void SetFrame(int frame) = 0;
  virtual int GetCurFrame() = 0;
  virtual int GetFrameCount() = 0;
  virtual bool SetAction(const char* name) = 0;
  virtual const char* GetCurAction() = 0;
  virtual void EnableTweening(bool enabled) = 0;
  virtual bool IsTweeningEnabled() = 0;
  virtual void UnsetTexture() = 0;
  virtual int GetLightingQuality() = 0;
  virtual void SetLightingQuality(int quality) = 0;
  virtual void SetLightingQualityConfig(int config) = 0;
  virtual int GetLightingQualityConfig() = 0;
  virtual void SetLodLevelConfig(int config) = 0;
  virtual int GetLodLevelConfig() = 0;
  virtual bool IsLodEnabled() = 0;
  virtual void SetLodFactor(float factor) = 0;
  virtual void SetLodLevels(int levels) = 0;

 protected:
  ~iSprite3DState() = default;
};
