// Distinct objects drawn on distinct threads at once give, frame for frame
// and bit for bit, what each gives drawn alone (run it under ThreadSanitizer
// too: scripts/sanitize.sh thread).
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "engine/crowd.h"
#include "engine/movable.h"
#include "engine/stage.h"
#include "host/clock.h"
#include "ical3dstate.h"
#include "support/output.h"

namespace {

csTicks clockNow = 0;
csTicks ReadClock(void*) {
  return clockNow;
}

// One running hash per frame of every vertex and triangle drawn.
class HashingBackend : public rwengine::RenderBackend {
 public:
  void BeginFrame(int, int) override { frames.push_back(kBasis); }
  void EndFrame() override {}
  void SetRenderState(G3D_RENDERSTATEOPTION, int32_t) override {}
  void SetObjectToCamera(const csReversibleTransform&) override {}
  void DrawTriangleMesh(const G3DTriangleMesh& record,
                        const rwengine::DrawGeometry& geometry) override {
    Fold(geometry.vertices, sizeof(csVector3) * static_cast<size_t>(geometry.count));
    Fold(record.triangles, sizeof(csTriangle) * static_cast<size_t>(record.num_triangles));
  }
  void OnLock(iVertexBuffer*, const csVector3*, const csVector2*, const csColor*, int,
              int) override {}
  void OnUnlock(iVertexBuffer*) override {}
  void OnFog(const G3DTriangleMesh*, int) override {}

  std::vector<uint64_t> frames;

 private:
  static constexpr uint64_t kBasis = 14695981039346656037ull;
  // Vertices and triangles are whole 32-bit words; every bit counts. The
  // test's own reading is left out of ThreadSanitizer's watch, which would
  // make it the longest part of the run: the module's work is watched.
  __attribute__((no_sanitize("thread"))) void Fold(const void* data, size_t bytes) {
    uint64_t& hash = frames.back();
    for (size_t i = 0; i + 4 <= bytes; i += 4) {
      uint32_t word;
      std::memcpy(&word, static_cast<const char*>(data) + i, 4);
      hash = (hash ^ word) * 1099511628211ull;
    }
  }
};

struct Character {
  csRef<iMeshObject> mesh;
  csRef<rwengine::Movable> movable;
};

TEST(Threads, TwoObjectsDrawnAtOnceForTenThousandFramesGiveExactlyWhatEachGivesAlone) {
  const char* framesText = std::getenv("RIGWEAVE_THREAD_FRAMES");
  const int frames = framesText != nullptr ? std::atoi(framesText) : 10000;
  csSetTickSource(&ReadClock, nullptr);
  clockNow = 1000;
  {
    rwengine::Stage stage(nullptr, 320, 240, RIGWEAVE_BUILD_DIR);
    ASSERT_TRUE(stage.LoadModule(RIGWEAVE_MODULE_PATH)) << stage.LastError();
    stage.GetView()->SetFog(csColor{0.2f, 0.3f, 0.4f}, 0.05f);
    // Alone: 0 and 1; at once: 2 and 3. Objects 0 and 2 walk at full
    // detail, 1 and 3 idle at half: one model, two levels of its faces.
    std::vector<Character> characters(4);
    rwtest::CapturedOutput quiet(rwtest::CapturedOutput::Keep::Nothing);
    for (int i = 0; i < 4; i++) {
      Character& c = characters[static_cast<size_t>(i)];
      c.mesh = stage.NewMeshObject();
      ASSERT_TRUE(c.mesh);
      auto state = csRef<iCal3DState>::Adopt(scfQueryInterface<iCal3DState>(c.mesh.get()));
      ASSERT_TRUE(state->LoadModel("hero.cfg", stage.GetLoader(), stage.GetEngine()));
      ASSERT_TRUE(state->SetCycle(i % 2 == 0 ? "walk" : "idle", 0.0f, 0.2f, 1.0f));
      if (i % 2 == 1) state->SetLodLevel(0.5f);
      c.movable = csRef<rwengine::Movable>::Adopt(new rwengine::Movable);
      c.movable->SetPosition(csVector3(float(i % 2), 0, 6));
    }
    quiet.Text();
    // What the application does between frames, the same for both runs.
    auto steer = [&](int frame, int first) {
      if (frame % 300 != 0) return;
      for (int i = first; i < first + 2; i++) {
        auto state = csRef<iCal3DState>::Adopt(
            scfQueryInterface<iCal3DState>(characters[static_cast<size_t>(i)].mesh.get()));
        state->ExecuteAction(frame % 600 == 0 ? "wave" : "jump", 0.2f, 0.2f);
      }
    };

    HashingBackend alone[2];
    for (int frame = 1; frame <= frames; frame++) {
      clockNow += 16;
      steer(frame, 0);
      for (int i = 0; i < 2; i++) {
        stage.SetBackend(&alone[i]);
        stage.DrawFrame({{characters[size_t(i)].mesh.get(), characters[size_t(i)].movable.get()}});
      }
    }
    stage.SetBackend(nullptr);

    // Each thread draws its object through a renderer context of its own.
    HashingBackend atOnce[2];
    csRef<rwengine::Graphics3D> graphics[2];
    csRef<rwengine::RenderView> views[2];
    for (int i = 0; i < 2; i++) {
      graphics[i] = csRef<rwengine::Graphics3D>::Adopt(new rwengine::Graphics3D(320, 240));
      graphics[i]->SetBackend(&atOnce[i]);
      graphics[i]->SetPerspectiveAspect(stage.GetGraphics()->GetPerspectiveAspect());
      views[i] = csRef<rwengine::RenderView>::Adopt(
          new rwengine::RenderView(graphics[i].get(), stage.GetCamera()));
      views[i]->SetFog(csColor{0.2f, 0.3f, 0.4f}, 0.05f);
    }
    clockNow = 1000;
    for (int frame = 1; frame <= frames; frame++) {
      clockNow += 16;
      steer(frame, 2);
      std::thread threads[2];
      for (int i = 0; i < 2; i++) {
        threads[i] = std::thread([&, i] {
          const Character& c = characters[size_t(2 + i)];
          graphics[i]->BeginDraw();
          if (c.mesh->DrawTest(views[i].get(), c.movable.get()))
            c.mesh->Draw(views[i].get(), c.movable.get(), CS_ZBUF_USE);
          graphics[i]->FinishDraw();
        });
      }
      for (std::thread& thread : threads) thread.join();
    }

    for (int i = 0; i < 2; i++) {
      SCOPED_TRACE(i);
      ASSERT_EQ(alone[i].frames.size(), static_cast<size_t>(frames));
      ASSERT_EQ(atOnce[i].frames.size(), static_cast<size_t>(frames));
      int differing = 0, first = -1;
      for (int f = 0; f < frames; f++) {
        if (alone[i].frames[size_t(f)] == atOnce[i].frames[size_t(f)]) continue;
        if (differing++ == 0) first = f;
      }
      EXPECT_EQ(differing, 0) << "frames differing, the first " << first;
    }
    // The two objects draw different things: the hashes see the vertices.
    EXPECT_NE(alone[0].frames.back(), alone[1].frames.back());
    characters.clear();
  }
  csSetTickSource(nullptr, nullptr);
}

// The engine's crowd drawing on oneTBB's threads draws what one thread
// drawing every object in turn draws.
TEST(Threads, ACrowdDrawnInSharesOnEveryCoreDrawsWhatOneThreadDraws) {
  constexpr int kCharacters = 12, kFrames = 120, kShares = 5;
  csSetTickSource(&ReadClock, nullptr);
  clockNow = 1000;
  {
    rwengine::Stage stage(nullptr, 320, 240, RIGWEAVE_BUILD_DIR);
    ASSERT_TRUE(stage.LoadModule(RIGWEAVE_MODULE_PATH)) << stage.LastError();
    std::vector<Character> characters(2 * kCharacters);
    rwtest::CapturedOutput quiet(rwtest::CapturedOutput::Keep::Nothing);
    for (size_t i = 0; i < characters.size(); i++) {
      Character& c = characters[i];
      c.mesh = stage.NewMeshObject();
      ASSERT_TRUE(c.mesh);
      auto state = csRef<iCal3DState>::Adopt(scfQueryInterface<iCal3DState>(c.mesh.get()));
      const int kind = static_cast<int>(i % kCharacters);
      ASSERT_TRUE(state->LoadModel(kind % 3 == 0 ? "large.cfg" : "hero.cfg", stage.GetLoader(),
                                   stage.GetEngine()));
      ASSERT_TRUE(state->SetCycle(kind % 2 == 0 ? "walk" : "idle", 0.0f, 0.2f, 1.0f));
      c.movable = csRef<rwengine::Movable>::Adopt(new rwengine::Movable);
      c.movable->SetPosition(csVector3(float(kind % 4), 0, float(6 + kind / 4)));
    }
    quiet.Text();
    rwengine::CrowdRenderer::Objects inTurn, atOnce;
    for (int i = 0; i < kCharacters; i++) {
      inTurn.emplace_back(characters[size_t(i)].mesh.get(), characters[size_t(i)].movable.get());
      const Character& c = characters[size_t(kCharacters + i)];
      atOnce.emplace_back(c.mesh.get(), c.movable.get());
    }
    // Share k holds objects [n * k / shares, n * (k + 1) / shares).
    auto shareOf = [&](const rwengine::CrowdRenderer::Objects& all, int k) {
      return rwengine::CrowdRenderer::Objects(all.begin() + kCharacters * k / kShares,
                                              all.begin() + kCharacters * (k + 1) / kShares);
    };
    HashingBackend inTurnShares[kShares];
    for (int frame = 1; frame <= kFrames; frame++) {
      clockNow += 16;
      for (int k = 0; k < kShares; k++) {
        stage.SetBackend(&inTurnShares[k]);
        stage.DrawFrame(shareOf(inTurn, k));
      }
    }
    stage.SetBackend(nullptr);

    HashingBackend atOnceShares[kShares];
    rwengine::CrowdRenderer crowd(stage, 2, kShares, [&](int k) { return &atOnceShares[k]; });
    EXPECT_EQ(crowd.Threads(), 2);
    EXPECT_EQ(crowd.Shares(), kShares);
    clockNow = 1000;
    for (int frame = 1; frame <= kFrames; frame++) {
      clockNow += 16;
      crowd.DrawFrame(atOnce);
    }
    // The last frame's drawing time went to the slot of a thread the arena numbered.
    EXPECT_GT(crowd.BusiestThreadUs(), 0.0);
    for (int k = 0; k < kShares; k++) {
      SCOPED_TRACE(k);
      EXPECT_EQ(atOnceShares[k].frames, inTurnShares[k].frames);
    }
    characters.clear();
  }
  csSetTickSource(nullptr, nullptr);
}

// An engine whose drawing threads come and go (a pool resized, a thread per
// job) must not leave a working storage (about 1 MiB) behind for each: a
// new thread takes one an ended thread had.
TEST(Threads, ThreadsThatComeAndGoDrawWithTheStorageOfThoseThatWent) {
  constexpr int kThreads = 24;
  csSetTickSource(&ReadClock, nullptr);
  clockNow = 1000;
  {
    HashingBackend backend;
    rwengine::Stage stage(&backend, 320, 240, RIGWEAVE_BUILD_DIR);
    ASSERT_TRUE(stage.LoadModule(RIGWEAVE_MODULE_PATH)) << stage.LastError();
    Character c{stage.NewMeshObject(), csRef<rwengine::Movable>::Adopt(new rwengine::Movable)};
    ASSERT_TRUE(c.mesh);
    auto state = csRef<iCal3DState>::Adopt(scfQueryInterface<iCal3DState>(c.mesh.get()));
    rwtest::CapturedOutput quiet(rwtest::CapturedOutput::Keep::Nothing);
    ASSERT_TRUE(state->LoadModel("hero.cfg", stage.GetLoader(), stage.GetEngine()));
    ASSERT_TRUE(state->SetCycle("walk", 0.0f, 0.0f, 1.0f));
    quiet.Text();
    c.movable->SetPosition(csVector3(0, 0, 6));
    auto drawOnANewThread = [&] {
      std::thread([&] {
        clockNow += 16;
        stage.DrawFrame({{c.mesh.get(), c.movable.get()}});
      }).join();
    };
    // Blocks this large are mapped apart from the heap (hblkhd).
    auto heapBytes = [] {
      const struct mallinfo2 info = mallinfo2();
      return info.uordblks + info.hblkhd;
    };
    drawOnANewThread();
    const size_t heapBefore = heapBytes();
    for (int i = 1; i < kThreads; i++) drawOnANewThread();
    const size_t heapAfter = heapBytes();
    ASSERT_EQ(backend.frames.size(), size_t{kThreads});
    EXPECT_NE(backend.frames.back(), backend.frames.front());
    // Under a sanitizer the allocator is not glibc's, and mallinfo2 counts nothing.
    EXPECT_LT(heapAfter, heapBefore + 256 * 1024) << "heap bytes before " << heapBefore;
  }
  csSetTickSource(nullptr, nullptr);
}

}  // namespace
