#include "vela/math/BezierCurve.hpp"

#include <algorithm>

#include "curves/CasteljauInterpolationOp.hpp"
#include "curves/ClosestPointOps.hpp"
#include "zeph_core/ckernels.h"

namespace vela::math {
namespace {

void castelInto(unsigned count, unsigned dim, double const* points, double const& t, double* out) {
  zeph_core_math_castelEval(count, dim, points, out, t);
}

void castelInto(unsigned count, unsigned dim, ct::TracedDouble const* points,
                ct::TracedDouble const& t, ct::TracedDouble* out) {
  castelInterpolate(count * dim, count - 1, dim, points, ct::TracedInt(0), t, out);
}

}  // namespace

DegreeTooHighError::~DegreeTooHighError() = default;

template <class Mode, template <class> class Vec>
const char* BezierCurve<Mode, Vec>::DegreeTooHigh::what() const noexcept {
  return "zeph DegreeTooHigh";
}

template <class Mode, template <class> class Vec>
std::array<std::size_t, 7> BezierCurve<Mode, Vec>::sizes_(unsigned n) {
  std::size_t dim = Point::dimension;
  auto points = [&](long long count) {
    return static_cast<std::size_t>(std::max(count, 0LL)) * dim;
  };
  long long m = n;
  return {points(m + 1), points(m),          points(m - 1), points(m - 2),
          points(m - 3), 2 * std::size_t(n), points(2 * m)};
}

template <class Mode, template <class> class Vec>
BezierCurve<Mode, Vec>::BezierCurve() {
  s_.dimension = dimension_;
}

template <class Mode, template <class> class Vec>
void BezierCurve<Mode, Vec>::checkDegree_(std::size_t n) {
  if (n > ZEPH_CLOSEST_MAX_DEGREE) throw DegreeTooHigh();
}

template <class Mode, template <class> class Vec>
BezierCurve<Mode, Vec>::BezierCurve(std::vector<Point> const& points) : BezierCurve() {
  if (points.empty()) return;
  checkDegree_(points.size() - 1);
  allocate_(static_cast<unsigned>(points.size() - 1));
  for (std::size_t i = 0; i < points.size(); ++i)
    points[i].getValues(s_.controlPoints + i * dimension_);
  precomputeData_();
}

template <class Mode, template <class> class Vec>
BezierCurve<Mode, Vec>::BezierCurve(StorageTag const& storage, bool compute)
    : degree_(storage.degree), s_(storage) {
  checkDegree_(storage.degree);
  s_.dimension = dimension_;
  if (compute) precomputeData_();
}

template <class Mode, template <class> class Vec>
BezierCurve<Mode, Vec>::BezierCurve(BezierCurve const& other) : BezierCurve() {
  copyFrom_(other.s_);
}

template <class Mode, template <class> class Vec>
BezierCurve<Mode, Vec>& BezierCurve<Mode, Vec>::operator=(BezierCurve const& other) {
  if (this != &other) {
    BezierCurve copy(other);
    std::swap(degree_, copy.degree_);
    std::swap(s_, copy.s_);
    std::swap(own_, copy.own_);  // the buffers move with their pointers
    std::swap(binomial_, copy.binomial_);
    std::swap(binomialLower_, copy.binomialLower_);
    std::swap(binomialElevated_, copy.binomialElevated_);
  }
  return *this;
}

template <class Mode, template <class> class Vec>
BezierCurve<Mode, Vec>::~BezierCurve() = default;

template <class Mode, template <class> class Vec>
void BezierCurve<Mode, Vec>::allocate_(unsigned n) {
  degree_ = n;
  auto sizes = sizes_(n);
  Real** arrays[7] = {&s_.controlPoints, &s_.derivPoints1, &s_.derivPoints2,       &s_.derivPoints3,
                      &s_.derivPoints4,  &s_.dotCoeffs,    &s_.elevatedDerivPoints};
  for (std::size_t a = 0; a < 7; ++a) {
    own_[a].assign(sizes[a], Real(0.0));
    *arrays[a] = own_[a].empty() ? nullptr : own_[a].data();
  }
  s_.degree = n;
  s_.dimension = dimension_;
}

template <class Mode, template <class> class Vec>
void BezierCurve<Mode, Vec>::copyFrom_(StorageTag const& other) {
  if (!other.controlPoints) return;
  allocate_(other.degree);
  Real const* from[7] = {other.controlPoints,      other.derivPoints1, other.derivPoints2,
                         other.derivPoints3,       other.derivPoints4, other.dotCoeffs,
                         other.elevatedDerivPoints};
  for (std::size_t a = 0; a < 7; ++a)
    if (!own_[a].empty()) std::copy(from[a], from[a] + own_[a].size(), own_[a].begin());
  binomialTables_();
}

template <class Mode, template <class> class Vec>
void BezierCurve<Mode, Vec>::evaluateFrom_(
    typename BezierCurve<Traced, Vec>::StorageTag const& traced, BindingSet const& bindings) {
  if (!traced.controlPoints) return;
  checkDegree_(traced.degree);
  allocate_(traced.degree);
  ct::TracedDouble const* from[7] = {
      traced.controlPoints, traced.derivPoints1, traced.derivPoints2,       traced.derivPoints3,
      traced.derivPoints4,  traced.dotCoeffs,    traced.elevatedDerivPoints};
  for (std::size_t a = 0; a < 7; ++a)
    for (std::size_t i = 0; i < own_[a].size(); ++i)
      own_[a][i] = Real(from[a][i].evaluate(bindings));
  binomialTables_();
}

template <class Mode, template <class> class Vec>
void BezierCurve<Mode, Vec>::binomialTables_() {
  unsigned n = degree_;
  binomial_.assign(n + 1, 1.0);
  binomialLower_.assign(n + 1, 0.0);
  binomialElevated_.assign(2 * n, 1.0);
  for (unsigned i = 1; i <= n; ++i) binomial_[i] = binomial_[i - 1] * (n + 1 - i) / i;
  for (unsigned i = 0; i < n; ++i) binomialLower_[i] = binomial_[i] * (n - i) / n;
  for (unsigned k = 1; k < 2 * n; ++k)
    binomialElevated_[k] = binomialElevated_[k - 1] * (2 * n - k) / k;
}

template <class Mode, template <class> class Vec>
void BezierCurve<Mode, Vec>::precomputeData_() {
  unsigned n = degree_;
  unsigned dim = dimension_;
  if (n == 0 || !s_.controlPoints) return;
  binomialTables_();

  // Each derivative's points from the previous level's, as far as they exist.
  Real const* from = s_.controlPoints;
  Real* to[4] = {s_.derivPoints1, s_.derivPoints2, s_.derivPoints3, s_.derivPoints4};
  for (unsigned level = 0; level < 4 && level < n; ++level) {
    unsigned count = n - level;  // points of this derivative
    Real factor(static_cast<double>(count));
    for (unsigned i = 0; i < count * dim; ++i) to[level][i] = factor * (from[i + dim] - from[i]);
    from = to[level];
  }

  Real const* p = s_.controlPoints;
  Real const* d = s_.derivPoints1;
  for (unsigned k = 0; k < 2 * n; ++k) {
    Real dot(0.0);
    std::vector<Real> elevated(dim, Real(0.0));
    for (unsigned i = (k >= n - 1 ? k - (n - 1) : 0); i <= n && i <= k; ++i) {
      unsigned j = k - i;
      Real w(binomial_[i] * binomialLower_[j] / binomialElevated_[k]);
      Real pd(0.0);
      for (unsigned c = 0; c < dim; ++c) pd = pd + p[i * dim + c] * d[j * dim + c];
      dot = dot + w * pd;
      for (unsigned c = 0; c < dim; ++c) elevated[c] = elevated[c] + w * d[j * dim + c];
    }
    s_.dotCoeffs[k] = dot;
    for (unsigned c = 0; c < dim; ++c) s_.elevatedDerivPoints[k * dim + c] = elevated[c];
  }
}

template <class Mode, template <class> class Vec>
typename BezierCurve<Mode, Vec>::Point BezierCurve<Mode, Vec>::castel_(Real const* points,
                                                                       unsigned count,
                                                                       Real const& t) const {
  Real out[Point::dimension];
  if (count == 0 || !points) return Point();
  castelInto(count, dimension_, points, t, out);
  return Point(out);
}

template <class Mode, template <class> class Vec>
typename BezierCurve<Mode, Vec>::Point BezierCurve<Mode, Vec>::point(Real const& t) const {
  return castel_(s_.controlPoints, degree_ + 1, t);
}
template <class Mode, template <class> class Vec>
typename BezierCurve<Mode, Vec>::Point BezierCurve<Mode, Vec>::tangent(Real const& t) const {
  return castel_(s_.derivPoints1, degree_, t);
}
template <class Mode, template <class> class Vec>
typename BezierCurve<Mode, Vec>::Point BezierCurve<Mode, Vec>::tangentDer(Real const& t) const {
  return degree_ >= 2 ? castel_(s_.derivPoints2, degree_ - 1, t) : Point();
}
template <class Mode, template <class> class Vec>
typename BezierCurve<Mode, Vec>::Point BezierCurve<Mode, Vec>::tangent2Der(Real const& t) const {
  return degree_ >= 3 ? castel_(s_.derivPoints3, degree_ - 2, t) : Point();
}
template <class Mode, template <class> class Vec>
typename BezierCurve<Mode, Vec>::Point BezierCurve<Mode, Vec>::tangent3Der(Real const& t) const {
  return degree_ >= 4 ? castel_(s_.derivPoints4, degree_ - 3, t) : Point();
}

template <class Mode, template <class> class Vec>
typename BezierCurve<Mode, Vec>::Real BezierCurve<Mode, Vec>::closestPoint(Point const& q,
                                                                           Point& out) const {
  if (!s_.controlPoints) {
    out = Point();
    return Real(0.0);
  }
  return closestPointOnBezier(degree_, dimension_, s_.controlPoints, s_.dotCoeffs,
                              s_.elevatedDerivPoints, q.values(), out.values());
}

template <class Mode, template <class> class Vec>
std::pair<BezierCurve<Mode, Vec>, BezierCurve<Mode, Vec>> BezierCurve<Mode, Vec>::subdivide(
    Real const& t) const {
  unsigned n = degree_;
  unsigned dim = dimension_;
  if (!s_.controlPoints) return {BezierCurve(), BezierCurve()};
  std::vector<Real> level(s_.controlPoints, s_.controlPoints + (n + 1) * dim);
  std::vector<Point> left(n + 1), right(n + 1);
  Real s = Real(1.0) - t;
  for (unsigned top = n + 1; top-- > 0;) {
    left[n - top] = Point(level.data());
    right[top] = Point(level.data() + top * dim);
    for (unsigned i = 0; i < top * dim; ++i) level[i] = s * level[i] + t * level[i + dim];
  }
  return {BezierCurve(left), BezierCurve(right)};
}

template <class Mode, template <class> class Vec>
std::vector<typename BezierCurve<Mode, Vec>::Point> BezierCurve<Mode, Vec>::controlPoints() const {
  std::vector<Point> points;
  if (!s_.controlPoints) return points;
  for (unsigned i = 0; i <= degree_; ++i) points.emplace_back(s_.controlPoints + i * dimension_);
  return points;
}

template <class Mode, template <class> class Vec>
void BezierCurve<Mode, Vec>::insertPolyline(unsigned m, std::vector<Point>& out,
                                            InsertConditions conditions) const {
  unsigned samples = std::max(m, 3u);
  unsigned first = conditions == OmitStartPoint ? 1 : 0;
  unsigned last = conditions == OmitEndPoint ? samples - 2 : samples - 1;
  for (unsigned i = first; i <= last; ++i)
    out.push_back(point(Real(static_cast<double>(i) / (samples - 1))));
}

template <class Mode, template <class> class Vec>
void BezierCurve<Mode, Vec>::scale(Real const& s) {
  if (!s_.controlPoints) return;
  for (std::size_t i = 0; i < std::size_t(degree_ + 1) * dimension_; ++i)
    s_.controlPoints[i] = s_.controlPoints[i] * s;
  precomputeData_();
}

template class BezierCurve<Numeric, math3d::Vector2_T>;
template class BezierCurve<Numeric, math3d::Vector3_T>;
template class BezierCurve<Traced, math3d::Vector2_T>;
template class BezierCurve<Traced, math3d::Vector3_T>;

}  // namespace vela::math
