#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// LumpedDistribution, the mass properties of a body by raw moments, and its traceable().

#include <string>
#include <type_traits>

#include "math3d/math3d.hpp"
#include "vela/math/Errors.hpp"
#include "vela/math/modes.hpp"

namespace vela::math {

/// The mass properties of a body as raw moments about the origin of a
/// reference frame: the mass m = ∫dm, the first moments ∫(x, y, z) dm, the
/// second moments ∫(x², y², z²) dm and the products ∫(yz, zx, xy) dm.
///
/// Conventions: a product triple's component i belongs to the two axes other
/// than i, (yz, zx, xy). Moments of inertia are Ixx = ∫(y² + z²) dm and so on;
/// products of inertia are the inertia tensor's off-diagonal entries, the
/// negated product integrals (Ixy = -∫xy dm), in the same order. Central
/// quantities are derived on demand; divisions by the mass are guarded
/// (a zero mass gives 0).
///
/// The center is defined when the mass is not zero (NaN counts as not zero)
/// or the first moments vanish. Central queries and setters throw
/// CenterUndefined when it is not, and change nothing; division by a zero
/// scalar throws DivisionByZero. In Traced these checks throw only when a
/// constant decides them; otherwise the computation is recorded and its
/// guarded divisions keep the result finite for a zero mass.
template <class M>
class LumpedDistribution {
 public:
  using Real = Scalar<M>;                     ///< a value: double or TracedValue<double>
  using Bool = Boolean<M>;                    ///< a test's result
  using Vector = math3d::Vector3_T<M>;        ///< a triple of moments or coordinates
  using Transform = math3d::Transform3_T<M>;  ///< a rigid transform

  /// A central quantity was asked of a distribution without a center.
  class CenterUndefined : public CenterUndefinedError {
   public:
    /// "zeph CenterUndefined".
    const char* what() const noexcept override;
  };
  /// Division by a zero scalar.
  class DivisionByZero : public DivisionByZeroError {
   public:
    /// "zeph DivisionByZero".
    const char* what() const noexcept override;
  };

  /// Mass 0, all moments zero (a defined center at the origin).
  LumpedDistribution();
  /// The four raw moments, stored as given.
  LumpedDistribution(Real const& m, Vector const& firstMoments, Vector const& secondMoments,
                     Vector const& products);
  /// From mass properties: mass m, center c, moments of inertia I and products
  /// of inertia J about the center. The bool only selects this form. Throws
  /// CenterUndefined when m is zero and c is not.
  LumpedDistribution(bool, Real const& m, Vector const& c, Vector const& I, Vector const& J);
  /// Numeric: the traced distribution evaluated against the bindings
  /// (UnboundInput when an input has no value). Traced: ignores both
  /// arguments and gives the default distribution.
  LumpedDistribution(LumpedDistribution<Traced> const& traced, BindingSet const& bindings);

  /// The raw moments, read or stored as given (nothing is checked): the
  /// mass, the first moments, the second moments and the products, as in
  /// the class comment.
  ///@{
  Real const& zeroethMoment() const { return m0_; }
  void zeroethMoment(Real const& m) { m0_ = m; }
  Vector const& firstMoments() const { return m1_; }
  void firstMoments(Vector const& v) { m1_ = v; }
  Vector const& secondMoments() const { return m2_; }
  void secondMoments(Vector const& v) { m2_ = v; }
  Vector const& products() const { return p_; }
  void products(Vector const& v) { p_ = v; }
  ///@}

  /// The mass.
  Real const& total() const { return m0_; }
  /// Sets the mass to t keeping the center and the central moments and
  /// products (the first moments scale by t / m). When the stored mass or t is
  /// zero only the mass changes.
  void total(Real const& t);

  /// True when m is not zero (NaN included) or v is the zero vector.
  static Bool isCenterDefined(Real const& m, Vector const& v);
  /// Whether this distribution's center is defined.
  Bool isCenterDefined() const { return isCenterDefined(m0_, m1_); }

  /// Center of mass.
  Vector center() const;
  /// Moves the distribution so that its center is c, keeping its central
  /// moments and products. Throws CenterUndefined when the mass is zero and c
  /// is not.
  void center(Vector const& c);
  /// Moments of inertia about the center of mass.
  Vector centerMoments() const;
  /// Sets the second moments from moments of inertia I about the center.
  void centerMoments(Vector const& I);
  /// Products of inertia about the center of mass.
  Vector centerProducts() const;
  /// Sets the products from products of inertia J about the center.
  void centerProducts(Vector const& J);
  /// Each central moment is at most the sum of the other two.
  Bool isTriangleInequalitySatisfied() const;

  /// Principal moments of inertia (eigenvalues of the central inertia tensor,
  /// in the order compDiagonalization gives them).
  Vector principalMoments() const;
  /// From principal axes at the center of mass to the reference frame: its
  /// rotation's columns are the principal axes, its translation the center.
  Transform principalToReferenceTransform() const;
  /// As principalToReferenceTransform, or the identity when the center is
  /// undefined; never throws.
  Transform guardedPrincipalToReferenceTransform() const;

  /// The same body expressed in another frame: T maps this frame's
  /// coordinates x to R x + p.
  LumpedDistribution transform(Transform const& T) const;
  /// A volume distribution with every length multiplied by s: mass · s³,
  /// first moments · s⁴, second moments and products · s⁵.
  LumpedDistribution convertVolumeDistribution(Real const& s) const;

  /// Every moment negated; this very object (unary plus).
  ///@{
  LumpedDistribution operator-() const;
  LumpedDistribution const& operator+() const { return *this; }
  ///@}
  /// Sums and differences of the moments, member by member: the union of
  /// two bodies expressed in the same frame (or its removal).
  ///@{
  LumpedDistribution operator+(LumpedDistribution const& o) const;
  LumpedDistribution operator-(LumpedDistribution const& o) const;
  LumpedDistribution& operator+=(LumpedDistribution const& o);
  LumpedDistribution& operator-=(LumpedDistribution const& o);
  ///@}
  /// Every moment times s (a body of the same shape and s times the mass).
  ///@{
  LumpedDistribution operator*(Real const& s) const;
  LumpedDistribution& operator*=(Real const& s);
  friend LumpedDistribution operator*(Real const& s, LumpedDistribution const& d) { return d * s; }
  ///@}
  /// Multiplies by 1 / s; throws DivisionByZero for a zero s (either sign;
  /// in Traced a constant zero) before changing anything.
  ///@{
  LumpedDistribution operator/(Real const& s) const;
  LumpedDistribution& operator/=(Real const& s);
  ///@}

  /// All four members equal (a traced comparison in Traced).
  Bool operator==(LumpedDistribution const& o) const;
  /// The negation of ==.
  Bool operator!=(LumpedDistribution const& o) const;
  /// Equal numbers in Numeric, structurally equal graphs in Traced.
  bool isOperationallyEqual(LumpedDistribution const& o) const;

  /// "m0 = <m>;\nm1 = <first>;\nm2 = <second>;\np  = <products>;".
  std::string stringify() const;

 private:
  /// Principal moments and the principal-to-reference transform, unchecked.
  void compPrincipalRep_(Transform& T, Vector& principal) const;
  /// Throws CenterUndefined when the condition decides the center is undefined.
  static void requireCenter_(Bool const& defined);

  Real m0_{0.0};
  Vector m1_;
  Vector m2_;
  Vector p_;
};

/// A traced copy whose members are constants.
LumpedDistribution<Traced> traceable(LumpedDistribution<Numeric> const& d);

extern template class LumpedDistribution<Numeric>;
extern template class LumpedDistribution<Traced>;

}  // namespace vela::math

#pragma GCC visibility pop
