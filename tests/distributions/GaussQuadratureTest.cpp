#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <iterator>
#include <stdexcept>
#include <utility>
#include <vector>

#include "vela/math/GaussQuadrature.hpp"

namespace vm = vela::math;

namespace gauss_test {

// Integral of x^a over [-1, 1].
double lineMoment(int a) { return a % 2 == 1 ? 0.0 : 2.0 / (a + 1); }

double factorial(int n) { return n <= 1 ? 1.0 : n * factorial(n - 1); }

// Integral of xi^a eta^b over the reference triangle.
double triangleMoment(int a, int b) { return factorial(a) * factorial(b) / factorial(a + b + 2); }

TEST(GaussQuadrature, PointCounts) {
  std::size_t const tria[] = {0, 1, 3, 4, 6, 7, 0, 13, 0, 0};
  for (std::size_t order = 0; order < std::size(tria); ++order) {
    EXPECT_EQ(vm::getNumGaussPointsTria(order), tria[order]) << order;
    EXPECT_EQ(vm::getNumGaussPoints(3, order), tria[order]) << order;
    EXPECT_EQ(vm::getNumGaussPoints(1, order), order);
    EXPECT_EQ(vm::getNumGaussPoints(4, order), order * order);
    for (std::size_t shape : {0, 2, 5, 8}) EXPECT_EQ(vm::getNumGaussPoints(shape, order), 0u);
  }
  EXPECT_EQ(vm::getNumGaussPoints(4, 3), 9u);
  EXPECT_EQ(vm::getNumGaussPoints(3, 6), 0u);
  EXPECT_EQ(vm::getNumGaussPoints(3, 0), 0u);
  EXPECT_EQ(vm::getNumGaussPoints(2, 3), 0u);
  // Counts too large to store fail alike for lines and quadrilaterals
  // instead of wrapping (order^2 is 0 or 1 modulo 2^64 here).
  for (std::size_t order : {std::size_t(1) << 61, std::size_t(-1)}) {
    EXPECT_THROW(vm::getNumGaussPoints(4, order), std::length_error);
    EXPECT_THROW(vm::GaussQuadrature(4, order), std::length_error);
    EXPECT_THROW(vm::GaussQuadrature(1, order), std::length_error);
    EXPECT_EQ(vm::GaussQuadrature(3, order).numPoints, 0u);
  }
}

TEST(GaussQuadrature, LineAndQuadRulesIntegrateTheirDegreeExactly) {
  for (std::size_t order = 1; order <= 5; ++order) {
    vm::GaussQuadrature line(1, order);
    vm::GaussQuadrature quad(4, order);
    ASSERT_EQ(line.numPoints, order);
    ASSERT_EQ(line.xi.size(), order);
    ASSERT_EQ(line.weights.size(), order);
    EXPECT_TRUE(line.eta.empty());
    ASSERT_EQ(quad.numPoints, order * order);
    ASSERT_EQ(quad.eta.size(), order * order);
    for (std::size_t i = 1; i < order; ++i) EXPECT_LT(line.xi[i - 1], line.xi[i]) << order;
    // Tensor product, point i * order + j; the weights are literals of their
    // own, equal to the products to the last digit or two.
    for (std::size_t i = 0; i < order; ++i)
      for (std::size_t j = 0; j < order; ++j) {
        std::size_t k = i * order + j;
        EXPECT_EQ(quad.xi[k], line.xi[i]);
        EXPECT_EQ(quad.eta[k], line.xi[j]);
        double product = line.weights[i] * line.weights[j];
        EXPECT_NEAR(quad.weights[k], product, 1e-14 * product) << order << " " << i << j;
      }
    int degree = int(2 * order - 1);
    for (int a = 0; a <= degree; ++a) {
      double sum = 0.0;
      for (std::size_t k = 0; k < order; ++k) sum += line.weights[k] * std::pow(line.xi[k], a);
      EXPECT_NEAR(sum, lineMoment(a), 1e-13) << "order " << order << " x^" << a;
      for (int b = 0; b <= degree; ++b) {
        sum = 0.0;
        for (std::size_t k = 0; k < quad.numPoints; ++k)
          sum += quad.weights[k] * std::pow(quad.xi[k], a) * std::pow(quad.eta[k], b);
        EXPECT_NEAR(sum, lineMoment(a) * lineMoment(b), 1e-13)
            << "order " << order << " x^" << a << " y^" << b;
      }
    }
  }
  double const a = 0.577350269189626;
  vm::GaussQuadrature two(4, 2);
  std::vector<double> const xi = {-a, -a, a, a}, eta = {-a, a, -a, a};
  EXPECT_EQ(two.xi, xi);
  EXPECT_EQ(two.eta, eta);
}

TEST(GaussQuadrature, TriangleRulesIntegrateTheirDegreeExactly) {
  for (std::size_t order : {1, 2, 3, 4, 5, 7}) {
    vm::GaussQuadrature rule(3, order);
    ASSERT_EQ(rule.numPoints, vm::getNumGaussPointsTria(order));
    ASSERT_EQ(rule.eta.size(), rule.numPoints);
    double weightSum = 0.0;
    std::size_t negative = 0;
    for (std::size_t k = 0; k < rule.numPoints; ++k) {
      EXPECT_GT(rule.xi[k], 0.0);
      EXPECT_GT(rule.eta[k], 0.0);
      EXPECT_LT(rule.xi[k] + rule.eta[k], 1.0);
      weightSum += rule.weights[k];
      if (rule.weights[k] < 0.0) {
        ++negative;
        EXPECT_EQ(rule.xi[k], 0.333333333333333);
        EXPECT_EQ(rule.eta[k], 0.333333333333333);
      }
    }
    EXPECT_NEAR(weightSum, 0.5, 1e-14) << order;
    EXPECT_EQ(negative, order == 3 || order == 7 ? 1u : 0u) << order;
    int degree = int(order);
    for (int a = 0; a <= degree; ++a)
      for (int b = 0; a + b <= degree; ++b) {
        double sum = 0.0;
        for (std::size_t k = 0; k < rule.numPoints; ++k)
          sum += rule.weights[k] * std::pow(rule.xi[k], a) * std::pow(rule.eta[k], b);
        EXPECT_NEAR(sum, triangleMoment(a, b), 1e-13)
            << "order " << order << " x^" << a << " y^" << b;
      }
  }
}

TEST(GaussQuadrature, OrdersAndShapesWithoutTables) {
  vm::GaussQuadrature three(1, 3);
  EXPECT_EQ(three.numPoints, 3u);
  EXPECT_TRUE(three.eta.empty());
  EXPECT_NEAR(three.weights[0] + three.weights[1] + three.weights[2], 2.0, 1e-14);
  // The literal, not 5/9 at full precision.
  EXPECT_EQ(three.weights[0], 0.555555555555556);

  for (auto shapeOrder : {std::pair<std::size_t, std::size_t>{3, 6}, {3, 0}, {3, 8}, {2, 3}}) {
    vm::GaussQuadrature none(shapeOrder.first, shapeOrder.second);
    EXPECT_EQ(none.numPoints, 0u);
    EXPECT_TRUE(none.xi.empty() && none.eta.empty() && none.weights.empty());
  }
  // Lines and quadrilaterals count points past their tables, left at zero.
  vm::GaussQuadrature quad6(4, 6);
  ASSERT_EQ(quad6.numPoints, 36u);
  for (std::size_t k = 0; k < 36; ++k)
    EXPECT_TRUE(quad6.xi[k] == 0.0 && quad6.eta[k] == 0.0 && quad6.weights[k] == 0.0);

  // The line leaves eta alone; unknown shapes write nothing at all.
  std::vector<double> xi(4, 7.0), eta(4, 7.0), w(4, 7.0);
  vm::getGaussPoints(1, 2, xi, eta, w);
  EXPECT_EQ(xi[1], 0.577350269189626);
  EXPECT_EQ(w[1], 1.0);
  EXPECT_EQ(xi[2], 7.0);
  EXPECT_EQ(eta, std::vector<double>(4, 7.0));
  std::vector<double> untouched(4, 7.0);
  xi = eta = w = untouched;
  vm::getGaussPoints(2, 2, xi, eta, w);
  vm::getGaussPoints(3, 6, xi, eta, w);
  vm::getGaussPointsLine(6, xi, w);
  vm::getGaussPointsQuad(0, xi, eta, w);
  EXPECT_TRUE(xi == untouched && eta == untouched && w == untouched);
}

}  // namespace gauss_test
