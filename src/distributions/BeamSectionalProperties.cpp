#include "vela/math/BeamSectionalProperties.hpp"

#include <optional>
#include <vector>

namespace vela::math {
namespace {

namespace ct = kelm_math::comp_trace;

/// Mohr's circle of a symmetric 2-by-2 tensor given by its centroidal
/// values: center, half difference (yC - xC) / 2 and radius. Both modes go
/// through it, so a traced graph repeats the Numeric operations exactly.
template <class R>
struct MohrCircle {
  R mean;
  R halfDifference;
  R radius;
};

template <class R>
MohrCircle<R> mohrCircle(R const& xC, R const& yC, R const& xyC) {
  R halfDifference = (yC - xC) / 2.0;
  return {(xC + yC) / 2.0, halfDifference, ct::sqrt(xyC * xyC + halfDifference * halfDifference)};
}

char const* dampingText(DampingType type) {
  switch (type) {
    case DampingType::NoDamping: return "'None'";
    case DampingType::Proportional: return "'Prop'";
    case DampingType::UniformModal: return "'Unif'";
  }
  return "'PROBLEM'";
}

bool sameOperation(double a, double b) { return a == b; }
bool sameOperation(ct::TracedDouble const& a, ct::TracedDouble const& b) {
  return a.isOperationallyEqual(b);
}

}  // namespace

template <class M>
BeamSectionalProperties<M>::BeamSectionalProperties() = default;

template <class M>
BeamSectionalProperties<M>::BeamSectionalProperties(Fields const& f)
    : bc_(f.bendingCentroid),
      sc_(f.shearCenter),
      dampingType_(f.dampingType),
      alpha_(f.proportionalDampingAlpha),
      beta_(f.proportionalDampingBeta),
      zeta_(f.uniformModalDampingZeta) {
  // Products only where nothing is given, so that the graphs in Traced are
  // those of the positional form taking the same values.
  auto orProduct = [](std::optional<Real> const& given, Real const& a, Real const& b) {
    return given ? *given : a * b;
  };
  kzz_ = orProduct(f.axialStiffness, f.youngsModulus, f.area);
  hxx_ = orProduct(f.xBendingStiffness, f.youngsModulus, f.xSecondMomentOfArea);
  hyy_ = orProduct(f.yBendingStiffness, f.youngsModulus, f.ySecondMomentOfArea);
  hxy_ = orProduct(f.xyCrossBendingStiffness, f.youngsModulus, f.xyProductOfArea);
  hzz_ = orProduct(f.torsionalStiffness, f.shearModulus, f.torsionConstant);
  mu_ = orProduct(f.massPerUnitLength, f.density, f.area);
  muxx_ = orProduct(f.xMassMomentOfInertiaDensity, f.density, f.xSecondMomentOfArea);
  muyy_ = orProduct(f.yMassMomentOfInertiaDensity, f.density, f.ySecondMomentOfArea);
  muxy_ = orProduct(f.xyMassProductOfInertiaDensity, f.density, f.xyProductOfArea);
  if (f.zPolarMassMomentOfInertiaDensity)
    muzz_ = *f.zPolarMassMomentOfInertiaDensity;
  else if (f.polarSecondMomentOfArea)
    muzz_ = f.density * *f.polarSecondMomentOfArea;
  else
    muzz_ = muxx_ + muyy_;
}

template <class M>
BeamSectionalProperties<M>::BeamSectionalProperties(Point const& bc, Point const& sc, Real const& E,
                                                    Real const& G, Real const& rho, Real const& A,
                                                    Real const& Ixx, Real const& Iyy,
                                                    Real const& Ixy, Real const& J,
                                                    DampingType type, Real const& alpha,
                                                    Real const& beta, Real const& zeta)
    : BeamSectionalProperties(bc, sc, E * A, E * Ixx, E * Iyy, E * Ixy, G * J, rho * A, rho * Ixx,
                              rho * Iyy, rho * Ixy, rho * Ixx + rho * Iyy, type, alpha, beta, zeta,
                              Dummy{}) {}

template <class M>
BeamSectionalProperties<M>::BeamSectionalProperties(Point const& bc, Point const& sc, Real const& E,
                                                    Real const& G, Real const& rho, Real const& A,
                                                    Real const& Ixx, Real const& Iyy,
                                                    Real const& Ixy, Real const& Ip, Real const& J,
                                                    DampingType type, Real const& alpha,
                                                    Real const& beta, Real const& zeta)
    : BeamSectionalProperties(bc, sc, E * A, E * Ixx, E * Iyy, E * Ixy, G * J, rho * A, rho * Ixx,
                              rho * Iyy, rho * Ixy, rho * Ip, type, alpha, beta, zeta, Dummy{}) {}

template <class M>
BeamSectionalProperties<M>::BeamSectionalProperties(
    Point const& bc, Point const& sc, Real const& Kzz, Real const& Hxx, Real const& Hyy,
    Real const& Hxy, Real const& Hzz, Real const& mu, Real const& muxx, Real const& muyy,
    Real const& muxy, DampingType type, Real const& alpha, Real const& beta, Real const& zeta,
    Dummy)
    : BeamSectionalProperties(bc, sc, Kzz, Hxx, Hyy, Hxy, Hzz, mu, muxx, muyy, muxy, muxx + muyy,
                              type, alpha, beta, zeta, Dummy{}) {}

template <class M>
BeamSectionalProperties<M>::BeamSectionalProperties(
    Point const& bc, Point const& sc, Real const& Kzz, Real const& Hxx, Real const& Hyy,
    Real const& Hxy, Real const& Hzz, Real const& mu, Real const& muxx, Real const& muyy,
    Real const& muxy, Real const& muzz, DampingType type, Real const& alpha, Real const& beta,
    Real const& zeta, Dummy)
    : bc_(bc),
      sc_(sc),
      kzz_(Kzz),
      hxx_(Hxx),
      hyy_(Hyy),
      hxy_(Hxy),
      hzz_(Hzz),
      mu_(mu),
      muxx_(muxx),
      muyy_(muyy),
      muxy_(muxy),
      muzz_(muzz),
      dampingType_(type),
      alpha_(alpha),
      beta_(beta),
      zeta_(zeta) {}

template <class M>
BeamSectionalProperties<M>::BeamSectionalProperties(
    [[maybe_unused]] BeamSectionalProperties<Traced> const& traced,
    [[maybe_unused]] BindingSet const& bindings) {
  if constexpr (std::is_same_v<M, Numeric>) {
    bc_ = Point(traced.bc_, bindings);
    sc_ = Point(traced.sc_, bindings);
    auto value = [&bindings](TracedValue<double> const& x) { return x.evaluate(bindings); };
    kzz_ = value(traced.kzz_);
    hxx_ = value(traced.hxx_);
    hyy_ = value(traced.hyy_);
    hxy_ = value(traced.hxy_);
    hzz_ = value(traced.hzz_);
    mu_ = value(traced.mu_);
    muxx_ = value(traced.muxx_);
    muyy_ = value(traced.muyy_);
    muxy_ = value(traced.muxy_);
    muzz_ = value(traced.muzz_);
    alpha_ = value(traced.alpha_);
    beta_ = value(traced.beta_);
    zeta_ = value(traced.zeta_);
    dampingType_ = traced.dampingType_;
  }
}

template <class M>
auto BeamSectionalProperties<M>::xCentroidalBendingStiffness() const -> Real {
  return hxx_ - kzz_ * bc_.y() * bc_.y();
}

template <class M>
auto BeamSectionalProperties<M>::yCentroidalBendingStiffness() const -> Real {
  return hyy_ - kzz_ * bc_.x() * bc_.x();
}

template <class M>
auto BeamSectionalProperties<M>::xyCentroidalCrossBendingStiffness() const -> Real {
  return hxy_ - kzz_ * bc_.x() * bc_.y();
}

template <class M>
auto BeamSectionalProperties<M>::principalAxisOrientation() const -> Real {
  Real xyC = xyCentroidalCrossBendingStiffness();
  auto circle = mohrCircle(xCentroidalBendingStiffness(), yCentroidalBendingStiffness(), xyC);
  return ct::guardedAtan2(xyC, circle.halfDifference) / 2.0;
}

template <class M>
auto BeamSectionalProperties<M>::xPrincipalBendingStiffness() const -> Real {
  auto circle = mohrCircle(xCentroidalBendingStiffness(), yCentroidalBendingStiffness(),
                           xyCentroidalCrossBendingStiffness());
  return circle.mean - circle.radius;
}

template <class M>
auto BeamSectionalProperties<M>::yPrincipalBendingStiffness() const -> Real {
  auto circle = mohrCircle(xCentroidalBendingStiffness(), yCentroidalBendingStiffness(),
                           xyCentroidalCrossBendingStiffness());
  return circle.mean + circle.radius;
}

template <class M>
auto BeamSectionalProperties<M>::xCentroidalMassMomentOfInertiaDensity() const -> Real {
  return muxx_ - mu_ * bc_.y() * bc_.y();
}

template <class M>
auto BeamSectionalProperties<M>::yCentroidalMassMomentOfInertiaDensity() const -> Real {
  return muyy_ - mu_ * bc_.x() * bc_.x();
}

template <class M>
auto BeamSectionalProperties<M>::xyCentroidalMassProductOfInertiaDensity() const -> Real {
  return muxy_ - mu_ * bc_.x() * bc_.y();
}

template <class M>
auto BeamSectionalProperties<M>::zCentroidalPolarMassMomentOfInertiaDensity() const -> Real {
  return muzz_ - mu_ * bc_.x() * bc_.x() - mu_ * bc_.y() * bc_.y();
}

template <class M>
auto BeamSectionalProperties<M>::xPrincipalMassMomentOfInertiaDensity() const -> Real {
  auto circle =
      mohrCircle(xCentroidalMassMomentOfInertiaDensity(), yCentroidalMassMomentOfInertiaDensity(),
                 xyCentroidalMassProductOfInertiaDensity());
  return circle.mean - circle.radius;
}

template <class M>
auto BeamSectionalProperties<M>::yPrincipalMassMomentOfInertiaDensity() const -> Real {
  auto circle =
      mohrCircle(xCentroidalMassMomentOfInertiaDensity(), yCentroidalMassMomentOfInertiaDensity(),
                 xyCentroidalMassProductOfInertiaDensity());
  return circle.mean + circle.radius;
}

template <class M>
auto BeamSectionalProperties<M>::zPrincipalPolarMassMomentOfInertiaDensity() const -> Real {
  return zCentroidalPolarMassMomentOfInertiaDensity();
}

template <class M>
auto BeamSectionalProperties<M>::operator==(BeamSectionalProperties const& o) const -> Bool {
  std::vector<Bool> same = {bc_ == o.bc_,
                            sc_ == o.sc_,
                            kzz_ == o.kzz_,
                            hxx_ == o.hxx_,
                            hyy_ == o.hyy_,
                            hxy_ == o.hxy_,
                            hzz_ == o.hzz_,
                            mu_ == o.mu_,
                            muxx_ == o.muxx_,
                            muyy_ == o.muyy_,
                            muxy_ == o.muxy_,
                            muzz_ == o.muzz_,
                            Bool(dampingType_ == o.dampingType_),
                            alpha_ == o.alpha_,
                            beta_ == o.beta_,
                            zeta_ == o.zeta_};
  return ct::all(same);
}

template <class M>
auto BeamSectionalProperties<M>::operator!=(BeamSectionalProperties const& o) const -> Bool {
  return !(*this == o);
}

template <class M>
bool BeamSectionalProperties<M>::isOperationallyEqual(BeamSectionalProperties const& o) const {
  return bc_.isOperationallyEqual(o.bc_) && sc_.isOperationallyEqual(o.sc_) &&
         sameOperation(kzz_, o.kzz_) && sameOperation(hxx_, o.hxx_) &&
         sameOperation(hyy_, o.hyy_) && sameOperation(hxy_, o.hxy_) &&
         sameOperation(hzz_, o.hzz_) && sameOperation(mu_, o.mu_) &&
         sameOperation(muxx_, o.muxx_) && sameOperation(muyy_, o.muyy_) &&
         sameOperation(muxy_, o.muxy_) && sameOperation(muzz_, o.muzz_) &&
         dampingType_ == o.dampingType_ && sameOperation(alpha_, o.alpha_) &&
         sameOperation(beta_, o.beta_) && sameOperation(zeta_, o.zeta_);
}

template <class M>
std::string BeamSectionalProperties<M>::stringify() const {
  using math3d::stringify;
  std::string text;
  auto add = [&text](char const* header, std::string const& value) {
    text += header;
    text += value;
    text += ";\n";
  };
  add("bc = ... % 2-vector bending centroid\n", bc_.stringify());
  add("sc = ... % 2-vector shear center\n", sc_.stringify());
  add("Kzz = ... % Scalar axial stiffness\n", stringify(kzz_));
  add("Hxx = ... % Scalar X Bending Stiffness\n", stringify(hxx_));
  add("Hyy = ... % Scalar Y Bending Stiffness\n", stringify(hyy_));
  add("Hxy = ... % Scalar XY Cross Bending Stiffness\n", stringify(hxy_));
  add("Hzz = ... % Scalar torsional stiffness\n", stringify(hzz_));
  add("mu = ... % Scalar mass per unit length\n", stringify(mu_));
  add("muxx = ... % Scalar X Mass Moment Of Inertia Density\n", stringify(muxx_));
  add("muyy = ... % Scalar Y Mass Moment Of Inertia Density\n", stringify(muyy_));
  add("muxy = ... % Scalar XY Mass Product Of Inertia Density\n", stringify(muxy_));
  add("muzz = ... % Scalar Z Polar Mass Moment Of Inertia Density\n", stringify(muzz_));
  add("Dtype = ... % Damping type\n", dampingText(dampingType_));
  add("Dalph = ... % Scalar proportional damping alpha\n", stringify(alpha_));
  add("Dbeta = ... % Scalar proportional damping beta\n", stringify(beta_));
  add("Dzeta = ... % Scalar uniform modal damping zeta\n", stringify(zeta_));
  text +=
      "sectProps = ... % Full set of cross-sectional data\n"
      "{bc, sc                      ...\n"
      " Kzz, Hxx, Hyy, Hxy, Hzz     ...\n"
      " mu, muxx, muyy, muxy, muzz, ...\n"
      " Dtype, Dalph, Dbeta, Dzeta};";
  return text;
}

template class BeamSectionalProperties<Numeric>;
template class BeamSectionalProperties<Traced>;

}  // namespace vela::math
