#pragma once

// A vector node like a kernel's, for tests of the machinery around it:
// out[i] = in[i] + step over its one input's n elements (step alone without
// one), counting its evaluations. It updates its input in place when allowed,
// else copies it (memcpy); its lines, vectorAdd to zeroMajor on empty slots,
// use a temporary of n.

#include <memory>
#include <string>
#include <vector>

#include "kelm_math/comp_trace.hpp"

namespace shift_op {

namespace ct = kelm_math::comp_trace;

class ShiftOp final : public ct::VectorOperation {
 public:
  ShiftOp(unsigned n, int step, std::vector<ct::OperationPtr> in, int* evaluations)
      : ct::VectorOperation(std::move(in)), n_(n), step_(step), evaluations_(evaluations) {}
  ct::OperationPtr clone() const override { return std::make_shared<ShiftOp>(*this); }
  std::string description() const override { return "Shift"; }
  int compare_(ct::Operation const& other) const override {
    auto const& o = dynamic_cast<ShiftOp const&>(other);
    return n_ != o.n_ ? (n_ < o.n_ ? -1 : 1) : (step_ > o.step_) - (step_ < o.step_);
  }
  void evaluate(ct::NodeValues& values) const override {
    if (evaluations_) ++*evaluations_;
    auto* out = static_cast<double*>(values.output(ct::ScalarType::Double, n_));
    double const* in = nullptr;
    try {  // a missing input is refused, not read
      in = values.array(0).doubles();
    } catch (std::out_of_range const&) {
    }
    for (unsigned i = 0; i < n_; ++i) out[i] = (in ? in[i] : 0.0) + step_;
  }
  std::string generateCode(ct::GenerateCodeVisitor& v) const override {
    ct::TemporaryStorage tmp = v.reserveTemporarySlots(ct::ScalarType::Double, n_),
                         noInts = v.reserveTemporarySlots(ct::ScalarType::Int, 0),
                         noDoubles = v.reserveTemporarySlots(ct::ScalarType::Double, 0);
    std::string d = v.scratchpadPointerAccess(noDoubles.baseSlot()), in, code;
    code = v.codeLine("vectorAdd(0, " + d + ", " + d + ", " + d + ");");
    ct::Slot out;
    if (inputCount()) in = v.scratchpadPointerAccess(v.outputSlot(input(0), 0));
    if (inputCount() && v.canOverwriteVector(input(0))) {
      out = v.reserveOverwriteOutputVector(*this, v.outputSlot(input(0), 0), n_);
    } else {
      out = v.reserveOutputVector(*this, ct::ScalarType::Double, n_);
      if (inputCount())
        code += v.codeLine("memcpy(" + v.scratchpadPointerAccess(out) + ", " + in + ", " +
                           std::to_string(n_) + " * sizeof(double));");
    }
    for (unsigned i = 0; i < n_; ++i) {
      std::string t = v.scratchpadAccess(tmp.baseSlot(), i);
      code += v.codeLine(t + " = " + std::to_string(step_) + ".0;") +
              v.codeLine(v.scratchpadAccess(out, i) + (inputCount() ? " += " : " = ") + t + ";");
    }
    std::string ints = v.scratchpadPointerAccess(noInts.baseSlot());
    return code + v.codeLine("zeroMajor(0, 0, " + ints + ", " + d + ");");
  }

 private:
  unsigned n_;
  int step_, *evaluations_;
};

/// The n elements of a ShiftOp over values (no input when values is empty).
inline std::vector<ct::TracedDouble> shift(std::vector<ct::TracedDouble> const& values, int step,
                                           unsigned n = 0, int* evaluations = nullptr) {
  std::vector<ct::OperationPtr> in;
  if (!values.empty())
    in.push_back(std::make_shared<ct::CollectOp>(n = values.size(), values.data(), ""));
  std::vector<ct::TracedDouble> out(n);
  ct::TracedDouble::accessElements(std::make_shared<ShiftOp>(n, step, in, evaluations), 0, n,
                                   out.data());
  return out;
}

}  // namespace shift_op
