// What a run shows: the GL context and backend, the stand-in engine with the
// module loaded, the engine's clock, and one mesh object per character.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/backend_gl.h"
#include "engine/movable.h"
#include "engine/stage.h"
#include "host/clock.h"
#include "host/ref.h"
#include "ical3dstate.h"
#include "irigweavestate.h"
#include "viewer/gl_context.h"
#include "viewer/model_place.h"
#include "viewer/options.h"

namespace rwview {

// The engine's clock, driven by the viewer so that a command gives the same
// pictures every time.
struct Clock {
  static constexpr csTicks kStart = 100000;
  static csTicks Read(void* self) { return static_cast<Clock*>(self)->now; }
  csTicks now = kStart;
};

// A mesh object with its model loaded, and where it stands.
struct Character {
  Model* model = nullptr;
  csRef<iMeshObject> mesh;
  csRef<iCal3DState> state;
  csRef<iRigweaveState> rigweave;
  csRef<rwengine::Movable> movable;
  // The props of --attach hung on its bones; their movables are children of
  // this one's.
  std::vector<Character> props;
};

class Scene {
 public:
  // `models` and `propModels` (one per --attach) must outlive the scene; its
  // characters point into them.
  Scene(const Options& options, std::vector<Model>& models, std::vector<Model>& propModels);
  ~Scene();
  Scene(const Scene&) = delete;
  Scene& operator=(const Scene&) = delete;

  // Opens the GL context (none for --list), the engine, and the module.
  void Open();
  // One mesh object per character, each model loaded and animated, a line
  // per map the module could not read. Throws Failure, or Interrupted.
  void MakeCharacters();

  // The floor first, then the characters, then their props.
  std::vector<std::pair<iMeshObject*, iMovable*>> Objects() const;
  // A floor under the box from `low` to `high`, drawn from the next frame on.
  void AddFloor(const csVector3& low, const csVector3& high);

  const Options& options;
  std::vector<Model>& models;
  std::vector<Model>& propModels;
  double lod;
  Clock clock;
  double seconds = 0;  // animation time since the first frame, as the frame loop sets it
  std::unique_ptr<GlContext> context;
  std::unique_ptr<rwengine::GlBackend> backend;
  std::unique_ptr<rwengine::Stage> stage;
  std::vector<Character> characters;
  csRef<iMeshObject> floor;
  csRef<rwengine::Movable> floorPlace;
  // --bounds: each character's box, drawn after it with its movable.
  std::vector<csRef<iMeshObject>> boundsFrames;

 private:
  Character MakeCharacter(int index, int count);
  void Load(Character& character, bool firstOfModel);
  // The --attach props of one character, each loaded and hung on its bone.
  void HangProps(Character& character, bool first);
  // The --morph weights and the morph animation a character plays.
  void SetMorphs(Character& character);
};

}  // namespace rwview
