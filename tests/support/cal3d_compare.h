// Field-by-field comparison of Cal3D core objects, for tests that hold what
// the module reads against what Cal3D's own readers read.
#pragma once

#include <cal3d/cal3d.h>

namespace rwtest {

// Floats agree within `tolerance` of their size (0: exactly); everything
// else exactly. Failures are reported as test failures naming the field.
void ExpectSameSkeleton(CalCoreSkeleton& expected, CalCoreSkeleton& actual, float tolerance = 0);
void ExpectSameAnimation(CalCoreAnimation& expected, CalCoreAnimation& actual, float tolerance = 0);
void ExpectSameMesh(CalCoreMesh& expected, CalCoreMesh& actual, float tolerance = 0);
void ExpectSameMaterial(CalCoreMaterial& expected, CalCoreMaterial& actual, float tolerance = 0);

}  // namespace rwtest
