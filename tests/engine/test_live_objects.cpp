// Live-object accounting: every instance counted while it lives.
#include <gtest/gtest.h>

#include "engine/engine.h"
#include "engine/loader.h"
#include "engine/live_objects.h"
#include "engine/movable.h"
#include "engine_test.h"

namespace rwengine {
namespace {

using namespace test;

TEST_F(EngineTest, LiveCountsFollowEveryInstance) {
  const int before = LiveObjects::Total();
  {
    auto engine = Make(new Engine);
    auto loader = Make(new Loader(engine.get()));
    loader->LoadTexture("a", Loader::kStoneTexture, 0, nullptr, false);
    EXPECT_EQ(LiveObjects::Count("MaterialWrapper"), 1);
    EXPECT_EQ(LiveObjects::Count("MaterialHandle"), 1);
    EXPECT_EQ(LiveObjects::Count("TextureWrapper"), 1);
    EXPECT_EQ(LiveObjects::Count("TextureHandle"), 1);
    EXPECT_EQ(LiveObjects::Count("Engine"), 1);
    // The loader's hold keeps the engine alive after ours is gone.
    engine.reset();
    EXPECT_EQ(LiveObjects::Count("Engine"), 1);
  }
  EXPECT_EQ(LiveObjects::Total(), before);
  EXPECT_EQ(LiveObjects::Count("never-made"), 0);
}

}  // namespace
}  // namespace rwengine
