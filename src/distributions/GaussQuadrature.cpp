#include "vela/math/GaussQuadrature.hpp"

#include <cstddef>

#include "vela/CheckedSize.hpp"

namespace vela::math {
namespace {

// Line rules of orders 1 to 5, row = order - 1, points in increasing order.
constexpr double kLinePoints[5][5] = {
    {0.0},
    {-0.577350269189626, 0.577350269189626},
    {-0.774596669241483, 0.0, 0.774596669241483},
    {-0.861136311594053, -0.339981043584856, 0.339981043584856, 0.861136311594053},
    {-0.906179845938664, -0.538469310105683, 0.0, 0.538469310105683, 0.906179845938664}};
constexpr double kLineWeights[5][5] = {
    {2.0},
    {1.0, 1.0},
    {0.555555555555556, 0.888888888888889, 0.555555555555556},
    {0.347854845137454, 0.652145154862546, 0.652145154862546, 0.347854845137454},
    {0.236926885056189, 0.478628670499366, 0.568888888888889, 0.478628670499366,
     0.236926885056189}};

// The quadrilateral weights are literals of their own, not products of the
// line weights: each line point falls in a class (outer, inner, middle) and
// a weight is looked up by the pair of classes.
constexpr int kQuadClass[5][5] = {{0}, {0, 0}, {0, 1, 0}, {0, 1, 1, 0}, {0, 1, 2, 1, 0}};
constexpr double kQuadWeights[5][3][3] = {
    {{4.0}},
    {{1.0}},
    {{0.308641975308643, 0.493827160493828}, {0.493827160493828, 0.790123456790124}},
    {{0.121002993285602, 0.226851851851852}, {0.226851851851852, 0.425293303010694}},
    {{0.056134348862429, 0.1134, 0.134785072387521},
     {0.1134, 0.229085404223991, 0.272286532550751},
     {0.134785072387521, 0.272286532550751, 0.323634567901235}}};

struct TriaPoint {
  double xi, eta, weight;
};

constexpr double kThird = 0.333333333333333;

constexpr TriaPoint kTria1[] = {{kThird, kThird, 0.5}};

constexpr TriaPoint kTria2[] = {{0.166666666666667, 0.666666666666667, 0.166666666666667},
                                {0.166666666666667, 0.166666666666667, 0.166666666666667},
                                {0.666666666666667, 0.166666666666667, 0.166666666666667}};

constexpr TriaPoint kTria3[] = {{kThird, kThird, -0.28125},
                                {0.2, 0.2, 0.260416666666667},
                                {0.6, 0.2, 0.260416666666667},
                                {0.2, 0.6, 0.260416666666667}};

constexpr double kA4 = 0.445948490915965, kB4 = 0.10810301816807, kW4ab = 0.111690794839005;
constexpr double kC4 = 0.091576213509771, kD4 = 0.816847572980459, kW4cd = 0.054975871827661;
constexpr TriaPoint kTria4[] = {{kA4, kA4, kW4ab}, {kB4, kA4, kW4ab}, {kA4, kB4, kW4ab},
                                {kC4, kC4, kW4cd}, {kD4, kC4, kW4cd}, {kC4, kD4, kW4cd}};

constexpr double kE5 = 0.05971587178977, kF5 = 0.470142064105115, kW5ef = 0.066197076394253;
constexpr double kG5 = 0.797426985353087, kH5 = 0.101286507323456, kW5gh = 0.062969590272414;
constexpr TriaPoint kTria5[] = {{kThird, kThird, 0.1125}, {kE5, kF5, kW5ef}, {kF5, kE5, kW5ef},
                                {kF5, kF5, kW5ef},        {kG5, kH5, kW5gh}, {kH5, kG5, kW5gh},
                                {kH5, kH5, kW5gh}};

constexpr double kP7 = 0.065130102902216, kQ7 = 0.869739794195568, kW7pq = 0.026673617804419;
constexpr double kR7 = 0.312865496004875, kS7 = 0.048690315425316, kT7 = 0.638444188569809;
constexpr double kW7rst = 0.038556880445128;
constexpr double kU7 = 0.260345966079038, kV7 = 0.479308067841923, kW7uv = 0.087807628716602;
constexpr TriaPoint kTria7[] = {{kP7, kP7, kW7pq},
                                {kQ7, kP7, kW7pq},
                                {kP7, kQ7, kW7pq},
                                {kR7, kS7, kW7rst},
                                {kT7, kR7, kW7rst},
                                {kS7, kT7, kW7rst},
                                {kT7, kS7, kW7rst},
                                {kR7, kT7, kW7rst},
                                {kS7, kR7, kW7rst},
                                {kU7, kU7, kW7uv},
                                {kV7, kU7, kW7uv},
                                {kU7, kV7, kW7uv},
                                {kThird, kThird, -0.074785022233835}};

// The table of a triangle order, or null where there is none.
TriaPoint const* triaTable(std::size_t order) {
  switch (order) {
    case 1: return kTria1;
    case 2: return kTria2;
    case 3: return kTria3;
    case 4: return kTria4;
    case 5: return kTria5;
    case 7: return kTria7;
    default: return nullptr;
  }
}

bool hasLineTable(std::size_t order) { return order >= 1 && order <= 5; }

}  // namespace

std::size_t getNumGaussPointsTria(std::size_t order) {
  switch (order) {
    case 1: return 1;
    case 2: return 3;
    case 3: return 4;
    case 4: return 6;
    case 5: return 7;
    case 7: return 13;
    default: return 0;
  }
}

std::size_t getNumGaussPoints(std::size_t shape, std::size_t order) {
  switch (shape) {
    case GaussQuadrature::kTriangle: return getNumGaussPointsTria(order);
    case GaussQuadrature::kQuadrilateral:
      return vela::checkedProduct(order, order, "getNumGaussPoints: order * order exceeds size_t");
    case GaussQuadrature::kLine: return order;
    default: return 0;
  }
}

void getGaussPointsLine(std::size_t order, std::vector<double>& xi, std::vector<double>& weights) {
  if (!hasLineTable(order)) return;
  for (std::size_t i = 0; i < order; ++i) {
    xi[i] = kLinePoints[order - 1][i];
    weights[i] = kLineWeights[order - 1][i];
  }
}

void getGaussPointsQuad(std::size_t order, std::vector<double>& xi, std::vector<double>& eta,
                        std::vector<double>& weights) {
  if (!hasLineTable(order)) return;
  double const* points = kLinePoints[order - 1];
  int const* classes = kQuadClass[order - 1];
  for (std::size_t i = 0; i < order; ++i)
    for (std::size_t j = 0; j < order; ++j) {
      std::size_t k = i * order + j;
      xi[k] = points[i];
      eta[k] = points[j];
      weights[k] = kQuadWeights[order - 1][classes[i]][classes[j]];
    }
}

void getGaussPointsTriangle(std::size_t order, std::vector<double>& xi, std::vector<double>& eta,
                            std::vector<double>& weights) {
  TriaPoint const* table = triaTable(order);
  if (!table) return;
  for (std::size_t k = 0; k < getNumGaussPointsTria(order); ++k) {
    xi[k] = table[k].xi;
    eta[k] = table[k].eta;
    weights[k] = table[k].weight;
  }
}

void getGaussPoints(std::size_t shape, std::size_t order, std::vector<double>& xi,
                    std::vector<double>& eta, std::vector<double>& weights) {
  switch (shape) {
    case GaussQuadrature::kTriangle: getGaussPointsTriangle(order, xi, eta, weights); break;
    case GaussQuadrature::kQuadrilateral: getGaussPointsQuad(order, xi, eta, weights); break;
    case GaussQuadrature::kLine: getGaussPointsLine(order, xi, weights); break;
    default: break;
  }
}

GaussQuadrature::GaussQuadrature(std::size_t shape, std::size_t order)
    : numPoints(getNumGaussPoints(shape, order)),
      xi(numPoints, 0.0),
      eta(shape == kLine ? 0 : numPoints, 0.0),
      weights(numPoints, 0.0) {
  getGaussPoints(shape, order, xi, eta, weights);
}

}  // namespace vela::math
