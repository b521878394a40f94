// One animated character in the scene: a Cal3D core model and model instance
// with everything needed to load, animate, draw and bound it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/engine_loading.h"
#include "host/file_system.h"
#include "host/graphics.h"
#include "host/mesh.h"
#include "host/ref.h"
#include "host/scf_impl.h"
#include "ical3dstate.h"
#include "formats/cal3d_newer.h"
#include "formats/morph_animation.h"
#include "model/guarded.h"
#include "model/cal3d_skinning.h"
#include "model/pose.h"
#include "render/box_mesh.h"
#include "model/rigweave_state.h"
#include "render/lighting_job.h"
#include "render/limits.h"
#include "render/skinning_job.h"

class CalCoreModel;
class CalModel;
class CalRenderer;
class CalSubmesh;

namespace rigweave {
enum class Cal3DKind;
class TextureFiles;
class Cal3DSkinning;
struct ConfigEntry;
struct FaceLevel;
class SharedModel;
struct SubmeshVisit;
}  // namespace rigweave

class csCal3DMeshObject : public scfImplementation<csCal3DMeshObject, iMeshObject>,
                          private rigweave::CharacterGeometry {
 public:
  // The registry, when given, may hold the engine's file system, whose root
  // the object's models are read below; without one they are read below the
  // process's current folder.
  // The skinning unit's jobs run on `isa`, which the type chose once.
  explicit csCal3DMeshObject(iBase* parent, iObjectRegistry* registry = nullptr,
                             rigweave::SkinningIsa isa = rigweave::BestSkinningIsa());
  ~csCal3DMeshObject() override;

  // iMeshObject
  iMeshObjectFactory* GetFactory() override { return factory; }
  bool DrawTest(iRenderView* view, iMovable* movable) override;
  void UpdateLighting(iLight** lights, int num_lights, iMovable* movable) override;
  bool Draw(iRenderView* view, iMovable* movable, csZBufMode zbufMode) override;
  void SetVisibleCallback(iMeshObjectDrawCallback* callback) override;
  iMeshObjectDrawCallback* GetVisibleCallback() override { return visibleCallback; }
  void GetObjectBoundingBox(csBox3& bbox, int type) override;
  void GetRadius(csVector3& radius, csVector3& center) override;
  void NextFrame(csTicks) override {}
  bool WantToDie() override { return false; }
  void HardTransform(const csReversibleTransform&) override {}
  bool SupportsHardTransform() override { return false; }
  bool HitBeamOutline(const csVector3& start, const csVector3& end, csVector3& isect,
                      float* pr) override;
  bool HitBeamObject(const csVector3& start, const csVector3& end, csVector3& isect,
                     float* pr) override;
  iObjectModel* GetObjectModel() override { return nullptr; }
  void SetLogicalParent(iBase* logical_parent) override { logicalParent = logical_parent; }
  iBase* GetLogicalParent() override { return logicalParent; }

  // The object's own operations, reached by iCal3DState.
  virtual bool LoadModel(const char* modelName, iLoader* loader, iEngine* engine);
  virtual bool ExecuteAction(const char* name, float delayIn, float delayOut);
  virtual bool BlendCycle(const char* name, float delay, float weight);
  virtual bool ClearCycle(const char* name, float delay);
  virtual void ClearAllCycles();
  virtual void SetLodLevel(float level);

  bool SetCycle(const char* name, float clearDelay, float blendDelay, float weight);

  void* scfQueryOwn(scfInterfaceID id, scfInterfaceVersion version);

 private:
  // Releases everything a load made, so that the object is as if new.
  void Unload();

  // Loading (mesh_object_load.cpp). Everything LoadModel does once the
  // arguments are checked; false, or std::bad_alloc, leaves it to LoadModel
  // to unload what was made.
  bool LoadModelFiles(const char* modelName, iLoader* loader, iEngine* engine);
  // A first load of the model: everything read, checked and made into
  // `shared`, which later loads of the same files then share.
  bool LoadAfresh(const char* modelName, iLoader* loader, iEngine* engine);
  // The map materials of the core model, each texture file made a
  // material once per engine.
  void MakeMaterials(iEngine* engine);
  // A character of the model `shared` already holds.
  bool ShareModel();
  bool LoadConfigFile(const std::string& modelName);
  bool ReadModelFile(const std::string& name, size_t limit, std::vector<uint8_t>& bytes);
  bool ReadCheckedFile(const std::string& value, rigweave::Cal3DKind kind, int bones,
                       std::vector<uint8_t>& bytes, rigweave::NewerCal3DContext& newer);
  // False, with a line that says so (and names the keys the format ignored
  // so far), when no skeleton was loaded before the file `value` that needs one.
  bool SkeletonBefore(const std::string& value, const std::string& unknownKeys);
  // The texture of the map `name`, read through the load's `files`; null,
  // with `why` set when the reason is the load's pixel budget, when none.
  iImage* ReadTextureImage(rigweave::TextureFiles& files, const std::string& name,
                           const char*& why);
  // The loading line of a Cal3D file, and an animation's name in the table;
  // false when the table is full.
  bool AnnounceCoreFile(rigweave::Cal3DKind kind, const std::string& value);
  // The file a configuration line names, checked, read by Cal3D and added
  // to the core model; false, with a line that says why, when it cannot be.
  // `unknownKeys`: the keys the format ignored so far, named when a file
  // comes before the skeleton.
  bool LoadCoreFile(const rigweave::ConfigEntry& entry, const std::string& unknownKeys);
  bool LoadMorphAnimation(const std::string& value);
  // A whole mesh added as a morph target to each sub-mesh of the first
  // loaded mesh whose line's value, less its extension, the file's name
  // contains; false, with a line that says why, when none fits.
  bool LoadBlendMesh(const std::string& value, const std::string& unknownKeys);
  // False, with a line that says so, when a morph animation (of the
  // morphanim lines `files`) drives a morph target the meshes lack; else
  // the animations and the targets' names go to the shared model.
  bool KeepMorphs(const std::vector<std::string>& files);
  // The Cal3D model instance of the loaded core model, with a draw record
  // per sub-mesh; false when the drawing path could not hold it.
  bool MakeModelInstance();
  // Binds the application interface to the model instance just made.
  void BindApplicationState();
  // The box around the rest pose, measured through Cal3D's renderer
  // (mesh_object_bounds.cpp).
  void MeasureBox();

  // The steps of Draw (mesh_object_draw.cpp).
  struct Frame;
  // False when the object went meanwhile (an application's listener or
  // attached object released the last reference): it must not be touched.
  bool AdvanceAnimation();
  // Whether to draw; false too when the callback released the object.
  bool AskVisibleCallback(iRenderView* view);
  void MakeVertexBuffer(iGraphics3D* g3d);
  int SkinSubmesh(const rigweave::SubmeshVisit& visit, Frame& frame);
  // False when the sub-mesh was not drawn (no material): it takes no slot.
  bool DrawSubmesh(const rigweave::SubmeshVisit& visit, Frame& frame);

  // The pose (model/bounds_pick.cpp): sized for the loaded model's
  // sub-meshes (false when memory runs out), and made the skeleton's present
  // one unless it is already (false without a model).
  bool SizePose();
  bool PoseNow();
  bool PoseCurrent() const;
  void MarkPoseMade();
  // Whether Draw keeps the pose it draws.
  bool Posing() const { return boundsFollow || lit; }
  // Whether the walk's sub-mesh belongs to a hidden mesh (model/outfits.cpp).
  bool Hidden(const rigweave::SubmeshVisit& visit) const;
  // One sub-mesh's pose: positions (and, when lit, normals) into the pose
  // and the box widened, through the skinning unit or Cal3D; with
  // `lighting`, its colours too.
  void PoseSubmesh(const rigweave::SubmeshVisit& visit, rigweave::SubmeshSkinningJob& job,
                   float* widen, bool lighting);
  // A skinning job into the drawn space at `factor` drawn units a model unit.
  rigweave::SubmeshSkinningJob SkinningJobOf(float factor) const;
  // The colours of one posed sub-mesh from the lights UpdateLighting took
  // (model/lighting.cpp).
  void LightSubmesh(const rigweave::SubmeshVisit& visit);
  // The diffuse colour of the sub-mesh's material, white without one.
  csColor DiffuseOf(CalSubmesh& submesh) const;
  // The lights UpdateLighting took, the ambient light and that colour.
  rigweave::LightSetting LightSettingOf(CalSubmesh& submesh) const;
  // The pose's nearest hit of the beam, or false.
  bool PickPose(const csVector3& start, const csVector3& end, csRigweaveHit& hit);

  // CharacterGeometry: iRigweaveState's bounds, picking, outfits and light.
  void SetBoundsFollow(bool follow) override;
  bool GetBoundsFollow() override { return boundsFollow; }
  bool GetPoseBox(csBox3& answer) override;
  bool HitBeam(const csVector3& start, const csVector3& end, csRigweaveHit& hit) override;
  int GetMeshCount() override;
  int GetSubmeshCount() override { return calModel ? meshRecordCount : 0; }
  bool SetMeshVisible(int mesh, bool visible) override;
  bool IsMeshVisible(int mesh) override;
  bool SetMaterialSet(int set) override;
  bool SetSubmeshMaterial(int submesh, int material) override;
  void SetLighting(bool on) override;
  bool GetLighting() override { return lit; }
  bool SetAmbientLight(const csColor& color) override;

  // Index of the name in the animation table, or -1.
  int FindAnimation(const char* name) const;
  // The material of the sub-mesh, or false with a diagnostic.
  bool ResolveMaterial(CalSubmesh& submesh, iMaterialHandle*& handle);

  // The operations an application calls, each guarded (model/guarded.h). A
  // load that throws is undone whole, so the object is as if new.
  struct Cal3DState : scfEmbedded<csCal3DMeshObject, iCal3DState> {
    using scfEmbedded::scfEmbedded;
    bool LoadModel(const char* name, iLoader* loader, iEngine* engine) override {
      return rigweave::Guarded(
          "LoadModel", false, [&] { return scfOwner->LoadModel(name, loader, engine); },
          [this] { scfOwner->Unload(); });
    }
    bool SetCycle(const char* name, float clearDelay, float blendDelay, float weight) override {
      return rigweave::Guarded("SetCycle", false, [&] {
        return scfOwner->SetCycle(name, clearDelay, blendDelay, weight);
      });
    }
    bool ExecuteAction(const char* name, float delayIn, float delayOut) override {
      return rigweave::Guarded("ExecuteAction", false,
                               [&] { return scfOwner->ExecuteAction(name, delayIn, delayOut); });
    }
    bool BlendCycle(const char* name, float delay, float weight) override {
      return rigweave::Guarded("BlendCycle", false,
                               [&] { return scfOwner->BlendCycle(name, delay, weight); });
    }
    bool ClearCycle(const char* name, float delay) override {
      return rigweave::Guarded("ClearCycle", false,
                               [&] { return scfOwner->ClearCycle(name, delay); });
    }
    void ClearAllCycles() override {
      rigweave::Guarded("ClearAllCycles", [&] { scfOwner->ClearAllCycles(); });
    }
    void SetLodLevel(float level) override {
      rigweave::Guarded("SetLodLevel", [&] { scfOwner->SetLodLevel(level); });
    }
  };

  struct VertexBufferManagerClient : scfEmbedded<csCal3DMeshObject, iVertexBufferManagerClient> {
    using scfEmbedded::scfEmbedded;
    void ManagerClosing() override;
  };

  struct Sprite3DState : scfEmbedded<csCal3DMeshObject, iSprite3DState> {
    using scfEmbedded::scfEmbedded;
    void SetMaterialWrapper(iMaterialWrapper*) override {}
    iMaterialWrapper* GetMaterialWrapper() override { return nullptr; }
    void SetMixMode(uint32_t) override {}
    uint32_t GetMixMode() override { return 0; }
    void SetLighting(bool) override {}
    bool IsLighting() override { return true; }
    iSkeletonState* GetSkeletonState() override { return nullptr; }
    void SetFrame(int) override {}
    int GetCurFrame() override { return 0; }
    int GetFrameCount() override { return 0; }
    // The sprite view's action is a cycle that takes over within a second:
    // the current animation fades out and the named one in to full weight.
    bool SetAction(const char* name) override {
      return rigweave::Guarded("SetAction", false, [&] {
        return scfOwner->SetCycle(name, kActionFadeSeconds, kActionFadeSeconds, kActionWeight);
      });
    }
    static constexpr float kActionFadeSeconds = 1.0f;
    static constexpr float kActionWeight = 1.0f;
    const char* GetCurAction() override { return nullptr; }
    void EnableTweening(bool) override {}
    bool IsTweeningEnabled() override { return true; }
    void UnsetTexture() override {}
    int GetLightingQuality() override { return 0; }
    void SetLightingQuality(int) override {}
    void SetLightingQualityConfig(int) override {}
    int GetLightingQualityConfig() override { return 0; }
    void SetLodLevelConfig(int) override {}
    int GetLodLevelConfig() override { return 0; }
    // Level of detail counts as enabled below a setting of 0.99; characters
    // keep theirs at 0.
    bool IsLodEnabled() override { return static_cast<double>(scfOwner->lodLevelConfig) < 0.99; }
    void SetLodFactor(float) override {}
    void SetLodLevels(int) override {}
  };

  struct PolygonMesh : scfEmbedded<csCal3DMeshObject, iPolygonMesh> {
    explicit PolygonMesh(csCal3DMeshObject* owner) : scfEmbedded(owner) {}
    virtual ~PolygonMesh() { Cleanup(); }
    int GetVertexCount() override { return 8; }
    csVector3* GetVertices() override { return scfOwner->box.Corners(); }
    int GetPolygonCount() override { return 6; }
    csMeshedPolygon* GetPolygons() override { return scfOwner->box.Faces(); }
    void Cleanup() override;
    // Derived data of the view's own; nothing fills it.
    void* derived = nullptr;
  };

  // Members in one fixed order, which construction follows; nothing outside
  // the object depends on their layout.
  Cal3DState scfiCal3DState;
  VertexBufferManagerClient scfiVertexBufferManagerClient;
  iBase* logicalParent;
  iMeshObjectFactory* factory =
      nullptr;  // never stored: the object holds no reference on its factory
  std::unique_ptr<CalModel> calModel;
  // What this character shares with every other of its model, and the core
  // model in it.
  std::shared_ptr<rigweave::SharedModel> shared;
  CalCoreModel* calCoreModel = nullptr;
  // The faces of each sub-mesh at the character's level of detail, shared.
  std::vector<std::shared_ptr<const rigweave::FaceLevel>> faceLevels;
  // What the polygon view serves: a box of zero size until a load measures one.
  rigweave::BoxMesh box;
  float scale = 1.0f;
  iImage* lastTextureImage = nullptr;
  csTicks lastTicks;
  iMaterialWrapper* defaultMaterial = nullptr;
  std::string animationNames[rigweave::kMaxAnimations];
  int32_t animationCount = 0;
  int32_t currentAnimation = 0;
  // The morphanim files, checked and kept for a player, and the names of
  // each mesh's morph targets by sub-mesh, which Cal3D 0.11 does not keep.
  std::vector<rigweave::MorphAnimation> morphAnimations;
  std::vector<std::vector<std::vector<std::string>>> morphNames;
  // Part of the object and never grown; untouched pages cost no memory.
  csColor vertexColors[rigweave::kMaxSubmeshes][rigweave::kMaxSubmeshVertices];
  int32_t meshRecordCount = 0;
  G3DTriangleMesh* meshRecords = nullptr;
  // Where the model being loaded is read: the file system's model folder,
  // by default models/ below its root.
  std::string modelPath;
  csRef<iFileSystem> fileSystem;
  iVertexBuffer* vertexBuffer = nullptr;
  iVertexBufferManager* vertexBufferManager = nullptr;
  iMeshObjectDrawCallback* visibleCallback = nullptr;
  Sprite3DState scfiSprite3DState;
  PolygonMesh scfiPolygonMesh;
  // The application interface for time, playback, events, bones and
  // attachments; bound to the model while one is loaded.
  rigweave::RigweaveState scfiRigweaveState;

  // The last pose, the options that keep it, the hidden meshes and the
  // lights UpdateLighting took.
  rigweave::Pose pose;
  bool boundsFollow = false;
  bool lit = false;
  csColor ambient{0.0f, 0.0f, 0.0f};
  std::vector<uint8_t> meshHidden;
  // Counts the outfit and level-of-detail changes: the pose is stale when
  // it or the state's pose serial moved.
  uint64_t geometryChanges = 0;
  rigweave::VertexLight lights[iRigweaveState::kMaxLights];
  int lightCount = 0;

  // Sub-meshes the skinning unit draws instead of Cal3D's renderer.
  std::unique_ptr<rigweave::Cal3DSkinning> skinning;
  rigweave::SkinningIsa skinningIsa;
  // The sprite view's level-of-detail setting. Characters never change it:
  // their level of detail is Cal3D's, set through iCal3DState.
  static constexpr int32_t lodLevelConfig = 0;
};
