// The sample character's body: which primitives make it, how they are
// skinned and where they sit in their material's texture.
#pragma once

#include <vector>

#include "sample/mesh_builder.h"

namespace rwsample {

// Material threads, in the order of the "material" lines of the model
// configuration: the loader maps thread n to the n-th line.
enum Material { kSkin, kShirt, kTrousers, kBelt, kBoots, kHair, kMaterialCount };

enum class Piece { Head, Face, Neck, Hands, Torso, Arms, Pelvis, Legs, Belt, Boots, Hair };

// Tessellation grows with `detail` in both directions, so the vertex count
// goes roughly with its square.
void AddPiece(Submesh& mesh, Piece piece, double detail);

Submesh MakeSubmesh(Material material, const std::vector<Piece>& pieces, double detail);

// The head ellipsoid and the part of the skin texture it is mapped to, so
// that the face can be painted where the geometry puts it.
Surface HeadSurface();
extern const UvRect kHeadUv;

}  // namespace rwsample
