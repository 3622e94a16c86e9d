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

// Traced forms record VectorScaleOp, VectorNegateOp, TransposeColMajorOp,
// TransposeOp, ShiftColumnsOp, ScaleVectorsOp, ZeroMajorOp, ReduceMatrixOp,
// ExpandVectorOp or SubmatrixAssignOp. A fold writes the elements that the
// constant sizes cover; a record makes every maximum element of the output
// read the node. Kernels that update an array in place read all of its
// maximum elements and, when they record, replace all of them.

/// out[i] = scale * a[i] for i < n. out may be a itself.
inline void vectorScale(unsigned n, double scale, double const* a, double* out) {
  kelm_math_lin_alg_vectorScale(static_cast<int>(n), scale, a, out);
}
/// Traced vectorScale (VectorScaleOp).
void vectorScale(unsigned n, TracedValue<double> const& scale, TracedValue<double> const* a,
                 TracedValue<double>* out);

/// out[i] = -a[i] for i < n. out may be a itself.
inline void vectorNegate(unsigned n, double const* a, double* out) {
  kelm_math_lin_alg_vectorNegate(static_cast<int>(n), a, out);
}
/// Traced vectorNegate (VectorNegateOp).
void vectorNegate(unsigned n, TracedValue<double> const* a, TracedValue<double>* out);

/// out (n by m) = transpose of the m by n matrix A; out must not overlap A.
inline void transposeColMajor(unsigned m, unsigned n, double const* A, double* out) {
  kelm_math_lin_alg_transposeColMajor(static_cast<int>(m), static_cast<int>(n), A, out);
}
/// transposeColMajor of the actual m by n matrix; the maxima are not used.
inline void transposeColMajorDynamicSize(unsigned /*mMax*/, unsigned /*nMax*/, unsigned m,
                                         unsigned n, double const* A, double* out) {
  transposeColMajor(m, n, A, out);
}
/// Traced transposeColMajor (TransposeColMajorOp).
void transposeColMajor(unsigned m, unsigned n, TracedValue<double> const* A,
                       TracedValue<double>* out);
/// Traced transposeColMajor of traced sizes m <= mMax, n <= nMax: A and out
/// hold mMax * nMax elements; A is laid out as m by n, out as n by m.
void transposeColMajorDynamicSize(unsigned mMax, unsigned nMax, TracedValue<int> const& m,
                                  TracedValue<int> const& n, TracedValue<double> const* A,
                                  TracedValue<double>* out);

/// out = A + transpose(A) of an n by n matrix A; out may be A itself.
inline void matrixTransposeAdd(unsigned n, double const* A, double* out) {
  kelm_math_lin_alg_matrixTransposeAdd(static_cast<int>(n), A, out);
}
/// Traced matrixTransposeAdd (TransposeOp, kind 0).
void matrixTransposeAdd(unsigned n, TracedValue<double> const* A, TracedValue<double>* out);

/// out = A - transpose(A) of an n by n matrix A; out may be A itself.
inline void matrixTransposeSubtract(unsigned n, double const* A, double* out) {
  kelm_math_lin_alg_matrixTransposeSubtract(static_cast<int>(n), A, out);
}
/// Traced matrixTransposeSubtract (TransposeOp, kind 1).
void matrixTransposeSubtract(unsigned n, TracedValue<double> const* A, TracedValue<double>* out);

/// The last k columns of the m by n matrix A as the m by k matrix out (one
/// block of m * k elements from element m * (n - k) on, in 32-bit unsigned
/// arithmetic). k = 0 copies nothing; k > n copies nothing.
inline void shiftColumns(unsigned m, unsigned n, unsigned k, double const* A, double* out) {
  kelm_math_lin_alg_shiftColumns(static_cast<int>(m), static_cast<int>(n), static_cast<int>(k), A,
                                 out);
}
inline void shiftColumnsDynamicSize(unsigned /*mMax*/, unsigned /*nMax*/, unsigned m, unsigned n,
                                    unsigned k, double const* A, double* out) {
  shiftColumns(m, n, k, A, out);
}
/// Traced shiftColumns of a traced column count k (ShiftColumnsOp); out
/// holds m * n elements, a fold writes the first m * k.
void shiftColumns(unsigned m, unsigned n, TracedValue<int> const& k, TracedValue<double> const* A,
                  TracedValue<double>* out);
/// Traced shiftColumns of traced sizes; A and out hold mMax * nMax elements.
void shiftColumnsDynamicSize(unsigned mMax, unsigned nMax, TracedValue<int> const& m,
                             TracedValue<int> const& n, TracedValue<int> const& k,
                             TracedValue<double> const* A, TracedValue<double>* out);

/// out (m by n) = A with column j multiplied by s[j]; out may be A itself.
inline void scaleColumns(unsigned m, unsigned n, double const* A, double const* s, double* out) {
  kelm_math_lin_alg_scaleColumns(static_cast<int>(m), static_cast<int>(n), A, s, out);
}
/// out (m by n) = A with column j divided by s[j] (IEEE on a zero factor).
inline void inverseScaleColumns(unsigned m, unsigned n, double const* A, double const* s,
                                double* out) {
  kelm_math_lin_alg_inverseScaleColumns(static_cast<int>(m), static_cast<int>(n), A, s, out);
}
/// out (m by n) = A with row i multiplied by s[i]; out may be A itself.
inline void scaleRows(unsigned m, unsigned n, double const* A, double const* s, double* out) {
  kelm_math_lin_alg_scaleRows(static_cast<int>(m), static_cast<int>(n), A, s, out);
}
/// out (m by n) = A with row i divided by s[i] (IEEE on a zero factor).
inline void inverseScaleRows(unsigned m, unsigned n, double const* A, double const* s,
                             double* out) {
  kelm_math_lin_alg_inverseScaleRows(static_cast<int>(m), static_cast<int>(n), A, s, out);
}
inline void scaleColumnsDynamicSize(unsigned /*mMax*/, unsigned /*nMax*/, unsigned m, unsigned n,
                                    double const* A, double const* s, double* out) {
  scaleColumns(m, n, A, s, out);
}
inline void inverseScaleColumnsDynamicSize(unsigned /*mMax*/, unsigned /*nMax*/, unsigned m,
                                           unsigned n, double const* A, double const* s,
                                           double* out) {
  inverseScaleColumns(m, n, A, s, out);
}
inline void scaleRowsDynamicSize(unsigned /*mMax*/, unsigned /*nMax*/, unsigned m, unsigned n,
                                 double const* A, double const* s, double* out) {
  scaleRows(m, n, A, s, out);
}
inline void inverseScaleRowsDynamicSize(unsigned /*mMax*/, unsigned /*nMax*/, unsigned m,
                                        unsigned n, double const* A, double const* s, double* out) {
  inverseScaleRows(m, n, A, s, out);
}
/// Traced scalings (ScaleVectorsOp). In the DynamicSize forms A and out hold
/// mMax * nMax elements and s holds nMax factors (columns) or mMax (rows).
void scaleColumns(unsigned m, unsigned n, TracedValue<double> const* A,
                  TracedValue<double> const* s, TracedValue<double>* out);
void inverseScaleColumns(unsigned m, unsigned n, TracedValue<double> const* A,
                         TracedValue<double> const* s, TracedValue<double>* out);
void scaleRows(unsigned m, unsigned n, TracedValue<double> const* A, TracedValue<double> const* s,
               TracedValue<double>* out);
void inverseScaleRows(unsigned m, unsigned n, TracedValue<double> const* A,
                      TracedValue<double> const* s, TracedValue<double>* out);
void scaleColumnsDynamicSize(unsigned mMax, unsigned nMax, TracedValue<int> const& m,
                             TracedValue<int> const& n, TracedValue<double> const* A,
                             TracedValue<double> const* s, TracedValue<double>* out);
void inverseScaleColumnsDynamicSize(unsigned mMax, unsigned nMax, TracedValue<int> const& m,
                                    TracedValue<int> const& n, TracedValue<double> const* A,
                                    TracedValue<double> const* s, TracedValue<double>* out);
void scaleRowsDynamicSize(unsigned mMax, unsigned nMax, TracedValue<int> const& m,
                          TracedValue<int> const& n, TracedValue<double> const* A,
                          TracedValue<double> const* s, TracedValue<double>* out);
void inverseScaleRowsDynamicSize(unsigned mMax, unsigned nMax, TracedValue<int> const& m,
                                 TracedValue<int> const& n, TracedValue<double> const* A,
                                 TracedValue<double> const* s, TracedValue<double>* out);

/// In place: row i of the m by n matrix A becomes +0.0 wherever flags[i] is
/// nonzero (i < m).
inline void zeroMajor(unsigned m, unsigned n, int const* flags, double* A) {
  kelm_math_lin_alg_zeroMajor(static_cast<int>(m), static_cast<int>(n), flags, A);
}
/// Traced zeroMajor (ZeroMajorOp).
void zeroMajor(unsigned m, unsigned n, TracedValue<int> const* flags, TracedValue<double>* A);

/// In place: column j < k of the m by n matrix A becomes column indices[j]
/// (taken in turn, so strictly increasing indices compact the k kept
/// columns to the front); an index outside [0, n) leaves column j as it is,
/// columns from k on keep their values. Nothing happens when k > n.
inline void reduceMatrix(unsigned m, unsigned n, unsigned k, int const* indices, double* A) {
  kelm_math_lin_alg_reduceMatrix(static_cast<int>(m), static_cast<int>(n), static_cast<int>(k),
                                 indices, A);
}
inline void reduceMatrixDynamicSize(unsigned /*mMax*/, unsigned /*nMax*/, unsigned m, unsigned n,
                                    unsigned k, int const* indices, double* A) {
  reduceMatrix(m, n, k, indices, A);
}
/// Traced reduceMatrix of a traced column count k (ReduceMatrixOp).
void reduceMatrix(unsigned m, unsigned n, TracedValue<int> const& k,
                  TracedValue<int> const* indices, TracedValue<double>* A);
/// Traced reduceMatrix of traced sizes: indices holds nMax elements, A holds
/// mMax * nMax laid out as m by n; a fold writes the first m * n.
void reduceMatrixDynamicSize(unsigned mMax, unsigned nMax, TracedValue<int> const& m,
                             TracedValue<int> const& n, TracedValue<int> const& k,
                             TracedValue<int> const* indices, TracedValue<double>* A);

/// In place: entry i < n of v moves to position indices[i] of the nMax
/// vector v, every other position becomes +0.0. Indices are meant strictly
/// increasing in [0, nMax); see kelm_math_lin_alg_expandVector for others.
/// Nothing happens when n > nMax.
inline void expandVector(unsigned nMax, unsigned n, int const* indices, double* v) {
  kelm_math_lin_alg_expandVector(static_cast<int>(nMax), static_cast<int>(n), indices, v);
}
/// Traced expandVector of a traced count n (ExpandVectorOp): indices and v
/// hold nMax elements; a fold reads the first n and writes all nMax.
void expandVector(unsigned nMax, TracedValue<int> const& n, TracedValue<int> const* indices,
                  TracedValue<double>* v);

/// Copies the rows by cols block starting at element srcOffset of src
/// (leading dimension srcStride) to element dstOffset of dst (leading
/// dimension dstStride). src and dst must not overlap.
inline void submatrixAssign(unsigned rows, unsigned cols, unsigned srcOffset, unsigned srcStride,
                            unsigned dstOffset, unsigned dstStride, double const* src,
                            double* dst) {
  kelm_math_lin_alg_matrixAssignStrided(static_cast<int>(rows), static_cast<int>(cols),
                                        static_cast<int>(srcStride), static_cast<int>(dstStride),
                                        src + srcOffset, dst + dstOffset);
}
inline void submatrixAssignDynamicSize(unsigned /*srcMax*/, unsigned /*dstMax*/, unsigned rows,
                                       unsigned cols, unsigned srcOffset, unsigned srcStride,
                                       unsigned dstOffset, unsigned dstStride, double const* src,
                                       double* dst) {
  submatrixAssign(rows, cols, srcOffset, srcStride, dstOffset, dstStride, src, dst);
}
/// Traced submatrixAssign (SubmatrixAssignOp) over srcStride * cols source
/// and dstStride * cols destination elements; the block must lie within
/// them (an offset plus rows at most the stride).
void submatrixAssign(unsigned rows, unsigned cols, unsigned srcOffset, unsigned srcStride,
                     unsigned dstOffset, unsigned dstStride, TracedValue<double> const* src,
                     TracedValue<double>* dst);
/// Traced submatrixAssign of traced sizes: src holds srcMax elements, dst
/// dstMax. A fold reads srcStride * cols and dstStride * cols elements and
/// writes the latter; a record replaces all dstMax elements of dst. A block
/// beyond the maxima leaves dst unchanged at evaluation.
void submatrixAssignDynamicSize(unsigned srcMax, unsigned dstMax, TracedValue<int> const& rows,
                                TracedValue<int> const& cols, TracedValue<int> const& srcOffset,
                                TracedValue<int> const& srcStride,
                                TracedValue<int> const& dstOffset,
                                TracedValue<int> const& dstStride, TracedValue<double> const* src,
                                TracedValue<double>* dst);


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
