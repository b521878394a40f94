#include "viewer/picking.h"

#include <cstdio>

#include "formats/config.h"

namespace rwview {

void PixelBeam(const rwengine::Projection& projection, const csOrthoTransform& camera,
               bool mirrored, int x, int y, float reach, csVector3& start, csVector3& end) {
  // The backend lands camera-space (cx, cy, cz) at column centerX + aspect *
  // cx / cz, and at row centerY + aspect * cy / cz counted from the bottom.
  const float aspect = projection.aspect > 0 ? projection.aspect : 1.0f;
  const float column = static_cast<float>(x) + 0.5f - static_cast<float>(projection.centerX);
  const float row =
      static_cast<float>(projection.height - y) - 0.5f - static_cast<float>(projection.centerY);
  csVector3 direction((mirrored ? -column : column) / aspect, row / aspect, 1.0f);
  direction *= reach / Norm(direction);
  start = camera.GetOrigin();
  end = camera.This2Other(direction);
}

Pick PickAt(const Scene& scene, int x, int y, float reach) {
  csVector3 start, end;
  PixelBeam(scene.stage->GetGraphics()->GetProjection(), scene.stage->GetCamera()->GetTransform(),
            scene.stage->GetCamera()->IsMirrored(), x, y, reach, start, end);
  // Object transforms keep straight lines and ratios along them, so the
  // fractions of every character's beam compare as distances from the eye.
  Pick nearest;
  for (size_t i = 0; i < scene.characters.size(); i++) {
    const Character& c = scene.characters[i];
    const csReversibleTransform place = c.movable->GetFullTransform();
    csRigweaveHit hit{};
    if (!c.rigweave->HitBeam(place.Other2This(start), place.Other2This(end), hit)) continue;
    if (nearest.hit && hit.fraction >= nearest.where.fraction) continue;
    nearest.hit = true;
    nearest.character = i;
    nearest.where = hit;
    nearest.world = place.This2Other(hit.point);
  }
  return nearest;
}

std::string DescribePick(const Scene& scene, int x, int y, const Pick& pick) {
  char line[512];
  if (!pick.hit) {
    std::snprintf(line, sizeof line, "pick %d,%d: nothing", x, y);
    return line;
  }
  const Character& c = scene.characters[pick.character];
  const std::vector<std::string> meshes = c.model->entries.Values(rigweave::ConfigKey::Mesh);
  const int mesh = pick.where.mesh;
  const std::string file = mesh >= 0 && static_cast<size_t>(mesh) < meshes.size()
                               ? meshes[static_cast<size_t>(mesh)]
                               : "?";
  char who[64] = "";
  if (scene.characters.size() > 1)
    std::snprintf(who, sizeof who, "character %zu, ", pick.character + 1);
  std::snprintf(line, sizeof line,
                "pick %d,%d: %s%s, mesh %d (%s), sub-mesh %d, triangle %d at (%.3f, %.3f, %.3f)", x,
                y, who, c.model->name.c_str(), mesh, file.c_str(), pick.where.submesh,
                pick.where.triangle, pick.world.x, pick.world.y, pick.world.z);
  return line;
}

}  // namespace rwview
