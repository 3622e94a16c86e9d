#pragma once

// The 3-D math library: vectors, 3-by-3 matrices, quaternions, transforms,
// spatial vectors and symmetric spatial matrices, each a class template over
// the mode tag (Numeric or Traced) written once for both modes.

#include "math3d/Matrix3x3.hpp"
#include "math3d/Quaternion.hpp"
#include "math3d/Scalar.hpp"
#include "math3d/SpatialVector.hpp"
#include "math3d/Stringify.hpp"
#include "math3d/SymmetricSpatialMatrix.hpp"
#include "math3d/Transform3.hpp"
#include "math3d/Vector.hpp"
