// Sparse Jacobians: which variables reach each output, and seed compression
// by coloring, so that a Jacobian costs one sweep per group of columns that
// share no row (or of rows that share no column).

#include <algorithm>

#include "DerivativeGraph.hpp"
#include "ScalarRules.hpp"
#include "kelm_math/comp_trace/Derivatives.hpp"

namespace kelm_math::comp_trace {
namespace detail {
namespace {

constexpr std::uint32_t kNone = DerivativeGraph::kNone;

/// Ascending sets of variables, one shared by every node whose set is the
/// same as an input's (a chain holds one set, not one per node), each freed
/// once the last node that holds it has been read by all of its readers:
/// what is held at a time is the graph's frontier, not all of it.
class SetPool {
 public:
  std::vector<std::uint32_t> const& operator[](std::uint32_t id) const { return sets_[id]; }
  std::uint32_t make(std::vector<std::uint32_t> const& values) {
    std::uint32_t id;
    if (free_.empty()) {
      id = static_cast<std::uint32_t>(sets_.size());
      sets_.emplace_back();
      holders_.push_back(0);
    } else {
      id = free_.back();
      free_.pop_back();
    }
    sets_[id] = values;
    return id;
  }
  void hold(std::uint32_t id) { ++holders_[id]; }
  void release(std::uint32_t id) {
    if (--holders_[id] > 0) return;
    std::vector<std::uint32_t>().swap(sets_[id]);
    free_.push_back(id);
  }

 private:
  std::vector<std::vector<std::uint32_t>> sets_;
  std::vector<std::uint32_t> holders_, free_;
};

/// True when node p passes no derivative on, whatever its inputs'.
bool cutsPaths(DerivativeGraph const& g, std::size_t p) {
  auto const& info = g.info(p);
  if (info.kind != OwnKind::Function) return false;
  auto fn = static_cast<Fn>(info.fn);
  // An active sum, difference, product or negation is one of doubles.
  if (fn == Fn::Add || fn == Fn::Sub || fn == Fn::Mul || fn == Fn::Neg) return false;
  return ruleShape(fn, static_cast<ScalarType>(info.operand)) == RuleShape::Zero;
}

}  // namespace

std::vector<std::vector<std::uint32_t>> dependencies(DerivativeGraph const& g) {
  std::size_t const n = g.size();
  // Each node's set is dropped after its last reader; outputs count as
  // readers until the end.
  std::vector<std::uint32_t> readers(n, 0), setOf(n, kNone);
  for (std::size_t p = 0; p < n; ++p)
    for (std::size_t i = 0; i < g.inputCount(p); ++i) ++readers[g.input(p, i)];
  for (std::uint32_t root : g.roots()) ++readers[root];

  SetPool pool;
  std::vector<std::uint32_t> ids, merged;
  for (std::uint32_t p : g.order()) {
    std::uint32_t set = kNone;
    if (g.active(p) && g.variable(p) != kNone) {
      set = pool.make({g.variable(p)});
    } else if (g.active(p) && !cutsPaths(g, p)) {
      ids.clear();
      for (std::size_t i = 0; i < g.inputCount(p); ++i) {
        std::uint32_t id = setOf[g.input(p, i)];
        if (id != kNone && std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
      }
      if (ids.size() == 1) {
        set = ids[0];
      } else if (ids.size() > 1) {
        auto largest = *std::max_element(ids.begin(), ids.end(), [&](auto a, auto b) {
          return pool[a].size() < pool[b].size();
        });
        merged.clear();
        for (std::uint32_t id : ids) merged.insert(merged.end(), pool[id].begin(), pool[id].end());
        std::sort(merged.begin(), merged.end());
        merged.erase(std::unique(merged.begin(), merged.end()), merged.end());
        set = merged.size() == pool[largest].size() ? largest : pool.make(merged);
      }
    }
    if (set != kNone) {
      pool.hold(set);
      setOf[p] = set;
    }
    for (std::size_t i = 0; i < g.inputCount(p); ++i) {
      std::uint32_t q = g.input(p, i);
      if (--readers[q] == 0 && setOf[q] != kNone) pool.release(setOf[q]);
    }
  }
  std::vector<std::vector<std::uint32_t>> result;
  result.reserve(g.roots().size());
  for (std::uint32_t root : g.roots())
    result.push_back(setOf[root] == kNone ? std::vector<std::uint32_t>() : pool[setOf[root]]);
  return result;
}

namespace {

/// Compressed rows of a pattern read by columns: for each column, its rows
/// ascending.
void transposed(SparsityPattern const& rows, std::vector<std::size_t>& offsets,
                std::vector<std::size_t>& indices) {
  offsets.assign(rows.columns + 1, 0);
  for (std::size_t j : rows.indices) ++offsets[j + 1];
  for (std::size_t j = 0; j < rows.columns; ++j) offsets[j + 1] += offsets[j];
  indices.resize(rows.indices.size());
  std::vector<std::size_t> next(offsets.begin(), offsets.end() - 1);
  for (std::size_t i = 0; i < rows.rows; ++i)
    for (std::size_t k = rows.offsets[i]; k < rows.offsets[i + 1]; ++k)
      indices[next[rows.indices[k]]++] = i;
}

/// Greedy colors of items (columns, or rows) such that two items in one
/// group (a row, or a column) differ: item t's groups are
/// groups[groupsAt[t]...], group g's items items[itemsAt[g]...]. An item in
/// no group gets kNone: it needs no sweep. Returns the number of colors.
std::size_t colorItems(std::vector<std::size_t> const& groupsAt,
                       std::vector<std::size_t> const& groups,
                       std::vector<std::size_t> const& itemsAt,
                       std::vector<std::size_t> const& items, std::vector<std::uint32_t>& color) {
  std::size_t const count = groupsAt.size() - 1;
  color.assign(count, kNone);
  std::vector<std::size_t> takenBy;  // takenBy[c] == t + 1: a neighbour of t has color c
  std::size_t colors = 0;
  for (std::size_t t = 0; t < count; ++t) {
    if (groupsAt[t] == groupsAt[t + 1]) continue;
    for (std::size_t k = groupsAt[t]; k < groupsAt[t + 1]; ++k)
      for (std::size_t l = itemsAt[groups[k]]; l < itemsAt[groups[k] + 1]; ++l)
        if (color[items[l]] != kNone) takenBy[color[items[l]]] = t + 1;
    std::uint32_t c = 0;
    while (c < colors && takenBy[c] == t + 1) ++c;
    if (c == colors) {
      ++colors;
      takenBy.push_back(0);
    }
    color[t] = c;
  }
  return colors;
}

}  // namespace
}  // namespace detail

namespace {

SparsityPattern patternOf(detail::DerivativeGraph const& graph) {
  SparsityPattern pattern;
  pattern.rows = graph.roots().size();
  pattern.columns = graph.variableCount();
  pattern.offsets.reserve(pattern.rows + 1);
  for (auto const& row : detail::dependencies(graph)) {
    pattern.indices.insert(pattern.indices.end(), row.begin(), row.end());
    pattern.offsets.push_back(pattern.indices.size());
  }
  return pattern;
}

}  // namespace

SparsityPattern jacobianSparsity(std::vector<TracedDouble> const& outputs,
                                 std::vector<TracedDouble> const& inputs) {
  detail::DerivativeGraph graph(outputs, inputs);
  return patternOf(graph);
}

// Why a compressed entry has the bits of the dense sweep's: a forward sweep
// seeds 1 on every column of one color. The nodes from which a path that
// carries derivatives leads to output i depend only on the columns of row
// i, of which at most one, j, has that color; every other seeded column
// reaches row i not at all or only through a node that passes no derivative
// on (whose tangent is an exact zero either way). So the tangents that row
// i reads are the same expressions as in the sweep that seeds column j
// alone. In reverse, likewise: of the rows of one color only row i depends
// on column j, so no other seeded output's cotangent reaches a node between
// column j and output i, and j's cotangent sums the same terms in the same
// order as in the sweep that seeds row i alone. A kernel node counts all of
// its outputs as depending on all of its inputs, which can only add
// conflicts, never hide one.
SparseJacobian sparseJacobian(std::vector<TracedDouble> const& outputs,
                              std::vector<TracedDouble> const& inputs) {
  detail::DerivativeGraph graph(outputs, inputs);
  SparseJacobian result;
  SparsityPattern const& pattern = result.pattern = patternOf(graph);
  std::vector<std::size_t> byColumnAt, byColumn;
  detail::transposed(pattern, byColumnAt, byColumn);
  std::vector<std::uint32_t> columnColor, rowColor;
  std::size_t forwardSweeps =
      detail::colorItems(byColumnAt, byColumn, pattern.offsets, pattern.indices, columnColor);
  std::size_t reverseSweeps =
      detail::colorItems(pattern.offsets, pattern.indices, byColumnAt, byColumn, rowColor);
  result.forward = forwardSweeps <= reverseSweeps;
  result.sweeps = result.forward ? forwardSweeps : reverseSweeps;

  // The entries each sweep fills, by color.
  std::vector<std::vector<std::size_t>> entries(result.sweeps);
  std::vector<std::size_t> rowOf(pattern.indices.size());
  for (std::size_t i = 0; i < pattern.rows; ++i)
    for (std::size_t k = pattern.offsets[i]; k < pattern.offsets[i + 1]; ++k) {
      rowOf[k] = i;
      entries[result.forward ? columnColor[pattern.indices[k]] : rowColor[i]].push_back(k);
    }
  result.values.resize(pattern.indices.size());
  std::vector<std::uint32_t> const& color = result.forward ? columnColor : rowColor;
  std::vector<TracedDouble> seed(color.size());
  for (std::uint32_t c = 0; c < result.sweeps; ++c) {
    for (std::size_t t = 0; t < color.size(); ++t) seed[t] = color[t] == c ? 1.0 : 0.0;
    if (result.forward) {
      std::vector<TracedDouble> column = detail::forwardSweep(graph, seed);
      for (std::size_t k : entries[c]) result.values[k] = std::move(column[rowOf[k]]);
    } else {
      std::vector<TracedDouble> row = detail::reverseSweep(graph, seed);
      for (std::size_t k : entries[c]) result.values[k] = std::move(row[pattern.indices[k]]);
    }
  }
  return result;
}

std::vector<TracedDouble> jacobian(std::vector<TracedDouble> const& outputs,
                                   std::vector<TracedDouble> const& inputs) {
  SparseJacobian sparse = sparseJacobian(outputs, inputs);
  SparsityPattern const& pattern = sparse.pattern;
  std::vector<TracedDouble> result(pattern.rows * pattern.columns);
  for (std::size_t i = 0; i < pattern.rows; ++i)
    for (std::size_t k = pattern.offsets[i]; k < pattern.offsets[i + 1]; ++k)
      result[i * pattern.columns + pattern.indices[k]] = std::move(sparse.values[k]);
  return result;
}

}  // namespace kelm_math::comp_trace
