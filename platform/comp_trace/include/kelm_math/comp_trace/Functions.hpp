#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// The scalar functions, selections and guards of both modes.

#include <vector>

#include "kelm_math/comp_trace/TracedValue.hpp"

namespace kelm_math::comp_trace {

// Scalar functions of both modes under one name. The Numeric overloads and
// the traced ones mean the same, bit for bit; the traced ones fold constants.
//
// Derivatives (jvp, vjp and friends in Derivatives.hpp) where a function is
// not differentiable: sqrt at 0, asin and acos at +-1 and log at 0 give the
// one-sided limit from inside the domain (an infinity); abs at 0 gives 0;
// floor, sgn, comparisons, conversions to int or bool, indexOfMin and every
// int or bool value give 0 everywhere; min and max at a tie, or with a NaN
// second operand, take the second operand's derivative; ternary takes the
// selected branch's (the condition is not differentiated); guardedDivide
// gives 0 where its guard applies; atan2, guardedAtan2 and hypot give 0 at
// the origin; pow with respect to the exponent is x^y log x, taken as 0 at
// x = 0; arrayAccess gives the accessed element's derivative, 0 outside
// [0, n).

/// c ? a : b. A constant condition picks without recording.
///@{
double ternary(bool c, double a, double b);
int ternary(bool c, int a, int b);
bool ternary(bool c, bool a, bool b);
TracedDouble ternary(TracedBool const& c, TracedDouble const& a, TracedDouble const& b);
TracedInt ternary(TracedBool const& c, TracedInt const& a, TracedInt const& b);
TracedBool ternary(TracedBool const& c, TracedBool const& a, TracedBool const& b);
///@}

/// double to int toward zero; NaN gives 0, values beyond the int range
/// saturate. Use it instead of a cast in code written for both modes.
///@{
int toInt(double x);
TracedInt toInt(TracedDouble const& x);
///@}

/// a / b, but 0 when b is zero (either sign).
///@{
double guardedDivide(double a, double b);
TracedDouble guardedDivide(TracedDouble const& a, TracedDouble const& b);
///@}

/// atan2(y, x), but 0 when both are zero.
///@{
double guardedAtan2(double y, double x);
TracedDouble guardedAtan2(TracedDouble const& y, TracedDouble const& x);
///@}

/// Square root (NaN for negative input), floor (round toward -inf) and
/// absolute value.
///@{
double sqrt(double x);
TracedDouble sqrt(TracedDouble const& x);
double floor(double x);
TracedDouble floor(TracedDouble const& x);
double abs(double x);
TracedDouble abs(TracedDouble const& x);
///@}

/// The C library's functions of the same names, on every path: Numeric,
/// folding and evaluation call the library in this process, generated C
/// calls it by name. Angles are in radians. A domain error gives NaN (asin
/// or acos outside [-1, 1], log of a negative number, sin, cos or tan of an
/// infinity); a pole gives an infinity (log(0) is -inf); errno is not part
/// of the result. The Numeric overloads are compiled out of line, so that a
/// compiler never folds a constant argument with arithmetic of its own.
///@{
double sin(double x);
TracedDouble sin(TracedDouble const& x);
double cos(double x);
TracedDouble cos(TracedDouble const& x);
double tan(double x);
TracedDouble tan(TracedDouble const& x);
///@}
/// Inverse sine in [-pi/2, pi/2], inverse cosine in [0, pi], inverse tangent
/// in [-pi/2, pi/2].
///@{
double asin(double x);
TracedDouble asin(TracedDouble const& x);
double acos(double x);
TracedDouble acos(TracedDouble const& x);
double atan(double x);
TracedDouble atan(TracedDouble const& x);
///@}
/// The angle of the point (x, y) in [-pi, pi]. Unlike guardedAtan2, the
/// zeros follow the C library: atan2(+-0, +0) is +-0, atan2(+-0, -0) is +-pi.
///@{
double atan2(double y, double x);
TracedDouble atan2(TracedDouble const& y, TracedDouble const& x);
///@}
/// e^x, and the natural logarithm (-inf at +-0, NaN below 0).
///@{
double exp(double x);
TracedDouble exp(TracedDouble const& x);
double log(double x);
TracedDouble log(TracedDouble const& x);
///@}
/// x^y: the C library's pow, except that y = 2 gives x * x, y = -1 gives
/// 1 / x, and y = 0 or x = 1 gives 1, the values C compilers substitute
/// for those operands. A negative x with a non-integer y gives NaN.
///@{
double pow(double x, double y);
TracedDouble pow(TracedDouble const& x, TracedDouble const& y);
///@}
/// sqrt(x^2 + y^2) without intermediate overflow or underflow; an infinite
/// operand gives +inf, even with a NaN.
///@{
double hypot(double x, double y);
TracedDouble hypot(TracedDouble const& x, TracedDouble const& y);
///@}

/// 1 for positive, -1 for negative; 0, -0 and NaN come back unchanged.
///@{
double sgn(double x);
TracedDouble sgn(TracedDouble const& x);
///@}

/// Smaller / larger operand; a NaN operand gives NaN; of equal operands the
/// second is returned.
///@{
double min(double a, double b);
double max(double a, double b);
int min(int a, int b);
int max(int a, int b);
TracedDouble min(TracedDouble const& a, TracedDouble const& b);
TracedDouble max(TracedDouble const& a, TracedDouble const& b);
TracedInt min(TracedInt const& a, TracedInt const& b);
TracedInt max(TracedInt const& a, TracedInt const& b);
///@}

/// Index of the smallest of n values: the first of equal minima; a NaN is
/// never chosen, and any number beats a NaN (0 when all are NaN). -1 when n
/// is 0. Traced, it records comparisons and ternary selections.
///@{
int indexOfMin(double const* values, int n);
TracedInt indexOfMin(TracedDouble const* values, int n);
///@}

/// values[index]; an index outside [0, n) gives 0. A traced index records one
/// node reading the collected values.
///@{
double arrayAccess(double const* values, int n, int index);
int arrayAccess(int const* values, int n, int index);
TracedDouble arrayAccess(TracedDouble const* values, int n, TracedInt const& index);
TracedInt arrayAccess(TracedInt const* values, int n, TracedInt const& index);
///@}

/// Conjunction (all) and disjunction (any) of the operands; all of an empty
/// vector is true.
///@{
bool all(bool a, bool b);
bool all(bool a, bool b, bool c, bool d);
bool all(std::vector<bool> const& values);
bool any(bool a, bool b);
TracedBool all(TracedBool const& a, TracedBool const& b);
TracedBool all(TracedBool const& a, TracedBool const& b, TracedBool const& c, TracedBool const& d);
TracedBool all(std::vector<TracedBool> const& values);
TracedBool any(TracedBool const& a, TracedBool const& b);
///@}

}  // namespace kelm_math::comp_trace

#pragma GCC visibility pop
