// iRigweaveState through the loaded module: time driven from outside Draw,
// playback, events, bones, attachments and springs, each checked against
// what the module draws or against Cal3D itself.
#include <cal3d/cal3d.h>
#include <cal3d/corekeyframe.h>
#include <cal3d/coretrack.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "engine/backend_recording.h"
#include "engine/bone_attachment.h"
#include "host/scf_impl.h"
#include "irigweavestate.h"
#include "support/output.h"
#include "support/cal3d_reference.h"
#include "support/model_folder.h"
#include "support/stage_fixture.h"

namespace {

using rwengine::RecordedCall;

// Keeps what it hears, and runs an optional action inside the call.
class Listener : public scfImplementation<Listener, iRigweaveEventListener> {
 public:
  void OnRigweaveEvent(iRigweaveState* character, const csRigweaveEvent& event) override {
    heard.push_back(event);
    names.emplace_back(event.name);
    if (onEvent) onEvent(character, event);
  }
  std::vector<csRigweaveEvent> heard;
  std::vector<std::string> names;
  std::function<void(iRigweaveState*, const csRigweaveEvent&)> onEvent;
};

bool Same(const std::vector<csVector3>& a, const std::vector<csVector3>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); i++)
    if (a[i].x != b[i].x || a[i].y != b[i].y || a[i].z != b[i].z) return false;
  return true;
}

float Distance(const csReversibleTransform& a, const csReversibleTransform& b) {
  float most = Norm(a.GetOrigin() - b.GetOrigin());
  for (int r = 0; r < 3; r++) most = std::max(most, Norm(a.GetO2T().Row(r) - b.GetO2T().Row(r)));
  return most;
}

class Application : public rwtest::StageTest {
 protected:
  static csRef<iRigweaveState> Rigweave(iBase* mesh) {
    return csRef<iRigweaveState>::Adopt(scfQueryInterface<iRigweaveState>(mesh));
  }
  csRef<iMeshObject> LoadQuietly(const char* name) {
    csRef<iMeshObject> mesh = NewMesh();
    bool loaded = false;
    LoadPrinting(mesh.get(), name, &loaded);
    EXPECT_TRUE(loaded) << name;
    return mesh;
  }
  std::vector<csVector3> Drawn() {
    std::vector<csVector3> all;
    for (const auto* call : recorder.Of(RecordedCall::Draw))
      all.insert(all.end(), call->vertices.begin(), call->vertices.end());
    return all;
  }
  std::vector<csVector3> DrawAndRead(iMeshObject* mesh) {
    recorder.Clear();
    EXPECT_TRUE(DrawOnce(mesh));
    return Drawn();
  }
  // One step of `seconds`, by Draw with the clock or by Advance alone.
  void Step(iMeshObject* mesh, iRigweaveState* state, float seconds, bool drawn) {
    if (drawn) {
      now += static_cast<csTicks>(std::lround(seconds * 1000));
      DrawOnce(mesh);
    } else {
      ASSERT_TRUE(state->Advance(seconds));
    }
  }
};

// --- Bones and attachments ---------------------------------------------------

// One bone that turns a quarter about a slanted axis and moves, with a quad
// hanging on it: where the module draws the quad must be where the bone's
// transform puts it.
bool WriteTurningAnimation(const rwtest::ModelFolder& folder, const std::string& name) {
  CalCoreAnimationPtr animation = new CalCoreAnimation();
  animation->setDuration(2.0f);
  auto* track = new CalCoreTrack();
  track->create();
  track->setCoreBoneId(0);
  const float half = 0.7853982f / 2;  // a quarter turn at the end
  const CalVector axis(0.48f, 0.6f, 0.64f);
  const CalQuaternion turns[] = {CalQuaternion(),
                                 CalQuaternion(axis.x * std::sin(half), axis.y * std::sin(half),
                                               axis.z * std::sin(half), std::cos(half))};
  const CalVector moves[] = {CalVector(0, 0, 0), CalVector(20, -10, 30)};
  for (int i = 0; i < 2; i++) {
    auto* key = new CalCoreKeyframe();
    key->create();
    key->setTime(2.0f * static_cast<float>(i));
    key->setTranslation(moves[i]);
    key->setRotation(turns[i]);
    track->addCoreKeyframe(key);
  }
  animation->addCoreTrack(track);
  const bool saved = CalSaver::saveCoreAnimation(folder.Path(name), animation.get());
  for (CalCoreTrack* t : animation->getListCoreTrack()) {
    t->destroy();
    delete t;
  }
  animation->getListCoreTrack().clear();
  return saved;
}

TEST_F(Application, ABoneTransformPlacesTheVerticesHangingOnIt) {
  rwtest::ModelFolder folder;
  ASSERT_TRUE(folder.WriteSkeleton("one.csf"));
  ASSERT_TRUE(WriteTurningAnimation(folder, "turn.caf"));
  ASSERT_TRUE(folder.WriteMesh("quad.cmf", {rwtest::Quad(csVector3(3, 5, 7), 10)}));
  folder.WriteFile("turning.cfg",
                   "scale = 2.5\nskeleton = one.csf\nanimation = turn.caf\n"
                   "mesh = quad.cmf\n");
  Use(folder);
  csRef<iMeshObject> mesh = LoadQuietly("turning.cfg");
  csRef<iRigweaveState> state = Rigweave(mesh.get());
  ASSERT_TRUE(state->BlendCycle(0, 1, 0));
  const float factor = 2.5f * 0.02f;
  const csVector3 rest[4] = {{3, 5, 7}, {13, 5, 7}, {13, 15, 7}, {3, 15, 7}};
  for (int frame = 0; frame < 40; frame++) {
    now += 45;
    const std::vector<csVector3> drawn = DrawAndRead(mesh.get());
    ASSERT_EQ(drawn.size(), 8u);
    csReversibleTransform bone;
    ASSERT_TRUE(state->GetBoneTransform(0, bone));
    for (int i = 0; i < 4; i++)
      EXPECT_LT(Norm(bone.This2Other(rest[i] * factor) - drawn[static_cast<size_t>(i)]), 1e-5f)
          << "frame " << frame << " vertex " << i;
  }
}

struct AttachRow {
  const char* name;
  bool drawn;
};
void PrintTo(const AttachRow& row, std::ostream* out) {
  *out << row.name;
}

class Attachments : public Application, public testing::WithParamInterface<AttachRow> {};

TEST_P(Attachments, AnAttachedObjectFollowsItsBoneInTheSameStep) {
  csRef<iMeshObject> mesh = LoadQuietly("hero.cfg");
  csRef<iRigweaveState> state = Rigweave(mesh.get());
  const int hand = state->FindBone("hand_r");
  ASSERT_GE(hand, 0);
  ASSERT_TRUE(state->BlendCycle(state->FindAnimation("walk"), 1, 0));
  const csReversibleTransform offset(csXRotMatrix3(0.3f) * csZRotMatrix3(-1.1f),
                                     csVector3(0.05f, -0.02f, 0.1f));
  // A prop in the engine's way: its movable's parent is the character's.
  csRef<rwengine::Movable> prop = csRef<rwengine::Movable>::Adopt(new rwengine::Movable);
  EXPECT_EQ(rwengine::AttachToBone(*prop, movable.get(), state.get(), "tail", offset), -1);
  EXPECT_EQ(prop->GetParent(), nullptr) << "a refused attachment left the prop as it was";
  const int handle = rwengine::AttachToBone(*prop, movable.get(), state.get(), "hand_r", offset);
  ASSERT_GE(handle, 0);
  EXPECT_EQ(prop->GetParent(), movable.get());
  // And a second object on the same bone through the receiver interface.
  struct Receiver : scfImplementation<Receiver, iRigweaveAttachment> {
    void PlaceOnBone(const csReversibleTransform& t) override { placed = t, count++; }
    csReversibleTransform placed;
    int count = 0;
  };
  csRef<Receiver> receiver = csRef<Receiver>::Adopt(new Receiver);
  ASSERT_GE(state->Attach(hand, receiver.get(), csReversibleTransform()), 0);
  EXPECT_EQ(receiver->count, 1) << "placed at once for the pose there is";

  float worst = 0;
  const float duration = state->GetAnimationDuration(state->FindAnimation("walk"));
  const int frames = static_cast<int>(duration / 0.017f) + 2;
  for (int frame = 0; frame < frames; frame++) {
    Step(mesh.get(), state.get(), 0.017f, GetParam().drawn);
    csReversibleTransform bone;
    ASSERT_TRUE(state->GetBoneTransform(hand, bone));
    worst = std::max(worst, Distance(prop->GetTransform(), offset * bone));
    worst = std::max(worst, Distance(receiver->placed, bone));
  }
  EXPECT_LT(worst, 1e-5f);
  EXPECT_EQ(receiver->count, frames + 1);
  EXPECT_EQ(prop->UpdateCount(), frames + 1);
  // World placement goes through the character's movable.
  movable->SetPosition(csVector3(5, 0, -3));
  csReversibleTransform bone;
  state->GetBoneTransform(hand, bone);
  EXPECT_LT(Distance(prop->GetFullTransform(), offset * bone * movable->GetFullTransform()), 1e-5f);

  // Detached, it keeps its last place while the character walks on.
  const csReversibleTransform last = prop->GetTransform();
  EXPECT_TRUE(state->Detach(handle));
  EXPECT_FALSE(state->Detach(handle));
  Step(mesh.get(), state.get(), 0.25f, GetParam().drawn);
  EXPECT_EQ(Distance(prop->GetTransform(), last), 0.0f);
}

INSTANTIATE_TEST_SUITE_P(Steps, Attachments,
                         testing::Values(AttachRow{"drawn", true}, AttachRow{"advanced", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Events -------------------------------------------------------------------

struct EventRow {
  const char* name;
  float step;
  bool drawn;
};
void PrintTo(const EventRow& row, std::ostream* out) {
  *out << row.name;
}

class Events : public Application, public testing::WithParamInterface<EventRow> {};

// A walk cycle with two moments and a wave action with one moment and its
// end, stepped to well past three loops: every crossing is heard once, and
// in the order the time crosses them.
TEST_P(Events, FireOncePerCrossingInCrossingOrder) {
  csRef<iMeshObject> mesh = LoadQuietly("hero.cfg");
  csRef<iRigweaveState> state = Rigweave(mesh.get());
  const int walk = state->FindAnimation("walk"), wave = state->FindAnimation("wave");
  const float cycle = state->GetAnimationDuration(walk), action = state->GetAnimationDuration(wave);
  ASSERT_GT(cycle, 0.3f);
  csRef<Listener> listener = csRef<Listener>::Adopt(new Listener);
  const float early = 0.21f * cycle, late = 0.74f * cycle, middle = 0.5f * action;
  const int first = state->AddEvent(walk, early, "left foot", 1, listener.get());
  const int second = state->AddEvent(walk, late, "right foot", 2, listener.get());
  const int waved = state->AddEvent(wave, middle, nullptr, 3, listener.get());
  const int ended = state->AddActionEnd(wave, "waved", 4, listener.get());
  ASSERT_TRUE(first >= 0 && second >= 0 && waved >= 0 && ended >= 0);
  ASSERT_TRUE(state->BlendCycle(walk, 1, 0));
  ASSERT_TRUE(state->PlayAction(wave, 0.1f, 0.1f, 1));
  // The mixer starts a cycle's time on the first step after it is blended.
  ASSERT_TRUE(state->Advance(0));
  listener->heard.clear();

  const float step = GetParam().step;
  // Past three loops and a half, so that no crossing lies near the end.
  int steps = static_cast<int>(std::ceil((early + 3.5f * cycle) / step));
  auto margin = [&](int n) {
    const double t = n * static_cast<double>(step);
    double nearest = 1e9;
    for (double at : {early, late})
      for (int k = 0; k < 100; k++) nearest = std::min(nearest, std::fabs(at + k * cycle - t));
    return nearest;
  };
  while (margin(steps) < 0.02) steps++;
  const double total = steps * static_cast<double>(step);
  for (int i = 0; i < steps; i++) Step(mesh.get(), state.get(), step, GetParam().drawn);

  auto crossings = [&](double at) {
    return total > at ? static_cast<int>(std::floor((total - at) / cycle)) + 1 : 0;
  };
  std::vector<double> when;
  int heard[5] = {};
  for (const csRigweaveEvent& event : listener->heard) {
    heard[event.userId]++;
    if (event.userId == 1) when.push_back(early + (heard[1] - 1) * static_cast<double>(cycle));
    if (event.userId == 2) when.push_back(late + (heard[2] - 1) * static_cast<double>(cycle));
    if (event.userId == 3) when.push_back(middle);
    if (event.userId == 4) when.push_back(action);
  }
  EXPECT_EQ(heard[1], crossings(early));
  EXPECT_EQ(heard[2], crossings(late));
  EXPECT_EQ(heard[3], 1);
  EXPECT_EQ(heard[4], 1) << "an action's end is reported once";
  EXPECT_TRUE(std::is_sorted(when.begin(), when.end())) << "heard out of the order of crossing";
  ASSERT_FALSE(listener->heard.empty());
  EXPECT_EQ(listener->names.front(), "left foot");
  EXPECT_EQ(listener->heard.front().animation, walk);
  EXPECT_FALSE(state->IsPlaying(wave));
}

INSTANTIATE_TEST_SUITE_P(
    Steps, Events,
    testing::Values(EventRow{"advanced_1ms", 0.001f, false},
                    EventRow{"advanced_16_7ms", 0.0167f, false},
                    EventRow{"advanced_250ms", 0.25f, false}, EventRow{"advanced_2s", 2.0f, false},
                    EventRow{"drawn_1ms", 0.001f, true}, EventRow{"drawn_17ms", 0.017f, true},
                    EventRow{"drawn_250ms", 0.25f, true}, EventRow{"drawn_2s", 2.0f, true}),
    [](const auto& info) { return std::string(info.param.name); });

// Cycles of different lengths blended together run in one phase over their
// weighted mean duration: each event is crossed once per common loop, at
// small steps and at large ones alike.
TEST_F(Application, BlendedCyclesOfDifferentLengthsFireOncePerCommonLoop) {
  for (float step : {0.001f, 0.0167f, 0.25f, 2.0f}) {
    SCOPED_TRACE(step);
    csRef<iMeshObject> mesh = LoadQuietly("hero.cfg");
    csRef<iRigweaveState> state = Rigweave(mesh.get());
    const int walk = state->FindAnimation("walk"), idle = state->FindAnimation("idle");
    const float walkLength = state->GetAnimationDuration(walk);
    const float idleLength = state->GetAnimationDuration(idle);
    ASSERT_NE(walkLength, idleLength);
    csRef<Listener> listener = csRef<Listener>::Adopt(new Listener);
    ASSERT_GE(state->AddEvent(walk, 0.3f * walkLength, "walk", 1, listener.get()), 0);
    ASSERT_GE(state->AddEvent(idle, 0.6f * idleLength, "idle", 2, listener.get()), 0);
    ASSERT_TRUE(state->BlendCycle(walk, 0.25f, 0));
    ASSERT_TRUE(state->BlendCycle(idle, 0.75f, 0));
    ASSERT_TRUE(state->Advance(0));
    const double loop = 0.25 * walkLength + 0.75 * idleLength;  // the mixer's common duration
    const int steps = static_cast<int>(std::lround((3.45 * loop) / step));
    for (int i = 0; i < steps; i++) ASSERT_TRUE(state->Advance(step));
    const double loops = steps * static_cast<double>(step) / loop;
    int heard[3] = {};
    for (const csRigweaveEvent& event : listener->heard) heard[event.userId]++;
    EXPECT_EQ(heard[1], static_cast<int>(std::floor(loops - 0.3)) + 1);
    EXPECT_EQ(heard[2], static_cast<int>(std::floor(loops - 0.6)) + 1);
  }
}

TEST_F(Application, ListenersMayRemoveEventsAndReleaseTheCharacterFromInsideTheCall) {
  csRef<iMeshObject> mesh = LoadQuietly("hero.cfg");
  csRef<iRigweaveState> state = Rigweave(mesh.get());
  const int walk = state->FindAnimation("walk");
  const float cycle = state->GetAnimationDuration(walk);
  csRef<Listener> once = csRef<Listener>::Adopt(new Listener);
  csRef<Listener> other = csRef<Listener>::Adopt(new Listener);
  const int later = state->AddEvent(walk, 0.6f * cycle, "later", 0, other.get());
  int self = -1;
  // Removes itself and the other, which was to fire later in the same step.
  once->onEvent = [&](iRigweaveState* character, const csRigweaveEvent& event) {
    EXPECT_FALSE(character->Advance(0.1f)) << "no advance from inside a listener";
    EXPECT_TRUE(character->RemoveEvent(event.handle));
    EXPECT_TRUE(character->RemoveEvent(later));
  };
  self = state->AddEvent(walk, 0.2f * cycle, "once", 0, once.get());
  ASSERT_GE(self, 0);
  ASSERT_TRUE(state->BlendCycle(walk, 1, 0));
  ASSERT_TRUE(state->Advance(0));
  ASSERT_TRUE(state->Advance(3 * cycle));
  EXPECT_EQ(once->heard.size(), 1u);
  EXPECT_TRUE(other->heard.empty());
  EXPECT_FALSE(state->RemoveEvent(self));
  EXPECT_EQ(once->GetRefCount(), 1) << "a removed event keeps no reference";

  // The last holder lets go of the character inside the call: the step
  // ends there, and nothing is left holding the listener.
  csRef<Listener> releasing = csRef<Listener>::Adopt(new Listener);
  ASSERT_GE(state->AddEvent(walk, 0.3f * cycle, "release", 0, releasing.get()), 0);
  ASSERT_GE(state->AddEvent(walk, 0.5f * cycle, "kept", 0, other.get()), 0);
  iRigweaveState* raw = state.release();
  mesh.reset();
  releasing->onEvent = [&](iRigweaveState*, const csRigweaveEvent&) { raw->DecRef(); };
  EXPECT_TRUE(raw->Advance(2 * cycle));
  EXPECT_EQ(releasing->heard.size(), 1u);
  EXPECT_TRUE(other->heard.empty());
  EXPECT_EQ(releasing->GetRefCount(), 1);
  EXPECT_EQ(other->GetRefCount(), 1);
}

// A listener or a placed object that loads another model (here one that
// fails) from inside the step leaves Draw nothing of the old one to touch.
TEST_F(Application, ALoadFromInsideTheStepEndsItSafely) {
  for (bool fromListener : {true, false}) {
    csRef<iMeshObject> mesh = LoadQuietly("hero.cfg");
    csRef<iRigweaveState> state = Rigweave(mesh.get());
    const int walk = state->FindAnimation("walk");
    ASSERT_TRUE(state->BlendCycle(walk, 1, 0));
    DrawOnce(mesh.get());
    auto reload = [&] {
      rwtest::CapturedOutput quiet(rwtest::CapturedOutput::Keep::Nothing);
      EXPECT_FALSE(Load(mesh.get(), "no-such.cfg"));
    };
    csRef<Listener> listener = csRef<Listener>::Adopt(new Listener);
    listener->onEvent = [&](iRigweaveState*, const csRigweaveEvent&) { reload(); };
    struct Receiver : scfImplementation<Receiver, iRigweaveAttachment> {
      void PlaceOnBone(const csReversibleTransform&) override {
        if (armed && placed++ == 0) onPlace();
      }
      std::function<void()> onPlace;
      bool armed = false;
      int placed = 0;
    };
    csRef<Receiver> receiver = csRef<Receiver>::Adopt(new Receiver);
    receiver->onPlace = reload;
    if (fromListener) {
      ASSERT_GE(state->AddEvent(walk, 0.1f, "reload", 0, listener.get()), 0);
      ASSERT_GE(state->AddEvent(walk, 0.2f, "after", 0, listener.get()), 0);
    } else {
      ASSERT_GE(state->Attach(0, receiver.get(), {}), 0);
      ASSERT_GE(state->Attach(1, receiver.get(), {}), 0);
      receiver->armed = true;
    }
    now += 500;
    EXPECT_FALSE(DrawOnce(mesh.get()));
    EXPECT_EQ(fromListener ? static_cast<int>(listener->heard.size()) : receiver->placed, 1);
    EXPECT_EQ(state->GetAnimationCount(), 0);
    EXPECT_EQ(listener->GetRefCount(), 1) << "the failed load released the listeners";
    EXPECT_EQ(receiver->GetRefCount(), 1) << "the failed load released the attachments";
    now += 500;
    EXPECT_FALSE(DrawOnce(mesh.get()));
  }
}

// --- Time -----------------------------------------------------------------------

TEST_F(Application, WithDrawNotAdvancingOrTimePausedNothingMovesUntilAdvanced) {
  csRef<iMeshObject> mesh = LoadQuietly("hero.cfg");
  csRef<iRigweaveState> state = Rigweave(mesh.get());
  ASSERT_TRUE(state->BlendCycle(state->FindAnimation("walk"), 1, 0));
  DrawAndRead(mesh.get());
  now += 100;
  const std::vector<csVector3> start = DrawAndRead(mesh.get());

  EXPECT_TRUE(state->GetDrawAdvances());
  state->SetDrawAdvances(false);
  for (int i = 0; i < 5; i++) {
    now += 200;
    EXPECT_TRUE(Same(DrawAndRead(mesh.get()), start)) << "Draw moved the character";
  }
  ASSERT_TRUE(state->Advance(0.2f));
  const std::vector<csVector3> advanced = DrawAndRead(mesh.get());
  EXPECT_FALSE(Same(advanced, start));

  state->SetDrawAdvances(true);
  EXPECT_FALSE(state->SetTimeScale(-1));
  EXPECT_FALSE(state->SetTimeScale(NAN));
  ASSERT_TRUE(state->SetTimeScale(0));
  for (int i = 0; i < 5; i++) {
    now += 200;
    ASSERT_TRUE(state->Advance(0.3f));
    EXPECT_TRUE(Same(DrawAndRead(mesh.get()), advanced)) << "a paused character moved";
  }
  ASSERT_TRUE(state->SetTimeScale(2));
  now += 100;
  DrawAndRead(mesh.get());
  float time = 0;
  ASSERT_TRUE(state->GetAnimationTime(state->FindAnimation("walk"), time));
  EXPECT_NEAR(time, 0.1f + 0.2f + 0.2f, 1e-4f) << "twice the clock's 100 ms";
}

// --- Playback and lookup ----------------------------------------------------------

TEST_F(Application, AnimationsAndBonesAreListedAndUnknownOnesChangeNothing) {
  csRef<iMeshObject> mesh = NewMesh();
  csRef<iRigweaveState> state = Rigweave(mesh.get());
  ASSERT_TRUE(state);
  // Nothing loaded: nothing to act on.
  EXPECT_EQ(state->GetAnimationCount(), 0);
  EXPECT_FALSE(state->Advance(0.1f));
  EXPECT_FALSE(state->BlendCycle(0, 1, 0));
  EXPECT_EQ(state->GetBoneCount(), 0);

  rwtest::ModelFolder folder;
  ASSERT_TRUE(folder.WriteSkeleton("one.csf"));
  ASSERT_TRUE(folder.WriteAnimation("still.caf", 1.5f, csVector3(0, 0, 0)));
  ASSERT_TRUE(folder.WriteAnimation("moving.caf", 2.0f, csVector3(0, 3, 0)));
  ASSERT_TRUE(folder.WriteMesh("quad.cmf", {rwtest::Quad(csVector3(0, 0, 0), 1)}));
  folder.WriteFile("a/walk.caf", "");
  folder.WriteFile("listed.cfg",
                   "skeleton = one.csf\nanimation = still.caf\n"
                   "animation = moving.caf\nmesh = quad.cmf\n");
  Use(folder);
  bool loaded = false;
  LoadPrinting(mesh.get(), "listed.cfg", &loaded);
  ASSERT_TRUE(loaded);
  ASSERT_EQ(state->GetAnimationCount(), 2);
  EXPECT_STREQ(state->GetAnimationName(1), "moving");
  EXPECT_STREQ(state->GetAnimationBaseName(1), "moving");
  EXPECT_EQ(state->FindAnimation("moving"), 1);
  EXPECT_FLOAT_EQ(state->GetAnimationDuration(0), 1.5f);
  EXPECT_FALSE(state->AnimationMovesBones(0));
  EXPECT_TRUE(state->AnimationMovesBones(1));
  EXPECT_EQ(state->GetBoneCount(), 1);
  EXPECT_STREQ(state->GetBoneName(0), "root");
  EXPECT_EQ(state->FindBone("root"), 0);
  EXPECT_EQ(state->GetBoneParent(0), -1);

  csRef<Listener> listener = csRef<Listener>::Adopt(new Listener);
  csReversibleTransform untouched(csXRotMatrix3(1), csVector3(1, 2, 3));
  for (int id : {-1, 2, 1000}) {
    EXPECT_EQ(state->GetAnimationName(id), nullptr);
    EXPECT_EQ(state->GetAnimationDuration(id), -1.0f);
    EXPECT_FALSE(state->BlendCycle(id, 1, 0));
    EXPECT_FALSE(state->ClearCycle(id, 0));
    EXPECT_FALSE(state->PlayAction(id, 0, 0, 1));
    EXPECT_FALSE(state->StopAction(id));
    EXPECT_FALSE(state->IsPlaying(id));
    float time = 7;
    EXPECT_FALSE(state->GetAnimationTime(id, time));
    EXPECT_EQ(time, 7);
    EXPECT_EQ(state->AddEvent(id, 0, "x", 0, listener.get()), -1);
    EXPECT_EQ(state->GetBoneName(id), nullptr);
    csReversibleTransform t = untouched;
    EXPECT_FALSE(state->GetBoneTransform(id, t));
    EXPECT_EQ(Distance(t, untouched), 0.0f);
    EXPECT_EQ(state->Attach(id, movable.get(), {}), -1);
    EXPECT_FALSE(state->RemoveEvent(id));
    EXPECT_FALSE(state->Detach(id));
  }
  EXPECT_EQ(state->FindAnimation("walk"), -1);
  EXPECT_EQ(state->FindAnimation(nullptr), -1);
  EXPECT_EQ(state->FindBone("hand"), -1);
  EXPECT_EQ(state->AddEvent(1, 2.5f, "past the end", 0, listener.get()), -1);
  EXPECT_EQ(state->AddEvent(1, 1, "no listener", 0, nullptr), -1);
  EXPECT_FALSE(state->BlendCycle(1, -1, 0));
  EXPECT_FALSE(state->PlayAction(1, NAN, 0, 1));
  EXPECT_FALSE(state->Advance(-1));
  EXPECT_FALSE(state->Advance(INFINITY));
  EXPECT_FALSE(state->IsPlaying(1)) << "a refused call started something";

  // Played with control: an action's time, then stopped.
  ASSERT_TRUE(state->PlayAction(1, 0, 0, 1));
  ASSERT_TRUE(state->Advance(0.5f));
  float time = 0;
  ASSERT_TRUE(state->GetAnimationTime(1, time));
  EXPECT_FLOAT_EQ(time, 0.5f);
  ASSERT_TRUE(state->SetAnimationTime(1, 1.25f));
  ASSERT_TRUE(state->GetAnimationTime(1, time));
  EXPECT_FLOAT_EQ(time, 1.25f);
  // A second one over it: the time read is the newest's, and a stop ends that one.
  ASSERT_TRUE(state->PlayAction(1, 0, 0, 1));
  ASSERT_TRUE(state->Advance(0.25f));
  ASSERT_TRUE(state->GetAnimationTime(1, time));
  EXPECT_FLOAT_EQ(time, 0.25f);
  EXPECT_TRUE(state->StopAction(1));
  ASSERT_TRUE(state->GetAnimationTime(1, time));
  EXPECT_FLOAT_EQ(time, 1.5f);
  EXPECT_TRUE(state->StopAction(1));
  EXPECT_FALSE(state->IsPlaying(1));
  EXPECT_FALSE(state->StopAction(1));
  // A cycle's time set and read back, modulo its duration.
  ASSERT_TRUE(state->BlendCycle(1, 1, 0));
  ASSERT_TRUE(state->Advance(0.1f));
  ASSERT_TRUE(state->SetAnimationTime(1, 2.5f));
  ASSERT_TRUE(state->GetAnimationTime(1, time));
  EXPECT_NEAR(time, 0.5f, 1e-5f);
}

TEST_F(Application, BaseNamesFindAnAnimationOnlyWhenOneHasThem) {
  rwtest::ModelFolder folder;
  ASSERT_TRUE(folder.WriteSkeleton("one.csf"));
  std::filesystem::create_directories(folder.Path("a"));
  std::filesystem::create_directories(folder.Path("b"));
  for (const char* name : {"a/walk.caf", "b/walk.caf", "a/run.caf"})
    ASSERT_TRUE(folder.WriteAnimation(name, 1, csVector3(0, 1, 0)));
  ASSERT_TRUE(folder.WriteMesh("quad.cmf", {rwtest::Quad(csVector3(0, 0, 0), 1)}));
  folder.WriteFile("named.cfg",
                   "skeleton = one.csf\nanimation = a/walk.caf\n"
                   "animation = b/walk.caf\nanimation = a/run.caf\nmesh = quad.cmf\n");
  Use(folder);
  csRef<iMeshObject> mesh = LoadQuietly("named.cfg");
  csRef<iRigweaveState> state = Rigweave(mesh.get());
  EXPECT_EQ(state->FindAnimation("b/walk"), 1);
  EXPECT_EQ(state->FindAnimation("walk"), -1) << "two share it";
  EXPECT_EQ(state->FindAnimation("run"), 2);
  EXPECT_STREQ(state->GetAnimationBaseName(2), "run");
}

// --- Springs ------------------------------------------------------------------------

// A cape: a column of vertices hanging from two fixed ones, each pair of
// neighbours joined by a spring, on a bone that walks.
void WriteCape(const rwtest::ModelFolder& folder) {
  ASSERT_TRUE(folder.WriteSkeleton("one.csf"));
  ASSERT_TRUE(folder.WriteAnimation("sway.caf", 1.0f, csVector3(0, 2, 0)));
  constexpr int kRows = 8;
  CalCoreMeshPtr mesh = new CalCoreMesh();
  auto* sub = new CalCoreSubmesh();
  const int vertices = 2 * kRows, springs = 3 * (kRows - 1);
  sub->reserve(vertices, 1, 2 * (kRows - 1), springs);
  for (int i = 0; i < vertices; i++) {
    CalCoreSubmesh::Vertex vertex;
    vertex.position = CalVector(static_cast<float>(i % 2) * 10, 0, -static_cast<float>(i / 2) * 10);
    vertex.normal = CalVector(0, -1, 0);
    vertex.collapseId = -1;
    vertex.faceCollapseCount = 0;
    vertex.vectorInfluence.push_back({0, 1.0f});
    sub->setVertex(i, vertex);
    sub->setTextureCoordinate(i, 0, {0, 0});
    sub->setPhysicalProperty(i, {i < 2 ? 0.0f : 1.0f});
  }
  int spring = 0;
  for (int row = 0; row + 1 < kRows; row++) {
    const int a = 2 * row;
    sub->setFace(2 * row, {{a, a + 1, a + 2}});
    sub->setFace(2 * row + 1, {{a + 1, a + 3, a + 2}});
    sub->setSpring(spring++, {{a, a + 2}, 50.0f, 10.0f});
    sub->setSpring(spring++, {{a + 1, a + 3}, 50.0f, 10.0f});
    sub->setSpring(spring++, {{a + 2, a + 3}, 50.0f, 10.0f});
  }
  mesh->addCoreSubmesh(sub);
  ASSERT_TRUE(CalSaver::saveCoreMesh(folder.Path("cape.cmf"), mesh.get()));
  folder.WriteFile("cape.cfg", "skeleton = one.csf\nanimation = sway.caf\nmesh = cape.cmf\n");
}

// How far the farthest vertex lies outside the cape's rest extent, carried
// along by the bone: 0 when all stay inside.
float Stray(const std::vector<csVector3>& bones, const csReversibleTransform& bone) {
  float worst = 0;
  for (const csVector3& drawn : bones) {
    const csVector3 local = bone.Other2This(drawn) / 0.02f;  // model units on the bone
    const float out[3] = {std::max({0.0f, -local.x, local.x - 10}),
                          std::max({0.0f, local.z, -70 - local.z}), std::fabs(local.y)};
    worst = std::max(worst, Norm(csVector3(out[0], out[1], out[2])));
  }
  return worst;
}

TEST_F(Application, ALongFirstStepDoesNotFlingSprings) {
  rwtest::ModelFolder folder;
  WriteCape(folder);
  Use(folder);
  // The same 3.4 s three ways: through the module with a first step of
  // 300 ms, through the module in even 13 ms steps (how the cape moves when
  // nothing goes wrong), and through Cal3D alone, one update a step, as the
  // module did before it split long steps.
  csRef<iMeshObject> mesh = LoadQuietly("cape.cfg");
  csRef<iMeshObject> even = LoadQuietly("cape.cfg");
  csRef<iRigweaveState> state = Rigweave(mesh.get()), evenState = Rigweave(even.get());
  rwtest::ReferenceCharacter direct;
  ASSERT_TRUE(direct.Load(folder.Root(), "cape.cfg"));
  ASSERT_TRUE(state->BlendCycle(0, 1, 0));
  ASSERT_TRUE(evenState->BlendCycle(0, 1, 0));
  direct.Mixer().blendCycle(0, 1, 0);
  ASSERT_TRUE(state->Advance(0.3f));
  direct.Model()->update(0.3f);
  for (int i = 0; i < 23; i++) ASSERT_TRUE(evenState->Advance(0.3f / 23));
  float worst = 0, worstEven = 0, worstDirect = 0;
  for (int frame = 0; frame < 240; frame++) {
    csReversibleTransform bone;
    ASSERT_TRUE(state->GetBoneTransform(0, bone));
    worst = std::max(worst, Stray(DrawAndRead(mesh.get()), bone));
    worstDirect = std::max(worstDirect, Stray(direct.Vertices()[0], bone));
    ASSERT_TRUE(evenState->GetBoneTransform(0, bone));
    worstEven = std::max(worstEven, Stray(DrawAndRead(even.get()), bone));
    for (iRigweaveState* s : {state.get(), evenState.get()}) ASSERT_TRUE(s->Advance(0.013f));
    direct.Model()->update(0.013f);
  }
  std::cout << "worst vertex outside the cape's rest extent (model units, cape 10 x 70): "
            << worstDirect << " through Cal3D in whole steps, " << worst << " in sub-steps, "
            << worstEven << " in even 13 ms steps\n";
  EXPECT_LT(worst, worstEven + 0.5f);
  EXPECT_GT(worstDirect, 10 * worstEven) << "the cape no longer shows what one long step does";

  // Springs off: the cape keeps its rest shape on the bone.
  state->SetSpringsEnabled(false);
  ASSERT_TRUE(state->Advance(0.3f));
  csReversibleTransform bone;
  ASSERT_TRUE(state->GetBoneTransform(0, bone));
  EXPECT_LT(Stray(DrawAndRead(mesh.get()), bone), 1e-3f);
}

}  // namespace
