#include "kelm_math/comp_trace/CollectOp.hpp"

#include <stdexcept>

#include "ScalarNodes.hpp"
#include "kelm_math/comp_trace/CodeGeneration.hpp"

namespace kelm_math::comp_trace {
namespace {
template <class T>
std::vector<OperationPtr> nodesOf(unsigned n, TracedValue<T> const* values) {
  std::vector<OperationPtr> nodes;
  nodes.reserve(n);
  for (unsigned i = 0; i < n; ++i) nodes.push_back(values[i].operation());
  return nodes;
}
}  // namespace

CollectOp::CollectOp(unsigned n, TracedDouble const* values, std::string name)
    : VectorOperation(nodesOf(n, values)),
      type_(ScalarType::Double),
      n_(n),
      name_(std::move(name)) {
  ownKind(OwnKind::Collect);
}
CollectOp::CollectOp(unsigned n, TracedInt const* values, std::string name)
    : VectorOperation(nodesOf(n, values)), type_(ScalarType::Int), n_(n), name_(std::move(name)) {
  ownKind(OwnKind::Collect);
}
CollectOp::CollectOp(unsigned n, TracedBool const* values, std::string name)
    : VectorOperation(nodesOf(n, values)), type_(ScalarType::Bool), n_(n), name_(std::move(name)) {
  ownKind(OwnKind::Collect);
}

OperationPtr CollectOp::clone() const {
  return std::shared_ptr<CollectOp const>(new CollectOp(*this));
}

std::string CollectOp::description() const {
  return name_.empty() ? "Collect" : "Collect [" + name_ + "]";
}

int CollectOp::compare_(Operation const& other) const {
  auto const& o = detail::sameKindAs(*this, other);
  if (int c = detail::threeWay(static_cast<int>(type_), static_cast<int>(o.type_))) return c;
  if (int c = detail::threeWay(n_, o.n_)) return c;
  return detail::threeWay(name_, o.name_);
}

void CollectOp::evaluate(NodeValues& values) const {
  void* out = values.output(type_, n_);
  if (type_ == ScalarType::Double) {
    auto* d = static_cast<double*>(out);
    for (unsigned i = 0; i < n_; ++i) d[i] = values.scalar(i).doubleValue();
    return;
  }
  auto* k = static_cast<int*>(out);
  for (unsigned i = 0; i < n_; ++i) k[i] = values.scalar(i).intValue();
}

std::string CollectOp::generateCode(GenerateCodeVisitor& visitor) const {
  Slot slot = visitor.reserveOutputVector(*this, type_, n_);
  std::string code;
  for (unsigned i = 0; i < n_; ++i)
    code += visitor.codeLine(visitor.scratchpadAccess(slot, i) + " = " +
                             visitor.rawOpCode(input(i)) + ";");
  return code;
}

}  // namespace kelm_math::comp_trace
