#include "vela/math/InterpolatingCubicSpline3DWrapper.hpp"

namespace vela::math {
namespace {

template <class Mode>
math3d::Vector2_T<Mode> flat(math3d::Vector3_T<Mode> const& v) {
  return {v.x(), v.y()};
}

}  // namespace

template <class Mode>
InterpolatingCubicSpline3DWrapper<Mode>::InterpolatingCubicSpline3DWrapper(
    std::vector<math3d::Vector2_T<Numeric>> const& points, bool closed)
    : planar_(std::make_shared<Planar>(points, closed)) {}

template <class Mode>
InterpolatingCubicSpline3DWrapper<Mode>::InterpolatingCubicSpline3DWrapper(
    std::vector<math3d::Vector3_T<Numeric>> const& points, bool closed)
    : spatial_(std::make_shared<Spatial>(points, closed)) {}

template <class Mode>
template <class F>
typename InterpolatingCubicSpline3DWrapper<Mode>::Vec3
InterpolatingCubicSpline3DWrapper<Mode>::apply_(F const& f) const {
  if (spatial_) return f(*spatial_);
  if (planar_) return Vec3(f(*planar_));
  return Vec3();
}

template <class Mode>
bool InterpolatingCubicSpline3DWrapper<Mode>::isClosed() const {
  return spatial_ ? spatial_->isClosed() : planar_ && planar_->isClosed();
}

template <class Mode>
typename InterpolatingCubicSpline3DWrapper<Mode>::Tag
InterpolatingCubicSpline3DWrapper<Mode>::getBezierParamInfo(Real const& t) const {
  if (spatial_) return spatial_->getBezierParamInfo(t);
  return planar_ ? planar_->getBezierParamInfo(t) : Tag();
}

template <class Mode>
std::vector<typename InterpolatingCubicSpline3DWrapper<Mode>::Vec3>
InterpolatingCubicSpline3DWrapper<Mode>::polyline(unsigned n) const {
  if (spatial_) return spatial_->polyline(n);
  std::vector<Vec3> out;
  if (!planar_) return out;
  for (Vec2 const& p : planar_->polyline(n)) out.emplace_back(p);
  return out;
}

// Both forms of an evaluation, at a parameter and at a tag.
#define VELA_WRAPPER_FORWARD(name)                                       \
  template <class Mode>                                                  \
  typename InterpolatingCubicSpline3DWrapper<Mode>::Vec3                 \
  InterpolatingCubicSpline3DWrapper<Mode>::name(Real const& t) const {   \
    return apply_([&](auto const& spline) { return spline.name(t); });   \
  }                                                                      \
  template <class Mode>                                                  \
  typename InterpolatingCubicSpline3DWrapper<Mode>::Vec3                 \
  InterpolatingCubicSpline3DWrapper<Mode>::name(Tag const& tag) const {  \
    return apply_([&](auto const& spline) { return spline.name(tag); }); \
  }

VELA_WRAPPER_FORWARD(point)
VELA_WRAPPER_FORWARD(tangent)
VELA_WRAPPER_FORWARD(tangentDer)
VELA_WRAPPER_FORWARD(tangent2Der)
VELA_WRAPPER_FORWARD(tangent3Der)
VELA_WRAPPER_FORWARD(normal)
VELA_WRAPPER_FORWARD(normalDer)
VELA_WRAPPER_FORWARD(normal2Der)
VELA_WRAPPER_FORWARD(uNormalDer)
VELA_WRAPPER_FORWARD(uNormal2Der)
#undef VELA_WRAPPER_FORWARD

template <class Mode>
typename InterpolatingCubicSpline3DWrapper<Mode>::Vec3
InterpolatingCubicSpline3DWrapper<Mode>::normal(Vec3 const& T, Vec3 const& T1) const {
  if (spatial_) return Spatial::normal(T, T1);
  return planar_ ? Vec3(Planar::normal(flat(T), flat(T1))) : Vec3();
}

template <class Mode>
typename InterpolatingCubicSpline3DWrapper<Mode>::Vec3
InterpolatingCubicSpline3DWrapper<Mode>::normalDer(Vec3 const& T, Vec3 const& T1,
                                                   Vec3 const& T2) const {
  if (spatial_) return Spatial::normalDer(T, T1, T2);
  return planar_ ? Vec3(Planar::normalDer(flat(T), flat(T1), flat(T2))) : Vec3();
}

template <class Mode>
typename InterpolatingCubicSpline3DWrapper<Mode>::Vec3
InterpolatingCubicSpline3DWrapper<Mode>::normal2Der(Vec3 const& T, Vec3 const& T1, Vec3 const& T2,
                                                    Vec3 const& T3) const {
  if (spatial_) return Spatial::normal2Der(T, T1, T2, T3);
  return planar_ ? Vec3(Planar::normal2Der(flat(T), flat(T1), flat(T2), flat(T3))) : Vec3();
}

template <class Mode>
typename InterpolatingCubicSpline3DWrapper<Mode>::Vec3
InterpolatingCubicSpline3DWrapper<Mode>::uNormalDer(Vec3 const& N, Vec3 const& N1) const {
  if (spatial_) return Spatial::uNormalDer(N, N1);
  return planar_ ? Vec3(Planar::uNormalDer(flat(N), flat(N1))) : Vec3();
}

template <class Mode>
typename InterpolatingCubicSpline3DWrapper<Mode>::Vec3
InterpolatingCubicSpline3DWrapper<Mode>::uNormal2Der(Vec3 const& N, Vec3 const& N1,
                                                     Vec3 const& N2) const {
  if (spatial_) return Spatial::uNormal2Der(N, N1, N2);
  return planar_ ? Vec3(Planar::uNormal2Der(flat(N), flat(N1), flat(N2))) : Vec3();
}

template <class Mode>
typename InterpolatingCubicSpline3DWrapper<Mode>::Real
InterpolatingCubicSpline3DWrapper<Mode>::closestPoint(Vec3 const& q, Vec3& out, Tag& tag) const {
  if (spatial_) return spatial_->closestPoint(q, out, tag);
  out = Vec3();
  tag = Tag();
  if (!planar_) return Real(0.0);
  Vec2 nearest;
  Real t = planar_->closestPoint(flat(q), nearest, tag);
  out = Vec3(nearest);
  return t;
}

template <class Mode>
typename InterpolatingCubicSpline3DWrapper<Mode>::Real
InterpolatingCubicSpline3DWrapper<Mode>::closestPoint(Vec3 const& q, Vec3& out) const {
  Tag tag;
  return closestPoint(q, out, tag);
}

template <class Mode>
typename InterpolatingCubicSpline3DWrapper<Mode>::Real
InterpolatingCubicSpline3DWrapper<Mode>::closestPoint(Vec3 const& q, Real const& t0, Vec3& out,
                                                      Tag& tag) const {
  if (spatial_) return spatial_->closestPoint(q, t0, out, tag);
  out = Vec3();
  tag = Tag();
  if (!planar_) return Real(0.0);
  Vec2 nearest;
  Real t = planar_->closestPoint(flat(q), t0, nearest, tag);
  out = Vec3(nearest);
  return t;
}

template <class Mode>
typename InterpolatingCubicSpline3DWrapper<Mode>::Real
InterpolatingCubicSpline3DWrapper<Mode>::closestPoint(Vec3 const& q, Real const& t0,
                                                      Vec3& out) const {
  Tag tag;
  return closestPoint(q, t0, out, tag);
}

template class InterpolatingCubicSpline3DWrapper<Numeric>;
template class InterpolatingCubicSpline3DWrapper<Traced>;

}  // namespace vela::math
