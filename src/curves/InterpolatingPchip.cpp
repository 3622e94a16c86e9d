#include "vela/math/InterpolatingPchip.hpp"

#include <cmath>

#include "kelm_math/comp_trace/Functions.hpp"

namespace ct = kelm_math::comp_trace;

namespace vela::math {

template <class Mode, template <class> class Vec>
InterpolatingPchip<Mode, Vec>::InterpolatingPchip(std::vector<DataPoint> const& points,
                                                  bool closed) {
  this->isClosed(closed);
  this->dataPoints(points);
}

template <class Mode, template <class> class Vec>
std::shared_ptr<InterpolatingSpline<Mode, Vec>> InterpolatingPchip<Mode, Vec>::clone() const {
  return std::make_shared<InterpolatingPchip>(*this);
}

template <class Mode, template <class> class Vec>
bool InterpolatingPchip<Mode, Vec>::operator==(Base const& other) const {
  return dynamic_cast<InterpolatingPchip const*>(&other) && Base::operator==(other);
}

template <class Mode, template <class> class Vec>
double InterpolatingPchip<Mode, Vec>::interiorCondition_(double hPrev, double hNext, double delPrev,
                                                         double delNext) {
  if (ct::sgn(delPrev) != ct::sgn(delNext) || delPrev == 0.0 || delNext == 0.0) return 0.0;
  double w1 = 2.0 * hNext + hPrev;
  double w2 = hNext + 2.0 * hPrev;
  return (w1 + w2) / (w1 / delPrev + w2 / delNext);
}

template <class Mode, template <class> class Vec>
double InterpolatingPchip<Mode, Vec>::endCondition_(double h1, double h2, double del1,
                                                    double del2) {
  double m = ((2.0 * h1 + h2) * del1 - h1 * del2) / (h1 + h2);
  if (ct::sgn(m) != ct::sgn(del1)) return 0.0;
  if (ct::sgn(del1) != ct::sgn(del2) && std::fabs(m) > 3.0 * std::fabs(del1)) return 3.0 * del1;
  return m;
}

template <class Mode, template <class> class Vec>
void InterpolatingPchip<Mode, Vec>::computeBezierControlPoints_(std::vector<double> const& d) {
  auto const& points = this->dataPoints();
  bool closed = this->isClosed();
  std::size_t n = points.size();
  std::size_t segments = closed ? n : n - 1;
  constexpr std::size_t dim = DataPoint::dimension;
  std::vector<double> bezier(segments * 4 * dim);
  // Coordinate c of control point k of segment s.
  auto B = [&](std::size_t s, std::size_t k, std::size_t c) -> double& {
    return bezier[(s * 4 + k) * dim + c];
  };
  auto P = [&](std::size_t i, std::size_t c) { return points[i % n].coord(c); };

  for (std::size_t c = 0; c < dim; ++c) {
    if (!closed && n == 2) {
      double del = (P(1, c) - P(0, c)) / d[1];
      B(0, 0, c) = P(0, c);
      B(0, 1, c) = P(0, c) + del * d[1] / 3.0;
      B(0, 2, c) = P(1, c) - del * d[1] / 3.0;
      B(0, 3, c) = P(1, c);
      continue;
    }
    std::size_t lastInterior = closed ? n : n - 2;
    for (std::size_t i = 1; i <= lastInterior; ++i) {
      double delPrev = (P(i, c) - P(i - 1, c)) / d[i];
      double delNext = (P(i + 1, c) - P(i, c)) / d[i + 1];
      double m = interiorCondition_(d[i], d[i + 1], delPrev, delNext);
      double before = P(i, c) - m * d[i] / 3.0;
      B(i - 1, 2, c) = before;
      B(i - 1, 3, c) = P(i, c);
      B(i % segments, 0, c) = P(i, c);
      B(i % segments, 1, c) = ((d[i] + d[i + 1]) * P(i, c) - d[i + 1] * before) / d[i];
    }
    if (closed) continue;
    double first =
        endCondition_(d[1], d[2], (P(1, c) - P(0, c)) / d[1], (P(2, c) - P(1, c)) / d[2]);
    B(0, 0, c) = P(0, c);
    B(0, 1, c) = P(0, c) + first * d[1] / 3.0;
    double last = endCondition_(d[n - 1], d[n - 2], (P(n - 1, c) - P(n - 2, c)) / d[n - 1],
                                (P(n - 2, c) - P(n - 3, c)) / d[n - 2]);
    B(segments - 1, 2, c) = P(n - 1, c) - last * d[n - 1] / 3.0;
    B(segments - 1, 3, c) = P(n - 1, c);
  }
  this->bezierControlPoints_(bezier);
}

template class InterpolatingPchip<Numeric, math3d::Vector2_T>;
template class InterpolatingPchip<Numeric, math3d::Vector3_T>;
template class InterpolatingPchip<Traced, math3d::Vector2_T>;
template class InterpolatingPchip<Traced, math3d::Vector3_T>;

}  // namespace vela::math
