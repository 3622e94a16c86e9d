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
inline double dotProduct(unsigned n, double const* a, double const* b) {
  return kelm_math_lin_alg_dotProduct(static_cast<int>(n), a, b);
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

}  // namespace vela::math
