#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <unordered_map>
#include <vector>

#include "InputPositions.hpp"
#include "PointerMap.hpp"
#include "kelm_math/comp_trace/CodeGeneration.hpp"
#include "kelm_math/comp_trace/GenerateCFunction.hpp"
#include "kelm_math/comp_trace/TracedValue.hpp"

namespace kelm_math::comp_trace::detail {

/// First-fit allocator of scratchpad elements of one type; the lowest free
/// offset wins, so the layout depends on the graph alone.
class SlotPool {
 public:
  unsigned allocate(unsigned n);
  void release(unsigned offset, unsigned n);
  unsigned size() const { return size_; }

 private:
  struct Run {
    unsigned offset, length;
  };
  // Free runs by offset, coalesced. A sorted vector: the list is short, and
  // a map node per scalar made pools most of writing a long chain.
  std::vector<Run> free_;
  unsigned size_ = 0;
};

/// Turns a graph into one C function in stages: reachable nodes in input
/// order, merging of equal nodes, liveness, then slots and text, which a
/// long body divides into parts of bounded length.
class CodeGenerator {
 public:
  explicit CodeGenerator(std::vector<std::string> const& inputNames);
  GeneratedCode run(std::string const& functionName, std::vector<TracedDouble> const& outputs,
                    std::size_t stackLimitBytes, std::size_t bodyLineLimit);

  // The visitor's operations.
  Slot outputSlot(Operation const& op, unsigned output) const;
  Slot reserveOutput(Operation const& op, ScalarType type, unsigned n);
  bool canOverwrite(Operation const& input) const;
  Slot reserveOverwrite(Operation const& op, Slot const& inputSlot, unsigned n);
  Slot reserveTemporary(ScalarType type, unsigned n);
  void releaseTemporary(Slot const& slot);
  std::string access(Slot const& slot, unsigned index) const;
  std::string pointer(Slot const& slot) const;
  std::string rawOpCode(Operation const& op) const;
  unsigned inputIndex(std::string const& name) const;

 private:
  static constexpr int kNever = -1;
  // id_ finds the inputs of the node being written among its first
  // kDirectInputs inputs without the map.
  static constexpr std::size_t kDirectInputs = 4;
  static constexpr int kEnd = std::numeric_limits<int>::max();

  struct Node {
    Operation const* op = nullptr;
    std::uint32_t firstInput = 0;  // into inputIds_, canonical ids
    std::uint32_t inputCount = 0;
    bool leaf = false;  // written inline where used
    int aliasOf = -1;   // a collect reusing this node's storage
    unsigned aliasOutput = 0;
    int lastUse = kNever;
    mutable int text = -1;  // a constant's or input's inline text in leafTexts_, once written
    // Its storages, one per output in output order: entries
    // [firstStorage, firstStorage + storageCount) of nodeStorages_ (a node
    // reserves only while it is written, so its entries are contiguous).
    std::uint32_t firstStorage = 0;
    std::uint32_t storageCount = 0;
  };
  struct Storage {
    Slot slot;
    int owner;
  };
  // What a stretch of body text refers to, so that a part declares or
  // passes only that.
  enum Use : unsigned {
    kIn = 1,
    kOut = 2,
    kDoubles = 4,
    kInts = 8,
    kEmptyDoubles = 16,
    kEmptyInts = 32,
  };
  // A run of whole nodes' lines: the body text up to end.
  struct Part {
    std::size_t end;
    unsigned uses;
  };
  struct Scratch {
    std::size_t doubles;
    std::size_t ints;
    bool onStack;
  };

  void collect_(std::vector<TracedDouble> const& outputs);
  int complete_(Operation const& op, int const* inputs, bool mapped);
  static bool onlyHere_(Operation const& parent, OperationPtr const& in);
  Slot outputSlotOf_(int id, unsigned output) const;
  bool canOverwriteId_(int input) const;
  void findAliases_();
  void computeLiveness_(std::vector<TracedDouble> const& outputs);
  std::string emit_(std::vector<TracedDouble> const& outputs);
  void append_(std::string& body, std::string const& text, unsigned uses);
  Scratch layout_(std::size_t stackLimitBytes);
  std::string preamble_(std::string const& name, Scratch const& scratch) const;
  static std::string signature_(std::string const& name, Scratch const& scratch);
  std::string opening_(std::string const& name, Scratch const& scratch, unsigned uses) const;
  std::string split_(std::string const& name, Scratch const& scratch,
                     std::string const& body) const;
  int id_(Operation const& op) const;
  int owner_(int id) const;  // the node whose storage id's value lives in
  void use_(int id, int step);
  void release_(int id);
  int* storagesOf_(int id) { return nodeStorages_.data() + nodes_[id].firstStorage; }
  int const* storagesOf_(int id) const { return nodeStorages_.data() + nodes_[id].firstStorage; }
  void addStorage_(int id, int sid);
  SlotPool& pool_(ScalarType type);

  InputPositions inputs_;
  std::vector<Node> nodes_;  // the canonical nodes: one per distinct computation
  std::vector<int> inputIds_;
  PointerMap<int> ids_;  // every node of the graph -> its canonical node
  // Canonical nodes by key hash: the newest in heads_, older ones chained.
  PointerMap<int> heads_;
  std::vector<int> sameHash_;
  std::vector<int> order_;  // canonical nodes with code, in emission order
  // The nodes whose storage returns to the pools after step k:
  // releaseIds_[releaseStart_[k], releaseStart_[k + 1]).
  std::vector<std::uint32_t> releaseStart_;
  std::vector<int> releaseIds_;
  std::vector<Storage> storages_;
  std::vector<int> nodeStorages_;
  // Texts of constants and inputs: each is formatted once, not at every use.
  mutable std::vector<std::string> leafTexts_;
  SlotPool doubles_;
  SlotPool ints_;
  std::size_t workBytes_ = 0;
  int step_ = -1;
  int current_ = -1;
  std::size_t lineLimit_ = 0;
  std::vector<Part> parts_;
  std::size_t partLines_ = 0;
  unsigned partUses_ = 0;
  unsigned allUses_ = 0;
  mutable unsigned uses_ = 0;  // of the text being written
};

}  // namespace kelm_math::comp_trace::detail
