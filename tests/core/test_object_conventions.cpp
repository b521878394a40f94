// The object conventions and module bookkeeping, tested on the module's code
// linked straight into the test.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "engine/component_system.h"
#include "host/ref.h"
#include "host/static_cleanup.h"
#include "model/mesh_object.h"
#include "plugin/class_table.h"
#include "support/memory.h"
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
  // Nothing registered: the exit runs nothing.
  rigweave::ModuleFinalize();
  EXPECT_TRUE(order.empty());

  // Past the first growth step of ten entries.
  for (int i = 0; i < 11; i++) RegisterStaticCleanup(&CleanupA);
  RegisterStaticCleanup(&CleanupB);
  RegisterStaticCleanup(&CleanupC);
  EXPECT_EQ(StaticCleanupCount(), 13);
  rigweave::ModuleFinalize();
  ASSERT_EQ(order.size(), 13u);
  EXPECT_EQ(order[0], 3);
  EXPECT_EQ(order[1], 2);
  EXPECT_EQ(order[12], 1);
  EXPECT_EQ(StaticCleanupCount(), 0);

  order.clear();
  rigweave::ModuleFinalize();
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

TEST_F(CoreObjects, LastReleaseLetsGoOfTheParentBeforeTearingDown) {
  std::vector<std::string> log;
  auto* parent = new rwtest::LoggingObject(&log, "parent");
  auto* callback = new rwtest::DrawCallback(&log);

  auto* object = new csCal3DMeshObject(parent);
  EXPECT_EQ(parent->GetRefCount(), 2);
  EXPECT_EQ(object->GetLogicalParent(), parent);
  object->SetVisibleCallback(callback);
  callback->DecRef();
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
  auto* object = new csCal3DMeshObject(parent);
  const scfInterfaceID callbackId = scf->GetInterfaceID("iMeshObjectDrawCallback");
  EXPECT_EQ(object->QueryInterface(callbackId, scfMakeVersion(0, 0, 1)),
            static_cast<iMeshObjectDrawCallback*>(parent));
  EXPECT_EQ(parent->GetRefCount(), 3);
  parent->DecRef();
  // A version the object refuses is also the parent's to answer: it refuses too.
  EXPECT_EQ(object->QueryInterface(scf->GetInterfaceID("iMeshObject"), scfMakeVersion(0, 0, 22)),
            nullptr);
  EXPECT_EQ(object->GetRefCount(), 1);
  object->DecRef();
  EXPECT_EQ(parent->GetRefCount(), 1);
  parent->DecRef();
}

TEST_F(CoreObjects, EmptyObjectsCostWellUnderAMebibyte) {
  constexpr int kObjects = 100;
  std::vector<csCal3DMeshObject*> objects;
  const long before = rwtest::ResidentKiB();
  for (int i = 0; i < kObjects; i++) objects.push_back(new csCal3DMeshObject(nullptr));
  const long after = rwtest::ResidentKiB();
  for (auto* object : objects) object->DecRef();
  const double perObject = static_cast<double>(after - before) / kObjects;
  RecordProperty("empty_object_kib", std::to_string(perObject));
  EXPECT_LT(perObject, 1024.0) << "resident KiB per empty mesh object";
}

}  // namespace
