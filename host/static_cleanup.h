// Functions a module runs when it is unloaded, to release static state of
// its own. Each binary that links the host library has its own list (as it
// has its own component-system cell): the module's code registers into the
// module's list, and the module's exit function runs it.
#pragma once

using csStaticCleanupFunc = void (*)();

// Appends a function; null runs the registered functions, last registered
// first, and empties the list. Out of memory, the function stays
// unregistered and the list intact.
void RegisterStaticCleanup(csStaticCleanupFunc func);
// Number of functions waiting to run.
int StaticCleanupCount();
