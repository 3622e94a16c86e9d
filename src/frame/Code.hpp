#pragma once

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "kelm_math/comp_trace/CodeGeneration.hpp"

namespace vela::math {
namespace ct = kelm_math::comp_trace;
}

namespace vela::math::frame {

/// Writes the C lines of one node: texts of its inputs, reservations of its
/// outputs in output order, and call lines NAME(arg, arg, ...);.
class Code {
 public:
  /// counts: the element count of each output as the node's computation
  /// makes it (outputCounts), or none when it is not known.
  Code(ct::GenerateCodeVisitor& visitor, ct::Operation const& node,
       std::optional<std::vector<std::size_t>> counts = std::nullopt)
      : visitor_(visitor), node_(node), counts_(std::move(counts)) {}

  /// rawOpCode text of scalar input i.
  std::string size(std::size_t i) const;
  /// Text of size input i as a size_t count for memcpy: a constant as "(3)",
  /// a computed size converted, "(size_t)(spi[2])" (sizes are clamped to
  /// zero or above, so the conversion keeps the value).
  std::string count(std::size_t i) const;
  /// Scratchpad pointer text of array input i.
  std::string array(std::size_t i) const;
  /// Reserves the next output, count fresh elements; its pointer text.
  /// Evaluation reads the elements past the output's actual count as zeros,
  /// where a call writes nothing: unless all count are known to be written,
  /// the line "memset(OUT, 0, COUNT * sizeof(double));" (or int) comes first.
  std::string output(ct::ScalarType type, unsigned count);
  /// Reserves the next output over array input i: in its storage when the
  /// node may overwrite it, else fresh, after the line
  /// "memcpy(OUT, IN, COUNT * sizeof(double));". Its pointer text.
  std::string inPlace(std::size_t i, unsigned count, std::string const& countText);
  /// The same, for a kernel that copies the leading part its size inputs
  /// give (COUNT is their product, "(3) * (4)" or "(size_t)(spi[2])"):
  /// evaluation copies all count elements, so when sizes may cover fewer,
  /// the line "memcpy(OUT + COUNT, IN + COUNT, (N - COUNT) * sizeof(double));"
  /// copies the rest.
  std::string inPlace(std::size_t i, unsigned count, std::initializer_list<std::size_t> sizes);
  /// Reserves the next output as one element of type; its access text, for
  /// vector nodes whose call returns a value (RES = NAME(...);).
  std::string outputValue(ct::ScalarType type);
  /// Reserves the one element of a scalar node, of its type; its access text.
  std::string scalarResult();
  /// Reserves count scratch elements for this node's lines only; their
  /// pointer text.
  std::string temporary(ct::ScalarType type, unsigned count);

  void line(std::string const& text);
  /// The line NAME(args[0], args[1], ...);
  void call(std::string const& name, std::initializer_list<std::string> args);
  /// The line RESULT = NAME(args...); of a scalar node.
  void assignCall(std::string const& name, std::initializer_list<std::string> args);
  /// The line RESULT = NAME(args...); for a result text of the caller's.
  void assignCall(std::string const& result, std::string const& name,
                  std::initializer_list<std::string> args);

  std::string const& text() const { return text_; }

  /// Decimal text of a size or count known when the code is written: the
  /// same in every locale.
  static std::string decimal(unsigned long long value);

 private:
  // The output over array input i, and whether it is fresh storage.
  std::pair<std::string, bool> inPlace_(std::size_t i, unsigned count,
                                        std::string const& countText);
  static std::string callText_(std::string const& name, std::initializer_list<std::string> args);

  ct::GenerateCodeVisitor& visitor_;
  ct::Operation const& node_;
  std::optional<std::vector<std::size_t>> counts_;
  std::size_t outputs_ = 0;  // reserved so far
  std::string text_;
  std::vector<ct::TemporaryStorage> temporaries_;  // held until the node's lines are written
};

class Args;

/// Runs a node's computation to learn its outputs' element counts, which
/// depend on its int inputs alone: none when one of them is computed;
/// otherwise compute(kernel, args) runs on their constant values, with
/// doubles 0 and arrays of zeros as long as their storage.
std::optional<std::vector<std::size_t>> outputCounts(ct::GenerateCodeVisitor const& visitor,
                                                     ct::Operation const& node,
                                                     void (*compute)(void const* kernel, Args&),
                                                     void const* kernel);

}  // namespace vela::math::frame
