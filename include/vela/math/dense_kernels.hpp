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

#include <vector>

#include "kelm_math/comp_trace/TracedValue.hpp"
#include "kelm_math/lin_alg.h"
#include "math3d/Quaternion.hpp"
#include "math3d/Vector.hpp"
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
// Column-major products. A result must not overlap a factor. Result
// elements are summed in inner-index order (see kelm_math/lin_alg.h), so
// the three modes of evaluation agree bit for bit. An inner dimension of 0
// gives zeros; a result dimension of 0 writes nothing.

/// out (s0 by s2) = A (s0 by s1) B (s1 by s2).
inline void matrixMultiply(unsigned s0, unsigned s1, unsigned s2, double const* A, double const* B,
                           double* out) {
  kelm_math_lin_alg_matrixMultiply(static_cast<int>(s0), static_cast<int>(s1), static_cast<int>(s2),
                                   A, B, out);
}
/// matrixMultiply over the actual sizes; the maxima are not used.
inline void matrixMultiplyDynamicSize(unsigned /*s0Max*/, unsigned /*s1Max*/, unsigned /*s2Max*/,
                                      unsigned s0, unsigned s1, unsigned s2, double const* A,
                                      double const* B, double* out) {
  matrixMultiply(s0, s1, s2, A, B, out);
}
/// Traced matrixMultiply: folds when A and B are constant, else records a
/// MatrixMultiplyOp whose output all s0 * s2 elements of out read.
void matrixMultiply(unsigned s0, unsigned s1, unsigned s2, TracedValue<double> const* A,
                    TracedValue<double> const* B, TracedValue<double>* out);
/// Traced matrixMultiply of traced sizes below the maxima: A holds
/// s0Max * s1Max elements, B s1Max * s2Max, both laid out for the actual
/// sizes. A fold writes the first s0 * s2 elements of out, a record all
/// s0Max * s2Max.
void matrixMultiplyDynamicSize(unsigned s0Max, unsigned s1Max, unsigned s2Max,
                               TracedValue<int> const& s0, TracedValue<int> const& s1,
                               TracedValue<int> const& s2, TracedValue<double> const* A,
                               TracedValue<double> const* B, TracedValue<double>* out);

/// out (s1 by s2) = A^T B with A s0 by s1 and B s0 by s2.
inline void matrixTransposeMultiply(unsigned s0, unsigned s1, unsigned s2, double const* A,
                                    double const* B, double* out) {
  kelm_math_lin_alg_matrixTransposeMultiply(static_cast<int>(s0), static_cast<int>(s1),
                                            static_cast<int>(s2), A, B, out);
}
inline void matrixTransposeMultiplyDynamicSize(unsigned /*s0Max*/, unsigned /*s1Max*/,
                                               unsigned /*s2Max*/, unsigned s0, unsigned s1,
                                               unsigned s2, double const* A, double const* B,
                                               double* out) {
  matrixTransposeMultiply(s0, s1, s2, A, B, out);
}
/// Traced forms as for matrixMultiply; B holds s0Max * s2Max elements and
/// a record writes s1Max * s2Max elements of out.
void matrixTransposeMultiply(unsigned s0, unsigned s1, unsigned s2, TracedValue<double> const* A,
                             TracedValue<double> const* B, TracedValue<double>* out);
void matrixTransposeMultiplyDynamicSize(unsigned s0Max, unsigned s1Max, unsigned s2Max,
                                        TracedValue<int> const& s0, TracedValue<int> const& s1,
                                        TracedValue<int> const& s2, TracedValue<double> const* A,
                                        TracedValue<double> const* B, TracedValue<double>* out);

/// out (s0 by s2) = A B^T with A s0 by s1 and B s2 by s1.
inline void matrixMultiplyTranspose(unsigned s0, unsigned s1, unsigned s2, double const* A,
                                    double const* B, double* out) {
  kelm_math_lin_alg_matrixMultiplyTranspose(static_cast<int>(s0), static_cast<int>(s1),
                                            static_cast<int>(s2), A, B, out);
}
inline void matrixMultiplyTransposeDynamicSize(unsigned /*s0Max*/, unsigned /*s1Max*/,
                                               unsigned /*s2Max*/, unsigned s0, unsigned s1,
                                               unsigned s2, double const* A, double const* B,
                                               double* out) {
  matrixMultiplyTranspose(s0, s1, s2, A, B, out);
}
/// Traced forms as for matrixMultiply (B holds s1Max * s2Max elements).
void matrixMultiplyTranspose(unsigned s0, unsigned s1, unsigned s2, TracedValue<double> const* A,
                             TracedValue<double> const* B, TracedValue<double>* out);
void matrixMultiplyTransposeDynamicSize(unsigned s0Max, unsigned s1Max, unsigned s2Max,
                                        TracedValue<int> const& s0, TracedValue<int> const& s1,
                                        TracedValue<int> const& s2, TracedValue<double> const* A,
                                        TracedValue<double> const* B, TracedValue<double>* out);

/// out = A B with leading dimensions: A(i, p) at i + p * lda (m by k),
/// B(p, j) at p + j * ldb (k by n), the result (i, j) at i + j * ldc (m by
/// n). Elements of out between the columns are left as they are.
inline void matrixMultiplyStrided(unsigned m, unsigned k, unsigned n, unsigned lda, unsigned ldb,
                                  unsigned ldc, double const* A, double const* B, double* out) {
  kelm_math_lin_alg_matrixMultiplyStrided(static_cast<int>(m), static_cast<int>(k),
                                          static_cast<int>(n), static_cast<int>(lda),
                                          static_cast<int>(ldb), static_cast<int>(ldc), A, B, out);
}
/// matrixMultiplyStrided over the actual values; the maxima (of k, n, lda,
/// ldb, ldc) are not used.
inline void matrixMultiplyStridedDynamicSize(unsigned /*kMax*/, unsigned /*nMax*/,
                                             unsigned /*ldaMax*/, unsigned /*ldbMax*/,
                                             unsigned /*ldcMax*/, unsigned m, unsigned k,
                                             unsigned n, unsigned lda, unsigned ldb, unsigned ldc,
                                             double const* A, double const* B, double* out) {
  matrixMultiplyStrided(m, k, n, lda, ldb, ldc, A, B, out);
}
/// Traced strided product over the elements the strides reach: A
/// (k - 1) * lda + m, B (n - 1) * ldb + k, out (n - 1) * ldc + m (none when
/// m or n is 0; none of A and B when k is 0). Folds when those elements of
/// A and B are constant (out then gets constants, 0 between the columns),
/// else records a MatrixMultiplyStridedOp over constant sizes whose output
/// all those elements of out read.
void matrixMultiplyStrided(unsigned m, unsigned k, unsigned n, unsigned lda, unsigned ldb,
                           unsigned ldc, TracedValue<double> const* A, TracedValue<double> const* B,
                           TracedValue<double>* out);
/// Traced strided product of traced values below the maxima of k, n, lda,
/// ldb and ldc (m <= lda and m <= ldc): A holds kMax * ldaMax elements, B
/// nMax * ldbMax. Never folds: always records a node whose output all
/// nMax * ldcMax elements of out read.
void matrixMultiplyStridedDynamicSize(unsigned kMax, unsigned nMax, unsigned ldaMax,
                                      unsigned ldbMax, unsigned ldcMax, TracedValue<int> const& m,
                                      TracedValue<int> const& k, TracedValue<int> const& n,
                                      TracedValue<int> const& lda, TracedValue<int> const& ldb,
                                      TracedValue<int> const& ldc, TracedValue<double> const* A,
                                      TracedValue<double> const* B, TracedValue<double>* out);

/// out (m) = A x with A m by n.
inline void matrixVectorMultiply(unsigned m, unsigned n, double const* A, double const* x,
                                 double* out) {
  kelm_math_lin_alg_matrixVectorMultiply(static_cast<int>(m), static_cast<int>(n), A, x, out);
}
inline void matrixVectorMultiplyDynamicSize(unsigned /*mMax*/, unsigned /*nMax*/, unsigned m,
                                            unsigned n, double const* A, double const* x,
                                            double* out) {
  matrixVectorMultiply(m, n, A, x, out);
}
/// Traced A x: folds when A and x are constant, else records a
/// MatrixVectorMultiplyOp whose output all m elements of out read.
void matrixVectorMultiply(unsigned m, unsigned n, TracedValue<double> const* A,
                          TracedValue<double> const* x, TracedValue<double>* out);
/// Traced A x of traced sizes: A holds mMax * nMax elements, x nMax; a fold
/// writes the first m elements of out, a record all mMax.
void matrixVectorMultiplyDynamicSize(unsigned mMax, unsigned nMax, TracedValue<int> const& m,
                                     TracedValue<int> const& n, TracedValue<double> const* A,
                                     TracedValue<double> const* x, TracedValue<double>* out);

/// out (n) = A^T x with A m by n and x of m.
inline void matrixTransposeVectorMultiply(unsigned m, unsigned n, double const* A, double const* x,
                                          double* out) {
  kelm_math_lin_alg_matrixTransposeVectorMultiply(static_cast<int>(m), static_cast<int>(n), A, x,
                                                  out);
}
inline void matrixTransposeVectorMultiplyDynamicSize(unsigned /*mMax*/, unsigned /*nMax*/,
                                                     unsigned m, unsigned n, double const* A,
                                                     double const* x, double* out) {
  matrixTransposeVectorMultiply(m, n, A, x, out);
}
/// Traced forms as for matrixVectorMultiply; x holds mMax elements and a
/// record writes nMax elements of out.
void matrixTransposeVectorMultiply(unsigned m, unsigned n, TracedValue<double> const* A,
                                   TracedValue<double> const* x, TracedValue<double>* out);
void matrixTransposeVectorMultiplyDynamicSize(unsigned mMax, unsigned nMax,
                                              TracedValue<int> const& m, TracedValue<int> const& n,
                                              TracedValue<double> const* A,
                                              TracedValue<double> const* x,
                                              TracedValue<double>* out);

/// y (m) += A x with A m by n (A x summed as by matrixVectorMultiply, then
/// added). y must not overlap A or x.
inline void addMatrixVectorProduct(unsigned m, unsigned n, double const* A, double const* x,
                                   double* y) {
  kelm_math_lin_alg_addMatrixVectorProduct(static_cast<int>(m), static_cast<int>(n), A, x, y);
}
inline void addMatrixVectorProductDynamicSize(unsigned /*mMax*/, unsigned /*nMax*/, unsigned m,
                                              unsigned n, double const* A, double const* x,
                                              double* y) {
  addMatrixVectorProduct(m, n, A, x, y);
}
/// Traced y += A x: folds when A, x and y are constant (y gets constants),
/// else records an AccumulateMatrixVectorProductOp over the old y whose
/// output replaces all m elements of y.
void addMatrixVectorProduct(unsigned m, unsigned n, TracedValue<double> const* A,
                            TracedValue<double> const* x, TracedValue<double>* y);
/// Traced y += A x of traced sizes: A holds mMax * nMax elements, x nMax, y
/// mMax; a fold replaces the first m elements of y, a record all mMax.
void addMatrixVectorProductDynamicSize(unsigned mMax, unsigned nMax, TracedValue<int> const& m,
                                       TracedValue<int> const& n, TracedValue<double> const* A,
                                       TracedValue<double> const* x, TracedValue<double>* y);

/// y (n) += A^T x with A m by n and x of m. y must not overlap A or x.
inline void addMatrixTransposeVectorProduct(unsigned m, unsigned n, double const* A,
                                            double const* x, double* y) {
  kelm_math_lin_alg_addMatrixTransposeVectorProduct(static_cast<int>(m), static_cast<int>(n), A, x,
                                                    y);
}
inline void addMatrixTransposeVectorProductDynamicSize(unsigned /*mMax*/, unsigned /*nMax*/,
                                                       unsigned m, unsigned n, double const* A,
                                                       double const* x, double* y) {
  addMatrixTransposeVectorProduct(m, n, A, x, y);
}
/// Traced forms as for addMatrixVectorProduct; x holds mMax elements and y
/// nMax.
void addMatrixTransposeVectorProduct(unsigned m, unsigned n, TracedValue<double> const* A,
                                     TracedValue<double> const* x, TracedValue<double>* y);
void addMatrixTransposeVectorProductDynamicSize(
    unsigned mMax, unsigned nMax, TracedValue<int> const& m, TracedValue<int> const& n,
    TracedValue<double> const* A, TracedValue<double> const* x, TracedValue<double>* y);

/// y (m) -= A x with A m by n. y must not overlap A or x.
inline void subtractMatrixVectorProduct(unsigned m, unsigned n, double const* A, double const* x,
                                        double* y) {
  kelm_math_lin_alg_subtractMatrixVectorProduct(static_cast<int>(m), static_cast<int>(n), A, x, y);
}
inline void subtractMatrixVectorProductDynamicSize(unsigned /*mMax*/, unsigned /*nMax*/, unsigned m,
                                                   unsigned n, double const* A, double const* x,
                                                   double* y) {
  subtractMatrixVectorProduct(m, n, A, x, y);
}
/// Traced forms as for addMatrixVectorProduct.
void subtractMatrixVectorProduct(unsigned m, unsigned n, TracedValue<double> const* A,
                                 TracedValue<double> const* x, TracedValue<double>* y);
void subtractMatrixVectorProductDynamicSize(unsigned mMax, unsigned nMax, TracedValue<int> const& m,
                                            TracedValue<int> const& n, TracedValue<double> const* A,
                                            TracedValue<double> const* x, TracedValue<double>* y);

/// y (n) -= A^T x with A m by n and x of m. y must not overlap A or x.
inline void subtractMatrixTransposeVectorProduct(unsigned m, unsigned n, double const* A,
                                                 double const* x, double* y) {
  kelm_math_lin_alg_subtractMatrixTransposeVectorProduct(static_cast<int>(m), static_cast<int>(n),
                                                         A, x, y);
}
inline void subtractMatrixTransposeVectorProductDynamicSize(unsigned /*mMax*/, unsigned /*nMax*/,
                                                            unsigned m, unsigned n, double const* A,
                                                            double const* x, double* y) {
  subtractMatrixTransposeVectorProduct(m, n, A, x, y);
}
/// Traced forms as for addMatrixTransposeVectorProduct.
void subtractMatrixTransposeVectorProduct(unsigned m, unsigned n, TracedValue<double> const* A,
                                          TracedValue<double> const* x, TracedValue<double>* y);
void subtractMatrixTransposeVectorProductDynamicSize(
    unsigned mMax, unsigned nMax, TracedValue<int> const& m, TracedValue<int> const& n,
    TracedValue<double> const* A, TracedValue<double> const* x, TracedValue<double>* y);

/// The sum of a[i] b[i] over i < n (0 for n = 0).
/// Inline where the compiler cannot change its bits, saving the call
/// that dominates short reductions.
inline double dotProduct(unsigned n, double const* a, double const* b) {
#if KELM_MATH_LIN_ALG_DOT_INLINE
  return kelm_math_lin_alg_dotOrder(static_cast<int>(n), a, b);
#else
  return kelm_math_lin_alg_dotProduct(static_cast<int>(n), a, b);
#endif
}
/// Traced dot product: a constant when a and b are, else the value of a
/// DotProductOp.
TracedValue<double> dotProduct(unsigned n, TracedValue<double> const* a,
                               TracedValue<double> const* b);

/// The quadratic term a^T M b for M n by n and a, b of n (0 for n = 0).
inline double computeQuadraticTerm(unsigned n, double const* M, double const* a, double const* b) {
  return kelm_math_lin_alg_computeQuadraticTerm(static_cast<int>(n), M, a, b);
}
/// Traced quadratic term: a constant when M, a and b are, else the value of
/// a ComputeQuadraticTermOp.
TracedValue<double> computeQuadraticTerm(unsigned n, TracedValue<double> const* M,
                                         TracedValue<double> const* a,
                                         TracedValue<double> const* b);

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

// ---------------------------------------------------------------------------
// Linear solvers
// ---------------------------------------------------------------------------

// Numeric forms run the kelm_math_lin_alg_* bodies of the same names (see
// kelm_math/lin_alg.h for the factor storage, the condition estimate and
// the rank rule of the QR solves). Traced forms never fold except
// geSolve2x2; they record GeSolve2x2Op, FactorSymmetricPosDefOp,
// SolveSymmetricPosDefOp, FactorAndSolveSymmetricOp or FactorAndSolveWideOp
// and leave the traced tau, piv and work arrays untouched (nodes bring their
// own scratch storage). Nothing throws but for allocation failure.

/// x = A^{-1} b for a 2 by 2 column-major A, with row pivoting; a singular A
/// gives infinities or NaN.
inline void geSolve2x2(double const* A, double const* b, double* x) {
  kelm_math_lin_alg_geSolve2x2(A, b, x);
}
/// Traced geSolve2x2: constants when all six inputs are, else both entries
/// of x read a GeSolve2x2Op.
void geSolve2x2(TracedValue<double> const* A, TracedValue<double> const* b, TracedValue<double>* x);

/// Cholesky factorization of the symmetric n by n A in place (lower triangle
/// read; on return L below and on the diagonal, the factored off-diagonal
/// entries above). True on failure: A not positive definite, or its squared
/// reciprocal condition estimate at most 1e-15. n = 1 fails for A <= 0 only
/// (NaN passes) and leaves A; n = 0 passes. work: n doubles.
inline bool factorSymmetricPosDef(double* A, unsigned n, double* work) {
  return kelm_math_lin_alg_factorSymmetricPosDef(A, static_cast<int>(n), work) != 0;
}
/// Traced factorSymmetricPosDef: n = 0 gives the constant 0; otherwise a
/// FactorSymmetricPosDefOp is recorded, the flag (nonzero on failure) reads
/// its output 0 and A[0..n*n) its output 1.
TracedValue<int> factorSymmetricPosDef(TracedValue<double>* A, unsigned long n,
                                       TracedValue<double>* work);

/// X = A^{-1} B for the n by m right-hand sides B, L the factor that
/// factorSymmetricPosDef left for A; n = 1 divides B by L[0] (IEEE on 0).
/// work: n doubles. X must not overlap L.
inline void solveSymmetricPosDef(double const* L, double const* B, unsigned n, unsigned m,
                                 double* X, double* work) {
  kelm_math_lin_alg_solveSymmetricPosDef(L, B, static_cast<int>(n), static_cast<int>(m), X, work);
}
/// Traced solveSymmetricPosDef: n = 0 writes nothing; n = 1 divides each
/// B[i] by L[0] as traced values, unless m > 1 and every B[i] is the
/// constant 0; otherwise X[0..n*m) read a SolveSymmetricPosDefOp.
void solveSymmetricPosDef(TracedValue<double> const* L, TracedValue<double> const* B,
                          unsigned long n, unsigned long m, TracedValue<double>* X,
                          TracedValue<double>* work);

/// x = A^{-1} b for a symmetric n by n A, robustly: Cholesky when it passes
/// with a squared reciprocal condition estimate above 1e-14, else pivoted QR
/// of A with rank tolerance 1e-12 (dropped components 0). A is destroyed
/// (it ends holding the factors used). n = 1: x = b / A, or 0 when A = 0.
/// tau, piv: n entries; work: n + n * n doubles.
inline void factorAndSolveSymmetric(double* A, unsigned n, double* tau, int* piv, double const* b,
                                    double* x, double* work) {
  kelm_math_lin_alg_factorAndSolveSymmetric(A, static_cast<int>(n), tau, piv, b, x, work);
}
/// Traced factorAndSolveSymmetric: always records a
/// FactorAndSolveSymmetricOp that x[0..n) read; A is left as it is.
void factorAndSolveSymmetric(TracedValue<double>* A, unsigned long n, TracedValue<double>* tau,
                             TracedValue<int>* piv, TracedValue<double> const* b,
                             TracedValue<double>* x, TracedValue<double>* work);

/// Minimum-norm solution x (n entries) of m equations in n unknowns by
/// pivoted QR, A holding the transpose of the system matrix (n by m,
/// destroyed): components whose |R_kk| <= tol |R_00| are dropped (their
/// equations ignored). tau, work, piv: m entries; x: room for max(m, n).
inline void factorAndSolveWide(unsigned m, unsigned n, double* A, double* tau, double* work,
                               int* piv, double const* b, double tol, double* x) {
  kelm_math_lin_alg_factorAndSolveWide(static_cast<int>(m), static_cast<int>(n), A, tau, work, piv,
                                       b, tol, x);
}
/// Traced factorAndSolveWide: always records a FactorAndSolveWideOp over A,
/// b and the tolerance's node, which x[0..n) read.
void factorAndSolveWide(unsigned long m, unsigned long n, TracedValue<double>* A,
                        TracedValue<double>* tau, TracedValue<double>* work, TracedValue<int>* piv,
                        TracedValue<double> const* b, TracedValue<double> const& tol,
                        TracedValue<double>* x);

// ---------------------------------------------------------------------------
// Eigen and singular value decompositions
// ---------------------------------------------------------------------------

// ---------------------------------------------------------------------------
// Diagonalization
// ---------------------------------------------------------------------------

// ---------------------------------------------------------------------------
// Plane fitting and normals
// ---------------------------------------------------------------------------

}  // namespace vela::math
