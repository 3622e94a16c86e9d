#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// BeamSectionalProperties, the cross-section properties of a beam, and vela::DampingType.

#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>

#include "math3d/math3d.hpp"
#include "vela/math/modes.hpp"

namespace vela {

/// Damping model of a beam section, stored as a 32-bit integer. Other values
/// may be stored; they are not a valid model and display as 'PROBLEM'.
enum class DampingType : std::int32_t {
  NoDamping = 0,     ///< 'None'
  Proportional = 1,  ///< 'Prop': alpha (mass) and beta (stiffness) factors
  UniformModal = 2,  ///< 'Unif': one modal damping ratio zeta
};

}  // namespace vela

namespace vela::math {

/// Cross-section properties of a beam per unit length, in mode M: bending
/// centroid and shear center in the section plane, axial, bending and
/// torsional stiffnesses, mass and mass moment of inertia densities (all
/// referred to the section origin), and a damping model with its
/// parameters. A plain value: nothing is validated and nothing throws,
/// except allocation failure in stringify(). Centroidal values are shifted
/// to the bending centroid (the mass values too; there is no separate mass
/// centroid); principal values are those of the centroidal 2-by-2 tensor,
/// x the smaller one.
template <class M>
class BeamSectionalProperties {
 public:
  using Real = Scalar<M>;              ///< a value: double or TracedValue<double>
  using Point = math3d::Vector2_T<M>;  ///< a point of the section plane
  using Bool = Boolean<M>;             ///< a comparison's result

  /// Tag telling the raw constructors apart from the material ones of
  /// equal arity.
  struct Dummy {};

  /// Every quantity the constructors take, by name; the argument of the
  /// recommended constructor. Give the section either by material and
  /// geometry (E, G, rho and the area values) or by its stiffnesses and mass
  /// densities, or mix them: a stiffness or mass density that is given is
  /// stored as given, one that is not is computed from the material values
  /// as the material constructors do (a material value not given is 0). The
  /// polar mass density is, in this order of preference, the one given,
  /// density * polarSecondMomentOfArea, or the x plus the y mass density.
  ///
  /// C++20 fills it with designated initializers; in C++17 default-construct
  /// it and assign the members by name (positional braces defeat its
  /// purpose). For a steel I-section, say:
  ///
  ///     using Beam = BeamSectionalProperties<Numeric>;
  ///     Beam::Fields f{.youngsModulus = 210e9, .shearModulus = 81e9,
  ///                    .density = 7850.0, .area = 5.4e-3,
  ///                    .xSecondMomentOfArea = 8.4e-5, .ySecondMomentOfArea = 6.0e-6,
  ///                    .torsionConstant = 2.0e-7};
  ///     Beam section(f);  // C++17: Beam::Fields f; f.youngsModulus = 210e9; ...
  struct Fields {
    Point bendingCentroid{};                                 ///< bc, from the section origin
    Point shearCenter{};                                     ///< sc, from the section origin
    Real youngsModulus{0.0};                                 ///< E (force per area)
    Real shearModulus{0.0};                                  ///< G (force per area)
    Real density{0.0};                                       ///< rho (mass per volume)
    Real area{0.0};                                          ///< A
    Real xSecondMomentOfArea{0.0};                           ///< Ixx, about the section origin
    Real ySecondMomentOfArea{0.0};                           ///< Iyy, about the section origin
    Real xyProductOfArea{0.0};                               ///< Ixy, about the section origin
    Real torsionConstant{0.0};                               ///< J
    std::optional<Real> polarSecondMomentOfArea{};           ///< Ip; when given, muzz = rho Ip
    std::optional<Real> axialStiffness{};                    ///< Kzz; else E A
    std::optional<Real> xBendingStiffness{};                 ///< Hxx; else E Ixx
    std::optional<Real> yBendingStiffness{};                 ///< Hyy; else E Iyy
    std::optional<Real> xyCrossBendingStiffness{};           ///< Hxy; else E Ixy
    std::optional<Real> torsionalStiffness{};                ///< Hzz; else G J
    std::optional<Real> massPerUnitLength{};                 ///< mu; else rho A
    std::optional<Real> xMassMomentOfInertiaDensity{};       ///< muxx; else rho Ixx
    std::optional<Real> yMassMomentOfInertiaDensity{};       ///< muyy; else rho Iyy
    std::optional<Real> xyMassProductOfInertiaDensity{};     ///< muxy; else rho Ixy
    std::optional<Real> zPolarMassMomentOfInertiaDensity{};  ///< muzz; see above
    DampingType dampingType = DampingType::NoDamping;        ///< the damping model
    Real proportionalDampingAlpha{0.0};                      ///< alpha of proportional damping
    Real proportionalDampingBeta{0.0};                       ///< beta of proportional damping
    Real uniformModalDampingZeta{0.0};                       ///< zeta of uniform modal damping
  };

  /// All zero, no damping.
  BeamSectionalProperties();
  /// The recommended form: the quantities by name (see Fields). Agrees bit
  /// for bit with the positional form that takes the same values.
  explicit BeamSectionalProperties(Fields const& fields);
  /// The four positional forms are told apart by their arity alone, and two
  /// differ by one inserted argument: prefer Fields.
  ///
  /// From material and geometry: Kzz = E A, Hxx = E Ixx, Hyy = E Iyy,
  /// Hxy = E Ixy, Hzz = G J, mu = rho A, muxx = rho Ixx, muyy = rho Iyy,
  /// muxy = rho Ixy, muzz = rho Ixx + rho Iyy.
  BeamSectionalProperties(Point const& bc, Point const& sc, Real const& E, Real const& G,
                          Real const& rho, Real const& A, Real const& Ixx, Real const& Iyy,
                          Real const& Ixy, Real const& J, DampingType type, Real const& alpha,
                          Real const& beta, Real const& zeta);
  /// As above, but muzz = rho Ip with Ip the polar second moment of area.
  BeamSectionalProperties(Point const& bc, Point const& sc, Real const& E, Real const& G,
                          Real const& rho, Real const& A, Real const& Ixx, Real const& Iyy,
                          Real const& Ixy, Real const& Ip, Real const& J, DampingType type,
                          Real const& alpha, Real const& beta, Real const& zeta);
  /// Raw values stored unchanged; muzz = muxx + muyy.
  BeamSectionalProperties(Point const& bc, Point const& sc, Real const& Kzz, Real const& Hxx,
                          Real const& Hyy, Real const& Hxy, Real const& Hzz, Real const& mu,
                          Real const& muxx, Real const& muyy, Real const& muxy, DampingType type,
                          Real const& alpha, Real const& beta, Real const& zeta, Dummy);
  /// Raw values stored unchanged, muzz included.
  BeamSectionalProperties(Point const& bc, Point const& sc, Real const& Kzz, Real const& Hxx,
                          Real const& Hyy, Real const& Hxy, Real const& Hzz, Real const& mu,
                          Real const& muxx, Real const& muyy, Real const& muxy, Real const& muzz,
                          DampingType type, Real const& alpha, Real const& beta, Real const& zeta,
                          Dummy);
  /// Numeric: every member of the traced set evaluated against the bindings
  /// (UnboundInput when an input has no value), the damping type copied.
  /// Traced: the arguments are ignored; the result is the default set, with
  /// damping type NoDamping, like the default constructor.
  BeamSectionalProperties(BeamSectionalProperties<Traced> const& traced,
                          BindingSet const& bindings);

  /// The bending centroid bc, from the section origin. A setter overwrites its member only.
  ///@{
  Point const& bendingCentroid() const { return bc_; }
  void bendingCentroid(Point const& v) { bc_ = v; }
  ///@}
  /// The shear center sc, from the section origin. A setter overwrites its member only.
  ///@{
  Point const& shearCenter() const { return sc_; }
  void shearCenter(Point const& v) { sc_ = v; }
  ///@}
  /// Kzz, the axial stiffness (force). A setter overwrites its member only.
  ///@{
  Real axialStiffness() const { return kzz_; }
  void axialStiffness(Real const& v) { kzz_ = v; }
  ///@}
  /// Hxx, the bending stiffness about x at the section origin (force times area). A setter
  /// overwrites its member only.
  ///@{
  Real xBendingStiffness() const { return hxx_; }
  void xBendingStiffness(Real const& v) { hxx_ = v; }
  ///@}
  /// Hyy, the bending stiffness about y at the section origin. A setter overwrites its member only.
  ///@{
  Real yBendingStiffness() const { return hyy_; }
  void yBendingStiffness(Real const& v) { hyy_ = v; }
  ///@}
  /// Hxy, the cross bending stiffness at the section origin. A setter overwrites its member only.
  ///@{
  Real xyCrossBendingStiffness() const { return hxy_; }
  void xyCrossBendingStiffness(Real const& v) { hxy_ = v; }
  ///@}
  /// Hzz, the torsional stiffness. A setter overwrites its member only.
  ///@{
  Real torsionalStiffness() const { return hzz_; }
  void torsionalStiffness(Real const& v) { hzz_ = v; }
  ///@}
  /// mu, the mass per unit length. A setter overwrites its member only.
  ///@{
  Real massPerUnitLength() const { return mu_; }
  void massPerUnitLength(Real const& v) { mu_ = v; }
  ///@}
  /// muxx, the mass moment of inertia about x per unit length, at the section origin. A setter
  /// overwrites its member only.
  ///@{
  Real xMassMomentOfInertiaDensity() const { return muxx_; }
  void xMassMomentOfInertiaDensity(Real const& v) { muxx_ = v; }
  ///@}
  /// muyy, the mass moment of inertia about y per unit length, at the section origin. A setter
  /// overwrites its member only.
  ///@{
  Real yMassMomentOfInertiaDensity() const { return muyy_; }
  void yMassMomentOfInertiaDensity(Real const& v) { muyy_ = v; }
  ///@}
  /// muxy, the mass product of inertia per unit length, at the section origin. A setter overwrites
  /// its member only.
  ///@{
  Real xyMassProductOfInertiaDensity() const { return muxy_; }
  void xyMassProductOfInertiaDensity(Real const& v) { muxy_ = v; }
  ///@}
  /// muzz, the polar mass moment of inertia per unit length, at the section origin. A setter
  /// overwrites its member only.
  ///@{
  Real zPolarMassMomentOfInertiaDensity() const { return muzz_; }
  void zPolarMassMomentOfInertiaDensity(Real const& v) { muzz_ = v; }
  ///@}
  /// The damping model. A setter overwrites its member only.
  ///@{
  DampingType dampingType() const { return dampingType_; }
  void dampingType(DampingType t) { dampingType_ = t; }
  ///@}
  /// alpha of proportional damping (mass proportional). A setter overwrites its member only.
  ///@{
  Real proportionalDampingAlpha() const { return alpha_; }
  void proportionalDampingAlpha(Real const& v) { alpha_ = v; }
  ///@}
  /// beta of proportional damping (stiffness proportional). A setter overwrites its member only.
  ///@{
  Real proportionalDampingBeta() const { return beta_; }
  void proportionalDampingBeta(Real const& v) { beta_ = v; }
  ///@}
  /// zeta, the damping ratio of uniform modal damping. A setter overwrites its member only.
  ///@{
  Real uniformModalDampingZeta() const { return zeta_; }
  void uniformModalDampingZeta(Real const& v) { zeta_ = v; }
  ///@}

  /// Bending values at the bending centroid bc: Hxx - Kzz bc.y², Hyy -
  /// Kzz bc.x², Hxy - Kzz bc.x bc.y.
  ///@{
  Real xCentroidalBendingStiffness() const;
  Real yCentroidalBendingStiffness() const;
  Real xyCentroidalCrossBendingStiffness() const;
  ///@}
  /// Angle of the principal axes, half the guarded atan2 of the centroidal
  /// cross value and the half difference (yC - xC) / 2; 0 when both are 0.
  Real principalAxisOrientation() const;
  /// Mean of the centroidal values minus (x) and plus (y) the radius
  /// sqrt(xyC² + ((yC - xC) / 2)²): x is the smaller one.
  ///@{
  Real xPrincipalBendingStiffness() const;
  Real yPrincipalBendingStiffness() const;
  ///@}

  /// Mass values at the bending centroid: muxx - mu bc.y², muyy - mu bc.x²,
  /// muxy - mu bc.x bc.y, muzz - mu bc.x² - mu bc.y².
  ///@{
  Real xCentroidalMassMomentOfInertiaDensity() const;
  Real yCentroidalMassMomentOfInertiaDensity() const;
  Real xyCentroidalMassProductOfInertiaDensity() const;
  Real zCentroidalPolarMassMomentOfInertiaDensity() const;
  ///@}
  /// Principal values of the centroidal mass tensor, as the bending ones;
  /// the polar value is invariant under the rotation.
  ///@{
  Real xPrincipalMassMomentOfInertiaDensity() const;
  Real yPrincipalMassMomentOfInertiaDensity() const;
  Real zPrincipalPolarMassMomentOfInertiaDensity() const;
  ///@}

  /// All sixteen members compare equal (vector and scalar ==, NaN never
  /// equal): a bool in Numeric, a TracedValue<bool> in Traced.
  Bool operator==(BeamSectionalProperties const& other) const;
  /// The negation of ==.
  Bool operator!=(BeamSectionalProperties const& other) const;
  /// Members equal in member order, stopping at the first difference;
  /// traced scalars compare by their graphs, not their values.
  bool isOperationallyEqual(BeamSectionalProperties const& other) const;

  /// The set as script text: one "name = ... % description" header, value
  /// and ";" per member, then the cell array sectProps of all of them.
  std::string stringify() const;

 private:
  template <class>
  friend class BeamSectionalProperties;

  Point bc_;
  Point sc_;
  Real kzz_{0.0};
  Real hxx_{0.0};
  Real hyy_{0.0};
  Real hxy_{0.0};
  Real hzz_{0.0};
  Real mu_{0.0};
  Real muxx_{0.0};
  Real muyy_{0.0};
  Real muxy_{0.0};
  Real muzz_{0.0};
  DampingType dampingType_ = DampingType::NoDamping;
  Real alpha_{0.0};
  Real beta_{0.0};
  Real zeta_{0.0};
};

extern template class BeamSectionalProperties<Numeric>;
extern template class BeamSectionalProperties<Traced>;

}  // namespace vela::math

#pragma GCC visibility pop
