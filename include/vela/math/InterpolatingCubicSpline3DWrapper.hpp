#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// InterpolatingCubicSpline3DWrapper, one 3-D interface over planar and spatial cubic splines.

#include <memory>
#include <type_traits>
#include <vector>

#include "vela/math/InterpolatingCubicSpline.hpp"

namespace vela::math {

/// One three-dimensional interface over a cubic spline built from planar or
/// from spatial points. A spatial spline answers directly; a planar one
/// answers in the plane: vector arguments lose their z (query points,
/// tangents of the formula forms), results come back with z = 0, and
/// parameters and tags pass unchanged. So a planar curve's normals lie in
/// z = 0, and a vanishing one is replaced by the tangent turned a quarter
/// in the plane (not by the spatial rule). Copies share the spline. A
/// default wrapper holds no spline: its queries give zero vectors, 0 and
/// default tags, and its polyline is empty.
template <class Mode>
class InterpolatingCubicSpline3DWrapper {
 public:
  using Real = Scalar<Mode>;                                          ///< a parameter or coordinate
  using Vec3 = math3d::Vector3_T<Mode>;                               ///< a point or vector
  using Vec2 = math3d::Vector2_T<Mode>;                               ///< a planar point or vector
  using Tag = IdxBoundsTag<Mode>;                                     ///< a segment and its bounds
  using Planar = InterpolatingCubicSpline<Mode, math3d::Vector2_T>;   ///< the planar spline
  using Spatial = InterpolatingCubicSpline<Mode, math3d::Vector3_T>;  ///< the spatial spline

  /// No spline: queries give zero vectors, 0 and default tags.
  InterpolatingCubicSpline3DWrapper() = default;
  /// A planar cubic spline through the points (its validation exceptions
  /// reach the caller).
  InterpolatingCubicSpline3DWrapper(std::vector<math3d::Vector2_T<Numeric>> const& points,
                                    bool closed);
  /// A spatial cubic spline through the points.
  InterpolatingCubicSpline3DWrapper(std::vector<math3d::Vector3_T<Numeric>> const& points,
                                    bool closed);
  /// Numeric only: the traced wrapper's spline evaluated against bindings.
  template <class M = Mode, std::enable_if_t<std::is_same_v<M, Numeric>, int> = 0>
  InterpolatingCubicSpline3DWrapper(InterpolatingCubicSpline3DWrapper<Traced> const& traced,
                                    BindingSet const& bindings) {
    if (traced.spatial()) spatial_ = std::make_shared<Spatial>(*traced.spatial(), bindings);
    if (traced.planar()) planar_ = std::make_shared<Planar>(*traced.planar(), bindings);
  }
  /// The held spline is released when its last copy goes.
  virtual ~InterpolatingCubicSpline3DWrapper() = default;

  /// The held spline; at most one is set.
  ///@{
  std::shared_ptr<Planar> const& planar() const { return planar_; }
  std::shared_ptr<Spatial> const& spatial() const { return spatial_; }
  ///@}

  /// Whether the held spline is closed (false without one).
  bool isClosed() const;
  /// The segment holding the global parameter t and its bounds (see
  /// InterpolatingSpline::getBezierParamInfo); a default tag without a
  /// spline.
  Tag getBezierParamInfo(Real const& t) const;
  /// The spline's polyline, planar points lifted to z = 0.
  std::vector<Vec3> polyline(unsigned n) const;

  /// The curve and its derivatives, normals and their derivatives at a
  /// global parameter or a tag (see InterpolatingSpline).
  ///@{
  Vec3 point(Real const& t) const;
  Vec3 point(Tag const& tag) const;
  Vec3 tangent(Real const& t) const;
  Vec3 tangent(Tag const& tag) const;
  Vec3 tangentDer(Real const& t) const;
  Vec3 tangentDer(Tag const& tag) const;
  Vec3 tangent2Der(Real const& t) const;
  Vec3 tangent2Der(Tag const& tag) const;
  Vec3 tangent3Der(Real const& t) const;
  Vec3 tangent3Der(Tag const& tag) const;
  Vec3 normal(Real const& t) const;
  Vec3 normal(Tag const& tag) const;
  Vec3 normalDer(Real const& t) const;
  Vec3 normalDer(Tag const& tag) const;
  Vec3 normal2Der(Real const& t) const;
  Vec3 normal2Der(Tag const& tag) const;
  Vec3 uNormalDer(Real const& t) const;
  Vec3 uNormalDer(Tag const& tag) const;
  Vec3 uNormal2Der(Real const& t) const;
  Vec3 uNormal2Der(Tag const& tag) const;
  ///@}

  /// The formula forms on given tangent or normal vectors (z ignored for a
  /// planar spline).
  ///@{
  Vec3 normal(Vec3 const& T, Vec3 const& T1) const;
  Vec3 normalDer(Vec3 const& T, Vec3 const& T1, Vec3 const& T2) const;
  Vec3 normal2Der(Vec3 const& T, Vec3 const& T1, Vec3 const& T2, Vec3 const& T3) const;
  Vec3 uNormalDer(Vec3 const& N, Vec3 const& N1) const;
  Vec3 uNormal2Der(Vec3 const& N, Vec3 const& N1, Vec3 const& N2) const;
  ///@}

  /// Nearest points to q (z ignored for a planar spline): the global search
  /// and the walk from t0 (see InterpolatingSpline::closestPoint).
  ///@{
  Real closestPoint(Vec3 const& q, Vec3& out, Tag& tag) const;
  Real closestPoint(Vec3 const& q, Vec3& out) const;
  Real closestPoint(Vec3 const& q, Real const& t0, Vec3& out, Tag& tag) const;
  Real closestPoint(Vec3 const& q, Real const& t0, Vec3& out) const;
  ///@}

 private:
  /// f of the spatial spline, or f of the planar one lifted to z = 0.
  template <class F>
  Vec3 apply_(F const& f) const;

  std::shared_ptr<Planar> planar_;
  std::shared_ptr<Spatial> spatial_;
};

extern template class InterpolatingCubicSpline3DWrapper<Numeric>;
extern template class InterpolatingCubicSpline3DWrapper<Traced>;

}  // namespace vela::math

#pragma GCC visibility pop
