// The frame path: visibility test, lighting and drawing of every sub-mesh.
#include <cal3d/cal3d.h>

#include <new>

#include "host/ref.h"
#include "model/cal3d_skinning.h"
#include "model/diagnostics.h"
#include "model/frame_storage.h"
#include "model/mesh_object.h"
#include "render/engine_space.h"
#include "render/face_reversal.h"

static_assert(sizeof(csTriangle) == 3 * sizeof(CalIndex),
              "faces are fetched straight into triangles");
static_assert(sizeof(csVector3) == 3 * sizeof(float), "vertices are fetched straight into vectors");
static_assert(sizeof(csVector2) == 2 * sizeof(float), "texels are fetched straight into vectors");
static_assert(sizeof(CalCoreSubmesh::TextureCoordinate) == sizeof(csVector2),
              "Cal3D's texture coordinates are read as vectors");

using rigweave::Diagnose;

bool csCal3DMeshObject::DrawTest(iRenderView* view, iMovable* movable) {
  iGraphics3D* g3d = view->GetGraphics3D();
  iCamera* camera = view->GetCamera();
  const csReversibleTransform objectToCamera = camera->GetTransform() / movable->GetFullTransform();

  // Zero when the view leaves them unset.
  int clipPortal = 0, clipPlane = 0, clipZPlane = 0;
  view->ClipBBox(csBox2(), csBox3(), clipPortal, clipPlane, clipZPlane);
  g3d->SetObjectToCamera(objectToCamera);

  const bool mirrored = camera->IsMirrored();
  for (int32_t k = 0; k < meshRecordCount; k++) {
    G3DTriangleMesh& record = meshRecords[k];
    record.clip_portal = clipPortal;
    record.clip_plane = clipPlane;
    record.clip_z_plane = clipZPlane;
    record.do_mirror = mirrored;
  }
  return true;
}

void csCal3DMeshObject::UpdateLighting(iLight**, int, iMovable*) {
  if (!calModel) return;
  CalRenderer* renderer = calModel->getRenderer();
  if (!renderer->beginRendering()) return;
  int slot = 0;
  for (int mesh = 0; mesh < renderer->getMeshCount(); mesh++) {
    for (int sub = 0; sub < renderer->getSubmeshCount(mesh); sub++) {
      if (!renderer->selectMeshSubmesh(mesh, sub)) continue;
      if (slot >= meshRecordCount) break;  // one colour array per record, no more
      // Only the count is needed: no vertex is computed for it.
      const int count = renderer->getVertexCount();
      csColor* colors = vertexColors[slot++];
      for (int i = 0; i < count; i++) colors[i] = {1.0f, 1.0f, 1.0f};
    }
  }
  renderer->endRendering();
}

bool csCal3DMeshObject::ResolveMaterial(CalRenderer& renderer, iMaterialHandle*& handle) {
  auto* wrapper = static_cast<iMaterialWrapper*>(renderer.getMapUserData(0));
  if (wrapper == nullptr) wrapper = defaultMaterial;
  if (wrapper == nullptr) {
    Diagnose(": Used without material");
    return false;
  }
  handle = wrapper->GetMaterialHandle();
  wrapper->Visit();
  if (handle == nullptr) {
    Diagnose(": Invalid material handle");
    return false;
  }
  return true;
}

bool csCal3DMeshObject::Draw(iRenderView* view, iMovable*, csZBufMode zbufMode) {
  // Nothing loaded: nothing may reach Cal3D.
  if (!calModel) return false;

  const csTicks now = csGetTicks();
  // Unsigned difference: right across a wrap of the tick counter.
  const float elapsed = static_cast<float>(static_cast<double>(now - lastTicks) / 1000.0);
  lastTicks = now;
  // The application's listeners and attached objects hear of the step
  // inside it; one of them may have released us or replaced the model.
  if (!scfiRigweaveState.AdvanceForDraw(elapsed)) return false;
  if (!calModel) return false;

  if (visibleCallback != nullptr) {
    // The callback may release the last reference the engine holds on us, or
    // drop itself: keep both alive until it has answered.
    csRef<iMeshObjectDrawCallback> callback(visibleCallback);
    IncRef();
    const bool visible = callback->BeforeDrawing(this, view);
    if (GetRefCount() == 1) {
      DecRef();  // we were the last holder: the object is gone now
      return false;
    }
    DecRef();
    if (!visible) return false;
  }

  iGraphics3D* g3d = view->GetGraphics3D();
  if (vertexBuffer == nullptr) {
    vertexBufferManager = g3d->GetVertexBufferManager();
    vertexBuffer = vertexBufferManager->CreateBuffer(0);
    vertexBufferManager->AddClient(&scfiVertexBufferManagerClient);
  }
  g3d->SetRenderState(G3DRENDERSTATE_ZBUFFERMODE, zbufMode);
  g3d->SetRenderState(G3DRENDERSTATE_MESHZBUFFERMODE, zbufMode);

  CalRenderer* renderer = calModel->getRenderer();
  if (!renderer->beginRendering()) return false;

  rigweave::DrawStorage& scratch = rigweave::GetDrawStorage();
  const float factor = static_cast<float>(scale * 0.02);
  const rigweave::AxisTurn& turn = rigweave::GetAxisTurn();
  rigweave::EngineSpaceJob toEngineSpace;
  toEngineSpace.scale = factor;
  rigweave::FaceReversalJob reversal;
  if (skinning) skinning->BeginFrame(*calModel);
  int32_t slot = 0;
  // Counts every sub-mesh, drawn or skipped, as the skinning unit numbers them.
  int visited = -1;
  for (int mesh = 0; mesh < renderer->getMeshCount(); mesh++) {
    for (int sub = 0; sub < renderer->getSubmeshCount(mesh); sub++) {
      if (!renderer->selectMeshSubmesh(mesh, sub)) continue;
      visited++;
      // The load refused models with more sub-meshes than records; this only
      // guards against a model changed behind our back.
      if (slot >= meshRecordCount) break;
      // The renderer's selection, which Cal3D does not hand out.
      CalSubmesh* submesh = calModel->getVectorMesh()[static_cast<size_t>(mesh)]->getSubmesh(sub);
      int vertexCount =
          skinning ? skinning->Skin(visited, *submesh, &scratch.vertices[0].x,
                                    rigweave::kMaxSubmeshVertices, factor, turn.sine, turn.cosine)
                   : -1;
      if (vertexCount < 0) {
        vertexCount = renderer->getVertices(&scratch.vertices[0].x);
        // Turned while Cal3D's output is still in the nearest cache.
        toEngineSpace.input = {scratch.vertices, static_cast<size_t>(vertexCount)};
        toEngineSpace.output = {scratch.vertices, static_cast<size_t>(vertexCount)};
        toEngineSpace.Run();
      }
      // Texture coordinates never change: rather than copy them every frame
      // (all that getTextureCoordinates does), the renderer reads the ones
      // Cal3D keeps for map 0. Without that map, as before.
      std::vector<std::vector<CalCoreSubmesh::TextureCoordinate>>& maps =
          submesh->getCoreSubmesh()->getVectorVectorTextureCoordinate();
      csVector2* texels = scratch.texels;
      if (!maps.empty() && maps[0].size() >= static_cast<size_t>(vertexCount) && vertexCount > 0)
        texels = reinterpret_cast<csVector2*>(maps[0].data());
      else
        renderer->getTextureCoordinates(0, &scratch.texels[0].x);
      const int faceCount = renderer->getFaces(reinterpret_cast<CalIndex*>(scratch.faces));

      G3DTriangleMesh& record = meshRecords[slot];
      record.buffers[0] = vertexBuffer;
      record.morph_factor = 0.0f;
      record.num_vertices_pool = 1;
      record.do_morph_texels = false;
      record.do_morph_colors = false;
      record.vertex_mode = VM_WORLDSPACE;
      // One fog array per record, grown only when a sub-mesh needs more.
      int32_t& fogCapacity = fogCapacities[static_cast<size_t>(slot)];
      if (fogCapacity < vertexCount) {
        delete[] record.vertex_fog;
        record.vertex_fog = new (std::nothrow) G3DFogInfo[static_cast<size_t>(vertexCount)];
        fogCapacity = record.vertex_fog != nullptr ? vertexCount : 0;
        if (record.vertex_fog == nullptr) continue;
      }

      iMaterialHandle* handle = nullptr;
      if (!ResolveMaterial(*renderer, handle)) continue;
      record.mat_handle = handle;
      record.use_vertex_color = false;
      record.num_triangles = faceCount;
      record.triangles = scratch.faces;
      record.mixmode = CS_FX_KEYCOLOR;

      vertexBufferManager->LockBuffer(vertexBuffer, scratch.vertices, texels, vertexColors[slot],
                                      vertexCount, 0);
      view->CalculateFogMesh(g3d->GetObjectToCamera(), record);
      g3d->DrawTriangleMesh(record);
      // Drawn again with every triangle turned round, so both faces show.
      reversal.input = {scratch.faces, static_cast<size_t>(faceCount)};
      reversal.output = {scratch.faces, static_cast<size_t>(faceCount)};
      reversal.Run();
      view->CalculateFogMesh(g3d->GetObjectToCamera(), record);
      g3d->DrawTriangleMesh(record);
      vertexBufferManager->UnlockBuffer(vertexBuffer);
      slot++;
    }
  }
  renderer->endRendering();
  return true;
}

void csCal3DMeshObject::SetVisibleCallback(iMeshObjectDrawCallback* callback) {
  // The new one first: setting the same callback again must not free it.
  if (callback != nullptr) callback->IncRef();
  if (visibleCallback != nullptr) visibleCallback->DecRef();
  visibleCallback = callback;
}

void csCal3DMeshObject::VertexBufferManagerClient::ManagerClosing() {
  csCal3DMeshObject* owner = scfOwner;
  if (owner->vertexBuffer == nullptr) return;
  owner->vertexBuffer->DecRef();
  owner->vertexBuffer = nullptr;
  owner->vertexBufferManager = nullptr;
}
