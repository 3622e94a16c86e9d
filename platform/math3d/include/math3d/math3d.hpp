#pragma once

/// \file
/// The 3-D math library: vectors, 3-by-3 matrices, quaternions, transforms,
/// spatial vectors and symmetric spatial matrices, each a class template over
/// the mode tag and written once for both modes.
///
/// Conventions shared by every type:
/// - Numeric: coordinates are plain doubles in fixed arrays, every operation
///   is inline, nothing allocates and nothing is virtual. Traced: the same
///   code records traced scalar operations (folding constants); the member
///   functions of the Traced instances are compiled once, in the library.
/// - Comparisons give bool in Numeric and TracedValue<bool> in Traced;
///   choices that depend on values (the quaternion branch, minRotation) are
///   recorded with traced comparisons and selections, decided on the host
///   only when the values are constants.
/// - Quaternions are (w, x, y, z), scalar first, unit; built from a matrix
///   they have w >= 0.
/// - Matrix3x3_T stores column by column; its storage-order flag says how a
///   given array of nine values is laid out (false: by columns, true: by rows).
/// - SymmetricSpatialMatrix_T stores the lower triangle packed column by
///   column; spatial vectors hold the angular triple, then the linear one.
/// - stringify writes script text: the shortest round-tripping decimal for
///   numbers, rows "[a, b, c]", matrices "[a, b, c; d, e, f; g, h, i]" and
///   the spatial vector as a column "[a; b; c; d; e; f]".
/// - Numeric values are built from traced ones by evaluation, the
///   (traced value, BindingSet) constructors; traceable() goes the other way
///   with constant coordinates.

#include "math3d/Matrix3x3.hpp"
#include "math3d/Quaternion.hpp"
#include "math3d/Scalar.hpp"
#include "math3d/SpatialVector.hpp"
#include "math3d/Stringify.hpp"
#include "math3d/SymmetricSpatialMatrix.hpp"
#include "math3d/Transform3.hpp"
#include "math3d/Vector.hpp"
