// A whole engine around the real module, with a recording renderer and a
// clock the test sets by hand. Models are read below the build folder, where
// the build generated the sample characters, until a test names another
// root.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/backend_recording.h"
#include "engine/movable.h"
#include "engine/stage.h"
#include "host/clock.h"
#include "host/ref.h"
#include "ical3dstate.h"
#include "support/model_folder.h"
#include "support/output.h"

namespace rwtest {

class StageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    csSetTickSource(&ReadClock, this);
    stage = std::make_unique<rwengine::Stage>(&recorder, 640, 480, RIGWEAVE_BUILD_DIR);
    ASSERT_TRUE(stage->LoadModule(RIGWEAVE_MODULE_PATH)) << stage->LastError();
    movable = csRef<rwengine::Movable>::Adopt(new rwengine::Movable);
  }
  void TearDown() override {
    movable.reset();
    stage.reset();
    csSetTickSource(nullptr, nullptr);
  }

  // Loads from now on read the models below `root`.
  void UseRoot(const std::string& root) { stage->GetFileSystem()->SetRoot(root); }
  void Use(const ModelFolder& folder) { UseRoot(folder.Root()); }

  // A mesh object of the loaded module.
  csRef<iMeshObject> NewMesh() { return stage->NewMeshObject(); }

  static csRef<iCal3DState> StateOf(iBase* mesh) {
    return csRef<iCal3DState>::Adopt(scfQueryInterface<iCal3DState>(mesh));
  }
  bool Load(iBase* mesh, const char* name) {
    return StateOf(mesh)->LoadModel(name, stage->GetLoader(), stage->GetEngine());
  }
  // Loads and returns what the module printed meanwhile.
  std::string LoadPrinting(iBase* mesh, const char* name, bool* result) {
    rwtest::CapturedOutput output;
    *result = Load(mesh, name);
    return output.Text();
  }
  // Loads without adding the module's lines to the test's log.
  bool LoadQuietly(iBase* mesh, const char* name) {
    rwtest::CapturedOutput quiet(rwtest::CapturedOutput::Keep::Nothing);
    return Load(mesh, name);
  }

  // One frame of one object, as the engine draws it.
  bool DrawOnce(iMeshObject* mesh, csZBufMode mode = CS_ZBUF_USE) {
    iRenderView* view = stage->GetView();
    mesh->DrawTest(view, movable.get());
    return mesh->Draw(view, movable.get(), mode);
  }

  static csTicks ReadClock(void* self) { return static_cast<StageTest*>(self)->now; }

  csTicks now = 1000;
  rwengine::RecordingBackend recorder;
  std::unique_ptr<rwengine::Stage> stage;
  csRef<rwengine::Movable> movable;
};

}  // namespace rwtest
