#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// The names a computation written over the mode needs from the trace library
/// (kelm_math::comp_trace) and the 3-D math library (math3d), brought into
/// vela::math so that user code names one namespace. Each name keeps its
/// meaning and documentation where it is declared: kelm_math/comp_trace/
/// Functions.hpp, GenerateCFunction.hpp and Tape.hpp, math3d/math3d.hpp.
///
/// Every scalar function has a double and a TracedValue<double> overload (min
/// and max also int ones). Call them qualified, vela::math::sin(x), or through
/// a block-scope using-declaration: a using-directive for vela::math next to
/// the C library's global sin, pow, ... makes a call with a double ambiguous.

#include "kelm_math/comp_trace/Derivatives.hpp"
#include "kelm_math/comp_trace/Evaluation.hpp"
#include "kelm_math/comp_trace/Functions.hpp"
#include "kelm_math/comp_trace/GenerateCFunction.hpp"
#include "kelm_math/comp_trace/Tape.hpp"
#include "kelm_math/comp_trace/TracedValue.hpp"
#include "math3d/math3d.hpp"
#include "vela/math/modes.hpp"

/// The library: dense kernels, interpolating and Bezier curves, mass and beam
/// properties, Gauss quadrature and augmented spatial algebra, each in the
/// modes Numeric and Traced, and the trace and 3-D names they are written with.
namespace vela::math {

// Traced scalars, the exception of an unbound input, C generation and the
// flat evaluator.
using kelm_math::comp_trace::generateCFunction;
using kelm_math::comp_trace::Tape;
using kelm_math::comp_trace::TracedBool;
using kelm_math::comp_trace::TracedDouble;
using kelm_math::comp_trace::TracedInt;
using kelm_math::comp_trace::UnboundInput;

// Derivatives of traced computations, as traced values.
using kelm_math::comp_trace::DerivativeError;
using kelm_math::comp_trace::gradient;
using kelm_math::comp_trace::hessian;
using kelm_math::comp_trace::jacobian;
using kelm_math::comp_trace::jacobianSparsity;
using kelm_math::comp_trace::jvp;
using kelm_math::comp_trace::sparseJacobian;
using kelm_math::comp_trace::SparseJacobian;
using kelm_math::comp_trace::SparsityPattern;
using kelm_math::comp_trace::vjp;

// Selections, guards and conversions of both modes.
using kelm_math::comp_trace::all;
using kelm_math::comp_trace::any;
using kelm_math::comp_trace::arrayAccess;
using kelm_math::comp_trace::guardedAtan2;
using kelm_math::comp_trace::guardedDivide;
using kelm_math::comp_trace::indexOfMin;
using kelm_math::comp_trace::ternary;
using kelm_math::comp_trace::toInt;

// Scalar functions of both modes.
using kelm_math::comp_trace::abs;
using kelm_math::comp_trace::acos;
using kelm_math::comp_trace::asin;
using kelm_math::comp_trace::atan;
using kelm_math::comp_trace::atan2;
using kelm_math::comp_trace::cos;
using kelm_math::comp_trace::exp;
using kelm_math::comp_trace::floor;
using kelm_math::comp_trace::hypot;
using kelm_math::comp_trace::log;
using kelm_math::comp_trace::max;
using kelm_math::comp_trace::min;
using kelm_math::comp_trace::pow;
using kelm_math::comp_trace::sgn;
using kelm_math::comp_trace::sin;
using kelm_math::comp_trace::sqrt;
using kelm_math::comp_trace::tan;

// 3-D types over the mode and their free functions (ternary of the types
// joins the scalar ternary above).
using math3d::Matrix3x3_T;
using math3d::Quaternion_T;
using math3d::SpatialVector_T;
using math3d::stringify;
using math3d::SymmetricSpatialMatrix_T;
using math3d::ternary;
using math3d::traceable;
using math3d::Transform3_T;
using math3d::Vector2_T;
using math3d::Vector3_T;

}  // namespace vela::math

#pragma GCC visibility pop
