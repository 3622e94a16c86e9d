#pragma once

// Dense vector and matrix kernels of both modes. Arrays are plain pointers
// to contiguous elements owned by the caller; matrices are column-major.
// A DynamicSize form takes compile-time maxima first, then the actual sizes,
// which must lie between 0 and their maxima. The Traced forms fold to
// constants when every size and every covered element is a constant, and
// otherwise record one node whose outputs the result elements read. A
// recorded output element past the actual size evaluates to 0 and holds an
// unspecified value in generated C. Kernels report nothing and never throw,
// but for allocation failure.

#include "kelm_math/comp_trace/TracedValue.hpp"
#include "kelm_math/lin_alg.h"
#include "vela/math/modes.hpp"

namespace vela::math {

/// out[i] = a[i] + b[i] for i < n. out may alias a or b.
inline void vectorAdd(unsigned n, double const* a, double const* b, double* out) {
  kelm_math_lin_alg_vectorAdd(static_cast<int>(n), a, b, out);
}
/// vectorAdd over the actual size n; nMax is not used.
inline void vectorAddDynamicSize(unsigned /*nMax*/, unsigned n, double const* a, double const* b,
                                 double* out) {
  kelm_math_lin_alg_vectorAdd(static_cast<int>(n), a, b, out);
}
/// Traced vectorAdd: folds constant inputs, else records a VectorCombineOp
/// whose output all n elements of out read.
void vectorAdd(unsigned n, TracedValue<double> const* a, TracedValue<double> const* b,
               TracedValue<double>* out);
/// Traced vectorAdd of a traced size n <= nMax: a and b hold nMax elements;
/// a fold writes the first n elements of out, a record all nMax.
void vectorAddDynamicSize(unsigned nMax, TracedValue<int> const& n, TracedValue<double> const* a,
                          TracedValue<double> const* b, TracedValue<double>* out);

/// out[i] = a[i] - b[i] for i < n. out may alias a or b.
inline void vectorSubtract(unsigned n, double const* a, double const* b, double* out) {
  kelm_math_lin_alg_vectorSubtract(static_cast<int>(n), a, b, out);
}
inline void vectorSubtractDynamicSize(unsigned /*nMax*/, unsigned n, double const* a,
                                      double const* b, double* out) {
  kelm_math_lin_alg_vectorSubtract(static_cast<int>(n), a, b, out);
}
void vectorSubtract(unsigned n, TracedValue<double> const* a, TracedValue<double> const* b,
                    TracedValue<double>* out);
void vectorSubtractDynamicSize(unsigned nMax, TracedValue<int> const& n,
                               TracedValue<double> const* a, TracedValue<double> const* b,
                               TracedValue<double>* out);

// ---------------------------------------------------------------------------
// Elementwise and layout kernels
// ---------------------------------------------------------------------------


// ---------------------------------------------------------------------------
// Products
// ---------------------------------------------------------------------------


// ---------------------------------------------------------------------------
// Predicates and index kernels
// ---------------------------------------------------------------------------


}  // namespace vela::math
