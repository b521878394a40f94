// The only two symbols the module exports.
#include "plugin/module.h"

extern "C" {

scfClassInfo* rigweave_scfInitialize(iSCF* scf) {
  return rigweave::ModuleInitialize(scf);
}

void rigweave_scfFinalize() {
  rigweave::ModuleFinalize();
}
}
