#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// Tape, a graph flattened once for repeated evaluation.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kelm_math/comp_trace/TracedValue.hpp"
#include "vela/Exception.hpp"

namespace kelm_math::comp_trace {

// Defined and used inside the library only.
#pragma GCC visibility push(hidden)
namespace detail {
struct TapeState;
struct Scratch;
}  // namespace detail
#pragma GCC visibility pop

/// A recorded computation flattened once for repeated evaluation: the
/// graph's nodes merged (equal nodes once) and in dependency order, with
/// their scratch slots assigned. Called like the generated C function:
/// in[i] is the input named inputNames[i] (an int input reads
/// vela_rt_d2i(in[i]), a bool input in[i] != 0), out[j] receives outputs[j];
/// the results are those of evaluation and of generated C, bit for bit.
/// Any output list works: empty, constants only, inputs themselves,
/// repeated values. in must hold inputCount() values and out
/// outputCount(); they may overlap, as every input is read before any output
/// is written.
///
/// The tape keeps what it needs of the graph alive; the caller may drop the
/// traced values. A call allocates nothing once its workspace has held the
/// largest outputs the kernels make (the first call, unless dynamic sizes
/// grow later). Calls from several threads at once: give each thread its own
/// Workspace (workspace()); the two-argument call uses the tape's own
/// workspace when it is free and a fresh one (which allocates) otherwise.
///
/// Moving a tape moves its computation: the moved-from tape reports 0 for
/// its counts and throws MovedFromTape when called.
class Tape {
 public:
  /// A call on a tape whose computation was moved to another tape.
  class MovedFromTape : public vela::Exception {
   public:
    /// A fixed text naming the class.
    const char* what() const noexcept override;
  };
  /// A call with a workspace whose scratch was moved to another workspace.
  class MovedFromWorkspace : public vela::Exception {
   public:
    /// A fixed text naming the class.
    const char* what() const noexcept override;
  };

  /// Scratch of one call at a time: registers and kernel output buffers.
  /// It belongs to the computation of the tape that made it and follows it
  /// when that tape is moved; once the computation is gone (its tape
  /// destroyed or assigned to) no tape accepts it.
  class Workspace {
   public:
    /// Movable, not copyable: the scratch moves, and a call given the
    /// moved-from workspace throws MovedFromWorkspace.
    ///@{
    Workspace(Workspace&&) noexcept;
    Workspace& operator=(Workspace&&) noexcept;
    ///@}
    ~Workspace();

   private:
    friend class Tape;
    Workspace(std::weak_ptr<detail::TapeState const> owner,
              std::unique_ptr<detail::Scratch> scratch);
    // Keeps its tape's control block, so no later tape can take its address.
    std::weak_ptr<detail::TapeState const> owner_;
    std::unique_ptr<detail::Scratch> scratch_;
  };

  /// Throws UnboundInput for an input of the graph missing from inputNames
  /// (as evaluation does for an unbound input), std::invalid_argument for an
  /// empty or repeated input name. Unused names are allowed.
  Tape(std::vector<std::string> const& inputNames, std::vector<TracedDouble> const& outputs);
  ~Tape();
  /// Movable, not copyable: the computation moves (see the class), and
  /// assignment ends the target's own computation.
  ///@{
  Tape(Tape&&) noexcept;
  Tape& operator=(Tape&&) noexcept;
  ///@}

  /// Number of inputs (the names given) and of outputs; 0 for a moved-from
  /// tape, as is stepCount().
  ///@{
  std::size_t inputCount() const;
  std::size_t outputCount() const;
  ///@}
  /// Scalar operations (steps) the tape runs per call, after merging.
  std::size_t stepCount() const;

  /// Evaluates the outputs for in[0 .. inputCount()) into out[0 .. outputCount()).
  /// MovedFromTape on a moved-from tape.
  void operator()(double const* in, double* out) const;
  /// The same with the caller's workspace; safe alongside other calls that
  /// use other workspaces. MovedFromTape on a moved-from tape,
  /// MovedFromWorkspace for a moved-from workspace, std::invalid_argument
  /// for a workspace of another computation.
  void operator()(double const* in, double* out, Workspace& workspace) const;
  /// Evaluates count instances at once, each bit for bit as a single call
  /// would. The arrays are structures of arrays: input i of instance k is
  /// in[i * count + k], output j of instance k goes to out[j * count + k],
  /// so each step runs as one loop over instances that the compiler
  /// vectorizes. in and out must not overlap (std::invalid_argument);
  /// count 0 does nothing. Allocates nothing once the workspace has run a
  /// batch (its first batch makes room for one block of instances).
  /// Workspaces and moved-from tapes as for a single call.
  ///@{
  void operator()(double const* in, double* out, std::size_t count) const;
  void operator()(double const* in, double* out, std::size_t count, Workspace& workspace) const;
  ///@}
  /// The same batch split into up to `threads` runs of instances (no more
  /// than the machine's cores), on the calling thread and the others
  /// started as std::threads for the call (0 or 1: the calling thread
  /// alone), each with scratch of its own that the tape keeps for later
  /// calls. Starting the threads allocates. An exception of any run is
  /// thrown once all have ended.
  void operator()(double const* in, double* out, std::size_t count, unsigned threads) const;
  /// A workspace sized for this tape. MovedFromTape on a moved-from tape.
  Workspace workspace() const;

 private:
  // The workspace's scratch, once it is known to be this tape's.
  detail::Scratch& scratchOf_(Workspace& workspace) const;
  std::shared_ptr<detail::TapeState> state_;
};

}  // namespace kelm_math::comp_trace

#pragma GCC visibility pop
