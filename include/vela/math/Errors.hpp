#pragma once

#include "vela/Exception.hpp"

#pragma GCC visibility push(default)

/// \file
/// One base class per kind of error, so that one catch clause serves every
/// instantiation of the templates that throw it:
///
///     try {
///       spline.dataPoints(points);
///     } catch (vela::math::RepeatedDataPointsError const& e) {
///       // a 2-D or 3-D, numeric or traced spline; e.what() names the class
///     }
///
/// What is thrown is always the nested class of the template (for example
/// InterpolatingCubicSpline<Numeric, Vector2_T>::RepeatedDataPoints), whose
/// what() is "zeph " and its own name. The bases cannot be thrown on their
/// own. Every one derives from vela::Exception.
///
/// The trace library's errors are single classes and their own kind:
/// kelm_math::comp_trace::UnboundInput (an input without a value),
/// DerivativeError (a derivative that cannot be taken),
/// Tape::MovedFromTape and Tape::MovedFromWorkspace (use of a moved-from tape
/// or workspace), all vela::Exception; and InvalidFunctionName (a name
/// generated C cannot use), a std::invalid_argument.

namespace vela::math {

/// Too few data points for an interpolating curve: fewer than two, or two on
/// a closed curve. Base of InterpolatingSpline<Mode, Vec>::InsufficientDataPoints
/// (so of the cubic spline, the PCHIP curve and the 3-D wrapper too).
class InsufficientDataPointsError : public vela::Exception {
 public:
  ~InsufficientDataPointsError() override;

 protected:
  InsufficientDataPointsError() = default;
};

/// A data point with an infinite or NaN coordinate, or points so far apart
/// that the curve's length overflows. Base of
/// InterpolatingSpline<Mode, Vec>::NonFiniteDataPoints.
class NonFiniteDataPointsError : public vela::Exception {
 public:
  ~NonFiniteDataPointsError() override;

 protected:
  NonFiniteDataPointsError() = default;
};

/// A closed curve whose last data point repeats its first. Base of
/// InterpolatingSpline<Mode, Vec>::FirstPointRepeated.
class FirstPointRepeatedError : public vela::Exception {
 public:
  ~FirstPointRepeatedError() override;

 protected:
  FirstPointRepeatedError() = default;
};

/// Two consecutive data points that coincide within the tolerance. Base of
/// InterpolatingSpline<Mode, Vec>::RepeatedDataPoints.
class RepeatedDataPointsError : public vela::Exception {
 public:
  ~RepeatedDataPointsError() override;

 protected:
  RepeatedDataPointsError() = default;
};

/// A closed curve whose data points all lie on one line. Base of
/// InterpolatingSpline<Mode, Vec>::CollinearDataPoints.
class CollinearDataPointsError : public vela::Exception {
 public:
  ~CollinearDataPointsError() override;

 protected:
  CollinearDataPointsError() = default;
};

/// A Bezier curve of degree above 6, the closest-point search's limit. Base
/// of BezierCurve<Mode, Vec>::DegreeTooHigh.
class DegreeTooHighError : public vela::Exception {
 public:
  ~DegreeTooHighError() override;

 protected:
  DegreeTooHighError() = default;
};

/// A central quantity asked of a mass distribution without a center (zero
/// mass, non-zero first moments). Base of LumpedDistribution<M>::CenterUndefined.
class CenterUndefinedError : public vela::Exception {
 public:
  ~CenterUndefinedError() override;

 protected:
  CenterUndefinedError() = default;
};

/// Division by a zero scalar. Base of LumpedDistribution<M>::DivisionByZero.
class DivisionByZeroError : public vela::Exception {
 public:
  ~DivisionByZeroError() override;

 protected:
  DivisionByZeroError() = default;
};

/// A row or column index out of range. Base of vela::Matrix<T>::InvalidIndex.
class InvalidIndexError : public vela::Exception {
 public:
  ~InvalidIndexError() override;

 protected:
  InvalidIndexError() = default;
};

}  // namespace vela::math

#pragma GCC visibility pop
