// Derivatives of the product kernels and of de Casteljau interpolation:
// each rule against differences, forward against reverse, Hessians of the
// scalar ones, the four paths; fixed sizes and traced sizes below their
// maxima, whose elements past the actual sizes and in the strided gaps must
// get exact zeros.
#include <gtest/gtest.h>

#include "curves/CasteljauInterpolationOp.hpp"
#include "support/Derivatives.hpp"
#include "vela/math.hpp"

namespace {

namespace vm = vela::math;
using vela::test::DerivativeCase;

// f(in, x, out) computes from the doubles x and the ints of in into out
// (count zeros); the row's outputs are out's elements at `read`.
template <class F>
DerivativeCase row(std::string name, std::size_t doubles, std::vector<int> ints, unsigned count,
                   std::vector<unsigned> read, F f) {
  static unsigned seed = 1;
  return vela::test::derivativeCase(
      std::move(name),
      [=](auto const& in) {
        using S = std::decay_t<decltype(in.d(0))>;
        std::vector<S> x = in.doubles(0, in.doubleCount()), out(count), kept;
        f(in, x.data(), out.data());
        for (unsigned k : read) kept.push_back(out[k]);
        return kept;
      },
      vela::test::uniformPoints(doubles, 2, -1.5, 1.5, seed++, std::move(ints)));
}

std::vector<unsigned> first(unsigned n) {
  std::vector<unsigned> v(n);
  for (unsigned k = 0; k < n; ++k) v[k] = k;
  return v;
}

std::vector<DerivativeCase> productCases() {
  std::vector<DerivativeCase> rows;
  // Matrix products of each kind, A 2 by 3 (traced 2 by 2 of at most 3 by 3)
  // and B 3 by 2, 2 by 2 or 2 by 3 (traced 2 by 2 of at most 6 elements).
  for (int kind = 0; kind < 3; ++kind) {
    std::string name = "matrix product " + std::to_string(kind);
    unsigned count = kind == 1 ? 6 : 4;
    rows.push_back(row(name, 16 - count, {}, count, first(count),
                       [kind](auto const&, auto const* x, auto* out) {
                         kind == 0   ? vm::matrixMultiply(2, 3, 2, x, x + 6, out)
                         : kind == 1 ? vm::matrixTransposeMultiply(2, 3, 2, x, x + 6, out)
                                     : vm::matrixMultiplyTranspose(2, 3, 2, x, x + 6, out);
                       }));
    rows.push_back(row(
        name + " traced", 15, {2, 2, 2}, 6, first(4),
        [kind](auto const& in, auto const* x, auto* out) {
          auto s0 = in.i(0), s1 = in.i(1), s2 = in.i(2);
          kind == 0   ? vm::matrixMultiplyDynamicSize(3, 3, 2, s0, s1, s2, x, x + 9, out)
          : kind == 1 ? vm::matrixTransposeMultiplyDynamicSize(3, 3, 2, s0, s1, s2, x, x + 9, out)
                      : vm::matrixMultiplyTransposeDynamicSize(3, 3, 2, s0, s1, s2, x, x + 9, out);
        }));
  }
  // Strided, m = k = n = 2: leading dimensions 4, 3, 3 (traced 3, 2, 4 of
  // at most 3, 3, 4), so A, B and the result have gaps, all different.
  rows.push_back(row("strided", 11, {}, 5, {0, 1, 3, 4}, [](auto const&, auto const* x, auto* out) {
    vm::matrixMultiplyStrided(2, 2, 2, 4, 3, 3, x, x + 6, out);
  }));
  rows.push_back(row("strided traced", 15, {2, 2, 2, 3, 2, 4}, 8, {0, 1, 4, 5},
                     [](auto const& in, auto const* x, auto* out) {
                       vm::matrixMultiplyStridedDynamicSize(3, 2, 3, 3, 4, in.i(0), in.i(1),
                                                            in.i(2), in.i(3), in.i(4), in.i(5), x,
                                                            x + 9, out);
                     }));
  // Matrix-vector products and accumulations (kind: add, transpose) of a
  // 2 by 3 A, traced 2 by 2 of at most 3 by 3; y follows x.
  for (bool transpose : {false, true}) {
    unsigned in = transpose ? 2 : 3, rowsOut = transpose ? 3 : 2;
    std::string t = transpose ? " transposed" : "";
    rows.push_back(row("matrix vector" + t, 6 + in, {}, rowsOut, first(rowsOut),
                       [transpose](auto const&, auto const* x, auto* out) {
                         transpose ? vm::matrixTransposeVectorMultiply(2, 3, x, x + 6, out)
                                   : vm::matrixVectorMultiply(2, 3, x, x + 6, out);
                       }));
    rows.push_back(row("matrix vector traced" + t, 12, {2, 2}, 3, first(2),
                       [transpose](auto const& in, auto const* x, auto* out) {
                         auto m = in.i(0), n = in.i(1);
                         transpose ? vm::matrixTransposeVectorMultiplyDynamicSize(3, 3, m, n, x,
                                                                                  x + 9, out)
                                   : vm::matrixVectorMultiplyDynamicSize(3, 3, m, n, x, x + 9, out);
                       }));
    for (bool add : {true, false}) {
      std::string name = std::string(add ? "add" : "subtract") + " product" + t;
      rows.push_back(row(name, 6 + in + rowsOut, {}, rowsOut, first(rowsOut),
                         [=](auto const&, auto const* x, auto* y) {
                           std::copy(x + 6 + in, x + 6 + in + rowsOut, y);
                           add ? transpose ? vm::addMatrixTransposeVectorProduct(2, 3, x, x + 6, y)
                                           : vm::addMatrixVectorProduct(2, 3, x, x + 6, y)
                           : transpose ? vm::subtractMatrixTransposeVectorProduct(2, 3, x, x + 6, y)
                                       : vm::subtractMatrixVectorProduct(2, 3, x, x + 6, y);
                         }));
      rows.push_back(row(
          name + " traced", 15, {2, 2}, 3, first(2), [=](auto const& in, auto const* x, auto* y) {
            auto m = in.i(0), n = in.i(1);
            std::copy(x + 12, x + 15, y);
            add ? transpose
                      ? vm::addMatrixTransposeVectorProductDynamicSize(3, 3, m, n, x, x + 9, y)
                      : vm::addMatrixVectorProductDynamicSize(3, 3, m, n, x, x + 9, y)
            : transpose
                ? vm::subtractMatrixTransposeVectorProductDynamicSize(3, 3, m, n, x, x + 9, y)
                : vm::subtractMatrixVectorProductDynamicSize(3, 3, m, n, x, x + 9, y);
          }));
    }
  }
  rows.push_back(row("dot product", 6, {}, 1, {0}, [](auto const&, auto const* x, auto* out) {
    out[0] = vm::dotProduct(3, x, x + 3);
  }));
  rows.push_back(row("quadratic term", 8, {}, 1, {0}, [](auto const&, auto const* x, auto* out) {
    out[0] = vm::computeQuadraticTerm(2, x, x + 4, x + 6);
  }));
  return rows;
}

// De Casteljau: t is the last double. Two cubic segments in the plane at a
// traced index, at t = 1 (the kernel's shortcut), outside [0, 1] and inside;
// one coordinate of degree 10 (a Hessian; weights taken in two parts) at a
// constant index; a call whose result is zeros (degree * dimension above 100).
std::vector<DerivativeCase> casteljauCases() {
  auto castel = [](unsigned values, unsigned degree, unsigned dim, bool tracedIndex) {
    return [=](auto const& in, auto const* x, auto* out) {
      std::decay_t<decltype(in.i(0))> index = tracedIndex ? in.i(0) : 1;
      vm::castelInterpolate(values, degree, dim, x, index, x[values], out);
    };
  };
  std::vector<DerivativeCase> rows{
      row("castelInterpolate", 17, {1}, 2, first(2), castel(16, 3, 2, true)),
      row("castelInterpolate scalar", 23, {}, 1, {0}, castel(22, 10, 1, false)),
      row("castelInterpolate zeros", 105, {}, 2, first(2), castel(104, 51, 2, false))};
  double const ts[] = {1.0, 1.3, -0.2, 0.45};
  for (auto& r : rows) {
    auto points = r.points;
    r.points.insert(r.points.end(), points.begin(), points.end());
    for (std::size_t p = 0; p < 4; ++p) r.points[p].doubles.back() = ts[p];
  }
  return rows;
}

TEST(ProductDerivatives, EveryRule) {
  for (auto const& c : productCases()) vela::test::checkDerivatives(c);
  for (auto const& c : casteljauCases()) vela::test::checkDerivatives(c);
}

}  // namespace
