#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// Gauss quadrature rules on the line, the triangle and the quadrilateral.

#include <cstddef>
#include <vector>

namespace vela::math {

// Shapes are chosen by a code, named by GaussQuadrature::Shape: kLine (1),
// kTriangle (3), kQuadrilateral (4). Every point and weight is a
// 15-significant-digit literal, so sums and exact integrals hold to about
// 1e-15 relative, not to the last bit.

/// Number of points of the triangle rule of an order: 1, 3, 4, 6, 7 for
/// orders 1 to 5, 13 for order 7; 0 for order 6 and every other order.
std::size_t getNumGaussPointsTria(std::size_t order);

/// Number of points of the rule of a shape and order: the triangle count for
/// kTriangle, order * order for kQuadrilateral, order for kLine, 0 for other
/// shape codes.
/// Lines and quadrilaterals count points even for orders above 5, which have
/// no table (see getGaussPointsLine). Throws std::length_error when
/// order * order does not fit in size_t.
std::size_t getNumGaussPoints(std::size_t shape, std::size_t order);

/// Writes the line rule of order 1 to 5 into xi[0..order) and
/// weights[0..order), points in increasing order. The vectors are written by
/// index and not resized: they must hold at least order elements. Any other
/// order writes nothing.
void getGaussPointsLine(std::size_t order, std::vector<double>& xi, std::vector<double>& weights);

/// Writes the quadrilateral rule of order 1 to 5, the tensor product of the
/// line rule: point i * order + j lies at (line point i, line point j). The
/// vectors must hold at least order * order elements (not resized). Any
/// other order writes nothing.
void getGaussPointsQuad(std::size_t order, std::vector<double>& xi, std::vector<double>& eta,
                        std::vector<double>& weights);

/// Writes the triangle rule of order 1, 2, 3, 4, 5 or 7 (exact for
/// polynomials of that degree) in area coordinates. The vectors must hold at
/// least getNumGaussPointsTria(order) elements (not resized). Any other
/// order writes nothing. Orders 3 and 7 have a negative weight at the center.
void getGaussPointsTriangle(std::size_t order, std::vector<double>& xi, std::vector<double>& eta,
                            std::vector<double>& weights);

/// The rule of a shape code: kTriangle, kQuadrilateral, kLine (eta is left
/// untouched); any other code writes nothing.
void getGaussPoints(std::size_t shape, std::size_t order, std::vector<double>& xi,
                    std::vector<double>& eta, std::vector<double>& weights);

/// One quadrature rule with its own storage. A shape or order without a
/// table gives no points for triangles and other shapes, and, for lines and
/// quadrilaterals, the counted number of points at 0 with weight 0. A count
/// too large to store throws std::length_error for lines and
/// quadrilaterals alike, as a std::vector of that size would.
class GaussQuadrature {
 public:
  /// The shape codes every function here takes (as a size_t, to which these
  /// convert): the line [-1, 1] (weights sum to 2), the triangle
  /// xi, eta >= 0, xi + eta <= 1 in area coordinates (weights sum to 0.5),
  /// the quadrilateral [-1, 1] x [-1, 1] (weights sum to 4).
  enum Shape : std::size_t { kLine = 1, kTriangle = 3, kQuadrilateral = 4 };

  /// The rule of a shape code and an order; see getGaussPoints.
  GaussQuadrature(std::size_t shape, std::size_t order);

  std::size_t numPoints;        ///< getNumGaussPoints(shape, order)
  std::vector<double> xi;       ///< the points' first coordinates
  std::vector<double> eta;      ///< the points' second coordinates; empty for kLine
  std::vector<double> weights;  ///< the points' weights
};

}  // namespace vela::math

#pragma GCC visibility pop
