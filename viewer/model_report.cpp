#include "viewer/model_report.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "formats/cal3d_objects.h"
#include "tools/map_report.h"
#include "tools/model_files.h"
#include "viewer/failure.h"

namespace rwview {
namespace {

namespace fs = std::filesystem;

std::string MapProblem(const Model& model, const std::string& map, const std::string& startFolder,
                       std::string& fix) {
  return rwtools::MapProblem(model.folder.string(), map, model.config,
                             (fs::path(startFolder) / "imported").string(), fix);
}

void ListSkeleton(const Model& model, const std::string& value, int& bones) {
  std::vector<uint8_t> bytes;
  std::string reason;
  if (rwtools::ReadCheckedCal3D(model.Path(value), rigweave::Cal3DKind::Skeleton, 0, bytes, reason,
                                &bones))
    std::printf("  skeleton %s: %d %s\n", value.c_str(), bones, bones == 1 ? "bone" : "bones");
  else
    std::printf("  skeleton %s: %s\n", value.c_str(), reason.c_str());
}

void ListMesh(const Model& model, const std::string& value, int bones) {
  std::vector<uint8_t> bytes;
  std::string reason;
  CalCoreMeshPtr mesh;
  if (rwtools::ReadCheckedCal3D(model.Path(value), rigweave::Cal3DKind::Mesh, bones, bytes, reason))
    mesh = rigweave::ReadCoreMesh(bytes,
                                  rigweave::NamesCal3DXmlFile(value, rigweave::Cal3DKind::Mesh));
  if (!mesh) {
    std::printf("  mesh %s: %s\n", value.c_str(),
                reason.empty() ? "Cal3D cannot read it" : reason.c_str());
    return;
  }
  const int submeshes = mesh->getCoreSubmeshCount();
  std::printf("  mesh %s: %d %s\n", value.c_str(), submeshes,
              submeshes == 1 ? "sub-mesh" : "sub-meshes");
  for (int i = 0; i < mesh->getCoreSubmeshCount(); i++) {
    CalCoreSubmesh* sub = mesh->getCoreSubmesh(i);
    std::printf("    sub-mesh %d: %d vertices, %d faces, material %d\n", i, sub->getVertexCount(),
                sub->getFaceCount(), sub->getCoreMaterialThreadId());
  }
}

void ListMaterials(const Model& model, const std::string& startFolder) {
  for (const rwtools::MaterialMaps& material :
       rwtools::ReadMaterialMaps(model.folder.string(), model.entries)) {
    if (!material.problem.empty()) {
      std::printf("  material %s: %s\n", material.file.c_str(), material.problem.c_str());
      continue;
    }
    std::printf("  material %s: %zu map%s\n", material.file.c_str(), material.maps.size(),
                material.maps.size() == 1 ? "" : "s");
    for (const std::string& map : material.maps) {
      std::string fix;
      std::printf("    map %s: %s\n", map.c_str(),
                  model.loadedMaps.count(map) > 0
                      ? "loaded"
                      : ("not loaded, " + MapProblem(model, map, startFolder, fix)).c_str());
    }
  }
}

}  // namespace

// Maps with the same problem and the same fix (an export's pictures, all
// fixed by one import) are one line, naming the first few and the count.
void ReportMaps(const Model& model, const std::string& startFolder) {
  std::set<std::string> reported;
  std::vector<std::pair<std::string, std::vector<std::string>>> causes;  // in first-seen order
  for (const rwtools::MaterialMaps& material :
       rwtools::ReadMaterialMaps(model.folder.string(), model.entries)) {
    for (const std::string& map : material.maps) {
      if (model.loadedMaps.count(map) > 0 || !reported.insert(map).second) continue;
      std::string fix;
      std::string cause = MapProblem(model, map, startFolder, fix);
      if (!fix.empty()) cause += "; to fix: " + fix;
      auto same = std::find_if(causes.begin(), causes.end(),
                               [&](const auto& seen) { return seen.first == cause; });
      if (same == causes.end()) same = causes.insert(causes.end(), {cause, {}});
      same->second.push_back(map);
    }
  }
  constexpr size_t kNamed = 3;
  for (const auto& [cause, maps] : causes) {
    std::string which = "map " + maps[0];
    if (maps.size() > 1) {
      which = std::to_string(maps.size()) + " maps (";
      for (size_t i = 0; i < std::min(kNamed, maps.size()); i++)
        which += (i > 0 ? ", " : "") + maps[i];
      if (maps.size() > kNamed) which += " and " + std::to_string(maps.size() - kNamed) + " more";
      which += ")";
    }
    std::fprintf(stderr, "%s: %s: %s: %s\n", kProgram, model.name.c_str(), which.c_str(),
                 cause.c_str());
  }
}

void ListModel(const Model& model, const std::string& startFolder, iRigweaveState& state) {
  std::printf("model %s\n", model.name.c_str());
  int bones = 0, animation = 0;
  for (const rigweave::ConfigEntry& entry : model.entries.entries) {
    switch (entry.key) {
      case rigweave::ConfigKey::Scale:
        std::printf("  scale %s\n", entry.value.c_str());
        break;
      case rigweave::ConfigKey::Skeleton:
        ListSkeleton(model, entry.value, bones);
        break;
      case rigweave::ConfigKey::Animation: {
        const std::string name(rigweave::AnimationNameFromFile(entry.value));
        const int id = animation++;
        std::printf("  animation %s %.3f s%s%s\n", name.c_str(), state.GetAnimationDuration(id),
                    state.AnimationMovesBones(id) ? "" : " (no bone moves)",
                    name == model.cycle ? " (played)" : "");
        break;
      }
      case rigweave::ConfigKey::Mesh:
        ListMesh(model, entry.value, bones);
        break;
      case rigweave::ConfigKey::Material:
      case rigweave::ConfigKey::MorphAnimation:
      case rigweave::ConfigKey::BlendMesh:
      case rigweave::ConfigKey::Other:
        break;
    }
  }
  ListMaterials(model, startFolder);
}

}  // namespace rwview
