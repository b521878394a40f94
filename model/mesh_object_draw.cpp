// The frame path: visibility test, lighting and drawing of every sub-mesh.
#include <cal3d/cal3d.h>

#include <algorithm>
#include <mutex>
#include <new>

#include "host/ref.h"
#include "model/cal3d_skinning.h"
#include "model/diagnostics.h"
#include "model/draw_storage.h"
#include "model/mesh_object.h"
#include "model/shared_model.h"
#include "model/submesh_walk.h"
#include "render/engine_space.h"

static_assert(sizeof(csVector3) == 3 * sizeof(float), "vertices are fetched straight into vectors");
static_assert(sizeof(csVector2) == 2 * sizeof(float), "texels are fetched straight into vectors");
static_assert(sizeof(CalCoreSubmesh::TextureCoordinate) == sizeof(csVector2),
              "Cal3D's texture coordinates are read as vectors");

using rigweave::Diagnose;

// What every sub-mesh of one Draw shares.
struct csCal3DMeshObject::Frame {
  iRenderView* view;
  iGraphics3D* g3d;
  rigweave::DrawStorage& storage;
  rigweave::SubmeshSkinningJob skinning;
  rigweave::EngineSpaceJob toEngineSpace;
  // The record and colour array the next sub-mesh drawn uses. A sub-mesh
  // skipped for want of a material takes none, so this runs behind the
  // walk's index once one is skipped.
  int32_t slot = 0;
  // Whether the object keeps the pose drawn (the vertices then go from the
  // pose to the renderer), lights it, and the box it gathers.
  bool posing = false;
  bool lighting = false;
  float box[6] = {};
  // The sub-mesh's vertices and colours as the renderer takes them.
  csVector3* vertices = nullptr;
  csColor* colors = nullptr;
};

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

bool csCal3DMeshObject::ResolveMaterial(CalSubmesh& submesh, iMaterialHandle*& handle) {
  // Map 0's material, looked up in the model's own table: asking Cal3D for
  // the map of a material without maps would write its error state, which
  // every thread shares.
  const int id = submesh.getCoreMaterialId();
  iMaterialWrapper* wrapper = nullptr;
  if (id >= 0 && static_cast<size_t>(id) < shared->materials.size())
    wrapper = shared->materials[static_cast<size_t>(id)];
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

bool csCal3DMeshObject::AdvanceAnimation() {
  const csTicks now = csGetTicks();
  // Unsigned difference: right across a wrap of the tick counter.
  const float elapsed = static_cast<float>(static_cast<double>(now - lastTicks) / 1000.0);
  lastTicks = now;
  // The application's listeners and attached objects hear of the step
  // inside it; one of them may have released us or replaced the model.
  return scfiRigweaveState.AdvanceForDraw(elapsed);
}

bool csCal3DMeshObject::AskVisibleCallback(iRenderView* view) {
  if (visibleCallback == nullptr) return true;
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
  return visible;
}

void csCal3DMeshObject::MakeVertexBuffer(iGraphics3D* g3d) {
  iVertexBufferManager* manager = g3d->GetVertexBufferManager();
  if (vertexBuffer != nullptr && manager == vertexBufferManager) return;
  // Objects drawn on several threads at once make theirs one at a time: a
  // manager's client list is one for all of them. An object another
  // renderer draws now (another thread's) takes a buffer of that renderer.
  static std::mutex making;
  std::lock_guard<std::mutex> hold(making);
  if (vertexBuffer != nullptr) {
    vertexBufferManager->RemoveClient(&scfiVertexBufferManagerClient);
    vertexBuffer->DecRef();
    vertexBuffer = nullptr;
  }
  vertexBufferManager = manager;
  vertexBuffer = vertexBufferManager->CreateBuffer(0);
  vertexBufferManager->AddClient(&scfiVertexBufferManagerClient);
}

// The positions into the frame's storage: through the skinning unit when it
// draws the sub-mesh, else Cal3D's renderer followed by the turn.
int csCal3DMeshObject::SkinSubmesh(const rigweave::SubmeshVisit& visit, Frame& frame) {
  rigweave::DrawStorage& storage = frame.storage;
  frame.vertices = storage.vertices;
  frame.colors = vertexColors[frame.slot];
  if (frame.posing) {
    const size_t first = pose.first[static_cast<size_t>(visit.index)];
    PoseSubmesh(visit, frame.skinning, frame.box, frame.lighting);
    frame.vertices = &pose.positions[first];
    if (frame.lighting) frame.colors = &pose.colors[first];
    return pose.count[static_cast<size_t>(visit.index)];
  }
  frame.skinning.index = visit.index;
  frame.skinning.submesh = &visit.submesh;
  if (frame.skinning.Run()) return visit.submesh.getVertexCount();
  const int count = visit.renderer.getVertices(&storage.vertices[0].x);
  // Turned while Cal3D's output is still in the nearest cache.
  frame.toEngineSpace.input = {storage.vertices, static_cast<size_t>(count)};
  frame.toEngineSpace.output = {storage.vertices, static_cast<size_t>(count)};
  frame.toEngineSpace.Run();
  return count;
}

bool csCal3DMeshObject::DrawSubmesh(const rigweave::SubmeshVisit& visit, Frame& frame) {
  rigweave::DrawStorage& storage = frame.storage;
  // The faces the character's level of detail keeps, forward and turned
  // round, as every character of the model shares them. A level that no
  // longer matches Cal3D's vertices (a level change that ran out of memory)
  // is not drawn: its faces could reach past them.
  if (static_cast<size_t>(visit.index) >= faceLevels.size()) return false;
  const rigweave::FaceLevel& faces = *faceLevels[static_cast<size_t>(visit.index)];
  if (faces.vertexCount != visit.submesh.getVertexCount()) {
    if (frame.posing) pose.count[static_cast<size_t>(visit.index)] = 0;
    return false;
  }
  const int vertexCount = SkinSubmesh(visit, frame);
  if (vertexCount != faces.vertexCount) return false;
  // Texture coordinates never change: rather than copy them every frame
  // (all that getTextureCoordinates does), the renderer reads the ones
  // Cal3D keeps for map 0. A sub-mesh without coordinates gets zeros: asking
  // Cal3D would write its error state, which every thread shares.
  std::vector<std::vector<CalCoreSubmesh::TextureCoordinate>>& maps =
      visit.submesh.getCoreSubmesh()->getVectorVectorTextureCoordinate();
  csVector2* texels = storage.texels;
  if (!maps.empty() && maps[0].size() >= static_cast<size_t>(vertexCount) && vertexCount > 0)
    texels = reinterpret_cast<csVector2*>(maps[0].data());
  else if (!maps.empty())
    visit.renderer.getTextureCoordinates(0, &storage.texels[0].x);
  else
    std::fill(storage.texels, storage.texels + std::max(vertexCount, 0), csVector2{0, 0});

  G3DTriangleMesh& record = meshRecords[frame.slot];
  iMaterialHandle* handle = nullptr;
  if (!ResolveMaterial(visit.submesh, handle)) return false;
  record.buffers[0] = vertexBuffer;
  record.morph_factor = 0.0f;
  record.num_vertices_pool = 1;
  record.do_morph_texels = false;
  record.do_morph_colors = false;
  record.vertex_mode = VM_WORLDSPACE;
  record.mat_handle = handle;
  record.use_vertex_color = frame.lighting;
  record.num_triangles = static_cast<int>(faces.Count());
  record.triangles = const_cast<csTriangle*>(faces.Forward());
  record.mixmode = CS_FX_KEYCOLOR;
  // The view fills the fog values just before each draw: the thread's
  // storage holds them.
  record.vertex_fog = storage.fog;

  vertexBufferManager->LockBuffer(vertexBuffer, frame.vertices, texels, frame.colors, vertexCount,
                                  0);
  frame.view->CalculateFogMesh(frame.g3d->GetObjectToCamera(), record);
  frame.g3d->DrawTriangleMesh(record);
  // Drawn again with every triangle turned round, so both faces show.
  record.triangles = const_cast<csTriangle*>(faces.reversed.data());
  frame.view->CalculateFogMesh(frame.g3d->GetObjectToCamera(), record);
  frame.g3d->DrawTriangleMesh(record);
  vertexBufferManager->UnlockBuffer(vertexBuffer);
  return true;
}

bool csCal3DMeshObject::Draw(iRenderView* view, iMovable*, csZBufMode zbufMode) {
  // Nothing loaded: nothing may reach Cal3D.
  if (!calModel) return false;
  if (!AdvanceAnimation()) return false;  // the object went meanwhile
  if (!calModel) return false;
  if (!AskVisibleCallback(view)) return false;
  // The callback may have loaded another model, or failed to and left
  // nothing: everything below is read anew.
  if (!calModel) return false;

  iGraphics3D* g3d = view->GetGraphics3D();
  MakeVertexBuffer(g3d);
  g3d->SetRenderState(G3DRENDERSTATE_ZBUFFERMODE, zbufMode);
  g3d->SetRenderState(G3DRENDERSTATE_MESHZBUFFERMODE, zbufMode);

  try {
    const rigweave::DrawStorageLease storage;
    const float factor = static_cast<float>(scale * rigweave::kDrawnUnitsPerModelUnit);
    Frame frame{view, g3d, *storage, SkinningJobOf(factor), {}};
    frame.toEngineSpace.scale = factor;
    frame.skinning.output = {&frame.storage.vertices[0].x,
                             3 * size_t{rigweave::kMaxSubmeshVertices}};
    // The pose was sized when an option first asked for it; without room
    // (memory ran out then) the object draws as without the options.
    frame.posing = Posing() && pose.Sized() && (!lit || pose.HasNormals());
    frame.lighting = frame.posing && lit;
    rigweave::Pose::EmptyBox(frame.box);
    if (skinning) skinning->BeginFrame(*calModel);
    const bool drawn =
        rigweave::ForEachSubmesh(*calModel, [&](const rigweave::SubmeshVisit& visit) {
          // The load refused models with more sub-meshes than records; this only
          // guards against a model changed behind our back.
          if (frame.slot >= meshRecordCount) return false;
          if (Hidden(visit)) {
            if (frame.posing) pose.count[static_cast<size_t>(visit.index)] = 0;
            return true;
          }
          if (DrawSubmesh(visit, frame)) frame.slot++;
          return true;
        });
    if (frame.posing) {
      std::copy(frame.box, frame.box + 6, pose.box);
      MarkPoseMade();
    }
    return drawn;
  } catch (const std::bad_alloc&) {
    // Only the storage of a thread drawing for the first time can run out.
    Diagnose(": Out of memory drawing");
    return false;
  }
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
