// The frame loop: the engine clock moved a fixed step a frame (or by the wall
// clock in an open window), actions started when their time comes, each
// frame drawn and timed, kept as PNG files and a contact sheet, and the
// summary printed on standard output at the end.
#pragma once

#include "viewer/framing.h"
#include "viewer/outputs.h"
#include "viewer/scene.h"

namespace rwview {

// Renders the run's frames and prints its summary. Throws Failure, or
// Interrupted at the next frame after SIGINT or SIGTERM.
void RenderAndReport(Scene& scene, Framing& framing, Outputs& outputs);

}  // namespace rwview
