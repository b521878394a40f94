// Cal3D's core objects from the bytes of a file that PrepareCal3DFile let
// through: read from memory by Cal3D's binary reader, so that Cal3D never
// opens a file itself and never sees one unchecked. Unlike the rest of
// formats/, not pure: what comes back is Cal3D's own objects.
#pragma once

#include <cal3d/cal3d.h>

#include <cstdint>
#include <vector>

namespace rigweave {

// Null when Cal3D refuses the bytes; Cal3D's exceptions (length_error,
// bad_alloc) are caught here, so that none reaches the engine.
CalCoreSkeletonPtr ReadCoreSkeleton(std::vector<uint8_t>& bytes);
CalCoreAnimationPtr ReadCoreAnimation(std::vector<uint8_t>& bytes, CalCoreSkeleton* skeleton);
// `xml`: the bytes were converted from an XML file, whose faces keep the
// winding they were written with, as Cal3D's XML reader keeps it.
CalCoreMeshPtr ReadCoreMesh(std::vector<uint8_t>& bytes, bool xml);
CalCoreMaterialPtr ReadCoreMaterial(std::vector<uint8_t>& bytes);

// Cal3D 0.11 does not free an animation's tracks and keyframes with it.
void FreeTracks(CalCoreAnimation& animation);

}  // namespace rigweave
