#pragma once

// The guard of curve normals, for the curve classes.

#include "math3d/Vector.hpp"
#include "vela/math/modes.hpp"

namespace vela::math {

/// Replaces normal by a vector perpendicular to tangent when its length is
/// below 1e-14 (a NaN length keeps it): (-t.y, t.x) in the plane; in space
/// tangent x the unit axis of its smallest-magnitude coordinate (the lower
/// axis on a tie), not normalised. tangent and normal may be one object.
void validNormal(math3d::Vector2_T<Numeric> const& tangent, math3d::Vector2_T<Numeric>& normal);
void validNormal(math3d::Vector3_T<Numeric> const& tangent, math3d::Vector3_T<Numeric>& normal);

/// Traced validNormal: never folds; records a ValidNormalOp over the tangent
/// and the normal, whose output the normal's coordinates then read.
/// Derivatives are those of the branch taken, tested as the primal tests it:
/// the normal's where it is kept, else the replacement's in the tangent
/// (with the axis fixed), zero in the normal.
void validNormal(math3d::Vector2_T<Traced> const& tangent, math3d::Vector2_T<Traced>& normal);
void validNormal(math3d::Vector3_T<Traced> const& tangent, math3d::Vector3_T<Traced>& normal);

}  // namespace vela::math
