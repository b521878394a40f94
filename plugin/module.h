// The module's entry and exit, its class table and its static clean-up list.
#pragma once

#include <string_view>

#include "host/scf.h"

namespace rigweave {

// Heads every diagnostic line the module prints.
extern const char kClassId[];
extern const char kClassDescription[];

// Prints one diagnostic line on standard output: the class id, the message
// (which begins with ": ") and the detail, then flushes.
void Diagnose(const char* message, std::string_view detail = {});

// Appends a function to run when the module is unloaded; null runs the
// registered functions, last registered first, and empties the list.
using CleanupFunc = void (*)();
void RegisterStaticCleanup(CleanupFunc func);
// Number of functions waiting to run (for tests).
int StaticCleanupCount();

// What the module's two exported functions do: remember the component
// system and hand back the class table; run the clean-up list.
scfClassInfo* ModuleInitialize(iSCF* scf);
void ModuleFinalize();

}  // namespace rigweave
