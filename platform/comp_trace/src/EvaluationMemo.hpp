#pragma once

#include <unordered_map>
#include <vector>

#include "kelm_math/comp_trace/Evaluation.hpp"

namespace kelm_math::comp_trace::detail {

/// Values of the nodes evaluated against one binding set. Entries keep their
/// node alive, so an address cannot be reused by another node meanwhile.
struct EvaluationMemo {
  struct Entry {
    OperationPtr keep;
    ScalarValue scalar;
    std::vector<VectorValue> vectors;
  };

  Entry const& evaluate(OperationPtr const& root, BindingSet const& bindings);
  Entry const& at(Operation const& op) const;

  std::unordered_map<Operation const*, Entry> entries;
};

}  // namespace kelm_math::comp_trace::detail
