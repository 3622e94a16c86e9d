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

/// True when some v[i], i < n, is +infinity or -infinity; false for n = 0.
bool anyIsInf(unsigned n, double const* v);
/// Traced anyIsInf: a constant when all n values are constants, else a value
/// read from an AnyIsInfOp over them.
TracedValue<bool> anyIsInf(unsigned n, TracedValue<double> const* v);

/// True when some v[i], i < n, is a NaN; false for n = 0.
bool anyIsNaN(unsigned n, double const* v);
/// Traced anyIsNaN: folds constants, else reads an AnyIsNaNOp.
TracedValue<bool> anyIsNaN(unsigned n, TracedValue<double> const* v);

/// True when the m rows of the m by n matrix A are pairwise distinct. Rows
/// compare exactly, entry by entry: -0 equals +0 and a NaN equals nothing, so
/// a row holding a NaN is distinct from every row. m <= 1 gives true; m >= 2
/// rows of n = 0 entries are equal (false). work is scratch storage of m*n
/// doubles when n <= 3 and m*(n + 1) when n >= 4; its contents on return are
/// unspecified.
bool hasUniqueRows(unsigned m, unsigned n, double const* A, double* work);
/// Traced hasUniqueRows: folds when all m*n values are constants, else reads
/// a HasUniqueRowsOp. work is not touched (the node brings its own).
TracedValue<bool> hasUniqueRows(unsigned m, unsigned n, TracedValue<double> const* A,
                                TracedValue<double>* work);

/// Writes the positions i < n with flags[i] != 0, in increasing order, to
/// indices[0], indices[1], ...; the entries after the last one written are
/// left as they are. indices holds room for n.
void computeIndicesNonzeroElements(unsigned n, int const* flags, int* indices);
/// Traced computeIndicesNonzeroElements; all n entries of indices are
/// written. Folded (all flags constant): the k positions, then n - k constant
/// zeros. Recorded: every entry reads a ComputeIndicesNonzeroElementsOp, and
/// the entries past the last position evaluate to 0 (unspecified in
/// generated C).
void computeIndicesNonzeroElements(unsigned n, TracedValue<int> const* flags,
                                   TracedValue<int>* indices);

}  // namespace vela::math
