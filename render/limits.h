// A character's fixed capacities: the animation name table, the object's
// colour arrays (one per sub-mesh, one colour per vertex) and the frame
// storage shared by every object are sized by these and never grown. A
// model beyond them is refused at load, and the frame's units refuse work
// beyond them, so that no buffer can be overrun later.
#pragma once

namespace rigweave {

constexpr int kMaxAnimations = 20;
constexpr int kMaxSubmeshes = 100;
constexpr int kMaxSubmeshVertices = 30000;
constexpr int kMaxSubmeshFaces = 50000;

}  // namespace rigweave
