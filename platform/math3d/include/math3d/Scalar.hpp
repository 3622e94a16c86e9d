#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// Scalar types of a mode and the few scalar operations the 3-D types are
/// written with. The Numeric overloads are inline and mean bit for bit what
/// the traced ones record, so one generic body serves both modes.

#include <cmath>

#include "kelm_math/comp_trace/Evaluation.hpp"
#include "kelm_math/comp_trace/Functions.hpp"
#include "kelm_math/comp_trace/ModeTypes.hpp"
#include "kelm_math/comp_trace/Modes.hpp"
#include "kelm_math/comp_trace/TracedValue.hpp"
#include "vela/codegen_runtime_scalar.h"

/// The 3-D math library: vectors, 3-by-3 matrices, quaternions, transforms
/// and spatial vectors and matrices over the mode tag.
namespace math3d {

namespace ct = kelm_math::comp_trace;
using ct::BindingSet;
using ct::Numeric;
using ct::Traced;
using ct::TracedValue;

/// The coordinate, index and predicate types of a mode: double, int, bool
/// in Numeric; TracedValue<double>, TracedValue<int>, TracedValue<bool> in Traced.
///@{
template <class Mode>
using Real = ct::DoubleOf<Mode>;
template <class Mode>
using Integer = ct::IntOf<Mode>;
template <class Mode>
using Boolean = ct::BoolOf<Mode>;
///@}

namespace detail {

/// The sum of a[i] b[i] over i < N (N >= 1), added in index order:
/// ((a0 b0 + a1 b1) + a2 b2) + ... Numeric forms the first two products as
/// one vector pair, which gives the same bits and keeps compilers from
/// vectorizing a caller's loop over many vectors across their coordinates
/// (measured 1.8 times slower than this).
///@{
template <int N>
double dotOf(double const* a, double const* b) {
  double s;
#if defined(__GNUC__)
  if constexpr (N >= 2) {
    typedef double Pair __attribute__((vector_size(16)));
    Pair x, y;
    __builtin_memcpy(&x, a, sizeof x);
    __builtin_memcpy(&y, b, sizeof y);
    Pair p = x * y;
    s = p[0] + p[1];
  } else {
    s = a[0] * b[0];
  }
  for (int i = N >= 2 ? 2 : 1; i < N; ++i) s += a[i] * b[i];
#else
  s = a[0] * b[0];
  for (int i = 1; i < N; ++i) s += a[i] * b[i];
#endif
  return s;
}
template <int N>
ct::TracedDouble dotOf(ct::TracedDouble const* a, ct::TracedDouble const* b) {
  ct::TracedDouble s = a[0] * b[0];
  for (int i = 1; i < N; ++i) s += a[i] * b[i];
  return s;
}
///@}

/// out[i] = (a[i] x0 + a[i + 3] x1) + a[i + 6] x2 for i < 3: the column-major
/// 3-by-3 matrix a times (x0, x1, x2). Numeric computes rows 0 and 1 as one
/// vector pair (the same bits, fewer instructions). out must not overlap a.
///@{
inline void combineColumnsOf(double const* a, double x0, double x1, double x2, double* out) {
#if defined(__GNUC__)
  typedef double Pair __attribute__((vector_size(16)));
  Pair c0, c1, c2;
  __builtin_memcpy(&c0, a, sizeof c0);
  __builtin_memcpy(&c1, a + 3, sizeof c1);
  __builtin_memcpy(&c2, a + 6, sizeof c2);
  Pair r = (c0 * x0 + c1 * x1) + c2 * x2;
  __builtin_memcpy(out, &r, sizeof r);
  out[2] = (a[2] * x0 + a[5] * x1) + a[8] * x2;
#else
  for (int i = 0; i < 3; ++i) out[i] = (a[i] * x0 + a[i + 3] * x1) + a[i + 6] * x2;
#endif
}
inline void combineColumnsOf(ct::TracedDouble const* a, ct::TracedDouble const& x0,
                             ct::TracedDouble const& x1, ct::TracedDouble const& x2,
                             ct::TracedDouble* out) {
  for (int i = 0; i < 3; ++i) out[i] = (a[i] * x0 + a[i + 3] * x1) + a[i + 6] * x2;
}
///@}

/// The square root of either mode (NaN below 0).
///@{
inline double sqrtOf(double x) { return std::sqrt(x); }
inline ct::TracedDouble sqrtOf(ct::TracedDouble const& x) { return ct::sqrt(x); }
///@}

/// a / b of either mode, 0 when b is zero (either sign).
///@{
inline double guardedDivideOf(double a, double b) { return vela_rt_guarded_divide(a, b); }
inline ct::TracedDouble guardedDivideOf(ct::TracedDouble const& a, ct::TracedDouble const& b) {
  return ct::guardedDivide(a, b);
}
///@}

/// c ? a : b of either mode; a traced condition records a ternary (folded
/// when c is a constant).
///@{
inline double select(bool c, double a, double b) { return c ? a : b; }
inline int select(bool c, int a, int b) { return c ? a : b; }
inline ct::TracedDouble select(ct::TracedBool const& c, ct::TracedDouble const& a,
                               ct::TracedDouble const& b) {
  return ct::ternary(c, a, b);
}
inline ct::TracedInt select(ct::TracedBool const& c, ct::TracedInt const& a,
                            ct::TracedInt const& b) {
  return ct::ternary(c, a, b);
}
///@}

/// values[k] for k in [0, 4): a switch in Numeric, a chain of traced
/// selections in Traced (folded when k is a constant).
///@{
inline double pick4(int k, double v0, double v1, double v2, double v3) {
  switch (k) {
    case 0: return v0;
    case 1: return v1;
    case 2: return v2;
    default: return v3;
  }
}
inline ct::TracedDouble pick4(ct::TracedInt const& k, ct::TracedDouble const& v0,
                              ct::TracedDouble const& v1, ct::TracedDouble const& v2,
                              ct::TracedDouble const& v3) {
  return ct::ternary(k == 0, v0, ct::ternary(k == 1, v1, ct::ternary(k == 2, v2, v3)));
}
///@}

/// table[k] of a constant table of n entries; k must lie in [0, n).
///@{
inline int lookup(int const* table, int /*n*/, int k) { return table[k]; }
ct::TracedInt lookup(int const* table, int n, ct::TracedInt const& k);
inline double lookup(double const* table, int /*n*/, int k) { return table[k]; }
ct::TracedDouble lookup(double const* table, int n, ct::TracedInt const& k);
///@}
/// values[k] of n mode values; k must lie in [0, n).
///@{
inline double elementAt(double const* values, int /*n*/, int k) { return values[k]; }
inline ct::TracedDouble elementAt(ct::TracedDouble const* values, int n, ct::TracedInt const& k) {
  return ct::arrayAccess(values, n, k);
}
///@}

/// The scan of ct::indexOfMin (first strict minimum; a NaN never chosen,
/// any number beats a NaN), inline: minRotation runs it on every
/// diagonalization.
///@{
inline int indexOfMinOf(double const* values, int n) {
  if (n <= 0) return -1;
  double best = values[0];
  int index = 0;
  for (int i = 1; i < n; ++i)
    if (!(values[i] >= best) && values[i] == values[i]) {
      best = values[i];
      index = i;
    }
  return index;
}
inline ct::TracedInt indexOfMinOf(ct::TracedDouble const* values, int n) {
  return ct::indexOfMin(values, n);
}
///@}

/// Equality of two coordinates for isOperationallyEqual: ordinary double
/// comparison (NaN never equal), or equal graphs in Traced.
///@{
inline bool sameOperation(double a, double b) { return a == b; }
inline bool sameOperation(ct::TracedDouble const& a, ct::TracedDouble const& b) {
  return a.isOperationallyEqual(b);
}
///@}

/// A constant traced copy of a number.
inline ct::TracedDouble traced(double x) { return ct::TracedDouble(x); }

}  // namespace detail
}  // namespace math3d

#pragma GCC visibility pop
