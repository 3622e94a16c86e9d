#include <unordered_set>
#include <utility>

#include "NodeHash.hpp"
#include "Recording.hpp"

namespace kelm_math::comp_trace::detail {

bool operationallyEqual(Operation const& a, Operation const& b) {
  using Pair = std::pair<Operation const*, Operation const*>;
  struct PairHash {
    std::size_t operator()(Pair const& p) const {
      return std::hash<Operation const*>()(p.first) * 31u ^ std::hash<Operation const*>()(p.second);
    }
  };
  std::unordered_set<Pair, PairHash> seen;
  std::vector<Pair> stack{{&a, &b}};
  while (!stack.empty()) {
    auto [x, y] = stack.back();
    stack.pop_back();
    if (x == y || !seen.insert({x, y}).second) continue;
    if (!sameClass(*x, *y) || x->inputCount() != y->inputCount() || x->compare_(*y) != 0)
      return false;
    for (std::size_t i = 0; i < x->inputCount(); ++i)
      stack.push_back({x->input(i).get(), y->input(i).get()});
  }
  return true;
}

}  // namespace kelm_math::comp_trace::detail
