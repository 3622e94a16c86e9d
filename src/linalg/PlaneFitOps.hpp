#pragma once

#include <string>
#include <tuple>

#include "frame/KernelOp.hpp"

namespace vela::math {

/// Least-squares plane through count points. Input: collect of the 3*count
/// coordinates. Outputs: the success flag (1 bool), the centroid and the unit
/// normal (3 doubles each; zeros after a failure). Derivatives are those of
/// the regression the fit solves, on the axis it chose; a failed fit has
/// zero derivatives.
struct BestFitPlane3D {
  unsigned long count;  // number of points

  auto fields() const { return std::tie(count); }
  std::string description() const { return "BestFitPlane3D"; }
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  void jvp(ct::ForwardArgs& d) const;
  void vjp(ct::ReverseArgs& d) const;
};

/// A curve normal of dim (2 or 3) values, replaced by a perpendicular of the
/// tangent when it is nearly zero. Inputs: collects of the tangent and the
/// normal; one output of dim doubles, written over the normal when allowed.
struct ValidNormal {
  unsigned long dim;

  auto fields() const { return std::tie(dim); }
  std::string description() const { return "ValidNormal"; }
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  void jvp(ct::ForwardArgs& d) const;
  void vjp(ct::ReverseArgs& d) const;
};

class BestFitPlane3dOp final : public frame::KernelOp<BestFitPlane3dOp, BestFitPlane3D> {
 public:
  using KernelOp::KernelOp;
  BestFitPlane3dOp(unsigned long count, ct::OperationPtr const& coordinates)
      : KernelOp({count}, {coordinates}) {}
};

class ValidNormalOp final : public frame::KernelOp<ValidNormalOp, ValidNormal> {
 public:
  using KernelOp::KernelOp;
  ValidNormalOp(unsigned long dim, ct::OperationPtr const& tangent, ct::OperationPtr const& normal)
      : KernelOp({dim}, {tangent, normal}) {}
};

}  // namespace vela::math
