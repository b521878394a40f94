#include "model/cal3d_skinning.h"

#include <cal3d/cal3d.h>

#include <new>

namespace rigweave {

bool Cal3DSkinning::Prepare(CalModel& model) {
  isa_ = ChosenSkinningIsa();
  layouts_.clear();
  cores_.clear();
  palette_.clear();
  std::vector<CalCoreSubmesh*> released;
  try {
    const int boneCount = static_cast<int>(model.getSkeleton()->getVectorBone().size());
    std::vector<SkinningVertex> vertices;
    std::vector<SkinningInfluence> influences;
    for (CalMesh* mesh : model.getVectorMesh()) {
      for (int sub = 0; sub < mesh->getSubmeshCount(); sub++) {
        CalSubmesh* submesh = mesh->getSubmesh(sub);
        if (submesh == nullptr) continue;  // the renderer skips it too
        layouts_.emplace_back();
        CalCoreSubmesh* core = submesh->getCoreSubmesh();
        cores_.push_back(core);
        if (core->getSpringCount() > 0 || submesh->hasInternalData()) continue;
        const std::vector<CalCoreSubmesh::Vertex>& source = core->getVectorVertex();
        size_t influenceTotal = 0;
        for (const CalCoreSubmesh::Vertex& vertex : source)
          influenceTotal += vertex.vectorInfluence.size();
        influences.resize(influenceTotal);
        vertices.resize(source.size());
        size_t at = 0;
        for (size_t i = 0; i < source.size(); i++) {
          const CalCoreSubmesh::Vertex& vertex = source[i];
          vertices[i].position[0] = vertex.position.x;
          vertices[i].position[1] = vertex.position.y;
          vertices[i].position[2] = vertex.position.z;
          for (size_t k = 0; k < vertex.vectorInfluence.size(); k++)
            influences[at + k] = {vertex.vectorInfluence[k].boneId,
                                  vertex.vectorInfluence[k].weight};
          vertices[i].influences = {influences.data() + at, vertex.vectorInfluence.size()};
          at += vertex.vectorInfluence.size();
        }
        if (!layouts_.back().Build(vertices, boneCount)) continue;
        if (core->getCoreSubMorphTargetCount() == 0) released.push_back(core);
      }
    }
    palette_.resize(static_cast<size_t>(boneCount));
  } catch (const std::bad_alloc&) {
    layouts_.clear();
    cores_.clear();
    palette_.clear();
    return false;
  }
  for (CalCoreSubmesh* core : released)
    for (CalCoreSubmesh::Vertex& vertex : core->getVectorVertex())
      std::vector<CalCoreSubmesh::Influence>().swap(vertex.vectorInfluence);
  return true;
}

bool Cal3DSkinning::Owns(int index) const {
  return index >= 0 && static_cast<size_t>(index) < layouts_.size() &&
         layouts_[static_cast<size_t>(index)].VertexCount() > 0;
}

size_t Cal3DSkinning::Bytes() const {
  size_t bytes = palette_.capacity() * sizeof(SkinningBone);
  for (const SkinningLayout& layout : layouts_) bytes += layout.Bytes();
  return bytes + layouts_.capacity() * sizeof(SkinningLayout);
}

bool Cal3DSkinning::SetIsa(SkinningIsa isa) {
  if (!SkinningIsaSupported(isa)) return false;
  isa_ = isa;
  return true;
}

void Cal3DSkinning::BeginFrame(CalModel& model) {
  const std::vector<CalBone*>& bones = model.getSkeleton()->getVectorBone();
  const size_t count = bones.size() < palette_.size() ? bones.size() : palette_.size();
  for (size_t i = 0; i < count; i++) {
    const CalMatrix& m = bones[i]->getTransformMatrix();
    const CalVector& t = bones[i]->getTranslationBoneSpace();
    palette_[i] = {{{m.dxdx, m.dxdy, m.dxdz, t.x},
                    {m.dydx, m.dydy, m.dydz, t.y},
                    {m.dzdx, m.dzdy, m.dzdz, t.z}}};
  }
}

int Cal3DSkinning::Skin(int index, CalSubmesh& submesh, float* output, size_t capacity, float scale,
                        float sine, float cosine) const {
  if (!Owns(index) || cores_[static_cast<size_t>(index)] != submesh.getCoreSubmesh() ||
      submesh.hasInternalData())
    return -1;
  // Cal3D blends morph targets in unless their weights leave the base at 1.
  if (submesh.getMorphTargetWeightCount() > 0 && submesh.getBaseWeight() != 1.0f) return -1;
  SkinningJob job;
  job.layout = &layouts_[static_cast<size_t>(index)];
  job.bones = {palette_.data(), palette_.size()};
  job.vertexCount = submesh.getVertexCount();
  // The module never changes Cal3D's axis factors, which a physique starts
  // with at 1 (and keeps private).
  job.scale = scale;
  job.turnSine = sine;
  job.turnCosine = cosine;
  job.isa = isa_;
  job.output = {output, 3 * capacity};
  return job.Run() ? job.vertexCount : -1;
}

}  // namespace rigweave
