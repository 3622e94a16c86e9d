#pragma once

// Matrices with known properties for the solver tests.

#include <cmath>
#include <random>
#include <vector>

namespace vela::test::solvers {

using Matrix = std::vector<double>;  // column-major

inline double& at(Matrix& a, unsigned rows, unsigned i, unsigned j) { return a[i + rows * j]; }
inline double at(Matrix const& a, unsigned rows, unsigned i, unsigned j) { return a[i + rows * j]; }

inline Matrix randomMatrix(unsigned rows, unsigned cols, std::mt19937& generator) {
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  Matrix a(std::size_t(rows) * cols);
  for (double& x : a) x = value(generator);
  return a;
}

/// H diag(eigenvalues) H with H = I - 2 v v^T / v^T v for a random v: a
/// symmetric matrix of exactly known spectrum (up to rounding).
inline Matrix symmetricWithSpectrum(std::vector<double> const& eigenvalues, unsigned seed) {
  auto n = static_cast<unsigned>(eigenvalues.size());
  std::mt19937 generator(seed);
  Matrix v = randomMatrix(n, 1, generator);
  double vv = 0.0;
  for (double x : v) vv += x * x;
  Matrix h(n * n);
  for (unsigned i = 0; i < n; ++i)
    for (unsigned j = 0; j < n; ++j) at(h, n, i, j) = (i == j) - 2.0 * v[i] * v[j] / vv;
  Matrix a(n * n, 0.0);
  for (unsigned i = 0; i < n; ++i)
    for (unsigned j = 0; j < n; ++j)
      for (unsigned k = 0; k < n; ++k)
        at(a, n, i, j) += at(h, n, i, k) * eigenvalues[k] * at(h, n, j, k);
  for (unsigned i = 0; i < n; ++i)  // exactly symmetric
    for (unsigned j = 0; j < i; ++j) at(a, n, j, i) = at(a, n, i, j);
  return a;
}

/// Eigenvalues spread geometrically from 1 down to 1 / condition.
inline std::vector<double> spread(unsigned n, double condition) {
  std::vector<double> values(n);
  for (unsigned k = 0; k < n; ++k)
    values[k] = n == 1 ? 1.0 : std::pow(condition, -double(k) / double(n - 1));
  return values;
}

/// y = A x for A rows by cols.
inline Matrix multiply(Matrix const& a, unsigned rows, unsigned cols, Matrix const& x) {
  Matrix y(rows, 0.0);
  for (unsigned j = 0; j < cols; ++j)
    for (unsigned i = 0; i < rows; ++i) y[i] += at(a, rows, i, j) * x[j];
  return y;
}

/// y = A^T x for A rows by cols.
inline Matrix multiplyTransposed(Matrix const& a, unsigned rows, unsigned cols, Matrix const& x) {
  Matrix y(cols, 0.0);
  for (unsigned j = 0; j < cols; ++j)
    for (unsigned i = 0; i < rows; ++i) y[j] += at(a, rows, i, j) * x[i];
  return y;
}

inline double maxAbs(Matrix const& v) {
  double m = 0.0;
  for (double x : v) m = std::fmax(m, std::fabs(x));
  return m;
}

/// max |A x - b| relative to |A| |x| + |b|.
inline double relativeResidual(Matrix const& a, unsigned rows, unsigned cols, Matrix const& x,
                               Matrix const& b) {
  Matrix ax = multiply(a, rows, cols, x);
  double r = 0.0;
  for (unsigned i = 0; i < rows; ++i) r = std::fmax(r, std::fabs(ax[i] - b[i]));
  return r / (maxAbs(a) * maxAbs(x) * cols + maxAbs(b));
}

}  // namespace vela::test::solvers
