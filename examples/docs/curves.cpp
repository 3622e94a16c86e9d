// A closed cubic spline through four points: a point on it, and the point
// of it nearest to a query.
#include <cmath>
#include <cstdio>
#include <vela/math.hpp>

namespace vm = vela::math;

int main() {
  using Spline = vm::InterpolatingCubicSpline<vm::Numeric, vm::Vector2_T>;
  std::vector<vm::Vector2_T<vm::Numeric>> points{{1.0, 0.0}, {0.0, 1.0}, {-1.0, 0.0}, {0.0, -1.0}};
  Spline spline(points, true);  // closed; parameter t in [0, 1]
  vm::Vector2_T<vm::Numeric> const start = spline.point(0.0), nearest_query{2.0, 0.1};
  vm::Vector2_T<vm::Numeric> nearest;
  double const t = spline.closestPoint(nearest_query, nearest);
  std::printf("point(0) = %s; nearest to (2, 0.1): t = %.6f at %s\n", start.stringify().c_str(), t,
              nearest.stringify().c_str());
  return std::fabs(start.x() - 1.0) < 1e-15 && nearest.x() > 0.9 ? 0 : 1;
}
