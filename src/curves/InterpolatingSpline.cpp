#include "vela/math/InterpolatingSpline.hpp"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "curves/CasteljauInterpolationOp.hpp"
#include "curves/ClosestPointOps.hpp"
#include "curves/IndexOfLowerBoundOp.hpp"
#include "linalg/ValidNormal.hpp"
#include "zeph_core/ckernels.h"

namespace vela::math {
namespace {

template <class Real>
std::vector<Real> constants(std::vector<double> const& values) {
  return std::vector<Real>(values.begin(), values.end());
}

template <class Real>
Real* at(std::vector<Real>& values, std::size_t offset) {
  return values.empty() ? nullptr : values.data() + offset;
}

/// |v| without overflow or underflow: the plain root of the sum of squares
/// (norm()'s bits) where that sum is safe, else rescaled by the largest
/// coordinate as hypot does.
template <class V>
double length(V const& v) {
  double sum = v.norm2();
  // Below 2^-968 a square under DBL_MIN could lose bits that matter.
  if (!(sum < 0x1p-968 || sum > DBL_MAX)) return std::sqrt(sum);
  double big = 0.0;
  for (int k = 0; k < V::dimension; ++k) big = std::max(big, std::fabs(v.coord(k)));
  if (big == 0.0 || std::isinf(big)) return big;
  return big * (v / big).norm();
}

}  // namespace

// Out of line, so that each base has one vtable and type_info.
InsufficientDataPointsError::~InsufficientDataPointsError() = default;
NonFiniteDataPointsError::~NonFiniteDataPointsError() = default;
FirstPointRepeatedError::~FirstPointRepeatedError() = default;
RepeatedDataPointsError::~RepeatedDataPointsError() = default;
CollinearDataPointsError::~CollinearDataPointsError() = default;

template <class Mode, template <class> class Vec>
const char* InterpolatingSpline<Mode, Vec>::InsufficientDataPoints::what() const noexcept {
  return "zeph InsufficientDataPoints";
}
template <class Mode, template <class> class Vec>
const char* InterpolatingSpline<Mode, Vec>::NonFiniteDataPoints::what() const noexcept {
  return "zeph NonFiniteDataPoints";
}
template <class Mode, template <class> class Vec>
const char* InterpolatingSpline<Mode, Vec>::FirstPointRepeated::what() const noexcept {
  return "zeph FirstPointRepeated";
}
template <class Mode, template <class> class Vec>
const char* InterpolatingSpline<Mode, Vec>::RepeatedDataPoints::what() const noexcept {
  return "zeph RepeatedDataPoints";
}
template <class Mode, template <class> class Vec>
const char* InterpolatingSpline<Mode, Vec>::CollinearDataPoints::what() const noexcept {
  return "zeph CollinearDataPoints";
}

template <class Mode, template <class> class Vec>
InterpolatingSpline<Mode, Vec>::InterpolatingSpline() = default;

template <class Mode, template <class> class Vec>
InterpolatingSpline<Mode, Vec>::InterpolatingSpline(InterpolatingSpline const& other)
    : order_(other.order_),
      dataPoints_(other.dataPoints_),
      isClosed_(other.isClosed_),
      chordLengthSum_(other.chordLengthSum_),
      a_(other.a_) {
  copyBezierCurves_(other);
}

template <class Mode, template <class> class Vec>
InterpolatingSpline<Mode, Vec>& InterpolatingSpline<Mode, Vec>::operator=(
    InterpolatingSpline const& other) {
  if (this != &other) {
    order_ = other.order_;
    dataPoints_ = other.dataPoints_;
    isClosed_ = other.isClosed_;
    chordLengthSum_ = other.chordLengthSum_;
    a_ = other.a_;
    copyBezierCurves_(other);
  }
  return *this;
}

template <class Mode, template <class> class Vec>
InterpolatingSpline<Mode, Vec>::~InterpolatingSpline() = default;

template <class Mode, template <class> class Vec>
bool InterpolatingSpline<Mode, Vec>::operator==(InterpolatingSpline const& other) const {
  if (order_ != other.order_ || isClosed_ != other.isClosed_ ||
      dataPoints_.size() != other.dataPoints_.size())
    return false;
  for (std::size_t i = 0; i < dataPoints_.size(); ++i)
    if (!(dataPoints_[i] == other.dataPoints_[i])) return false;
  return true;
}

template <class Mode, template <class> class Vec>
void InterpolatingSpline<Mode, Vec>::validate_(std::vector<DataPoint> const& points,
                                               bool closed) const {
  std::size_t n = points.size();
  if (n < 2 || (n == 2 && closed)) throw InsufficientDataPoints();
  // Before the distance tests, which an infinity or a NaN would mislead.
  for (DataPoint const& p : points)
    for (int k = 0; k < DataPoint::dimension; ++k)
      if (!std::isfinite(p.coord(k))) throw NonFiniteDataPoints();

  std::vector<double> chords(n - 1);
  double longest = 0.0, total = 0.0;
  for (std::size_t i = 1; i < n; ++i) {
    chords[i - 1] = length(points[i] - points[i - 1]);
    longest = std::max(longest, chords[i - 1]);
    total += chords[i - 1];
  }
  double closing = closed ? length(points.front() - points.back()) : 0.0;
  // A length past the largest double leaves no finite tangent.
  if (!std::isfinite(total + closing)) throw NonFiniteDataPoints();
  double tol = 1e-9 * longest + 1e-12;
  for (double c : chords)
    if (c < tol) throw RepeatedDataPoints();
  if (!closed) return;

  // A closing chord as short as a repeat leaves a degenerate closing segment.
  if (points.back() == points.front() || closing < tol) throw FirstPointRepeated();
  // The farthest point from the first spans the line the others must be near.
  std::size_t far = 1;
  double farthest = length(points[1] - points[0]);
  for (std::size_t i = 2; i < n; ++i) {
    double r = length(points[i] - points[0]);
    if (r > farthest) far = i, farthest = r;
  }
  double lineTol = 1e-9 * (2.0 * farthest) + 1e-12;
  DataPoint u = (points[far] - points[0]) / farthest;
  for (std::size_t i = 1; i < n; ++i) {
    if (i == far) continue;
    DataPoint r = points[i] - points[0];
    if (!(length(r - u * r.dot(u)) <= lineTol)) return;
  }
  throw CollinearDataPoints();
}

template <class Mode, template <class> class Vec>
void InterpolatingSpline<Mode, Vec>::dataPoints(std::vector<DataPoint> const& points) {
  validate_(points, isClosed_);
  dataPoints_ = points;
  computeBezierCurves_();
}

template <class Mode, template <class> class Vec>
void InterpolatingSpline<Mode, Vec>::isClosed(bool flag) {
  if (flag == isClosed_) return;
  // Constructors close an empty curve before they give it points.
  if (!dataPoints_.empty()) validate_(dataPoints_, flag);
  isClosed_ = flag;
  computeBezierCurves_();
}

template <class Mode, template <class> class Vec>
void InterpolatingSpline<Mode, Vec>::bezierControlPoints_(std::vector<double> const& values) {
  a_.controlPoints = constants<Real>(values);
}

template <class Mode, template <class> class Vec>
void InterpolatingSpline<Mode, Vec>::computeBezierCurves_() {
  std::size_t n = dataPoints_.size();
  if (n == 0) return;
  std::vector<double> padded(isClosed_ ? n + 2 : n + 1, 0.0);
  for (std::size_t i = 1; i < n; ++i) padded[i] = length(dataPoints_[i] - dataPoints_[i - 1]);
  if (isClosed_) {
    padded[n] = length(dataPoints_[0] - dataPoints_[n - 1]);
    padded[0] = padded[n];
    padded[n + 1] = padded[1];
  }
  chordLengthSum_.assign(1, 0.0);
  for (std::size_t i = 1; i < n + isClosed_; ++i)
    chordLengthSum_.push_back(chordLengthSum_.back() + padded[i]);

  // Knots and control points from the chords times a power of two: exact,
  // so the same bits as in length units, but sums and powers stay in range.
  int exponent = 0;
  std::frexp(*std::max_element(padded.begin(), padded.end()), &exponent);
  for (double& c : padded) c = std::ldexp(c, -exponent);
  std::vector<double> knots{0.0};
  std::vector<double> spacings;
  for (std::size_t i = 1; i < n + isClosed_; ++i) {
    knots.push_back(knots.back() + padded[i]);
    spacings.push_back(padded[i]);
  }
  double total = knots.back();
  for (double& s : spacings) s /= total;
  for (std::size_t i = 0; i + 1 < knots.size(); ++i) knots[i] /= total;
  knots.back() = 1.0;
  a_.knots = constants<Real>(knots);
  a_.knotSpacings = constants<Real>(spacings);

  computeBezierControlPoints_(padded);
  std::size_t segments = isClosed_ ? n : n - 1;
  sizeDerivedArrays_(segments);
  buildViews_(segments, true);
}

template <class Mode, template <class> class Vec>
void InterpolatingSpline<Mode, Vec>::sizeDerivedArrays_(std::size_t segments) {
  std::size_t dim = Point::dimension;
  for (unsigned k = 0; k < 4; ++k) {
    std::size_t points = order_ > k ? order_ - k : 0;
    a_.derivPoints[k].assign(points * segments * dim, Real(0.0));
  }
  a_.dotCoeffs.assign(2 * order_ * segments, Real(0.0));
  a_.elevatedDerivPoints.assign(2 * order_ * segments * dim, Real(0.0));
}

template <class Mode, template <class> class Vec>
void InterpolatingSpline<Mode, Vec>::buildViews_(std::size_t segments, bool compute) {
  curves_.clear();
  curves_.reserve(segments);
  std::size_t n = order_;
  std::size_t dim = Point::dimension;
  auto deriv = [&](unsigned k, std::size_t s) {
    std::size_t points = n > k ? n - k : 0;
    return at(a_.derivPoints[k], s * points * dim);
  };
  for (std::size_t s = 0; s < segments; ++s) {
    typename Curve::StorageTag tag{order_,
                                   static_cast<unsigned>(dim),
                                   at(a_.controlPoints, s * (n + 1) * dim),
                                   deriv(0, s),
                                   deriv(1, s),
                                   deriv(2, s),
                                   deriv(3, s),
                                   at(a_.dotCoeffs, s * 2 * n),
                                   at(a_.elevatedDerivPoints, s * 2 * n * dim)};
    curves_.push_back(std::make_shared<Curve>(tag, compute));
  }
}

template <class Mode, template <class> class Vec>
void InterpolatingSpline<Mode, Vec>::copyBezierCurves_(InterpolatingSpline const& other) {
  buildViews_(other.curves_.size(), true);
}

template <class Mode, template <class> class Vec>
void InterpolatingSpline<Mode, Vec>::evaluateFrom_(InterpolatingSpline<Traced, Vec> const& traced,
                                                   BindingSet const& bindings) {
  order_ = traced.order_;
  dataPoints_ = traced.dataPoints_;
  isClosed_ = traced.isClosed_;
  chordLengthSum_ = traced.chordLengthSum_;
  auto evaluated = [&](std::vector<ct::TracedDouble> const& values) {
    std::vector<Real> out;
    out.reserve(values.size());
    for (auto const& v : values) out.push_back(v.evaluate(bindings));
    return out;
  };
  a_.knots = evaluated(traced.a_.knots);
  a_.knotSpacings = evaluated(traced.a_.knotSpacings);
  a_.controlPoints = evaluated(traced.a_.controlPoints);
  for (unsigned k = 0; k < 4; ++k) a_.derivPoints[k] = evaluated(traced.a_.derivPoints[k]);
  a_.dotCoeffs = evaluated(traced.a_.dotCoeffs);
  a_.elevatedDerivPoints = evaluated(traced.a_.elevatedDerivPoints);
  buildViews_(traced.curves_.size(), false);
}

// ---- Lookup ----

template <class Mode, template <class> class Vec>
typename InterpolatingSpline<Mode, Vec>::Real InterpolatingSpline<Mode, Vec>::validParam_(
    Real const& t) const {
  return isClosed_ ? t - ct::floor(t) : t;
}

template <class Mode, template <class> class Vec>
typename InterpolatingSpline<Mode, Vec>::Tag InterpolatingSpline<Mode, Vec>::getBezierParamInfo(
    Real const& t) const {
  Tag tag;
  int n = static_cast<int>(a_.knots.size());
  if (n < 2) return tag;
  Real param = validParam_(t);
  Real const* knots = a_.knots.data();
  Index index = indexOfLowerBound(static_cast<unsigned>(n), knots, param);
  if constexpr (std::is_same_v<Mode, Numeric>) {
    index = std::min(std::max(index, 0), n - 2);
    tag.lower = knots[index];
    tag.upper = knots[index + 1];
  } else {
    index = ct::min(ct::max(index, Index(0)), Index(n - 2));
    tag.lower = ct::arrayAccess(knots, n, index);
    tag.upper = ct::arrayAccess(knots, n, index + 1);
  }
  tag.index = index;
  tag.param = (param - tag.lower) / (tag.upper - tag.lower);
  return tag;
}

// ---- Evaluation ----

template <class Mode, template <class> class Vec>
typename InterpolatingSpline<Mode, Vec>::Point InterpolatingSpline<Mode, Vec>::castel_(
    std::vector<Real> const& values, unsigned count, Tag const& tag) const {
  Point out;
  if (curves_.empty() || count == 0) return out;
  if constexpr (std::is_same_v<Mode, Numeric>) {
    // The same clamp and call as castelInterpolate, without its division.
    int last = static_cast<int>(curves_.size()) - 1;
    std::size_t segment = static_cast<std::size_t>(std::min(std::max(tag.index, 0), last));
    zeph_core_math_castelEval(count, Point::dimension,
                              values.data() + segment * count * Point::dimension, out.values(),
                              tag.param);
  } else {
    castelInterpolate(static_cast<unsigned>(values.size()), count - 1, Point::dimension,
                      values.data(), tag.index, tag.param, out.values());
  }
  return out;
}

template <class Mode, template <class> class Vec>
typename InterpolatingSpline<Mode, Vec>::Point InterpolatingSpline<Mode, Vec>::point(
    Tag const& tag) const {
  return castel_(a_.controlPoints, order_ + 1, tag);
}

template <class Mode, template <class> class Vec>
typename InterpolatingSpline<Mode, Vec>::Point InterpolatingSpline<Mode, Vec>::tangent(
    Tag const& tag) const {
  return castel_(a_.derivPoints[0], order_, tag) / (tag.upper - tag.lower);
}

template <class Mode, template <class> class Vec>
typename InterpolatingSpline<Mode, Vec>::Point InterpolatingSpline<Mode, Vec>::tangentDer(
    Tag const& tag) const {
  if (order_ < 2) return Point();
  Real h = tag.upper - tag.lower;
  return castel_(a_.derivPoints[1], order_ - 1, tag) / (h * h);
}

template <class Mode, template <class> class Vec>
typename InterpolatingSpline<Mode, Vec>::Point InterpolatingSpline<Mode, Vec>::tangent2Der(
    Tag const& tag) const {
  if (order_ <= 2) return Point();
  Real h = tag.upper - tag.lower;
  return castel_(a_.derivPoints[2], order_ - 2, tag) / (h * h * h);
}

template <class Mode, template <class> class Vec>
typename InterpolatingSpline<Mode, Vec>::Point InterpolatingSpline<Mode, Vec>::tangent3Der(
    Tag const& tag) const {
  if (order_ <= 3) return Point();
  Real h = tag.upper - tag.lower;
  return castel_(a_.derivPoints[3], order_ - 3, tag) / (h * h * h * h);
}

template <class Mode, template <class> class Vec>
typename InterpolatingSpline<Mode, Vec>::Point InterpolatingSpline<Mode, Vec>::point(
    Real const& t) const {
  return point(getBezierParamInfo(t));
}
template <class Mode, template <class> class Vec>
typename InterpolatingSpline<Mode, Vec>::Point InterpolatingSpline<Mode, Vec>::tangent(
    Real const& t) const {
  return tangent(getBezierParamInfo(t));
}
template <class Mode, template <class> class Vec>
typename InterpolatingSpline<Mode, Vec>::Point InterpolatingSpline<Mode, Vec>::tangentDer(
    Real const& t) const {
  return order_ < 2 ? Point() : tangentDer(getBezierParamInfo(t));
}
template <class Mode, template <class> class Vec>
typename InterpolatingSpline<Mode, Vec>::Point InterpolatingSpline<Mode, Vec>::tangent2Der(
    Real const& t) const {
  return order_ <= 2 ? Point() : tangent2Der(getBezierParamInfo(t));
}
template <class Mode, template <class> class Vec>
typename InterpolatingSpline<Mode, Vec>::Point InterpolatingSpline<Mode, Vec>::tangent3Der(
    Real const& t) const {
  return order_ <= 3 ? Point() : tangent3Der(getBezierParamInfo(t));
}

// ---- Normals ----

template <class Mode, template <class> class Vec>
double InterpolatingSpline<Mode, Vec>::derivativeScale_() const {
  if (chordLengthSum_.empty() || !std::isfinite(chordLengthSum_.back())) return 1.0;
  int exponent = 0;
  std::frexp(chordLengthSum_.back(), &exponent);
  return std::ldexp(1.0, -exponent);
}

template <class Mode, template <class> class Vec>
typename InterpolatingSpline<Mode, Vec>::Point InterpolatingSpline<Mode, Vec>::normal(
    Point const& T, Point const& T1) {
  return guardedNormal_(T, T1, T);
}

template <class Mode, template <class> class Vec>
typename InterpolatingSpline<Mode, Vec>::Point InterpolatingSpline<Mode, Vec>::guardedNormal_(
    Point const& Ts, Point const& T1s, Point const& T) {
  Real s = Ts.norm();
  Point across = T1s - Ts * (Ts.dot(T1s) / (s * s));
  Point n = across / s;
  // Where T1 is parallel to T, across is rounding noise along T (up to a
  // few ulps of |T1|): taken as zero, so that validNormal replaces it.
  auto straight = across.norm() <= Real(1e-12) * T1s.norm();
  for (int k = 0; k < Point::dimension; ++k)
    n.coord(k, ct::ternary(straight, Real(0.0), n.coord(k)));
  validNormal(T, n);
  return n;
}

template <class Mode, template <class> class Vec>
typename InterpolatingSpline<Mode, Vec>::Point InterpolatingSpline<Mode, Vec>::normalDer(
    Point const& T, Point const& T1, Point const& T2) {
  Real s = T.norm();
  Real s3 = s * s * s;
  Real s5 = s3 * s * s;
  Real q = T.dot(T1);
  Real p = T1.dot(T1) + T.dot(T2);
  return T2 / s - T1 * (Real(2.0) * q / s3) - T * (p / s3) + T * (Real(3.0) * q * q / s5);
}

template <class Mode, template <class> class Vec>
typename InterpolatingSpline<Mode, Vec>::Point InterpolatingSpline<Mode, Vec>::normal2Der(
    Point const& T, Point const& T1, Point const& T2, Point const& T3) {
  Real s = T.norm();
  Real s3 = s * s * s;
  Real s5 = s3 * s * s;
  Real s7 = s5 * s * s;
  Real q = T.dot(T1);
  Real p = T1.dot(T1) + T.dot(T2);
  Real alongT = Real(9.0) * p * q / s5 - (Real(3.0) * T1.dot(T2) + T.dot(T3)) / s3 -
                Real(15.0) * q * q * q / s7;
  return T3 / s - T2 * (Real(3.0) * q / s3) + T1 * (Real(9.0) * q * q / s5 - Real(3.0) * p / s3) +
         T * alongT;
}

template <class Mode, template <class> class Vec>
typename InterpolatingSpline<Mode, Vec>::Point InterpolatingSpline<Mode, Vec>::uNormalDer(
    Point const& N, Point const& N1) {
  Real length = N.norm();
  return N1 / length - N * (N.dot(N1) / (length * length * length));
}

template <class Mode, template <class> class Vec>
typename InterpolatingSpline<Mode, Vec>::Point InterpolatingSpline<Mode, Vec>::uNormal2Der(
    Point const& N, Point const& N1, Point const& N2) {
  return normalDer(N, N1, N2);
}

template <class Mode, template <class> class Vec>
typename InterpolatingSpline<Mode, Vec>::Point InterpolatingSpline<Mode, Vec>::normal(
    Tag const& tag) const {
  Real k(derivativeScale_());
  Point T = tangent(tag);
  return guardedNormal_(T * k, tangentDer(tag) * k, T);
}
template <class Mode, template <class> class Vec>
typename InterpolatingSpline<Mode, Vec>::Point InterpolatingSpline<Mode, Vec>::normalDer(
    Tag const& tag) const {
  Real k(derivativeScale_());
  return normalDer(tangent(tag) * k, tangentDer(tag) * k, tangent2Der(tag) * k);
}
template <class Mode, template <class> class Vec>
typename InterpolatingSpline<Mode, Vec>::Point InterpolatingSpline<Mode, Vec>::normal2Der(
    Tag const& tag) const {
  Real k(derivativeScale_());
  return normal2Der(tangent(tag) * k, tangentDer(tag) * k, tangent2Der(tag) * k,
                    tangent3Der(tag) * k);
}
template <class Mode, template <class> class Vec>
typename InterpolatingSpline<Mode, Vec>::Point InterpolatingSpline<Mode, Vec>::uNormalDer(
    Tag const& tag) const {
  Real k(derivativeScale_());
  Point T = tangent(tag), Ts = T * k, T1 = tangentDer(tag) * k, T2 = tangent2Der(tag) * k;
  return uNormalDer(guardedNormal_(Ts, T1, T), normalDer(Ts, T1, T2));
}
template <class Mode, template <class> class Vec>
typename InterpolatingSpline<Mode, Vec>::Point InterpolatingSpline<Mode, Vec>::uNormal2Der(
    Tag const& tag) const {
  Real k(derivativeScale_());
  Point T = tangent(tag), Ts = T * k, T1 = tangentDer(tag) * k, T2 = tangent2Der(tag) * k,
        T3 = tangent3Der(tag) * k;
  return uNormal2Der(guardedNormal_(Ts, T1, T), normalDer(Ts, T1, T2), normal2Der(Ts, T1, T2, T3));
}

template <class Mode, template <class> class Vec>
typename InterpolatingSpline<Mode, Vec>::Point InterpolatingSpline<Mode, Vec>::normal(
    Real const& t) const {
  return normal(getBezierParamInfo(t));
}
template <class Mode, template <class> class Vec>
typename InterpolatingSpline<Mode, Vec>::Point InterpolatingSpline<Mode, Vec>::normalDer(
    Real const& t) const {
  return normalDer(getBezierParamInfo(t));
}
template <class Mode, template <class> class Vec>
typename InterpolatingSpline<Mode, Vec>::Point InterpolatingSpline<Mode, Vec>::normal2Der(
    Real const& t) const {
  return normal2Der(getBezierParamInfo(t));
}
template <class Mode, template <class> class Vec>
typename InterpolatingSpline<Mode, Vec>::Point InterpolatingSpline<Mode, Vec>::uNormalDer(
    Real const& t) const {
  return uNormalDer(getBezierParamInfo(t));
}
template <class Mode, template <class> class Vec>
typename InterpolatingSpline<Mode, Vec>::Point InterpolatingSpline<Mode, Vec>::uNormal2Der(
    Real const& t) const {
  return uNormal2Der(getBezierParamInfo(t));
}

// ---- Closest points ----

template <class Mode, template <class> class Vec>
typename InterpolatingSpline<Mode, Vec>::Real InterpolatingSpline<Mode, Vec>::closestPoint(
    Point const& q, Point& out, Tag& tag) const {
  int segments = static_cast<int>(curves_.size());
  tag = Tag();
  out = Point();
  if (segments == 0) return Real(0.0);
  std::vector<Real> params(curves_.size()), distances(curves_.size());
  for (std::size_t k = 0; k < curves_.size(); ++k) {
    Point nearest;
    params[k] = curves_[k]->closestPoint(q, nearest);
    distances[k] = (q - nearest).norm();
  }
  Index best = ct::indexOfMin(distances.data(), segments);
  int knots = static_cast<int>(a_.knots.size());
  tag.index = best;
  tag.lower = ct::arrayAccess(a_.knots.data(), knots, best);
  tag.upper = ct::arrayAccess(a_.knots.data(), knots, best + 1);
  tag.param = ct::arrayAccess(params.data(), segments, best);
  Real T = tag.lower + (tag.upper - tag.lower) * tag.param;
  out = point(T);
  return T;
}

template <class Mode, template <class> class Vec>
typename InterpolatingSpline<Mode, Vec>::Real InterpolatingSpline<Mode, Vec>::closestPoint(
    Point const& q, Point& out) const {
  Tag tag;
  return closestPoint(q, out, tag);
}

template <class Mode, template <class> class Vec>
typename InterpolatingSpline<Mode, Vec>::Real InterpolatingSpline<Mode, Vec>::closestPoint(
    Point const& q, Real const& t0, Point& out, Tag& tag) const {
  out = Point();
  if (curves_.empty()) {
    tag = Tag();
    return Real(0.0);
  }
  SplineArrays<Real> arrays{a_.knots.data(), a_.controlPoints.data(), a_.derivPoints[0].data(),
                            a_.dotCoeffs.data(), a_.elevatedDerivPoints.data()};
  Real T = closestPointOnSpline(order_, Point::dimension, static_cast<unsigned>(curves_.size()),
                                isClosed_, getBezierParamInfo(t0).index, arrays, q.values(),
                                out.values());
  tag = getBezierParamInfo(T);
  return T;
}

template <class Mode, template <class> class Vec>
typename InterpolatingSpline<Mode, Vec>::Real InterpolatingSpline<Mode, Vec>::closestPoint(
    Point const& q, Real const& t0, Point& out) const {
  Tag tag;
  return closestPoint(q, t0, out, tag);
}

// ---- Sampling and scaling ----

template <class Mode, template <class> class Vec>
std::vector<typename InterpolatingSpline<Mode, Vec>::Point>
InterpolatingSpline<Mode, Vec>::polyline(unsigned n) const {
  std::vector<Point> out;
  if (curves_.empty()) return out;
  out.reserve(n + 2 * a_.knots.size() - 2);
  double total = chordLengthSum_.back();
  for (std::size_t k = 0; k < curves_.size(); ++k) {
    double share = (chordLengthSum_[k + 1] - chordLengthSum_[k]) * n / total;
    // Non-finite chords sample at the minimum rather than overflow a cast.
    auto samples = share >= 0.0 && share <= n ? static_cast<unsigned>(share) : 0u;
    bool last = k + 1 == curves_.size();
    curves_[k]->insertPolyline(samples, out, last ? Curve::BothEnds : Curve::OmitEndPoint);
  }
  return out;
}

template <class Mode, template <class> class Vec>
void InterpolatingSpline<Mode, Vec>::scale(Real const& s) {
  for (auto& curve : curves_) curve->scale(s);
}

template class InterpolatingSpline<Numeric, math3d::Vector2_T>;
template class InterpolatingSpline<Numeric, math3d::Vector3_T>;
template class InterpolatingSpline<Traced, math3d::Vector2_T>;
template class InterpolatingSpline<Traced, math3d::Vector3_T>;

}  // namespace vela::math
