#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "kelm_math/comp_trace/Evaluation.hpp"

namespace kelm_math::comp_trace::detail {

/// Where each named input of a generated function or a tape is read: in[i]
/// is names[i]. std::invalid_argument for an empty or repeated name.
class InputPositions {
 public:
  explicit InputPositions(std::vector<std::string> const& names) {
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (names[i].empty()) throw std::invalid_argument("comp_trace: empty input name");
      if (!positions_.emplace(names[i], static_cast<std::uint32_t>(i)).second)
        throw std::invalid_argument("comp_trace: repeated input name: " + names[i]);
    }
  }

  /// The position of name; UnboundInput when it was not given.
  std::uint32_t at(std::string const& name) const {
    auto it = positions_.find(name);
    if (it == positions_.end()) throw UnboundInput(name);
    return it->second;
  }

 private:
  std::unordered_map<std::string, std::uint32_t> positions_;
};

}  // namespace kelm_math::comp_trace::detail
