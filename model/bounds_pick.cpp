// The pose the module keeps for the box that follows the animation and for
// picking: made by Draw as it skins, or here on request when the character
// moved without being drawn.
#include <cal3d/cal3d.h>

#include <algorithm>
#include <new>

#include "model/cal3d_skinning.h"
#include "model/mesh_object.h"
#include "model/shared_model.h"
#include "model/submesh_walk.h"
#include "render/engine_space.h"

bool csCal3DMeshObject::SizePose() {
  if (!calModel) return false;
  try {
    pose.Size(*calModel, lit);
    return true;
  } catch (const std::bad_alloc&) {
    pose.Release();
    rigweave::Diagnose(": Out of memory keeping the pose");
    return false;
  }
}

bool csCal3DMeshObject::PoseCurrent() const {
  return pose.made && pose.serial == scfiRigweaveState.PoseSerial() &&
         pose.changes == geometryChanges && (!lit || pose.HasNormals());
}

void csCal3DMeshObject::MarkPoseMade() {
  pose.made = true;
  pose.serial = scfiRigweaveState.PoseSerial();
  pose.changes = geometryChanges;
}

rigweave::SubmeshSkinningJob csCal3DMeshObject::SkinningJobOf(float factor) const {
  const rigweave::AxisTurn& turn = rigweave::GetAxisTurn();
  rigweave::SubmeshSkinningJob job;
  job.skinning = skinning.get();
  job.scale = factor;
  job.turnSine = turn.sine;
  job.turnCosine = turn.cosine;
  return job;
}

void csCal3DMeshObject::PoseSubmesh(const rigweave::SubmeshVisit& visit,
                                    rigweave::SubmeshSkinningJob& job, float* widen,
                                    bool lighting) {
  const auto index = static_cast<size_t>(visit.index);
  pose.count[index] = 0;
  const size_t first = pose.first[index];
  const size_t room =
      (index + 1 < pose.first.size() ? pose.first[index + 1] : pose.positions.size()) - first;
  const int vertexCount = visit.submesh.getVertexCount();
  if (vertexCount <= 0 || static_cast<size_t>(vertexCount) > room) return;
  csVector3* positions = &pose.positions[first];
  csVector3* normals = lit && pose.HasNormals() ? &pose.normals[first] : nullptr;
  job.index = visit.index;
  job.submesh = &visit.submesh;
  job.output = {&positions->x, 3 * room};
  job.normalOutput = {normals != nullptr ? &normals->x : nullptr,
                      normals != nullptr ? 3 * room : 0};
  job.box = widen;
  lighting = lighting && normals != nullptr;
  job.colorOutput = {lighting ? &pose.colors[first] : nullptr, lighting ? room : 0};
  if (lighting) job.lighting = LightSettingOf(visit.submesh);
  const bool skinned = job.Run();
  if (!skinned) {
    // Cal3D's renderer, then the turn: positions scaled, normals not.
    const size_t count = static_cast<size_t>(visit.renderer.getVertices(&positions->x));
    rigweave::EngineSpaceJob turn;
    turn.scale = job.scale;
    turn.input = {positions, count};
    turn.output = {positions, count};
    turn.Run();
    for (size_t i = 0; i < count; i++) {
      for (int c = 0; c < 3; c++) {
        widen[c] = std::min(widen[c], positions[i][c]);
        widen[3 + c] = std::max(widen[3 + c], positions[i][c]);
      }
    }
    if (normals != nullptr) {
      visit.renderer.getNormals(&normals->x);
      turn.scale = 1.0f;
      turn.input = {normals, count};
      turn.output = {normals, count};
      turn.Run();
    }
  }
  pose.count[index] = vertexCount;
  if (lighting && !skinned) LightSubmesh(visit);
}

bool csCal3DMeshObject::PoseNow() {
  if (!calModel || !SizePose()) return false;
  if (PoseCurrent()) return true;
  if (skinning) skinning->BeginFrame(*calModel);
  rigweave::SubmeshSkinningJob job =
      SkinningJobOf(static_cast<float>(scale * rigweave::kDrawnUnitsPerModelUnit));
  float bounds[6];
  rigweave::Pose::EmptyBox(bounds);
  rigweave::ForEachSubmesh(*calModel, [&](const rigweave::SubmeshVisit& visit) {
    if (static_cast<size_t>(visit.index) >= pose.first.size()) return false;
    if (Hidden(visit))
      pose.count[static_cast<size_t>(visit.index)] = 0;
    else
      PoseSubmesh(visit, job, bounds, false);
    return true;
  });
  std::copy(bounds, bounds + 6, pose.box);
  MarkPoseMade();
  return true;
}

void csCal3DMeshObject::SetBoundsFollow(bool follow) {
  rigweave::Guarded("SetBoundsFollow", [&] {
    boundsFollow = follow;
    if (follow) SizePose();
  });
}

bool csCal3DMeshObject::GetPoseBox(csBox3& answer) {
  return rigweave::Guarded("GetPoseBox", false, [&] {
    if (!PoseNow() || pose.box[0] > pose.box[3]) return false;
    answer.Set(csVector3(pose.box[0], pose.box[1], pose.box[2]),
               csVector3(pose.box[3], pose.box[4], pose.box[5]));
    return true;
  });
}

bool csCal3DMeshObject::PickPose(const csVector3& start, const csVector3& end, csRigweaveHit& hit) {
  if (!PoseNow() || Norm(end - start) == 0.0f) return false;
  if (!rigweave::SegmentMeetsBox(pose.box, start, end)) return false;
  float nearest = HUGE_VALF;
  bool found = false;
  rigweave::ForEachSubmesh(*calModel, [&](const rigweave::SubmeshVisit& visit) {
    const auto index = static_cast<size_t>(visit.index);
    if (index >= pose.first.size() || index >= faceLevels.size()) return false;
    const rigweave::FaceLevel& faces = *faceLevels[index];
    // Faces of another level than the pose's could reach past its vertices.
    if (pose.count[index] == 0 || faces.vertexCount != pose.count[index]) return true;
    float fraction = 0;
    int triangle = -1;
    if (!rigweave::NearestHit(&pose.positions[pose.first[index]], faces.Forward(), faces.Count(),
                              start, end, fraction, triangle) ||
        fraction >= nearest)
      return true;
    nearest = fraction;
    found = true;
    hit.fraction = fraction;
    hit.point = start + (end - start) * fraction;
    hit.submesh = visit.index;
    hit.mesh = visit.mesh;
    hit.triangle = triangle;
    return true;
  });
  return found;
}

bool csCal3DMeshObject::HitBeam(const csVector3& start, const csVector3& end, csRigweaveHit& hit) {
  return rigweave::Guarded("HitBeam", false, [&] {
    csRigweaveHit found;
    if (!PickPose(start, end, found)) return false;
    hit = found;
    return true;
  });
}

bool csCal3DMeshObject::HitBeamOutline(const csVector3& start, const csVector3& end,
                                       csVector3& isect, float* pr) {
  return HitBeamObject(start, end, isect, pr);
}

bool csCal3DMeshObject::HitBeamObject(const csVector3& start, const csVector3& end,
                                      csVector3& isect, float* pr) {
  if (!boundsFollow) return false;
  csRigweaveHit hit;
  if (!HitBeam(start, end, hit)) return false;
  isect = hit.point;
  if (pr != nullptr) *pr = hit.fraction;
  return true;
}
