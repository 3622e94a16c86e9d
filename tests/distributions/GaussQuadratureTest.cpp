#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <vector>

#include "vela/math/GaussQuadrature.hpp"

namespace vm = vela::math;

namespace gauss_test {

using GQ = vm::GaussQuadrature;
// The codes callers pass as integers.
static_assert(GQ::kLine == 1 && GQ::kTriangle == 3 && GQ::kQuadrilateral == 4);

TEST(GaussQuadrature, PointCountsAndOrdersWithoutTables) {
  std::size_t const tria[] = {0, 1, 3, 4, 6, 7, 0, 13, 0, 0};
  for (std::size_t order = 0; order < 10; ++order) {
    EXPECT_EQ(vm::getNumGaussPoints(GQ::kTriangle, order), tria[order]) << order;
    EXPECT_EQ(vm::getNumGaussPoints(GQ::kLine, order), order);
    EXPECT_EQ(vm::getNumGaussPoints(GQ::kQuadrilateral, order), order * order);
    for (std::size_t shape : {0, 2, 5, 8}) EXPECT_EQ(vm::getNumGaussPoints(shape, order), 0u);
  }
  // Counts too large to store fail instead of wrapping.
  for (std::size_t order : {std::size_t(1) << 61, std::size_t(-1)}) {
    EXPECT_THROW(GQ(GQ::kQuadrilateral, order), std::length_error);
    EXPECT_THROW(GQ(GQ::kLine, order), std::length_error);
    EXPECT_EQ(GQ(GQ::kTriangle, order).numPoints, 0u);
  }
  for (auto [shape, order] :
       {std::pair<std::size_t, std::size_t>{GQ::kTriangle, 6}, {GQ::kTriangle, 0}, {2, 3}}) {
    vm::GaussQuadrature none(shape, order);
    EXPECT_TRUE(none.numPoints == 0 && none.xi.empty() && none.eta.empty() && none.weights.empty());
  }
  GQ quad6(GQ::kQuadrilateral, 6);  // counted past the table, left at zero
  EXPECT_TRUE(quad6.xi == std::vector<double>(36, 0.0) && quad6.weights == quad6.xi);
  // The line leaves eta alone; unknown shapes and orders write nothing.
  std::vector<double> const untouched(4, 7.0);
  std::vector<double> xi = untouched, eta = untouched, w = untouched;
  vm::getGaussPoints(GQ::kLine, 2, xi, eta, w);
  EXPECT_TRUE(xi[1] == 0.577350269189626 && w[1] == 1.0 && xi[2] == 7.0 && eta == untouched);
  xi = eta = w = untouched;
  vm::getGaussPoints(2, 2, xi, eta, w);
  vm::getGaussPoints(GQ::kTriangle, 6, xi, eta, w);
  vm::getGaussPointsLine(6, xi, w);
  vm::getGaussPointsQuad(0, xi, eta, w);
  EXPECT_TRUE(xi == untouched && eta == untouched && w == untouched);
}

TEST(GaussQuadrature, RulesAreTheTablesInTheirOrder) {
  // Line rules: points in increasing order, symmetric weights.
  double const x2 = 0.577350269189626, x3 = 0.774596669241483, x4 = 0.861136311594053,
               y4 = 0.339981043584856, x5 = 0.906179845938664, y5 = 0.538469310105683;
  double const m3 = 0.555555555555556, n3 = 0.888888888888889, m4 = 0.347854845137454,
               n4 = 0.652145154862546, m5 = 0.236926885056189, n5 = 0.478628670499366;
  std::vector<double> const x[] = {
      {0.0}, {-x2, x2}, {-x3, 0.0, x3}, {-x4, -y4, y4, x4}, {-x5, -y5, 0.0, y5, x5}};
  std::vector<double> const w[] = {
      {2.0}, {1.0, 1.0}, {m3, n3, m3}, {m4, n4, n4, m4}, {m5, n5, 0.568888888888889, n5, m5}};
  for (std::size_t order = 1; order <= 5; ++order) {
    GQ line(GQ::kLine, order), quad(GQ::kQuadrilateral, order);
    EXPECT_TRUE(line.xi == x[order - 1] && line.weights == w[order - 1] && line.eta.empty());
    // Quadrilaterals: the tensor product, point i * order + j; the weights
    // are literals of their own, the products to the last digit or two.
    ASSERT_EQ(quad.eta.size(), order * order);
    for (std::size_t k = 0; k < order * order; ++k) {
      double product = line.weights[k / order] * line.weights[k % order];
      EXPECT_TRUE(quad.xi[k] == line.xi[k / order] && quad.eta[k] == line.xi[k % order]);
      EXPECT_NEAR(quad.weights[k], product, 1e-14 * product) << order << " " << k;
    }
  }
  double const c = 0.333333333333333, s = 0.166666666666667, f = 0.666666666666667;
  double const a = 0.445948490915965, b = 0.10810301816807, p = 0.091576213509771,
               q = 0.816847572980459, e = 0.05971587178977, g = 0.470142064105115,
               h = 0.797426985353087, k = 0.101286507323456, P = 0.065130102902216,
               Q = 0.869739794195568, R = 0.312865496004875, S = 0.048690315425316,
               T = 0.638444188569809, U = 0.260345966079038, V = 0.479308067841923;
  double const w4 = 0.111690794839005, v4 = 0.054975871827661, w5 = 0.066197076394253,
               v5 = 0.062969590272414, w7 = 0.026673617804419, v7 = 0.038556880445128,
               u7 = 0.087807628716602, w3 = 0.260416666666667;
  // (xi, eta, weight) point after point.
  std::vector<double> const tria[] = {
      {},
      {c, c, 0.5},
      {s, f, s, s, s, s, f, s, s},
      {c, c, -0.28125, 0.2, 0.2, w3, 0.6, 0.2, w3, 0.2, 0.6, w3},
      {a, a, w4, b, a, w4, a, b, w4, p, p, v4, q, p, v4, p, q, v4},
      {c, c, 0.1125, e, g, w5, g, e, w5, g, g, w5, h, k, v5, k, h, v5, k, k, v5},
      {},
      {P,  P,  w7, Q,  P,  w7, P,  Q,  w7, R,  S,  v7, T,
       R,  v7, S,  T,  v7, T,  S,  v7, R,  T,  v7, S,  R,
       v7, U,  U,  u7, V,  U,  u7, U,  V,  u7, c,  c,  -0.074785022233835}};
  for (std::size_t order : {1, 2, 3, 4, 5, 7}) {
    GQ rule(GQ::kTriangle, order);
    std::vector<double> got;
    for (std::size_t i = 0; i < rule.numPoints; ++i)
      got.insert(got.end(), {rule.xi[i], rule.eta[i], rule.weights[i]});
    EXPECT_EQ(got, tria[order]) << order;
  }
  // Exact on monomials: lines and quadrilaterals to degree 2 order - 1,
  // triangles to their order.
  auto line = [](int a) { return a % 2 ? 0.0 : 2.0 / (a + 1); };
  auto factorial = [](int n) { return std::tgamma(n + 1.0); };
  for (std::size_t order : {1, 2, 3, 4, 5, 7})
    for (std::size_t shape : {GQ::kLine, GQ::kTriangle, GQ::kQuadrilateral}) {
      GQ rule(shape, order);
      bool const isLine = shape == GQ::kLine, isTria = shape == GQ::kTriangle;
      int degree = isTria ? int(order) : order > 5 ? -1 : int(2 * order - 1);
      for (int i = 0; i <= degree; ++i)
        for (int j = 0; j <= (isLine ? 0 : isTria ? degree - i : degree); ++j) {
          double sum = 0.0;
          for (std::size_t k = 0; k < rule.numPoints; ++k)
            sum +=
                rule.weights[k] * std::pow(rule.xi[k], i) * (isLine ? 1 : std::pow(rule.eta[k], j));
          double exact = isTria ? factorial(i) * factorial(j) / factorial(i + j + 2)
                                : line(i) * (isLine ? 1.0 : line(j));
          EXPECT_NEAR(sum, exact, 1e-13) << shape << " " << order << " " << i << " " << j;
        }
    }
}

}  // namespace gauss_test
