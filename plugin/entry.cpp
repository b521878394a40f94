// The only two symbols the module exports.
#include "plugin/class_table.h"
#include "rigweave_module.h"

extern "C" {

scfClassInfo* rigweave_scfInitialize(iSCF* scf) {
  return rigweave::ModuleInitialize(scf);
}

void rigweave_scfFinalize() {
  rigweave::ModuleFinalize();
}
}
