#include "vela/math/InterpolatingCubicSpline.hpp"

#include "kelm_math/lin_alg.h"

namespace vela::math {
namespace {

/// The symmetric tridiagonal system of the de Boor points, its coefficients
/// shared by every coordinate.
struct DeBoorSystem {
  std::vector<double> diag;
  std::vector<double> offdiag;
  double corner = 0.0;
};

/// Row i of the system away from an open end, from the four chords around
/// point i: a before the previous point, b and c on either side, e after the
/// next.
void generalRow(DeBoorSystem& system, std::size_t i, double a, double b, double c, double e) {
  system.diag[i] = (a + b) / (b * b * c * (a + b + c)) + (c + e) / (b * c * c * (b + c + e));
  if (i >= 1) system.offdiag[i - 1] = 1.0 / ((a + b + c) * b * b);
}

DeBoorSystem openSystem(std::vector<double> const& d, std::size_t n) {
  DeBoorSystem system{std::vector<double>(n), std::vector<double>(n - 1)};
  for (std::size_t i = 1; i + 1 < n; ++i) generalRow(system, i, d[i - 1], d[i], d[i + 1], d[i + 2]);
  // The end rows state a zero second derivative.
  system.diag[0] = (d[2] / (d[1] + d[2]) - 2.0) / (d[1] * d[1] * d[1]);
  double last = d[n - 1];
  system.diag[n - 1] = (d[n - 2] / (last + d[n - 2]) - 2.0) / (last * last * last);
  system.offdiag[n - 2] = 1.0 / ((d[n - 2] + last) * last * last);
  return system;
}

DeBoorSystem closedSystem(std::vector<double> const& d, std::size_t n) {
  DeBoorSystem system{std::vector<double>(n), std::vector<double>(n - 1)};
  generalRow(system, 0, d[n - 1], d[0], d[1], d[2]);
  for (std::size_t i = 1; i < n; ++i) generalRow(system, i, d[i - 1], d[i], d[i + 1], d[i + 2]);
  system.corner = 1.0 / ((d[n - 1] + d[n] + d[n + 1]) * d[0] * d[0]);
  return system;
}

/// Coordinate c of point i's right-hand side.
double rhs(std::vector<double> const& d, std::size_t n, bool closed, double p, std::size_t i) {
  if (!closed && i == 0) return -p / (d[1] * d[1] * d[1]);
  if (!closed && i == n - 1) return -p / (d[n - 1] * d[n - 1] * d[n - 1]);
  double b = d[i], c = d[i + 1];
  return p * (b + c) / (b * b * c * c);
}

}  // namespace

template <class Mode, template <class> class Vec>
InterpolatingCubicSpline<Mode, Vec>::InterpolatingCubicSpline(std::vector<DataPoint> const& points,
                                                              bool closed) {
  this->isClosed(closed);
  this->dataPoints(points);
}

template <class Mode, template <class> class Vec>
std::shared_ptr<InterpolatingSpline<Mode, Vec>> InterpolatingCubicSpline<Mode, Vec>::clone() const {
  return std::make_shared<InterpolatingCubicSpline>(*this);
}

template <class Mode, template <class> class Vec>
bool InterpolatingCubicSpline<Mode, Vec>::operator==(Base const& other) const {
  return dynamic_cast<InterpolatingCubicSpline const*>(&other) && Base::operator==(other);
}

template <class Mode, template <class> class Vec>
void InterpolatingCubicSpline<Mode, Vec>::computeBezierControlPoints_(
    std::vector<double> const& d) {
  auto const& points = this->dataPoints();
  bool closed = this->isClosed();
  std::size_t n = points.size();
  constexpr std::size_t dim = DataPoint::dimension;
  DeBoorSystem system = closed ? closedSystem(d, n) : openSystem(d, n);

  // De Boor points coordinate by coordinate: all x, then all y (then all z).
  std::vector<double> x(dim * n);
  for (std::size_t c = 0; c < dim; ++c) {
    double* column = x.data() + c * n;
    for (std::size_t i = 0; i < n; ++i) column[i] = rhs(d, n, closed, points[i].coord(c), i);
    std::vector<double> diag = system.diag, offdiag = system.offdiag;
    int size = static_cast<int>(n);
    if (closed) {
      std::vector<double> work(n, 0.0);
      kelm_math_lin_alg_solveTriDiagSymmPer(diag.data(), offdiag.data(), column, size,
                                            system.corner, work.data());
    } else {
      kelm_math_lin_alg_solveTriDiagSymm(diag.data(), offdiag.data(), column, size);
    }
  }

  std::size_t segments = closed ? n : n - 1;
  std::vector<double> bezier;
  bezier.reserve(segments * 4 * dim);
  for (std::size_t j = 0; j < segments; ++j) {
    std::size_t next = (j + 1) % n;
    double sigma = d[j] + d[j + 1] + d[j + 2];
    for (std::size_t c = 0; c < dim; ++c) bezier.push_back(points[j].coord(c));
    for (std::size_t c = 0; c < dim; ++c)
      bezier.push_back(x[c * n + j] * (d[j + 1] + d[j + 2]) / sigma +
                       x[c * n + next] * d[j] / sigma);
    for (std::size_t c = 0; c < dim; ++c)
      bezier.push_back(x[c * n + j] * d[j + 2] / sigma +
                       x[c * n + next] * (d[j] + d[j + 1]) / sigma);
    for (std::size_t c = 0; c < dim; ++c) bezier.push_back(points[next].coord(c));
  }
  this->bezierControlPoints_(bezier);
}

template class InterpolatingCubicSpline<Numeric, math3d::Vector2_T>;
template class InterpolatingCubicSpline<Numeric, math3d::Vector3_T>;
template class InterpolatingCubicSpline<Traced, math3d::Vector2_T>;
template class InterpolatingCubicSpline<Traced, math3d::Vector3_T>;

}  // namespace vela::math
