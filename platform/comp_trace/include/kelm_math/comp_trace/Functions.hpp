#pragma once

#include <vector>

#include "kelm_math/comp_trace/TracedValue.hpp"

namespace kelm_math::comp_trace {

// Scalar functions of both modes under one name. The Numeric overloads and
// the traced ones mean the same, bit for bit; the traced ones fold constants.

/// c ? a : b. A constant condition picks without recording.
double ternary(bool c, double a, double b);
int ternary(bool c, int a, int b);
bool ternary(bool c, bool a, bool b);
TracedDouble ternary(TracedBool const& c, TracedDouble const& a, TracedDouble const& b);
TracedInt ternary(TracedBool const& c, TracedInt const& a, TracedInt const& b);
TracedBool ternary(TracedBool const& c, TracedBool const& a, TracedBool const& b);

/// double to int toward zero; NaN gives 0, values beyond the int range
/// saturate. Use it instead of a cast in code written for both modes.
int toInt(double x);
TracedInt toInt(TracedDouble const& x);

/// a / b, but 0 when b is zero (either sign).
double guardedDivide(double a, double b);
TracedDouble guardedDivide(TracedDouble const& a, TracedDouble const& b);

/// atan2(y, x), but 0 when both are zero.
double guardedAtan2(double y, double x);
TracedDouble guardedAtan2(TracedDouble const& y, TracedDouble const& x);

/// Square root (NaN for negative input), floor, absolute value.
double sqrt(double x);
TracedDouble sqrt(TracedDouble const& x);
double floor(double x);
TracedDouble floor(TracedDouble const& x);
double abs(double x);
TracedDouble abs(TracedDouble const& x);

/// 1 for positive, -1 for negative; 0, -0 and NaN come back unchanged.
double sgn(double x);
TracedDouble sgn(TracedDouble const& x);

/// Smaller / larger operand; a NaN operand gives NaN; of equal operands the
/// second is returned.
double min(double a, double b);
double max(double a, double b);
int min(int a, int b);
int max(int a, int b);
TracedDouble min(TracedDouble const& a, TracedDouble const& b);
TracedDouble max(TracedDouble const& a, TracedDouble const& b);
TracedInt min(TracedInt const& a, TracedInt const& b);
TracedInt max(TracedInt const& a, TracedInt const& b);

/// Index of the smallest of n values: the first of equal minima; a NaN is
/// never chosen over the current candidate (a NaN first value stays chosen).
/// -1 when n is 0. Traced, it records comparisons and ternary selections.
int indexOfMin(double const* values, int n);
TracedInt indexOfMin(TracedDouble const* values, int n);

/// values[index]; an index outside [0, n) gives 0. A traced index records one
/// node reading the collected values.
double arrayAccess(double const* values, int n, int index);
int arrayAccess(int const* values, int n, int index);
TracedDouble arrayAccess(TracedDouble const* values, int n, TracedInt const& index);
TracedInt arrayAccess(TracedInt const* values, int n, TracedInt const& index);

/// Conjunction and disjunction.
bool all(bool a, bool b);
bool all(bool a, bool b, bool c, bool d);
bool all(std::vector<bool> const& values);
bool any(bool a, bool b);
TracedBool all(TracedBool const& a, TracedBool const& b);
TracedBool all(TracedBool const& a, TracedBool const& b, TracedBool const& c, TracedBool const& d);
TracedBool all(std::vector<TracedBool> const& values);
TracedBool any(TracedBool const& a, TracedBool const& b);

}  // namespace kelm_math::comp_trace
