// The object conventions every class of the module and of the engine is
// built on (host/scf.h, host/scf_impl.h) and the clean-up list a module runs
// at its exit (host/static_cleanup.h), tested on classes of the test's own.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "engine/component_system.h"
#include "host/ref.h"
#include "host/static_cleanup.h"
#include "support/probes.h"

namespace {

TEST(Versions, CompatibleWhenSameMajorAndNotNewer) {
  const scfInterfaceVersion offered = scfMakeVersion(0, 0, 21);
  EXPECT_EQ(offered, 0x15u);
  EXPECT_EQ(scfMakeVersion(0, 2, 0), 0x20000u);
  EXPECT_EQ(scfMakeVersion(1, 2, 3), 0x01020003u);
  EXPECT_TRUE(scfCompatibleVersion(scfMakeVersion(0, 0, 0), offered));
  EXPECT_TRUE(scfCompatibleVersion(scfMakeVersion(0, 0, 21), offered));
  EXPECT_FALSE(scfCompatibleVersion(scfMakeVersion(0, 0, 22), offered));
  EXPECT_FALSE(scfCompatibleVersion(scfMakeVersion(0, 1, 0), offered));
  EXPECT_FALSE(scfCompatibleVersion(scfMakeVersion(1, 0, 21), offered));
  EXPECT_FALSE(scfCompatibleVersion(scfMakeVersion(1, 0, 0), scfMakeVersion(2, 0, 0)));
  // Minor and micro compare as one 24-bit number.
  EXPECT_TRUE(scfCompatibleVersion(scfMakeVersion(0, 1, 65535), scfMakeVersion(0, 2, 0)));
}

std::vector<int>* cleanupOrder = nullptr;
void CleanupA() {
  cleanupOrder->push_back(1);
}
void CleanupB() {
  cleanupOrder->push_back(2);
}
void CleanupC() {
  cleanupOrder->push_back(3);
}

TEST(StaticCleanup, RunsLastRegisteredFirstAndEmptiesTheList) {
  std::vector<int> order;
  cleanupOrder = &order;
  // Nothing registered: running the list runs nothing.
  RegisterStaticCleanup(nullptr);
  EXPECT_TRUE(order.empty());

  // Past the first growth step of ten entries.
  for (int i = 0; i < 11; i++) RegisterStaticCleanup(&CleanupA);
  RegisterStaticCleanup(&CleanupB);
  RegisterStaticCleanup(&CleanupC);
  EXPECT_EQ(StaticCleanupCount(), 13);
  RegisterStaticCleanup(nullptr);
  ASSERT_EQ(order.size(), 13u);
  EXPECT_EQ(order[0], 3);
  EXPECT_EQ(order[1], 2);
  EXPECT_EQ(order[12], 1);
  EXPECT_EQ(StaticCleanupCount(), 0);

  order.clear();
  RegisterStaticCleanup(nullptr);
  EXPECT_TRUE(order.empty());
  cleanupOrder = nullptr;
}

class CoreObjects : public ::testing::Test {
 protected:
  void SetUp() override {
    scf = csRef<rwengine::ComponentSystem>::Adopt(rwengine::ComponentSystem::Start());
  }
  csRef<rwengine::ComponentSystem> scf;
};

// A class built as the module's are, which holds a visibility callback until
// it is destroyed, as a mesh object does, and offers an interface its
// parents in these tests do not.
class Holder : public scfImplementation<Holder, iComponent> {
 public:
  Holder(iBase* parent, iBase* held) : scfImplementation(parent), held_(held) {}
  ~Holder() override {
    if (held_ != nullptr) held_->DecRef();
  }
  bool Initialize(iObjectRegistry*) override { return true; }

 private:
  iBase* held_;
};

TEST_F(CoreObjects, LastReleaseLetsGoOfTheParentBeforeTearingDown) {
  std::vector<std::string> log;
  auto* parent = new rwtest::LoggingObject(&log, "parent");
  auto* callback = new rwtest::DrawCallback(&log);

  auto* object = new Holder(parent, callback);
  EXPECT_EQ(parent->GetRefCount(), 2);
  log.clear();

  object->IncRef();
  object->DecRef();
  EXPECT_TRUE(log.empty());
  object->DecRef();
  EXPECT_EQ((std::vector<std::string>{"parent.DecRef", "callback.DecRef"}), log);
  EXPECT_EQ(parent->GetRefCount(), 1);
  parent->DecRef();
}

TEST_F(CoreObjects, QueriesTheObjectDoesNotAnswerGoToItsParent) {
  std::vector<std::string> log;
  auto* parent = new rwtest::DrawCallback(&log);
  auto* object = new Holder(parent, nullptr);
  const scfInterfaceID callbackId = scf->GetInterfaceID("iMeshObjectDrawCallback");
  EXPECT_EQ(object->QueryInterface(callbackId, scfMakeVersion(0, 0, 1)),
            static_cast<iMeshObjectDrawCallback*>(parent));
  EXPECT_EQ(parent->GetRefCount(), 3);
  parent->DecRef();
  // Its own interface the object answers itself.
  const scfInterfaceID componentId = scf->GetInterfaceID("iComponent");
  EXPECT_EQ(object->QueryInterface(componentId, scfMakeVersion(0, 0, 1)),
            static_cast<iComponent*>(object));
  object->DecRef();
  // A version the object refuses is also the parent's to answer: it refuses too.
  EXPECT_EQ(object->QueryInterface(componentId, scfMakeVersion(0, 0, 2)), nullptr);
  EXPECT_EQ(object->GetRefCount(), 1);
  EXPECT_EQ(parent->GetRefCount(), 2);
  object->DecRef();
  EXPECT_EQ(parent->GetRefCount(), 1);
  parent->DecRef();
}

}  // namespace
