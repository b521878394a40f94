// The module's class table and what its two exported functions do: remember
// the component system and hand back the table; run the clean-up list.
#pragma once

#include "host/scf.h"

namespace rigweave {

extern const char kClassDescription[];

scfClassInfo* ModuleInitialize(iSCF* scf);
void ModuleFinalize();

}  // namespace rigweave
