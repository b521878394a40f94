// Twenty walking sample characters for ten thousand frames: memory must not
// grow, and (under the leak-checking builds) nothing may leak.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/backend_null.h"
#include "engine/live_objects.h"
#include "engine/movable.h"
#include "engine/stage.h"
#include "host/clock.h"
#include "ical3dstate.h"
#include "support/memory.h"
#include "support/output.h"

namespace {

csTicks clockNow = 0;
csTicks ReadClock(void*) {
  return clockNow;
}

TEST(CrowdSoak, TwentyCharactersTenThousandFramesKeepTheirMemory) {
  const char* framesText = std::getenv("RIGWEAVE_SOAK_FRAMES");
  const int frames = framesText != nullptr ? std::atoi(framesText) : 10000;
  const int kCharacters = 20;
  csSetTickSource(&ReadClock, nullptr);
  const int liveBefore = rwengine::LiveObjects::Total();
  long at100 = 0, atEnd = 0;
  {
    rwengine::NullBackend backend;
    rwengine::Stage stage(&backend, 640, 480, RIGWEAVE_BUILD_DIR);
    ASSERT_TRUE(stage.LoadModule(RIGWEAVE_MODULE_PATH)) << stage.LastError();
    std::vector<csRef<iMeshObject>> meshes;
    std::vector<csRef<rwengine::Movable>> movables;
    std::vector<std::pair<iMeshObject*, iMovable*>> scene;
    rwtest::CapturedOutput quiet(rwtest::CapturedOutput::Keep::Nothing);
    for (int i = 0; i < kCharacters; i++) {
      meshes.push_back(stage.NewMeshObject());
      ASSERT_TRUE(meshes.back());
      auto state = csRef<iCal3DState>::Adopt(scfQueryInterface<iCal3DState>(meshes.back().get()));
      ASSERT_TRUE(state->LoadModel("hero.cfg", stage.GetLoader(), stage.GetEngine()));
      ASSERT_TRUE(state->SetCycle(i % 3 == 0 ? "idle" : "walk", 0.3f, 0.3f, 1.0f));
      movables.push_back(csRef<rwengine::Movable>::Adopt(new rwengine::Movable));
      movables.back()->SetPosition(csVector3(float(i % 5) * 2, 0, float(i / 5) * 2));
      scene.emplace_back(meshes.back().get(), movables.back().get());
    }
    quiet.Text();

    for (int frame = 1; frame <= frames; frame++) {
      clockNow += 16;
      stage.DrawFrame(scene);
      if (frame % 250 == 0) {
        auto state = csRef<iCal3DState>::Adopt(
            scfQueryInterface<iCal3DState>(meshes[frame / 250 % kCharacters].get()));
        state->ExecuteAction(frame % 500 == 0 ? "wave" : "jump", 0.2f, 0.2f);
      }
      if (frame == 100) at100 = rwtest::ResidentKiB();
    }
    atEnd = rwtest::ResidentKiB();
    EXPECT_EQ(backend.frames, frames);
    EXPECT_EQ(backend.draws, 2L * frames * kCharacters * 6);
    meshes.clear();
  }
  csSetTickSource(nullptr, nullptr);
  EXPECT_EQ(rwengine::LiveObjects::Total(), liveBefore) << "engine objects left alive";
  if (frames >= 10000) {
    RecordProperty("rss_kib_frame_100", std::to_string(at100));
    RecordProperty("rss_kib_frame_last", std::to_string(atEnd));
    EXPECT_LT(std::abs(atEnd - at100), at100 / 100)
        << "resident KiB after frame 100: " << at100 << ", after the last: " << atEnd;
  }
}

}  // namespace
