#include "plugin/module.h"

#include <cstdlib>
#include <iostream>

#include "plugin/type.h"

namespace rigweave {

const char kClassId[] = "crystalspace.mesh.object.rigweave";
const char kClassDescription[] = "Crystal Space Rigweave Type";

namespace {

scfClassInfo classTable[2];
bool classTableFilled = false;

CleanupFunc* cleanupFuncs = nullptr;
int cleanupCount = 0;
int cleanupCapacity = 0;
constexpr int kCleanupGrowth = 10;

iBase* CreateMeshObjectType(iBase* parent) {
  return static_cast<iMeshObjectType*>(csCal3DMeshObjectType::Create(parent));
}

}  // namespace

void Diagnose(const char* message, std::string_view detail) {
  std::cout << kClassId << message << detail << std::endl;
}

void RegisterStaticCleanup(CleanupFunc func) {
  if (func == nullptr) {
    for (int i = cleanupCount - 1; i >= 0; i--) cleanupFuncs[i]();
    std::free(cleanupFuncs);
    cleanupFuncs = nullptr;
    cleanupCount = cleanupCapacity = 0;
    return;
  }
  if (cleanupCount >= cleanupCapacity) {
    const int capacity = cleanupCapacity + kCleanupGrowth;
    void* grown = std::realloc(cleanupFuncs, sizeof(CleanupFunc) * capacity);
    // Out of memory: the function stays unregistered and the list intact.
    if (grown == nullptr) return;
    cleanupFuncs = static_cast<CleanupFunc*>(grown);
    cleanupCapacity = capacity;
  }
  cleanupFuncs[cleanupCount++] = func;
}

int StaticCleanupCount() {
  return cleanupCount;
}

scfClassInfo* ModuleInitialize(iSCF* scf) {
  // Kept on every call: queries from now on go to the latest component system.
  iSCF::SCF = scf;
  if (!classTableFilled) {
    classTableFilled = true;
    classTable[0] = {kClassId, kClassDescription, nullptr, &CreateMeshObjectType};
    classTable[1] = {nullptr, nullptr, nullptr, nullptr};
  }
  return classTable;
}

void ModuleFinalize() {
  RegisterStaticCleanup(nullptr);
}

}  // namespace rigweave
