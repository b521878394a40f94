// Light: UpdateLighting takes the engine's lights into object space; Draw
// colours each sub-mesh as it skins it (model/bounds_pick.cpp), from the
// normals of the pose it draws, so that the colours are never a frame behind
// the pose and are computed once for it.
#include <cal3d/cal3d.h>

#include <cmath>

#include "model/mesh_object.h"
#include "host/light.h"
#include "model/submesh_walk.h"
#include "render/lighting_job.h"

static_assert(iRigweaveState::kMaxLights <= rigweave::LightSetting::kMaxLights,
              "every light the object keeps reaches the lighting job");

void csCal3DMeshObject::UpdateLighting(iLight** given, int count, iMovable* movable) {
  if (!calModel) return;
  if (lit) {
    // The centres in world space; the movable carries object space there.
    lightCount = 0;
    const csReversibleTransform toWorld =
        movable != nullptr ? movable->GetFullTransform() : csReversibleTransform();
    for (int k = 0; given != nullptr && k < count && lightCount < iRigweaveState::kMaxLights; k++) {
      if (given[k] == nullptr) continue;
      iLight& light = *given[k];
      lights[lightCount++] = {toWorld.Other2This(light.GetCenter()), light.GetColor(),
                              light.GetAttenuation(), light.GetRadius()};
    }
    return;
  }
  rigweave::ForEachSubmesh(*calModel, [this](const rigweave::SubmeshVisit& visit) {
    if (visit.index >= meshRecordCount) return false;  // one colour array per record, no more
    // Only the count is needed: no vertex is computed for it.
    const int vertices = visit.renderer.getVertexCount();
    csColor* colors = vertexColors[visit.index];
    for (int i = 0; i < vertices; i++) colors[i] = {1.0f, 1.0f, 1.0f};
    return true;
  });
}

csColor csCal3DMeshObject::DiffuseOf(CalSubmesh& submesh) const {
  // Looked up by id within range: Cal3D's own lookup of a bad id would
  // write its error state, which every thread shares.
  const int id = submesh.getCoreMaterialId();
  if (id < 0 || id >= calCoreModel->getCoreMaterialCount()) return {1.0f, 1.0f, 1.0f};
  const CalCoreMaterial::Color& c = calCoreModel->getCoreMaterial(id)->getDiffuseColor();
  return {c.red / 255.0f, c.green / 255.0f, c.blue / 255.0f};
}

rigweave::LightSetting csCal3DMeshObject::LightSettingOf(CalSubmesh& submesh) const {
  rigweave::LightSetting setting;
  setting.lights = {lights, static_cast<size_t>(lightCount)};
  setting.ambient = ambient;
  setting.diffuse = DiffuseOf(submesh);
  return setting;
}

void csCal3DMeshObject::LightSubmesh(const rigweave::SubmeshVisit& visit) {
  const auto index = static_cast<size_t>(visit.index);
  const size_t first = pose.first[index];
  const auto count = static_cast<size_t>(pose.count[index]);
  rigweave::LightingJob job;
  job.positions = {&pose.positions[first], count};
  job.normals = {&pose.normals[first], count};
  job.setting = LightSettingOf(visit.submesh);
  job.output = {&pose.colors[first], count};
  job.Run();
}

void csCal3DMeshObject::SetLighting(bool on) {
  rigweave::Guarded("SetLighting", [&] {
    lit = on;
    if (on) SizePose();
  });
}

bool csCal3DMeshObject::SetAmbientLight(const csColor& color) {
  for (float c : {color.red, color.green, color.blue})
    if (!std::isfinite(c) || c < 0.0f) return false;
  ambient = color;
  return true;
}
