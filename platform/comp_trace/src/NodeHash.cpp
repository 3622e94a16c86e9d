#include "NodeHash.hpp"

#include <cstdint>
#include <cstring>
#include <functional>
#include <typeindex>

#include "ScalarNodes.hpp"

namespace kelm_math::comp_trace::detail {
namespace {

std::size_t ownFields(Operation const& op) {
  switch (op.ownKind()) {
    case OwnKind::Element: {
      auto const& e = static_cast<ElementOp const&>(op);
      return mixHash(e.index(), e.output());
    }
    case OwnKind::Constant: {
      auto const& v = static_cast<ConstantOp const&>(op).value();
      if (v.type() != ScalarType::Double) return std::hash<int>()(v.intValue());
      double d = v.doubleValue();
      std::uint64_t bits;
      std::memcpy(&bits, &d, sizeof bits);
      return std::hash<std::uint64_t>()(bits);
    }
    case OwnKind::Input: return std::hash<std::string>()(static_cast<InputOp const&>(op).name());
    case OwnKind::Function:
      return static_cast<std::size_t>(static_cast<FunctionOp const&>(op).fn());
    default: return 0;
  }
}

}  // namespace

std::size_t fieldHash(Operation const& op) {
  // The library's own classes are told apart by their kind; hashing a
  // type's name costs more than the rest of the node.
  std::size_t type = op.ownKind() == OwnKind::Other ? std::type_index(typeid(op)).hash_code()
                                                    : static_cast<std::size_t>(op.ownKind());
  return mixHash(type, ownFields(op));
}

}  // namespace kelm_math::comp_trace::detail
