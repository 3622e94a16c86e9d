#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// GenerateCodeVisitor, through which a node writes its lines of C, and the scratchpad slots it
/// hands out.

#include <string>
#include <vector>

#include "kelm_math/comp_trace/Operation.hpp"

namespace kelm_math::comp_trace {

// Defined and used inside the library only.
#pragma GCC visibility push(hidden)
namespace detail {
class CodeGenerator;
}
#pragma GCC visibility pop

/// A run of scratchpad elements of one type.
struct Slot {
  ScalarType type = ScalarType::Double;  ///< Double: in `spd`; Int or Bool: in `spi`.
  unsigned offset = 0;                   ///< Index of the first element in its scratchpad.
  unsigned count = 0;                    ///< Number of elements.
};

/// Scratchpad elements reserved for the duration of one node's code; they
/// are released when this object goes out of scope.
class TemporaryStorage {
 public:
  /// Movable, not copyable or assignable: the elements are released once,
  /// by the object that holds them last.
  TemporaryStorage(TemporaryStorage&& other) noexcept;
  TemporaryStorage& operator=(TemporaryStorage&&) = delete;
  TemporaryStorage(TemporaryStorage const&) = delete;
  ~TemporaryStorage();
  /// The reserved elements.
  Slot const& baseSlot() const { return slot_; }

 private:
  friend class GenerateCodeVisitor;
  TemporaryStorage(detail::CodeGenerator* generator, Slot slot)
      : generator_(generator), slot_(slot) {}
  detail::CodeGenerator* generator_;
  Slot slot_;
};

/// What a node sees while it writes its C lines: the storage of its inputs,
/// reservations for its outputs, and the text of scratchpad accesses.
/// Scratchpads are the arrays `spd` (double) and `spi` (int and bool).
class GenerateCodeVisitor {
 public:
  /// Storage of output `output` of a node written earlier;
  /// std::logic_error when that output is not written yet.
  ///@{
  Slot outputSlot(Operation const& op, unsigned output) const;
  Slot outputSlot(OperationPtr const& op, unsigned output) const { return outputSlot(*op, output); }
  ///@}
  /// Reserves the next output of op: n fresh elements of the type.
  Slot reserveOutputVector(Operation const& op, ScalarType type, unsigned n);
  /// True when the asking node is the last reader of this input's storage
  /// and reads it through no other input, so the node may write over it.
  ///@{
  bool canOverwriteVector(Operation const& input) const;
  bool canOverwriteVector(OperationPtr const& input) const { return canOverwriteVector(*input); }
  ///@}
  /// Reserves the next output of op in the storage of inputSlot, which the
  /// node may overwrite (canOverwriteVector); std::logic_error otherwise.
  Slot reserveOverwriteOutputVector(Operation const& op, Slot const& inputSlot, unsigned n);
  /// Reserves n elements of the type for the node's own use while it
  /// writes its lines; they are free again once the result is destroyed.
  TemporaryStorage reserveTemporarySlots(ScalarType type, unsigned n);

  /// C text of element `index` of a slot, such as "spd[12]".
  std::string scratchpadAccess(Slot const& slot, unsigned index = 0) const;
  /// C text of the address of a slot's first element, such as "&spd[12]".
  /// An empty slot gets the address of a zeroed element of its own.
  std::string scratchpadPointerAccess(Slot const& slot) const;
  /// C expression of a scalar node's value; std::logic_error for a vector
  /// node.
  ///@{
  std::string rawOpCode(ScalarOperation const& op) const;
  std::string rawOpCode(OperationPtr const& op) const;
  ///@}
  /// Position in in[] of the named input; UnboundInput when it has none.
  unsigned inputIndex(std::string const& name) const;
  /// One line of the function body.
  std::string codeLine(std::string const& text) const;
  /// The same, reusing text's storage.
  std::string codeLine(std::string&& text) const;

 private:
  friend class detail::CodeGenerator;
  explicit GenerateCodeVisitor(detail::CodeGenerator& generator) : generator_(generator) {}
  detail::CodeGenerator& generator_;
};

}  // namespace kelm_math::comp_trace

#pragma GCC visibility pop
