// --events: a line on standard output for each event the first character
// fires, as it fires: the start of each animation's pass and the end of each
// action.
#pragma once

#include "viewer/scene.h"

namespace rwview {

// Registers the printing listener on `character`; `seconds` is the run's
// animation clock, read when a line is printed.
void PrintEvents(Character& character, const double& seconds);

}  // namespace rwview
