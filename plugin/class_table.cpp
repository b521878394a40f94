#include "plugin/class_table.h"

#include "host/static_cleanup.h"
#include "ical3dstate.h"
#include "model/diagnostics.h"
#include "model/guarded.h"
#include "plugin/type.h"

namespace rigweave {

const char kClassDescription[] = "Crystal Space Rigweave Type";

namespace {

scfClassInfo classTable[2];
bool classTableFilled = false;

iBase* CreateMeshObjectType(iBase* parent) {
  return rigweave::Guarded("the type's creation", static_cast<iBase*>(nullptr), [&] {
    return static_cast<iMeshObjectType*>(csCal3DMeshObjectType::Create(parent));
  });
}

}  // namespace

scfClassInfo* ModuleInitialize(iSCF* scf) {
  // Kept on every call: queries from now on go to the latest component system.
  iSCF::SCF = scf;
  if (!classTableFilled) {
    classTableFilled = true;
    classTable[0] = {kRigweaveClassId, kClassDescription, nullptr, &CreateMeshObjectType};
    classTable[1] = {nullptr, nullptr, nullptr, nullptr};
  }
  return classTable;
}

void ModuleFinalize() {
  RegisterStaticCleanup(nullptr);
}

}  // namespace rigweave
