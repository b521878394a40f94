#include "model/cal3d_skinning.h"

#include <cal3d/cal3d.h>

#include <cstdlib>
#include <new>
#include <string>

#include "model/diagnostics.h"
#include "model/submesh_walk.h"

namespace rigweave {

namespace {

// Cal3D's vertices of `core` as the layout is built from them; `influences`
// holds what the vertices' spans point into.
void CopyVertices(const CalCoreSubmesh& core, std::vector<SkinningVertex>& vertices,
                  std::vector<SkinningInfluence>& influences) {
  const std::vector<CalCoreSubmesh::Vertex>& source =
      const_cast<CalCoreSubmesh&>(core).getVectorVertex();
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
    vertices[i].normal[0] = vertex.normal.x;
    vertices[i].normal[1] = vertex.normal.y;
    vertices[i].normal[2] = vertex.normal.z;
    for (size_t k = 0; k < vertex.vectorInfluence.size(); k++)
      influences[at + k] = {vertex.vectorInfluence[k].boneId, vertex.vectorInfluence[k].weight};
    vertices[i].influences = {influences.data() + at, vertex.vectorInfluence.size()};
    at += vertex.vectorInfluence.size();
  }
}

}  // namespace

SkinningIsa ChooseSkinningIsa() {
  const char* asked = std::getenv("RIGWEAVE_SKINNING_ISA");
  if (asked == nullptr) return BestSkinningIsa();
  const std::string use = std::string("; using ") + SkinningIsaName(BestSkinningIsa());
  SkinningIsa named;
  if (!SkinningIsaFromName(asked, named)) {
    Diagnose(": Unknown skinning instruction set ",
             "RIGWEAVE_SKINNING_ISA=" + std::string(asked).substr(0, 40) +
                 " (scalar, sse2, avx2 or avx512)" + use);
    return BestSkinningIsa();
  }
  if (!SkinningIsaSupported(named)) {
    Diagnose(": Skinning instruction set not on this processor ",
             "RIGWEAVE_SKINNING_ISA=" + std::string(asked) + use);
    return BestSkinningIsa();
  }
  return named;
}

bool Cal3DSkinning::Prepare(CalModel& model, Scratch& scratch) {
  records_.reset();
  palette_.clear();
  std::vector<CalCoreSubmesh*> released;
  // The layouts are the one place the module lets the standard containers
  // grow on the model's own numbers, so running out is caught here whole.
  try {
    const int boneCount = static_cast<int>(model.getSkeleton()->getVectorBone().size());
    auto records = std::make_shared<std::vector<Record>>();
    std::vector<SkinningVertex>& vertices = scratch.vertices;
    std::vector<SkinningInfluence>& influences = scratch.influences;
    ForEachSubmesh(model, [&](const SubmeshVisit& visit) {
      records->emplace_back();
      CalCoreSubmesh* core = visit.submesh.getCoreSubmesh();
      records->back().core = core;
      if (core->getSpringCount() > 0 || visit.submesh.hasInternalData()) return true;
      CopyVertices(*core, vertices, influences);
      if (!records->back().layout.Build(vertices, boneCount)) return true;
      if (core->getCoreSubMorphTargetCount() == 0) released.push_back(core);
      return true;
    });
    palette_.resize(static_cast<size_t>(boneCount));
    records_ = std::move(records);
  } catch (const std::bad_alloc&) {
    records_.reset();
    palette_.clear();
    return false;
  }
  for (CalCoreSubmesh* core : released)
    for (CalCoreSubmesh::Vertex& vertex : core->getVectorVertex())
      std::vector<CalCoreSubmesh::Influence>().swap(vertex.vectorInfluence);
  return true;
}

bool Cal3DSkinning::Share(const Cal3DSkinning& prepared, CalModel& model) {
  try {
    palette_.resize(model.getSkeleton()->getVectorBone().size());
  } catch (const std::bad_alloc&) {
    return false;
  }
  records_ = prepared.records_;
  return true;
}

const Cal3DSkinning::Record* Cal3DSkinning::Find(int index) const {
  if (!records_ || index < 0 || static_cast<size_t>(index) >= records_->size()) return nullptr;
  return &(*records_)[static_cast<size_t>(index)];
}

size_t Cal3DSkinning::Bytes() const {
  size_t bytes = palette_.capacity() * sizeof(SkinningBone);
  if (!records_) return bytes;
  for (const Record& record : *records_) bytes += record.layout.Bytes();
  return bytes + records_->capacity() * sizeof(Record);
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

SkinningJob SubmeshSkinningJob::Job() const {
  SkinningJob job;
  job.layout = &skinning->Find(index)->layout;
  job.bones = skinning->Palette();
  job.vertexCount = submesh->getVertexCount();
  // The module never changes Cal3D's axis factors, which a physique starts
  // with at 1 (and keeps private).
  job.scale = scale;
  job.turnSine = turnSine;
  job.turnCosine = turnCosine;
  job.isa = skinning->Isa();
  job.output = output;
  job.normalOutput = normalOutput;
  job.box = box;
  job.colorOutput = colorOutput;
  job.lighting = lighting;
  return job;
}

bool SubmeshSkinningJob::Validate() const {
  if (skinning == nullptr || submesh == nullptr) return false;
  const Cal3DSkinning::Record* record = skinning->Find(index);
  if (record == nullptr || record->layout.VertexCount() == 0) return false;
  if (record->core != submesh->getCoreSubmesh() || submesh->hasInternalData()) return false;
  // Cal3D blends morph targets in unless their weights leave the base at 1.
  if (submesh->getMorphTargetWeightCount() > 0 && submesh->getBaseWeight() != 1.0f) return false;
  return Job().Validate();
}

bool SubmeshSkinningJob::Run() const {
  return Validate() && Job().Run();
}

}  // namespace rigweave
