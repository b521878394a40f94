// The module as the engine first meets it: its class table, the type, the
// factories and empty mesh objects, their reference counts and queries.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "host/scf_impl.h"
#include "ical3dstate.h"
#include "support/memory.h"
#include "support/module_fixture.h"

namespace {

using rwtest::Ask;
using rwtest::IdOf;
using rwtest::kClassId;

// A component system that remembers which names it was asked for.
class RecordingSCF : public scfImplementation<RecordingSCF, iSCF> {
 public:
  bool RegisterModule(const char*) override { return false; }
  bool ClassRegistered(const char*) override { return false; }
  iBase* CreateInstance(const char*) override { return nullptr; }
  const char* GetClassDescription(const char*) override { return nullptr; }
  void UnloadUnusedModules() override {}
  scfInterfaceID GetInterfaceID(const char* name) override {
    asked.push_back(name);
    return (*ids)[name] != 0 ? (*ids)[name] : ((*ids)[name] = static_cast<int>(ids->size()));
  }
  std::map<std::string, scfInterfaceID>* ids = nullptr;
  std::vector<std::string> asked;
};

// A private copy of the module, so that its caches start empty whatever
// other tests of this process did.
class FreshModule {
 public:
  FreshModule() {
    dir_ = std::filesystem::temp_directory_path() /
           ("rigweave-fresh-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
    std::filesystem::create_directories(dir_);
    std::filesystem::copy_file(RIGWEAVE_MODULE_PATH, dir_ / "rigweave.so");
    handle_ = dlopen((dir_ / "rigweave.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    init = reinterpret_cast<scfClassInfo* (*)(iSCF*)>(dlsym(handle_, "rigweave_scfInitialize"));
    fini = reinterpret_cast<void (*)()>(dlsym(handle_, "rigweave_scfFinalize"));
  }
  ~FreshModule() {
    if (handle_) dlclose(handle_);
    std::filesystem::remove_all(dir_);
  }
  scfClassInfo* (*init)(iSCF*) = nullptr;
  void (*fini)() = nullptr;

 private:
  static inline int counter_ = 0;
  std::filesystem::path dir_;
  void* handle_ = nullptr;
};

TEST(ClassTable, EntryFillsTheTableOnceAndFollowsTheLatestComponentSystem) {
  std::map<std::string, scfInterfaceID> ids;
  RecordingSCF first, second;
  first.ids = second.ids = &ids;
  FreshModule module;
  ASSERT_NE(module.init, nullptr);
  ASSERT_NE(module.fini, nullptr);

  scfClassInfo* table = module.init(&first);
  ASSERT_NE(table, nullptr);
  EXPECT_STREQ(table[0].classId, "crystalspace.mesh.object.rigweave");
  EXPECT_STREQ(table[0].description, "Crystal Space Rigweave Type");
  EXPECT_EQ(table[0].dependencies, nullptr);
  ASSERT_NE(table[0].factory, nullptr);
  EXPECT_EQ(table[1].classId, nullptr);
  EXPECT_EQ(table[1].description, nullptr);
  EXPECT_EQ(table[1].dependencies, nullptr);
  EXPECT_EQ(table[1].factory, nullptr);

  EXPECT_EQ(module.init(&second), table);

  // A query now looks its ids up in the second component system...
  iBase* type = table[0].factory(nullptr);
  ASSERT_NE(type, nullptr);
  EXPECT_EQ(type->GetRefCount(), 1);
  void* mainIface = type->QueryInterface(ids["iMeshObjectType"] = 501, scfMakeVersion(0, 0, 2));
  EXPECT_NE(mainIface, nullptr);
  EXPECT_TRUE(first.asked.empty());
  EXPECT_EQ(second.asked, std::vector<std::string>{"iMeshObjectType"});

  // ...and an id once cached is not asked again of anyone.
  module.init(&first);
  EXPECT_NE(type->QueryInterface(501, scfMakeVersion(0, 0, 1)), nullptr);
  EXPECT_TRUE(first.asked.empty());
  EXPECT_EQ(type->GetRefCount(), 3);
  // The type answers an id it does not know by asking for the next cell, in order.
  EXPECT_EQ(type->QueryInterface(9999, scfMakeVersion(0, 0, 1)), nullptr);
  EXPECT_EQ(first.asked, std::vector<std::string>{"iComponent"});

  type->DecRef();
  type->DecRef();
  type->DecRef();
  module.fini();
}

class PluginFrame : public rwtest::ModuleTest {};

TEST_F(PluginFrame, ComponentSystemRegistersTheOneClass) {
  EXPECT_TRUE(scf->ClassRegistered(kClassId));
  EXPECT_STREQ(scf->GetClassDescription(kClassId), "Crystal Space Rigweave Type");
  EXPECT_FALSE(scf->ClassRegistered("crystalspace.mesh.object.cal3d"));
  EXPECT_EQ(scf->CreateInstance("crystalspace.mesh.object.other"), nullptr);
}

TEST_F(PluginFrame, TypeOffersItsInterfacesWithTheirVersions) {
  iBase* base = scf->CreateInstance(kClassId);
  ASSERT_NE(base, nullptr);
  EXPECT_EQ(base->GetRefCount(), 1);

  auto* type = Ask<iMeshObjectType>(base, scfMakeVersion(0, 0, 2));
  ASSERT_NE(type, nullptr);
  EXPECT_EQ(type->GetRefCount(), 2);
  EXPECT_EQ(Ask<iMeshObjectType>(base, scfMakeVersion(0, 0, 3)), nullptr);
  EXPECT_EQ(Ask<iMeshObjectType>(base, scfMakeVersion(1, 0, 2)), nullptr);
  EXPECT_EQ(Ask<iMeshObject>(base), nullptr);
  // Nobody answers for the base interface itself.
  EXPECT_EQ(base->QueryInterface(iSCF::SCF->GetInterfaceID("iBase"), 0), nullptr);
  EXPECT_EQ(type->GetRefCount(), 2);

  auto* component = Ask<iComponent>(base, scfMakeVersion(0, 0, 1));
  ASSERT_NE(component, nullptr);
  EXPECT_NE(static_cast<void*>(component), static_cast<void*>(type));
  EXPECT_EQ(Ask<iComponent>(base, scfMakeVersion(0, 0, 2)), nullptr);
  EXPECT_EQ(component->GetRefCount(), 3);
  // The embedded interface hands other ids to its owner.
  EXPECT_EQ(Ask<iMeshObjectType>(component), type);
  EXPECT_EQ(Ask<iComponent>(component), component);
  EXPECT_EQ(type->GetRefCount(), 5);

  EXPECT_FALSE(component->Initialize(nullptr));
  EXPECT_TRUE(component->Initialize(registry.get()));
  EXPECT_EQ(registry->GetRefCount(), 1);  // stored without a reference

  for (int i = 0; i < 3; i++) component->DecRef();
  type->DecRef();
  EXPECT_EQ(base->GetRefCount(), 1);
  base->DecRef();
}

TEST_F(PluginFrame, FactoryHoldsItsTypeAndForwardsToIt) {
  csRef<iMeshObjectType> type = NewType();
  ASSERT_TRUE(type);
  const int typeCount = type->GetRefCount();

  iMeshObjectFactory* factory = type->NewFactory();
  ASSERT_NE(factory, nullptr);
  EXPECT_EQ(factory->GetRefCount(), 1);
  EXPECT_EQ(type->GetRefCount(), typeCount + 1);

  EXPECT_EQ(Ask<iMeshObjectFactory>(factory, scfMakeVersion(0, 0, 5)), factory);
  EXPECT_EQ(factory->GetRefCount(), 2);
  factory->DecRef();
  EXPECT_EQ(Ask<iMeshObjectFactory>(factory, scfMakeVersion(0, 0, 6)), nullptr);
  EXPECT_EQ(factory->GetRefCount(), 1);
  // What the factory does not offer, its parent (the type) answers.
  iMeshObjectType* viaParent = Ask<iMeshObjectType>(factory);
  EXPECT_EQ(viaParent, type.get());
  EXPECT_EQ(type->GetRefCount(), typeCount + 2);
  viaParent->DecRef();

  EXPECT_FALSE(factory->SupportsHardTransform());
  factory->HardTransform(csReversibleTransform(csXRotMatrix3(1.0f), csVector3(1, 2, 3)));
  EXPECT_EQ(factory->GetLogicalParent(), nullptr);
  csRef<iBase> logical = csRef<iBase>::Adopt(registry.get());
  registry->IncRef();
  factory->SetLogicalParent(logical.get());
  EXPECT_EQ(factory->GetLogicalParent(), logical.get());
  EXPECT_EQ(logical->GetRefCount(), 2);  // not counted by the factory
  factory->SetLogicalParent(nullptr);
  EXPECT_EQ(factory->GetLogicalParent(), nullptr);

  // The last release of the factory lets go of the type.
  factory->DecRef();
  EXPECT_EQ(type->GetRefCount(), typeCount);
}

TEST_F(PluginFrame, EmptyMeshObjectOffersEveryInterface) {
  csRef<iMeshObject> mesh = NewMeshObject();
  ASSERT_TRUE(mesh);
  EXPECT_EQ(mesh->GetRefCount(), 1);

  struct Offer {
    scfInterfaceID id;
    scfInterfaceVersion offered, newer, otherMajor;
  };
  const Offer offers[] = {
      {IdOf<iMeshObject>(), scfMakeVersion(0, 0, 21), scfMakeVersion(0, 0, 22),
       scfMakeVersion(1, 0, 21)},
      {IdOf<iCal3DState>(), scfMakeVersion(0, 0, 1), scfMakeVersion(0, 0, 2),
       scfMakeVersion(1, 0, 1)},
      {IdOf<iSprite3DState>(), scfMakeVersion(0, 0, 5), scfMakeVersion(0, 1, 0),
       scfMakeVersion(2, 0, 5)},
      {IdOf<iPolygonMesh>(), scfMakeVersion(0, 2, 0), scfMakeVersion(0, 3, 0),
       scfMakeVersion(1, 2, 0)},
      {IdOf<iVertexBufferManagerClient>(), scfMakeVersion(0, 0, 1), scfMakeVersion(0, 0, 2),
       scfMakeVersion(1, 0, 1)},
  };
  std::vector<void*> answers;
  for (const Offer& offer : offers) {
    SCOPED_TRACE(offer.id);
    void* answer = mesh->QueryInterface(offer.id, offer.offered);
    ASSERT_NE(answer, nullptr);
    answers.push_back(answer);
    // Older versions of the same major are fine.
    void* older = mesh->QueryInterface(offer.id, offer.offered & 0xFF000000u);
    EXPECT_EQ(older, answer);
    const int count = mesh->GetRefCount();
    EXPECT_EQ(mesh->QueryInterface(offer.id, offer.newer), nullptr);
    EXPECT_EQ(mesh->QueryInterface(offer.id, offer.otherMajor), nullptr);
    EXPECT_EQ(mesh->GetRefCount(), count);
    // Every embedded interface shares the owner's count and hands other ids back to it.
    auto* asBase = static_cast<iBase*>(answer);
    EXPECT_EQ(asBase->GetRefCount(), mesh->GetRefCount());
    EXPECT_EQ(asBase->QueryInterface(IdOf<iMeshObject>(), scfMakeVersion(0, 0, 21)), mesh.get());
    asBase->IncRef();
    mesh->DecRef();
    EXPECT_EQ(mesh->GetRefCount(), count + 1);
  }
  EXPECT_EQ(answers[0], mesh.get());
  for (size_t i = 1; i < answers.size(); i++) EXPECT_NE(answers[i], answers[0]);
  // Two queries each (plus the owner query from each embedded) are given back.
  while (mesh->GetRefCount() > 1) mesh->DecRef();
}

TEST_F(PluginFrame, EmptyMeshObjectAnswersTheSmallOperations) {
  csRef<iMeshObject> mesh = NewMeshObject();
  ASSERT_TRUE(mesh);
  EXPECT_EQ(mesh->GetFactory(), nullptr);
  EXPECT_EQ(mesh->GetLogicalParent(), nullptr);
  EXPECT_EQ(mesh->GetVisibleCallback(), nullptr);
  EXPECT_FALSE(mesh->WantToDie());
  EXPECT_FALSE(mesh->SupportsHardTransform());
  EXPECT_EQ(mesh->GetObjectModel(), nullptr);
  // Neither the frame nor a transform changes an empty object: it still
  // serves the empty box. (Drawing tests them on a loaded one.)
  mesh->NextFrame(12345);
  mesh->HardTransform(csReversibleTransform(csYRotMatrix3(0.5f), csVector3(4, 5, 6)));
  auto polygons = csRef<iPolygonMesh>::Adopt(Ask<iPolygonMesh>(mesh.get()));
  ASSERT_TRUE(polygons);
  for (int i = 0; i < 8; i++) {
    const csVector3& corner = polygons->GetVertices()[i];
    EXPECT_EQ(corner.x, 0.0f);
    EXPECT_EQ(corner.y, 0.0f);
    EXPECT_EQ(corner.z, 0.0f);
  }
  polygons.reset();

  registry->IncRef();
  csRef<iBase> logical = csRef<iBase>::Adopt(registry.get());
  mesh->SetLogicalParent(logical.get());
  EXPECT_EQ(mesh->GetLogicalParent(), logical.get());
  EXPECT_EQ(logical->GetRefCount(), 2);
  EXPECT_EQ(mesh->GetRefCount(), 1);

  // Nothing is loaded: animation control answers false and touches nothing.
  auto state = csRef<iCal3DState>::Adopt(Ask<iCal3DState>(mesh.get()));
  ASSERT_TRUE(state);
  EXPECT_FALSE(state->SetCycle("walk", 1, 1, 1));
  EXPECT_FALSE(state->ExecuteAction("wave", 0.2f, 0.2f));
  EXPECT_FALSE(state->BlendCycle("walk", 0.5f, 1));
  EXPECT_FALSE(state->ClearCycle("walk", 0.5f));
  EXPECT_FALSE(state->SetCycle(nullptr, 1, 1, 1));
  state->ClearAllCycles();
  state->SetLodLevel(0.5f);
  EXPECT_FALSE(mesh->Draw(nullptr, nullptr, CS_ZBUF_USE));
  mesh->UpdateLighting(nullptr, 0, nullptr);
}

TEST_F(PluginFrame, FactoriesAndObjectsOutliveNothingTheyDoNotHold) {
  csRef<iMeshObjectFactory> factory;
  csRef<iMeshObject> first = NewMeshObject(&factory);
  ASSERT_TRUE(first);
  auto second = csRef<iMeshObject>::Adopt(factory->NewInstance());
  ASSERT_TRUE(second);
  EXPECT_NE(first.get(), second.get());
  const int factoryCount = factory->GetRefCount();
  // Objects hold no reference on their factory: releasing them changes nothing there.
  first.reset();
  EXPECT_EQ(factory->GetRefCount(), factoryCount);
  // And a factory can go while its objects live on.
  factory.reset();
  EXPECT_EQ(second->GetRefCount(), 1);
}

TEST_F(PluginFrame, EmptyObjectsCostWellUnderAMebibyte) {
  constexpr int kObjects = 100;
  csRef<iMeshObjectFactory> factory;
  csRef<iMeshObject> first = NewMeshObject(&factory);
  ASSERT_TRUE(first);
  std::vector<csRef<iMeshObject>> objects;
  objects.reserve(kObjects);
  const long before = rwtest::ResidentKiB();
  for (int i = 0; i < kObjects; i++)
    objects.push_back(csRef<iMeshObject>::Adopt(factory->NewInstance()));
  const long after = rwtest::ResidentKiB();
  for (const csRef<iMeshObject>& object : objects) ASSERT_TRUE(object);
  const double perObject = static_cast<double>(after - before) / kObjects;
  RecordProperty("empty_object_kib", std::to_string(perObject));
  EXPECT_LT(perObject, 1024.0) << "resident KiB per empty mesh object";
}

}  // namespace
