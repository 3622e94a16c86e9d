#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// Dense vector and matrix kernels of both modes. Arrays are plain pointers
/// to contiguous elements owned by the caller; matrices are column-major.
/// A DynamicSize form takes compile-time maxima first, then the actual sizes,
/// meant to lie between 0 and their maxima; a size outside that range is
/// clamped into it in every mode (see vela/math/dynamic_sizes.hpp), so a
/// traced size bound to any value keeps evaluation and generated C inside
/// their arrays. The Traced forms fold to
/// constants when every size and every covered element is a constant, and
/// otherwise record one node whose outputs the result elements read. A
/// recorded output element past the actual size evaluates to 0 and holds an
/// unspecified value in generated C. Kernels report nothing and never throw,
/// but for allocation failure.

#include <vector>

#include "kelm_math/comp_trace/TracedValue.hpp"
#include "kelm_math/lin_alg.h"
#include "math3d/Quaternion.hpp"
#include "math3d/Vector.hpp"
#include "vela/math/dynamic_sizes.hpp"
#include "vela/math/modes.hpp"

namespace vela::math {

/// out[i] = a[i] + b[i] for i < n. out may alias a or b.
inline void vectorAdd(unsigned n, double const* a, double const* b, double* out) {
  kelm_math_lin_alg_vectorAdd(static_cast<int>(n), a, b, out);
}
/// vectorAdd over the actual size n, clamped to nMax.
inline void vectorAddDynamicSize(unsigned nMax, unsigned n, double const* a, double const* b,
                                 double* out) {
  kelm_math_lin_alg_vectorAdd(static_cast<int>(clampSize(n, nMax)), a, b, out);
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
/// vectorSubtract of the actual sizes, each clamped to its maximum.
inline void vectorSubtractDynamicSize(unsigned nMax, unsigned n, double const* a, double const* b,
                                      double* out) {
  kelm_math_lin_alg_vectorSubtract(static_cast<int>(clampSize(n, nMax)), a, b, out);
}
/// Traced forms as for vectorAdd.
///@{
void vectorSubtract(unsigned n, TracedValue<double> const* a, TracedValue<double> const* b,
                    TracedValue<double>* out);
void vectorSubtractDynamicSize(unsigned nMax, TracedValue<int> const& n,
                               TracedValue<double> const* a, TracedValue<double> const* b,
                               TracedValue<double>* out);
///@}

// ---------------------------------------------------------------------------
// Elementwise and layout kernels
// ---------------------------------------------------------------------------

// Traced forms record VectorScaleOp, VectorNegateOp, TransposeColMajorOp,
// TransposeOp, ShiftColumnsOp, ScaleVectorsOp, ZeroMajorOp, ReduceMatrixOp,
// ExpandVectorOp or SubmatrixAssignOp. A fold writes the elements that the
// constant sizes cover; a record makes every maximum element of the output
// read the node. Kernels that update an array in place read all of its
// maximum elements and, when they record, replace all of them.
// Traced forms differentiate (Derivatives.hpp): tangents go through the same
// kernel over the same sizes, cotangents through its adjoint (the inverse
// data movement), vectorScale and the scalings by the product and quotient
// rules. Output elements past the actual sizes pass back no cotangent;
// elements an in-place kernel leaves as they are pass theirs through.

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
/// transposeColMajor of the actual m by n matrix, m and n clamped to their
/// maxima.
inline void transposeColMajorDynamicSize(unsigned mMax, unsigned nMax, unsigned m, unsigned n,
                                         double const* A, double* out) {
  transposeColMajor(clampSize(m, mMax), clampSize(n, nMax), A, out);
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
/// shiftColumns of the actual sizes, each clamped to its maximum.
inline void shiftColumnsDynamicSize(unsigned mMax, unsigned nMax, unsigned m, unsigned n,
                                    unsigned k, double const* A, double* out) {
  shiftColumns(clampSize(m, mMax), clampSize(n, nMax), k, A, out);
}
/// Traced shiftColumns of a traced column count k (ShiftColumnsOp); out
/// holds m * n elements: the copy first (none for k outside [0, n]), then
/// zeros, on every path.
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
/// scaleColumns of the actual sizes, each clamped to its maximum.
inline void scaleColumnsDynamicSize(unsigned mMax, unsigned nMax, unsigned m, unsigned n,
                                    double const* A, double const* s, double* out) {
  scaleColumns(clampSize(m, mMax), clampSize(n, nMax), A, s, out);
}
/// inverseScaleColumns of the actual sizes, each clamped to its maximum.
inline void inverseScaleColumnsDynamicSize(unsigned mMax, unsigned nMax, unsigned m, unsigned n,
                                           double const* A, double const* s, double* out) {
  inverseScaleColumns(clampSize(m, mMax), clampSize(n, nMax), A, s, out);
}
/// scaleRows of the actual sizes, each clamped to its maximum.
inline void scaleRowsDynamicSize(unsigned mMax, unsigned nMax, unsigned m, unsigned n,
                                 double const* A, double const* s, double* out) {
  scaleRows(clampSize(m, mMax), clampSize(n, nMax), A, s, out);
}
/// inverseScaleRows of the actual sizes, each clamped to its maximum.
inline void inverseScaleRowsDynamicSize(unsigned mMax, unsigned nMax, unsigned m, unsigned n,
                                        double const* A, double const* s, double* out) {
  inverseScaleRows(clampSize(m, mMax), clampSize(n, nMax), A, s, out);
}
/// Traced scalings (ScaleVectorsOp). In the DynamicSize forms A and out hold
/// mMax * nMax elements and s holds nMax factors (columns) or mMax (rows).
///@{
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
///@}

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
/// reduceMatrix of the actual sizes, each clamped to its maximum.
inline void reduceMatrixDynamicSize(unsigned mMax, unsigned nMax, unsigned m, unsigned n,
                                    unsigned k, int const* indices, double* A) {
  reduceMatrix(clampSize(m, mMax), clampSize(n, nMax), k, indices, A);
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
/// hold nMax elements; a fold reads the first n and writes all nMax. For n
/// outside [0, nMax] v is left as it is on every path.
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
/// submatrixAssign with rows and cols clamped to min(srcMax, dstMax), the
/// source offset and stride to srcMax, the destination ones to dstMax; a
/// block that still reaches past srcMax source or dstMax destination
/// elements copies nothing.
inline void submatrixAssignDynamicSize(unsigned srcMax, unsigned dstMax, unsigned rows,
                                       unsigned cols, unsigned srcOffset, unsigned srcStride,
                                       unsigned dstOffset, unsigned dstStride, double const* src,
                                       double* dst) {
  detail::BlockSizes<unsigned> b = detail::clampBlock(
      srcMax, dstMax, {{rows, cols, srcOffset, srcStride, dstOffset, dstStride}}, srcMax, dstMax);
  submatrixAssign(b.v[0], b.v[1], b.v[2], b.v[3], b.v[4], b.v[5], src, dst);
}
/// Traced submatrixAssign (SubmatrixAssignOp) over srcStride * cols source
/// and dstStride * cols destination elements; the block must lie within
/// them (an offset plus rows at most the stride).
void submatrixAssign(unsigned rows, unsigned cols, unsigned srcOffset, unsigned srcStride,
                     unsigned dstOffset, unsigned dstStride, TracedValue<double> const* src,
                     TracedValue<double>* dst);
/// Traced submatrixAssign of traced sizes: src holds srcMax elements, dst
/// dstMax. A fold reads srcStride * cols and dstStride * cols elements, or
/// on to the block's end where an offset reaches further, and writes the
/// latter; a record replaces all dstMax elements of dst. Values
/// are clamped to [0, maximum] and a block that still reaches past srcMax or
/// dstMax elements copies nothing, in every mode (vela/math/dynamic_sizes.hpp).
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
// Traced products differentiate (Derivatives.hpp) by the product rule, with
// products of the same kind over the same traced sizes. Elements of the
// factors past their actual sizes, and those in the strided product's gaps,
// get exact zero derivatives; the cotangents of result elements past the
// actual sizes or in the gaps reach neither factor. An accumulated y passes
// its derivative through, in all its elements.

/// out (s0 by s2) = A (s0 by s1) B (s1 by s2).
inline void matrixMultiply(unsigned s0, unsigned s1, unsigned s2, double const* A, double const* B,
                           double* out) {
  kelm_math_lin_alg_matrixMultiply(static_cast<int>(s0), static_cast<int>(s1), static_cast<int>(s2),
                                   A, B, out);
}
/// matrixMultiply over the actual sizes, each clamped to its maximum.
inline void matrixMultiplyDynamicSize(unsigned s0Max, unsigned s1Max, unsigned s2Max, unsigned s0,
                                      unsigned s1, unsigned s2, double const* A, double const* B,
                                      double* out) {
  matrixMultiply(clampSize(s0, s0Max), clampSize(s1, s1Max), clampSize(s2, s2Max), A, B, out);
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
/// matrixTransposeMultiply of the actual sizes, each clamped to its maximum.
inline void matrixTransposeMultiplyDynamicSize(unsigned s0Max, unsigned s1Max, unsigned s2Max,
                                               unsigned s0, unsigned s1, unsigned s2,
                                               double const* A, double const* B, double* out) {
  matrixTransposeMultiply(clampSize(s0, s0Max), clampSize(s1, s1Max), clampSize(s2, s2Max), A, B,
                          out);
}
/// Traced forms as for matrixMultiply; B holds s0Max * s2Max elements and
/// a record writes s1Max * s2Max elements of out.
///@{
void matrixTransposeMultiply(unsigned s0, unsigned s1, unsigned s2, TracedValue<double> const* A,
                             TracedValue<double> const* B, TracedValue<double>* out);
void matrixTransposeMultiplyDynamicSize(unsigned s0Max, unsigned s1Max, unsigned s2Max,
                                        TracedValue<int> const& s0, TracedValue<int> const& s1,
                                        TracedValue<int> const& s2, TracedValue<double> const* A,
                                        TracedValue<double> const* B, TracedValue<double>* out);
///@}

/// out (s0 by s2) = A B^T with A s0 by s1 and B s2 by s1.
inline void matrixMultiplyTranspose(unsigned s0, unsigned s1, unsigned s2, double const* A,
                                    double const* B, double* out) {
  kelm_math_lin_alg_matrixMultiplyTranspose(static_cast<int>(s0), static_cast<int>(s1),
                                            static_cast<int>(s2), A, B, out);
}
/// matrixMultiplyTranspose of the actual sizes, each clamped to its maximum.
inline void matrixMultiplyTransposeDynamicSize(unsigned s0Max, unsigned s1Max, unsigned s2Max,
                                               unsigned s0, unsigned s1, unsigned s2,
                                               double const* A, double const* B, double* out) {
  matrixMultiplyTranspose(clampSize(s0, s0Max), clampSize(s1, s1Max), clampSize(s2, s2Max), A, B,
                          out);
}
/// Traced forms as for matrixMultiply (B holds s1Max * s2Max elements).
///@{
void matrixMultiplyTranspose(unsigned s0, unsigned s1, unsigned s2, TracedValue<double> const* A,
                             TracedValue<double> const* B, TracedValue<double>* out);
void matrixMultiplyTransposeDynamicSize(unsigned s0Max, unsigned s1Max, unsigned s2Max,
                                        TracedValue<int> const& s0, TracedValue<int> const& s1,
                                        TracedValue<int> const& s2, TracedValue<double> const* A,
                                        TracedValue<double> const* B, TracedValue<double>* out);
///@}

/// out = A B with leading dimensions: A(i, p) at i + p * lda (m by k),
/// B(p, j) at p + j * ldb (k by n), the result (i, j) at i + j * ldc (m by
/// n). Elements of out between the columns are left as they are.
inline void matrixMultiplyStrided(unsigned m, unsigned k, unsigned n, unsigned lda, unsigned ldb,
                                  unsigned ldc, double const* A, double const* B, double* out) {
  kelm_math_lin_alg_matrixMultiplyStrided(static_cast<int>(m), static_cast<int>(k),
                                          static_cast<int>(n), static_cast<int>(lda),
                                          static_cast<int>(ldb), static_cast<int>(ldc), A, B, out);
}
/// matrixMultiplyStrided over the actual values, clamped: each leading
/// dimension to its maximum, m to min(lda, ldc), k to min(kMax, ldb), n to
/// nMax.
inline void matrixMultiplyStridedDynamicSize(unsigned kMax, unsigned nMax, unsigned ldaMax,
                                             unsigned ldbMax, unsigned ldcMax, unsigned m,
                                             unsigned k, unsigned n, unsigned lda, unsigned ldb,
                                             unsigned ldc, double const* A, double const* B,
                                             double* out) {
  auto s = detail::clampStrided(kMax, nMax, ldaMax, ldbMax, ldcMax, m, k, n, lda, ldb, ldc);
  matrixMultiplyStrided(s.m, s.k, s.n, s.lda, s.ldb, s.ldc, A, B, out);
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
/// matrixVectorMultiply of the actual sizes, each clamped to its maximum.
inline void matrixVectorMultiplyDynamicSize(unsigned mMax, unsigned nMax, unsigned m, unsigned n,
                                            double const* A, double const* x, double* out) {
  matrixVectorMultiply(clampSize(m, mMax), clampSize(n, nMax), A, x, out);
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
/// matrixTransposeVectorMultiply of the actual sizes, each clamped to its maximum.
inline void matrixTransposeVectorMultiplyDynamicSize(unsigned mMax, unsigned nMax, unsigned m,
                                                     unsigned n, double const* A, double const* x,
                                                     double* out) {
  matrixTransposeVectorMultiply(clampSize(m, mMax), clampSize(n, nMax), A, x, out);
}
/// Traced forms as for matrixVectorMultiply; x holds mMax elements and a
/// record writes nMax elements of out.
///@{
void matrixTransposeVectorMultiply(unsigned m, unsigned n, TracedValue<double> const* A,
                                   TracedValue<double> const* x, TracedValue<double>* out);
void matrixTransposeVectorMultiplyDynamicSize(unsigned mMax, unsigned nMax,
                                              TracedValue<int> const& m, TracedValue<int> const& n,
                                              TracedValue<double> const* A,
                                              TracedValue<double> const* x,
                                              TracedValue<double>* out);
///@}

/// y (m) += A x with A m by n (A x summed as by matrixVectorMultiply, then
/// added). y must not overlap A or x.
inline void addMatrixVectorProduct(unsigned m, unsigned n, double const* A, double const* x,
                                   double* y) {
  kelm_math_lin_alg_addMatrixVectorProduct(static_cast<int>(m), static_cast<int>(n), A, x, y);
}
/// addMatrixVectorProduct of the actual sizes, each clamped to its maximum.
inline void addMatrixVectorProductDynamicSize(unsigned mMax, unsigned nMax, unsigned m, unsigned n,
                                              double const* A, double const* x, double* y) {
  addMatrixVectorProduct(clampSize(m, mMax), clampSize(n, nMax), A, x, y);
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
/// addMatrixTransposeVectorProduct of the actual sizes, each clamped to its maximum.
inline void addMatrixTransposeVectorProductDynamicSize(unsigned mMax, unsigned nMax, unsigned m,
                                                       unsigned n, double const* A, double const* x,
                                                       double* y) {
  addMatrixTransposeVectorProduct(clampSize(m, mMax), clampSize(n, nMax), A, x, y);
}
/// Traced forms as for addMatrixVectorProduct; x holds mMax elements and y
/// nMax.
///@{
void addMatrixTransposeVectorProduct(unsigned m, unsigned n, TracedValue<double> const* A,
                                     TracedValue<double> const* x, TracedValue<double>* y);
void addMatrixTransposeVectorProductDynamicSize(
    unsigned mMax, unsigned nMax, TracedValue<int> const& m, TracedValue<int> const& n,
    TracedValue<double> const* A, TracedValue<double> const* x, TracedValue<double>* y);
///@}

/// y (m) -= A x with A m by n. y must not overlap A or x.
inline void subtractMatrixVectorProduct(unsigned m, unsigned n, double const* A, double const* x,
                                        double* y) {
  kelm_math_lin_alg_subtractMatrixVectorProduct(static_cast<int>(m), static_cast<int>(n), A, x, y);
}
/// subtractMatrixVectorProduct of the actual sizes, each clamped to its maximum.
inline void subtractMatrixVectorProductDynamicSize(unsigned mMax, unsigned nMax, unsigned m,
                                                   unsigned n, double const* A, double const* x,
                                                   double* y) {
  subtractMatrixVectorProduct(clampSize(m, mMax), clampSize(n, nMax), A, x, y);
}
/// Traced forms as for addMatrixVectorProduct.
///@{
void subtractMatrixVectorProduct(unsigned m, unsigned n, TracedValue<double> const* A,
                                 TracedValue<double> const* x, TracedValue<double>* y);
void subtractMatrixVectorProductDynamicSize(unsigned mMax, unsigned nMax, TracedValue<int> const& m,
                                            TracedValue<int> const& n, TracedValue<double> const* A,
                                            TracedValue<double> const* x, TracedValue<double>* y);
///@}

/// y (n) -= A^T x with A m by n and x of m. y must not overlap A or x.
inline void subtractMatrixTransposeVectorProduct(unsigned m, unsigned n, double const* A,
                                                 double const* x, double* y) {
  kelm_math_lin_alg_subtractMatrixTransposeVectorProduct(static_cast<int>(m), static_cast<int>(n),
                                                         A, x, y);
}
/// subtractMatrixTransposeVectorProduct of the actual sizes, each clamped to its maximum.
inline void subtractMatrixTransposeVectorProductDynamicSize(unsigned mMax, unsigned nMax,
                                                            unsigned m, unsigned n, double const* A,
                                                            double const* x, double* y) {
  subtractMatrixTransposeVectorProduct(clampSize(m, mMax), clampSize(n, nMax), A, x, y);
}
/// Traced forms as for addMatrixTransposeVectorProduct.
///@{
void subtractMatrixTransposeVectorProduct(unsigned m, unsigned n, TracedValue<double> const* A,
                                          TracedValue<double> const* x, TracedValue<double>* y);
void subtractMatrixTransposeVectorProductDynamicSize(
    unsigned mMax, unsigned nMax, TracedValue<int> const& m, TracedValue<int> const& n,
    TracedValue<double> const* A, TracedValue<double> const* x, TracedValue<double>* y);
///@}

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
// Their results are bools and ints: derivatives through them are zero.

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
/// zeros. Recorded: every entry reads a ComputeIndicesNonzeroElementsOp,
/// whose entries past the last position are 0, evaluated or generated.
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
// Traced solves differentiate (Derivatives.hpp) as dx = A^{-1} (db - dA x),
// reverse b^ = A^{-T} x^ and A^ = -b^ x^T, applying A^{-1} with the factor
// the graph holds (solveSymmetricPosDef) or with one more call of the same
// kernel (the others, whose factorization stays inside their node). The
// Cholesky factor differentiates as dL = L Phi(L^{-1} dA L^{-T}), Phi taking
// the lower triangle and half the diagonal; the flag has zero derivative,
// and a failed factorization's derivatives mean nothing. A matrix read from
// its lower triangle is differentiated as the symmetric matrix that
// triangle gives: entries above the diagonal get zero derivatives.

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
/// Derivatives take A as symmetric, from its lower triangle, on both routes
/// (the QR route's results read the whole of A, so they match only for a
/// symmetric A).
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

// The numerical conventions (which output holds what, orders and signs,
// flags, tolerances, work sizes) are those of the kelm_math_lin_alg_
// routines of the same names in kelm_math/lin_alg.h. The Numeric forms
// forward to them; a DynamicSize form takes the capacities first (N, or M
// and N), then the actual sizes, and its arrays hold the actual problem
// packed at their start. Traced forms accept the work arrays and leave them
// untouched. Traced eig and orthonormalizeRealEigenvectorsWrtSpdB fold when
// every size and covered element is constant (else EigOp,
// OrthonormalizeRealEigWrtSpdBOp); svd, svdSolve and svdSolveFromFactorization
// always record (SvdOp, SvdSolveOp, SvdSolveFromFactorizationOp);
// svdComputeRank folds (else SvdComputeRankOp).
// Traced forms differentiate (Derivatives.hpp), with constant or traced
// actual sizes. svd: dS = diag(U^T dA V) and the
// thin factors' perturbation formulas; terms of a pair of equal singular
// values, or divided by a zero one, are zero, and the extra columns of full
// factors (a basis of the complement) get zero derivatives. svdSolve: the
// derivative of the pseudo-inverse solution at full rank, applying A^+ with
// one more svdSolve; svdSolveFromFactorization: of its sum over the kept
// values, S, U and V taken as they are. eig: each pair's bordered system
// (A - lambda B) dv - dlambda B v = -(dA - lambda dB) v with the component the
// kernel scales to |re| + |im| = 1 held fixed, solved by svdSolve: exact for
// real pairs; a complex vector's phase, which the kernel leaves to the
// algorithm, is held at that component. orthonormalize...: Q = V R^-1 with
// R upper triangular, B read from its lower triangle. Tolerances, flags and
// ranks have zero derivatives; failed calls' derivatives mean nothing.

/// Generalized eigenproblem A v = lambda B v (n by n): eigenvalues re + i im
/// (n each), eigenvectors as the columns of vre + i vim (n by n each).
/// work: kelm_math_lin_alg_eigReqdRealWorkSize(n) doubles, iwork:
/// kelm_math_lin_alg_eigReqdInt32WorkSize(n) ints. 1 on success; 0 on
/// non-finite input or QZ failure, with every output NaN.
inline int eig(unsigned n, double const* A, double const* B, double* re, double* im, double* vre,
               double* vim, double* work, int* iwork) {
  return kelm_math_lin_alg_eig(static_cast<int>(n), A, B, re, im, vre, vim, work, iwork);
}
/// eig of the packed n by n problem, n clamped to the capacity N.
inline int eigDynamicSize(unsigned N, unsigned n, double const* A, double const* B, double* re,
                          double* im, double* vre, double* vim, double* work, int* iwork) {
  return eig(clampSize(n, N), A, B, re, im, vre, vim, work, iwork);
}
/// Traced eig; a recorded EigOp gives re, im N elements and vre, vim N*N.
void eig(unsigned n, TracedValue<double> const* A, TracedValue<double> const* B,
         TracedValue<double>* re, TracedValue<double>* im, TracedValue<double>* vre,
         TracedValue<double>* vim, TracedValue<double>* work, TracedValue<int>* iwork);
/// Traced eig of capacity N and traced size n: folds when n and the n*n
/// entries of A and B are constants, else every capacity element reads EigOp.
void eigDynamicSize(unsigned N, TracedValue<int> const& n, TracedValue<double> const* A,
                    TracedValue<double> const* B, TracedValue<double>* re, TracedValue<double>* im,
                    TracedValue<double>* vre, TracedValue<double>* vim, TracedValue<double>* work,
                    TracedValue<int>* iwork);

/// Rescales and combines the n real eigenvectors in V (n by n, in place) so
/// that V^T B V = I for the symmetric positive definite B. work: 3 n^2
/// doubles. False, with V unchanged, when B is not positive definite or the
/// columns are linearly dependent.
inline bool orthonormalizeRealEigenvectorsWrtSpdB(unsigned n, double const* B, double* V,
                                                  double* work) {
  return kelm_math_lin_alg_orthonormalizeRealEigenvectorsWrtSpdB(static_cast<int>(n), B, V, work) !=
         0;
}
/// The same for the packed n by n problem, n clamped to N.
inline bool orthonormalizeRealEigenvectorsWrtSpdBDynamicSize(unsigned N, unsigned n,
                                                             double const* B, double* V,
                                                             double* work) {
  return orthonormalizeRealEigenvectorsWrtSpdB(clampSize(n, N), B, V, work);
}
/// Traced form: the flag as 0 or 1; a recorded node replaces all N*N
/// elements of V.
TracedValue<int> orthonormalizeRealEigenvectorsWrtSpdB(unsigned n, TracedValue<double> const* B,
                                                       TracedValue<double>* V,
                                                       TracedValue<double>* work);
/// Traced form of capacity N: folds when n, B and V are constants.
TracedValue<int> orthonormalizeRealEigenvectorsWrtSpdBDynamicSize(unsigned N,
                                                                  TracedValue<int> const& n,
                                                                  TracedValue<double> const* B,
                                                                  TracedValue<double>* V,
                                                                  TracedValue<double>* work);

/// A = U diag(S) V^T for the m by n A, k = min(m, n): S k values, descending
/// and non-negative; U m by k (m by m when full), V n by k (n by n when full),
/// V itself and not its transpose. work:
/// kelm_math_lin_alg_svdReqdWorkSize(m, n, full) doubles.
inline void svd(unsigned m, unsigned n, double const* A, unsigned char full, double* S, double* U,
                double* V, double* work) {
  kelm_math_lin_alg_svd(static_cast<int>(m), static_cast<int>(n), A, full, S, U, V, work);
}
/// svd of the packed m by n problem, m and n clamped to M and N.
inline void svdDynamicSize(unsigned M, unsigned N, unsigned m, unsigned n, double const* A,
                           unsigned char full, double* S, double* U, double* V, double* work) {
  svd(clampSize(m, M), clampSize(n, N), A, full, S, U, V, work);
}
/// Traced svd, never folded: S, U and V read all min(M, N), M*(full ? M :
/// min(M, N)) and N*(full ? N : min(M, N)) elements of an SvdOp.
void svd(unsigned m, unsigned n, TracedValue<double> const* A, unsigned char full,
         TracedValue<double>* S, TracedValue<double>* U, TracedValue<double>* V,
         TracedValue<double>* work);
/// Traced svd of capacities M, N and traced sizes m, n (never folded).
void svdDynamicSize(unsigned M, unsigned N, TracedValue<int> const& m, TracedValue<int> const& n,
                    TracedValue<double> const* A, unsigned char full, TracedValue<double>* S,
                    TracedValue<double>* U, TracedValue<double>* V, TracedValue<double>* work);

/// Number of the first min(m, n) singular values s[i] with s[i] > tol and
/// s[i] > 0 (tol absolute).
inline unsigned svdComputeRank(unsigned m, unsigned n, double const* s, double tol) {
  return static_cast<unsigned>(
      kelm_math_lin_alg_svdComputeRank(static_cast<int>(m), static_cast<int>(n), s, tol));
}
/// The same over min(m, n) values, m and n clamped to M and N.
inline unsigned svdComputeRankDynamicSize(unsigned M, unsigned N, unsigned m, unsigned n,
                                          double const* s, double tol) {
  return svdComputeRank(clampSize(m, M), clampSize(n, N), s, tol);
}
/// Traced rank: a constant when m, n, the min(m, n) values and tol are, else
/// read from an SvdComputeRankOp.
TracedValue<int> svdComputeRank(unsigned m, unsigned n, TracedValue<double> const* s,
                                TracedValue<double> const& tol);
/// Traced rank of capacities M, N; s holds min(M, N) values.
TracedValue<int> svdComputeRankDynamicSize(unsigned M, unsigned N, TracedValue<int> const& m,
                                           TracedValue<int> const& n, TracedValue<double> const* s,
                                           TracedValue<double> const& tol);

/// Minimum-norm least-squares solution x (n) of A x = b (A m by n), singular
/// values not above the absolute tol counting as zero. work:
/// kelm_math_lin_alg_svdSolveReqdWorkSize(m, n) doubles.
inline void svdSolve(unsigned m, unsigned n, double const* A, double const* b, double tol,
                     double* x, double* work) {
  kelm_math_lin_alg_svdSolve(static_cast<int>(m), static_cast<int>(n), A, b, tol, x, work);
}
/// svdSolve of the packed m by n problem, m and n clamped to M and N.
inline void svdSolveDynamicSize(unsigned M, unsigned N, unsigned m, unsigned n, double const* A,
                                double const* b, double tol, double* x, double* work) {
  svdSolve(clampSize(m, M), clampSize(n, N), A, b, tol, x, work);
}
/// Traced svdSolve, never folded: x reads all N elements of an SvdSolveOp.
void svdSolve(unsigned m, unsigned n, TracedValue<double> const* A, TracedValue<double> const* b,
              TracedValue<double> const& tol, TracedValue<double>* x, TracedValue<double>* work);
/// Traced svdSolve of capacities M, N (never folded).
void svdSolveDynamicSize(unsigned M, unsigned N, TracedValue<int> const& m,
                         TracedValue<int> const& n, TracedValue<double> const* A,
                         TracedValue<double> const* b, TracedValue<double> const& tol,
                         TracedValue<double>* x, TracedValue<double>* work);

/// svdSolve from the factors S (k), U (m by k), V (n by k), k = min(m, n).
/// 1 when all k singular values were kept, else 0. work:
/// kelm_math_lin_alg_svdSolveFromFactorizationReqdWorkSize(m, n) doubles.
inline int svdSolveFromFactorization(unsigned m, unsigned n, double const* S, double const* U,
                                     double const* V, double const* b, double tol, double* x,
                                     double* work) {
  return kelm_math_lin_alg_svdSolveFromFactorization(static_cast<int>(m), static_cast<int>(n), S, U,
                                                     V, b, tol, x, work);
}
/// The same for packed factors of the actual m, n, clamped to M and N.
inline int svdSolveFromFactorizationDynamicSize(unsigned M, unsigned N, unsigned m, unsigned n,
                                                double const* S, double const* U, double const* V,
                                                double const* b, double tol, double* x,
                                                double* work) {
  return svdSolveFromFactorization(clampSize(m, M), clampSize(n, N), S, U, V, b, tol, x, work);
}
/// Traced form, never folded: the flag and all N elements of x read an
/// SvdSolveFromFactorizationOp.
TracedValue<int> svdSolveFromFactorization(unsigned m, unsigned n, TracedValue<double> const* S,
                                           TracedValue<double> const* U,
                                           TracedValue<double> const* V,
                                           TracedValue<double> const* b,
                                           TracedValue<double> const& tol, TracedValue<double>* x,
                                           TracedValue<double>* work);
/// Traced form of capacities M, N: S, U, V hold k, k*M, k*N values with
/// k = min(M, N) (never folded).
TracedValue<int> svdSolveFromFactorizationDynamicSize(
    unsigned M, unsigned N, TracedValue<int> const& m, TracedValue<int> const& n,
    TracedValue<double> const* S, TracedValue<double> const* U, TracedValue<double> const* V,
    TracedValue<double> const* b, TracedValue<double> const& tol, TracedValue<double>* x,
    TracedValue<double>* work);

// ---------------------------------------------------------------------------
// Diagonalization
// ---------------------------------------------------------------------------

/// Diagonalizes the symmetric 3-by-3 matrix with diagonal d (xx, yy, zz) and
/// off-diagonal o (yz, zx, xy: term i couples the two axes other than i):
/// the tensor equals R diag(principal) R^T, R the rotation of the unit
/// quaternion q. The eigenvectors come from kelm_math_lin_alg_jacobi3, and
/// math3d's minRotation picks the proper rotation closest to the identity
/// among their signed permutations, which fixes the order of principal.
/// The previous value of q is not used. Nothing is checked: non-finite
/// input gives non-finite results.
void compDiagonalization(math3d::Vector3_T<Numeric> const& d, math3d::Vector3_T<Numeric> const& o,
                         math3d::Vector3_T<Numeric>& principal, math3d::Quaternion_T<Numeric>& q);
/// Traced compDiagonalization. A constant zero o gives principal = d as
/// given (traced or not) and the constant identity q, without any node. A
/// constant d and o give the traceable Numeric result. Otherwise one
/// Jacobi3Op is recorded and the rotation choice is traced (minRotation,
/// arrayAccess); such a result evaluates exactly as the Numeric call.
/// Derivatives: dw_k = v_k^T dA v_k and dv_j = sum over i != j of
/// v_i (v_i^T dA v_j) / (w_j - w_i); a pair of exactly equal eigenvalues
/// adds nothing to the vectors' (undefined there), the values' stays.
void compDiagonalization(math3d::Vector3_T<Traced> const& d, math3d::Vector3_T<Traced> const& o,
                         math3d::Vector3_T<Traced>& principal, math3d::Quaternion_T<Traced>& q);

// ---------------------------------------------------------------------------
// Plane fitting and normals
// ---------------------------------------------------------------------------

/// Least-squares plane through points: point receives their centroid c and
/// normal its unit normal. The normal solves min sum (n . (p - c))^2 with
/// its component along the best-conditioned coordinate axis fixed to 1
/// (exact for coplanar points, the regression of that coordinate on the
/// other two for noisy ones), then is scaled to length 1, so that component
/// is positive. Returns false, leaving point and normal unchanged, for fewer
/// than three points, coincident points, points on a line along a
/// coordinate axis, or a scatter matrix that rounding leaves exactly
/// singular. NaN coordinates may fit with a NaN normal.
bool bestFitPlane3D(std::vector<math3d::Vector3_T<Numeric>> const& points,
                    math3d::Vector3_T<Numeric>& point, math3d::Vector3_T<Numeric>& normal);
/// Traced bestFitPlane3D. With all coordinates constant it returns a
/// constant flag and sets point and normal to constants, zero vectors after
/// a failure. Otherwise it records a BestFitPlane3dOp whose outputs the flag,
/// point and normal read: zero vectors after a failure, evaluated or
/// generated. Derivatives are those of the regression solved on the axis
/// the fit chose (and of the centroid); a failed fit's are zero.
TracedValue<bool> bestFitPlane3D(std::vector<math3d::Vector3_T<Traced>> const& points,
                                 math3d::Vector3_T<Traced>& point,
                                 math3d::Vector3_T<Traced>& normal);

}  // namespace vela::math

#pragma GCC visibility pop
