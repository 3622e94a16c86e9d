#pragma once

// Matrices of known properties for the solver tests (column-major).

#include <cmath>
#include <random>
#include <vector>

namespace vela::test::solvers {

using Matrix = std::vector<double>;

inline Matrix randomMatrix(unsigned rows, unsigned cols, unsigned seed) {
  std::mt19937 generator(seed);
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  Matrix a(std::size_t(rows) * cols);
  for (double& x : a) x = value(generator);
  return a;
}

/// H diag(eigenvalues) H, H the reflector of a random vector: symmetric, of
/// known spectrum.
inline Matrix symmetricWithSpectrum(std::vector<double> const& eigenvalues, unsigned seed) {
  auto n = static_cast<unsigned>(eigenvalues.size());
  Matrix v = randomMatrix(n, 1, seed), a(n * n, 0.0);
  double vv = 0.0;
  for (double x : v) vv += x * x;
  auto h = [&](unsigned i, unsigned j) { return (i == j) - 2.0 * v[i] * v[j] / vv; };
  for (unsigned i = 0; i < n; ++i)
    for (unsigned j = 0; j <= i; ++j) {
      for (unsigned k = 0; k < n; ++k) a[i + n * j] += h(i, k) * eigenvalues[k] * h(j, k);
      a[j + n * i] = a[i + n * j];
    }
  return a;
}

/// n eigenvalues spread geometrically from 1 down to 1 / condition.
inline std::vector<double> spread(unsigned n, double condition) {
  std::vector<double> values(n, 1.0);
  for (unsigned k = 1; k < n; ++k) values[k] = std::pow(condition, -double(k) / double(n - 1));
  return values;
}

/// A x - b for A rows by cols (b empty: A x).
inline Matrix residual(Matrix const& a, unsigned rows, unsigned cols, Matrix const& x,
                       Matrix const& b = {}) {
  Matrix r(rows, 0.0);
  for (unsigned j = 0; j < cols; ++j)
    for (unsigned i = 0; i < rows; ++i) r[i] += a[i + rows * j] * x[j];
  for (std::size_t i = 0; i < b.size(); ++i) r[i] -= b[i];
  return r;
}

inline double maxAbs(Matrix const& v) {
  double m = 0.0;
  for (double x : v) m = std::fmax(m, std::fabs(x));
  return m;
}

}  // namespace vela::test::solvers
