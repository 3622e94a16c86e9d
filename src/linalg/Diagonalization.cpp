#include "kelm_math/lin_alg.h"
#include "linalg/Jacobi3Op.hpp"
#include "vela/math/dense_kernels.hpp"

namespace vela::math {

void compDiagonalization(math3d::Vector3_T<Numeric> const& d, math3d::Vector3_T<Numeric> const& o,
                         math3d::Vector3_T<Numeric>& principal, math3d::Quaternion_T<Numeric>& q) {
  double w[3];
  double V[9];
  kelm_math_lin_alg_jacobi3(d.values(), o.values(), w, V);
  int idx[3];
  math3d::Matrix3x3_T<Numeric> R = math3d::Matrix3x3_T<Numeric>(V, false).minRotation(idx);
  principal = math3d::Vector3_T<Numeric>(w[idx[0]], w[idx[1]], w[idx[2]]);
  q = math3d::Quaternion_T<Numeric>(R);
}

void compDiagonalization(math3d::Vector3_T<Traced> const& d, math3d::Vector3_T<Traced> const& o,
                         math3d::Vector3_T<Traced>& principal, math3d::Quaternion_T<Traced>& q) {
  double oc[3];
  bool oConstant = ct::getConstants(o.values(), 3, oc);
  if (oConstant && math3d::Vector3_T<Numeric>(oc).isZero()) {
    // Already diagonal: keep d's order and nodes, no rotation.
    principal = d;
    q = math3d::Quaternion_T<Traced>(1.0, 0.0, 0.0, 0.0);
    return;
  }
  double dc[3];
  if (oConstant && ct::getConstants(d.values(), 3, dc)) {
    math3d::Vector3_T<Numeric> p;
    math3d::Quaternion_T<Numeric> r;
    compDiagonalization(math3d::Vector3_T<Numeric>(dc), math3d::Vector3_T<Numeric>(oc), p, r);
    principal = math3d::traceable(p);
    q = math3d::traceable(r);
    return;
  }
  TracedValue<double> w[3];
  TracedValue<double> V[9];
  jacobi3(d.values(), o.values(), w, V);
  TracedValue<int> idx[3];
  math3d::Matrix3x3_T<Traced> R = math3d::Matrix3x3_T<Traced>(V, false).minRotation(idx);
  principal = math3d::Vector3_T<Traced>(
      ct::arrayAccess(w, 3, idx[0]), ct::arrayAccess(w, 3, idx[1]), ct::arrayAccess(w, 3, idx[2]));
  q = math3d::Quaternion_T<Traced>(R);
}

}  // namespace vela::math
