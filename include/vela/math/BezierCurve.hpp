#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// BezierCurve, the polynomial curve of one spline segment over its control points.

#include <array>
#include <cstddef>
#include <type_traits>
#include <utility>
#include <vector>

#include "math3d/math3d.hpp"
#include "vela/math/Errors.hpp"
#include "vela/math/modes.hpp"

namespace vela::math {

/// A Bezier curve of degree n from 0 (one point) to 6 in the plane or in
/// space over the local parameter t in [0, 1]; Vec is math3d::Vector2_T or
/// Vector3_T; degree 6 is the closest-point search's limit. It owns its
/// control points or is a view on storage owned by someone else (a spline's
/// segment). At construction it precomputes the control points
/// of its first four derivatives and the Bernstein coefficients of degree
/// 2n - 1 of B(t)·B'(t) and of B'(t), which turn a closest-point search into
/// a root search. Evaluation is de Casteljau (zeph_core_math_castelEval); in
/// Traced it always records a CasteljauInterpolationOp, never folds. Traced
/// points differentiate (Derivatives.hpp) in the control points and in t,
/// where the derivative is the polynomial's at every t, 0 and 1 and t
/// outside [0, 1] included.
template <class Mode, template <class> class Vec>
class BezierCurve {
 public:
  using Real = Scalar<Mode>;  ///< a parameter or coordinate
  using Point = Vec<Mode>;    ///< a point or vector of the curve

  /// A degree above the closest-point search's limit of 6 (more than seven
  /// control points).
  class DegreeTooHigh : public DegreeTooHighError {
   public:
    /// "zeph DegreeTooHigh".
    const char* what() const noexcept override;
  };

  /// Which ends insertPolyline emits.
  enum InsertConditions { BothEnds = 0, OmitEndPoint = 1, OmitStartPoint = 2 };

  /// External storage of a curve: the degree n, the dimension (that of Vec)
  /// and arrays of (n+1)·dim control values, n·dim, (n-1)·dim, (n-2)·dim and
  /// (n-3)·dim derivative values (those below zero may be null), 2n dot
  /// coefficients and 2n·dim elevated derivative values.
  struct StorageTag {
    unsigned degree;            ///< n
    unsigned dimension;         ///< coordinates per point
    Real* controlPoints;        ///< (n+1)·dim control values, point after point
    Real* derivPoints1;         ///< n·dim control values of the first derivative
    Real* derivPoints2;         ///< (n-1)·dim of the second derivative
    Real* derivPoints3;         ///< (n-2)·dim of the third derivative
    Real* derivPoints4;         ///< (n-3)·dim of the fourth derivative
    Real* dotCoeffs;            ///< 2n coefficients of B(t)·B'(t)
    Real* elevatedDerivPoints;  ///< 2n·dim values of B'(t) in degree 2n - 1
  };

  /// An empty curve: no control points, degree 0; evaluating it gives zero
  /// vectors.
  BezierCurve();
  /// Owns a copy of points: degree = points.size() - 1. One point is a
  /// curve of degree 0, that point for every t with zero derivatives; no
  /// points give an empty curve. DegreeTooHigh for more than seven points,
  /// thrown before anything is stored.
  explicit BezierCurve(std::vector<Point> const& points);
  /// A view on storage, which must outlive the curve. When compute is true
  /// the derived arrays are written into it from the control points.
  /// DegreeTooHigh for a degree above 6, thrown before the storage is read.
  BezierCurve(StorageTag const& storage, bool compute);
  /// Numeric only: a curve owning the values of a traced curve evaluated
  /// against bindings (UnboundInput when an input has no value;
  /// DegreeTooHigh as for a view).
  template <class M = Mode, std::enable_if_t<std::is_same_v<M, Numeric>, int> = 0>
  BezierCurve(BezierCurve<Traced, Vec> const& traced, BindingSet const& bindings) {
    evaluateFrom_(traced.storage_(), bindings);
  }
  /// Copies own what the source points at, owned or viewed; never shared.
  ///@{
  BezierCurve(BezierCurve const& other);
  BezierCurve& operator=(BezierCurve const& other);
  ///@}
  /// Releases owned arrays; a view leaves its storage alone.
  virtual ~BezierCurve();

  /// n, the degree (0 for an empty curve).
  unsigned degree() const { return degree_; }
  /// The number of coordinates per point (that of Vec).
  unsigned dimension() const { return dimension_; }

  /// The curve at t, and its first to fourth derivatives with respect to t
  /// (zero vectors where the degree is too low). t outside [0, 1]
  /// extrapolates.
  ///@{
  Point point(Real const& t) const;
  Point tangent(Real const& t) const;
  Point tangentDer(Real const& t) const;
  Point tangent2Der(Real const& t) const;
  Point tangent3Der(Real const& t) const;
  ///@}

  /// The parameter t in [0, 1] of the curve's point nearest to q, written to
  /// out: the nearest of t = 0, t = 1 and the roots of (B(t) - q)·B'(t)
  /// (ties keep the earlier, in that order; a NaN distance loses to any
  /// other). A one-point curve gives 0 and its point, an empty curve 0 and a
  /// zero point. Coordinates beyond about 1e150 (or below 1e-150) in
  /// magnitude overflow (underflow) the search's squares: it may then
  /// answer an end where an inner point is nearer. In Traced it always
  /// records a ClosestPointOnBezierOp (not for an empty curve), which
  /// differentiates in q and the control points: an inner t by the implicit
  /// function theorem on (q - B).B' = 0, dt = 0 at an end or where the
  /// distance has no strict minimum (q at a center of curvature).
  Real closestPoint(Point const& q, Point& out) const;
  /// The curve split at t into owning curves over [0, t] and [t, 1].
  std::pair<BezierCurve, BezierCurve> subdivide(Real const& t) const;
  /// The n + 1 control points (none for an empty curve).
  std::vector<Point> controlPoints() const;
  /// Appends max(m, 3) points at t = i / (max(m, 3) - 1), less the end
  /// point or the start point as conditions says.
  void insertPolyline(unsigned m, std::vector<Point>& out, InsertConditions conditions) const;
  /// Multiplies every control value by s and recomputes the derived arrays
  /// (in the viewed storage for a view).
  void scale(Real const& s);

  /// The 2n coefficients of B(t)·B'(t) and the 2n points of B'(t) in the
  /// Bernstein basis of degree 2n - 1.
  ///@{
  Real const* dotCoeffs() const { return s_.dotCoeffs; }
  Real const* elevatedDerivPoints() const { return s_.elevatedDerivPoints; }
  ///@}

 private:
  template <class, template <class> class>
  friend class BezierCurve;

  /// Throws DegreeTooHigh for n above 6.
  static void checkDegree_(std::size_t n);
  /// Element counts of the seven arrays for degree n.
  static std::array<std::size_t, 7> sizes_(unsigned n);
  StorageTag const& storage_() const { return s_; }
  /// Own storage of degree n, pointed at by s_.
  void allocate_(unsigned n);
  void copyFrom_(StorageTag const& other);
  void evaluateFrom_(typename BezierCurve<Traced, Vec>::StorageTag const& traced,
                     BindingSet const& bindings);
  /// C(n, i), C(n-1, i) and C(2n-1, k) for degree n.
  void binomialTables_();
  /// Binomial tables, derivative points and closest-point arrays.
  void precomputeData_();
  /// The point at t of count points (zero for none).
  Point castel_(Real const* points, unsigned count, Real const& t) const;

  unsigned degree_ = 0;
  unsigned dimension_ = static_cast<unsigned>(Point::dimension);
  StorageTag s_{};
  std::array<std::vector<Real>, 7> own_;
  std::vector<double> binomial_;          // C(n, i), i = 0..n
  std::vector<double> binomialLower_;     // C(n-1, i), i = 0..n
  std::vector<double> binomialElevated_;  // C(2n-1, k), k = 0..2n-1
};

extern template class BezierCurve<Numeric, math3d::Vector2_T>;
extern template class BezierCurve<Numeric, math3d::Vector3_T>;
extern template class BezierCurve<Traced, math3d::Vector2_T>;
extern template class BezierCurve<Traced, math3d::Vector3_T>;

}  // namespace vela::math

#pragma GCC visibility pop
