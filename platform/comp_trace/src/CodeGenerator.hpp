#pragma once

#include <cstdint>
#include <limits>
#include <memory>
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
/// long body divides into parts of bounded length. Each stage's tables are
/// dropped once no later stage reads them, and the body's text is copied
/// once, into a string of exactly the function's length.
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

  // A canonical node in 24 bytes: a million-node graph holds a million.
  // Its inputs are inputIds_[firstInput, the next node's firstInput).
  // Steps are canonical ids: nodes are written in id order.
  struct Node {
    Operation const* op = nullptr;
    std::uint32_t firstInput = 0;
    int lastUse = kNever;
    // By the kind of node, in the low bits of `bits`: a leaf (written
    // inline where used): link indexes its inline text in leafTexts_ once
    // written (kNoText before); an alias (a collect reusing storage of
    // another node): link is that node, the low bits its output; any other:
    // the low bits count its storages, one per output in output order, and
    // link is the only one or indexes the first in nodeStorages_ (a node
    // reserves only while it is written, so its entries are contiguous).
    mutable std::uint32_t link = 0;
    std::uint32_t bits = 0;

    bool leaf() const { return bits & kLeafBit; }
    bool alias() const { return bits & kAliasBit; }
    std::uint32_t low() const { return bits & kLowMask; }
  };
  static constexpr std::uint32_t kLeafBit = 0x80000000u;
  static constexpr std::uint32_t kAliasBit = 0x40000000u;
  static constexpr std::uint32_t kLowMask = 0x3fffffffu;
  static constexpr std::uint32_t kNoText = 0xffffffffu;
  // 12 bytes: a slot's count fits 30 bits (reserveOutput checks).
  struct Storage {
    std::uint32_t offset;
    std::uint32_t count : 30;
    std::uint32_t type : 2;
    int owner;

    Slot slot() const { return {static_cast<ScalarType>(type), offset, count}; }
  };
  static constexpr unsigned kLargestSlot = (1u << 30) - 1;
  // The body's text in blocks: no block is copied as the body grows.
  struct Block {
    std::unique_ptr<char[]> data;
    std::size_t size, capacity;
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

  // Canonical nodes by the hash of their class, fields and inputs, for
  // merging; linear probing finds every node of a hash without chains.
  class NodeTable;

  void collect_(std::vector<TracedDouble> const& outputs);
  int complete_(NodeTable& table, Operation const& op, int const* inputs, bool mapped);
  static bool onlyHere_(Operation const& parent, OperationPtr const& in);
  Slot outputSlotOf_(int id, unsigned output) const;
  std::uint32_t inputCount_(int id) const {
    std::size_t end = static_cast<std::size_t>(id) + 1 < nodes_.size() ? nodes_[id + 1].firstInput
                                                                       : inputIds_.size();
    return static_cast<std::uint32_t>(end - nodes_[id].firstInput);
  }
  int const* inputsOf_(int id) const { return inputIds_.data() + nodes_[id].firstInput; }
  bool canOverwriteId_(int input) const;
  void findAliases_();
  void computeLiveness_(std::vector<TracedDouble> const& outputs);
  void emit_(std::vector<TracedDouble> const& outputs);
  void append_(std::string const& text, unsigned uses);
  void write_(char const* text, std::size_t n);
  void copyBody_(std::string& text, std::size_t end);
  void dropTables_();
  Scratch layout_(std::size_t stackLimitBytes);
  std::string preamble_(std::string const& name, Scratch const& scratch) const;
  static std::string signature_(std::string const& name, Scratch const& scratch);
  std::string opening_(std::string const& name, Scratch const& scratch, unsigned uses) const;
  std::string partOpening_(std::string const& name, std::size_t k, Scratch const& scratch) const;
  std::string join_(std::string const& name, Scratch const& scratch, std::string const& preamble,
                    bool noOutputs);
  int id_(Operation const& op) const;
  int owner_(int id) const;      // the node whose storage id's value lives in
  int usedOwner_(int id) const;  // the node a read of id keeps alive; -1 for none
  void use_(int id, int step);
  void release_(int id);
  std::uint32_t const* storagesOf_(int id) const {
    Node const& n = nodes_[id];
    return n.low() == 1 ? &n.link : nodeStorages_.data() + n.link;
  }
  void addStorage_(int id, std::uint32_t sid);
  SlotPool& pool_(ScalarType type);

  InputPositions inputs_;
  std::vector<Node> nodes_;    // the canonical nodes: one per distinct computation
  std::vector<int> inputIds_;  // canonical ids
  PointerMap<int> ids_;        // every node of the graph that is asked about -> its canonical node
  std::size_t written_ = 0;    // canonical nodes with code
  std::vector<Storage> storages_;
  std::vector<std::uint32_t> nodeStorages_;
  // Texts of constants and inputs: each is formatted once, not at every use.
  mutable std::vector<std::string> leafTexts_;
  SlotPool doubles_;
  SlotPool ints_;
  std::size_t workBytes_ = 0;
  int step_ = -1;
  int current_ = -1;
  std::size_t lineLimit_ = 0;
  std::vector<Part> parts_;
  std::vector<Block> blocks_;
  std::size_t bodySize_ = 0;
  // Where copyBody_ stands: the body offset, its block and the offset in it.
  std::size_t copied_ = 0, block_ = 0, used_ = 0;
  std::size_t partLines_ = 0;
  unsigned partUses_ = 0;
  unsigned allUses_ = 0;
  mutable unsigned uses_ = 0;  // of the text being written
};

}  // namespace kelm_math::comp_trace::detail
