// The only two symbols the module exports.
#include "model/guarded.h"
#include "plugin/class_table.h"
#include "rigweave_module.h"

extern "C" {

scfClassInfo* rigweave_scfInitialize(iSCF* scf) {
  return rigweave::Guarded("rigweave_scfInitialize", static_cast<scfClassInfo*>(nullptr),
                           [&] { return rigweave::ModuleInitialize(scf); });
}

void rigweave_scfFinalize() {
  rigweave::Guarded("rigweave_scfFinalize", [] { rigweave::ModuleFinalize(); });
}
}
