#include "CodeGenerator.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <typeindex>
#include <unordered_set>

#include "FunctionName.hpp"
#include "NodeHash.hpp"
#include "PodArray.hpp"
#include "ScalarNodes.hpp"
#include "kelm_math/comp_trace/CollectOp.hpp"
#include "kelm_math/comp_trace/GenerateCFunction.hpp"
#include "vela/NumberText.hpp"

namespace kelm_math::comp_trace {
namespace detail {
namespace {
// "prefix" + index + "]" in one piece: every scratch access of every line.
std::string element(char const* prefix, unsigned index) {
  char buffer[32];
  std::size_t n = std::strlen(prefix);
  std::memcpy(buffer, prefix, n);
  char* end = std::to_chars(buffer + n, buffer + sizeof buffer - 1, index).ptr;
  *end++ = ']';
  return std::string(buffer, end);
}
}  // namespace

// First fit from the lowest offset; a run that ends at the top is absorbed
// when the pool grows.
unsigned SlotPool::allocate(unsigned n) {
  for (auto it = free_.begin(); it != free_.end(); ++it) {
    if (it->length < n) continue;
    unsigned offset = it->offset;
    if (it->length > n) {
      it->offset += n;
      it->length -= n;
    } else {
      free_.erase(it);
    }
    return offset;
  }
  unsigned offset = size_;
  if (!free_.empty() && free_.back().offset + free_.back().length == size_) {
    offset = free_.back().offset;
    free_.pop_back();
  }
  size_ = offset + n;
  return offset;
}

void SlotPool::release(unsigned offset, unsigned n) {
  if (n == 0) return;
  auto next = std::lower_bound(free_.begin(), free_.end(), offset,
                               [](Run const& r, unsigned o) { return r.offset < o; });
  bool joinsNext = next != free_.end() && offset + n == next->offset;
  bool joinsPrev =
      next != free_.begin() && std::prev(next)->offset + std::prev(next)->length == offset;
  if (joinsPrev && joinsNext) {
    std::prev(next)->length += n + next->length;
    free_.erase(next);
  } else if (joinsPrev) {
    std::prev(next)->length += n;
  } else if (joinsNext) {
    next->offset = offset;
    next->length += n;
  } else {
    free_.insert(next, Run{offset, n});
  }
}

CodeGenerator::CodeGenerator(std::vector<std::string> const& inputNames) : inputs_(inputNames) {}

// Entries of 8 bytes: 32 bits of the hash (enough to place an entry again
// when the table grows) and the id; up to three quarters full.
class CodeGenerator::NodeTable {
 public:
  struct Entry {
    std::uint32_t hash;
    int id;  // -1: empty
  };

  static std::uint32_t fold(std::size_t h) {
    auto bits = static_cast<std::uint64_t>(h);
    return static_cast<std::uint32_t>(bits ^ (bits >> 32));
  }

  /// The first entry to probe for hash.
  std::size_t home(std::uint32_t hash) const {
    return static_cast<std::size_t>((hash * 0x9e3779b97f4a7c15ull) >> shift_);
  }
  std::size_t next(std::size_t i) const { return (i + 1) & mask_; }
  Entry const& at(std::size_t i) const { return entries_[i]; }
  bool empty() const { return entries_.empty(); }

  void insert(std::uint32_t hash, int id) {
    if ((size_ + 1) * 4 > entries_.size() * 3) grow_();
    std::size_t i = home(hash);
    while (entries_[i].id >= 0) i = next(i);
    entries_[i] = {hash, id};
    ++size_;
  }

 private:
  void grow_() {
    std::vector<Entry> old = std::move(entries_);
    entries_.assign(old.empty() ? 64 : old.size() * 2, Entry{0, -1});
    mask_ = entries_.size() - 1;
    shift_ = 64;
    for (std::size_t n = entries_.size(); n > 1; n >>= 1) --shift_;
    size_ = 0;
    for (Entry const& e : old)
      if (e.id >= 0) insert(e.hash, e.id);
  }

  std::vector<Entry> entries_;
  std::size_t mask_ = 0;
  unsigned shift_ = 64;
  std::size_t size_ = 0;
};

// Post-order without recursion. The canonical ids of a node's inputs
// gather in `pending` in input order, so completing it looks nothing up;
// leaves are completed where they are met.
void CodeGenerator::collect_(std::vector<TracedDouble> const& outputs) {
  constexpr std::uint32_t kMapped = 0x80000000u;
  struct Frame {
    Operation const* op;
    std::uint32_t next;
    std::uint32_t firstPending;  // the top bit: the node goes into the map
  };
  NodeTable table;  // needed by this stage only
  PodArray<Frame> stack;
  PodArray<int> pending;
  for (auto const& output : outputs) {
    if (output.isConstant()) continue;
    ScalarOperationPtr root = output.operation();
    if (ids_.find(root.get())) continue;
    stack.push({root.get(), 0, kMapped});
    pending.truncate(0);
    while (!stack.empty()) {
      Frame& top = stack.back();
      if (top.next < top.op->inputCount()) {
        OperationPtr const& in = top.op->inputs()[top.next++];
        bool mapped = !onlyHere_(*top.op, in);
        if (int const* known = mapped ? ids_.find(in.get()) : nullptr)
          pending.push(*known);
        else if (in->inputCount() == 0)
          pending.push(complete_(table, *in, nullptr, mapped));
        else
          stack.push(
              {in.get(), 0, static_cast<std::uint32_t>(pending.size()) | (mapped ? kMapped : 0u)});
        continue;
      }
      Frame done = top;
      stack.pop();
      std::uint32_t first = done.firstPending & ~kMapped;
      int id =
          complete_(table, *done.op, pending.data() + first, (done.firstPending & kMapped) != 0);
      pending.truncate(first);
      pending.push(id);
    }
  }
}

// A node held by its parent alone is met once, and asked about only while
// the parent is written, among its first few inputs: it stays out of the
// map. That holds for scalar leaves under any such parent, and for any node
// under a function (whose text reads its direct inputs only). A vector node
// is read through its element reads, while their reader is written: it stays.
bool CodeGenerator::onlyHere_(Operation const& parent, OperationPtr const& in) {
  if (in.use_count() != 1 || parent.inputCount() > kDirectInputs) return false;
  return (in->inputCount() == 0 && in->isScalar()) || parent.ownKind() == OwnKind::Function;
}

// The node's canonical id: an equal node met before (same class, fields and
// canonical inputs), or a new node. Only canonical nodes are kept.
int CodeGenerator::complete_(NodeTable& table, Operation const& op, int const* inputs,
                             bool mapped) {
  std::uint32_t count = static_cast<std::uint32_t>(op.inputCount());
  std::size_t h = fieldHash(op);
  for (std::uint32_t i = 0; i < count; ++i) h = mixHash(h, inputs[i]);
  std::uint32_t hash = NodeTable::fold(h);
  if (!table.empty()) {
    for (std::size_t i = table.home(hash);; i = table.next(i)) {
      NodeTable::Entry const& e = table.at(i);
      if (e.id < 0) break;
      if (e.hash != hash) continue;
      Node const& other = nodes_[e.id];
      if (inputCount_(e.id) == count && sameClass(*other.op, op) &&
          std::equal(inputs, inputs + count, inputIds_.begin() + other.firstInput) &&
          other.op->compare_(op) == 0) {
        if (mapped) ids_.insert(&op, e.id);
        return e.id;
      }
    }
  }
  int id = static_cast<int>(nodes_.size());
  Node& node = nodes_.emplace_back();
  node.op = &op;
  node.firstInput = static_cast<std::uint32_t>(inputIds_.size());
  if (op.isScalar() && static_cast<ScalarOperation const&>(op).isAlwaysSimple()) {
    node.bits = kLeafBit;
    node.link = kNoText;
  }
  inputIds_.insert(inputIds_.end(), inputs, inputs + count);
  table.insert(hash, id);
  if (mapped) ids_.insert(&op, id);
  return id;
}

void CodeGenerator::findAliases_() {
  for (std::size_t id = 0; id < nodes_.size(); ++id) {
    Node& n = nodes_[id];
    std::uint32_t count = inputCount_(static_cast<int>(id));
    if (n.op->ownKind() != OwnKind::Collect || count == 0) continue;
    auto const& collect = static_cast<CollectOp const&>(*n.op);
    int source = -1;
    unsigned output = 0;
    bool alias = true;
    for (std::size_t i = 0; i < count && alias; ++i) {
      Node const& in = nodes_[inputIds_[n.firstInput + i]];
      if (in.op->ownKind() != OwnKind::Element) {
        alias = false;
        break;
      }
      auto const& element = static_cast<ElementOp const&>(*in.op);
      int from = inputIds_[in.firstInput];
      if (i == 0) {
        source = from;
        output = element.output();
      }
      alias = from == source && element.output() == output && element.index() == i &&
              element.scalarType() == collect.elementType();
    }
    if (alias) {
      if (output > kLowMask) throw std::length_error("comp_trace: too many outputs");
      n.bits |= kAliasBit | output;
      n.link = static_cast<std::uint32_t>(source);
    }
  }
}

int CodeGenerator::owner_(int id) const {
  while (nodes_[id].alias()) id = static_cast<int>(nodes_[id].link);
  return id;
}

int CodeGenerator::usedOwner_(int id) const {
  Node const& n = nodes_[id];
  if (n.leaf()) {
    // An element read is a read of its source, wherever it is written inline.
    return n.op->ownKind() == OwnKind::Element ? usedOwner_(inputIds_[n.firstInput]) : -1;
  }
  return owner_(id);
}

void CodeGenerator::use_(int id, int step) {
  int owner = usedOwner_(id);
  if (owner >= 0) nodes_[owner].lastUse = std::max(nodes_[owner].lastUse, step);
}

// A node's storage returns to the pools after the step of its last
// reader, found again then among that reader's inputs: no release lists.
void CodeGenerator::computeLiveness_(std::vector<TracedDouble> const& outputs) {
  for (std::size_t id = 0; id < nodes_.size(); ++id) {
    Node const& n = nodes_[id];
    if (n.leaf()) continue;
    ++written_;
    if (n.alias()) continue;
    int const* inputs = inputsOf_(static_cast<int>(id));
    for (std::uint32_t i = 0, count = inputCount_(static_cast<int>(id)); i < count; ++i)
      use_(inputs[i], static_cast<int>(id));
  }
  for (auto const& output : outputs)
    if (!output.isConstant()) use_(*ids_.find(output.operation().get()), kEnd);
  // Most nodes reserve one storage: sized once, the list never regrows.
  storages_.reserve(written_);
}

void CodeGenerator::emit_(std::vector<TracedDouble> const& outputs) {
  GenerateCodeVisitor visitor(*this);
  for (std::size_t id = 0; id < nodes_.size(); ++id) {
    Node const& n = nodes_[id];
    if (n.leaf()) continue;
    step_ = current_ = static_cast<int>(id);
    if (n.alias()) continue;
    uses_ = 0;
    std::string text = n.op->generateCode(visitor);
    append_(text, uses_);
    int const* inputs = inputsOf_(current_);
    for (std::uint32_t i = 0, count = inputCount_(current_); i < count; ++i) {
      int owner = usedOwner_(inputs[i]);
      if (owner >= 0 && nodes_[owner].lastUse == step_) release_(owner);
    }
    if (n.lastUse == kNever) release_(current_);
  }
  current_ = -1;
  for (std::size_t j = 0; j < outputs.size(); ++j) {
    uses_ = 0;
    double constant = 0.0;
    std::string value = outputs[j].getConstant(constant) ? literal(ScalarValue(constant))
                                                         : rawOpCode(*outputs[j].operation());
    append_(visitor.codeLine("out[" + vela::decimalText(j) + "] = " + value + ";"), uses_ | kOut);
  }
  parts_.push_back({bodySize_, partUses_});
}

// Parts are filled greedily and close only between nodes.
void CodeGenerator::append_(std::string const& text, unsigned uses) {
  std::size_t lines = 0;
  for (char const *p = text.data(), *end = p + text.size();
       (p = static_cast<char const*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)))); ++p)
    ++lines;
  if (lineLimit_ > 0 && lines > 0 && partLines_ > 0 && partLines_ + lines > lineLimit_) {
    parts_.push_back({bodySize_, partUses_});
    partLines_ = 0;
    partUses_ = 0;
  }
  write_(text.data(), text.size());
  partLines_ += lines;
  partUses_ |= uses;
  allUses_ |= uses;
}

// Blocks grow with the body up to a size past which the slack of the last
// one no longer matters.
void CodeGenerator::write_(char const* text, std::size_t n) {
  constexpr std::size_t kFirstBlock = 4096, kLargestBlock = 1 << 16;
  while (n > 0) {
    if (blocks_.empty() || blocks_.back().size == blocks_.back().capacity) {
      std::size_t capacity = std::clamp(bodySize_, kFirstBlock, kLargestBlock);
      blocks_.push_back({std::unique_ptr<char[]>(new char[capacity]), 0, capacity});
    }
    Block& b = blocks_.back();
    std::size_t k = std::min(n, b.capacity - b.size);
    std::memcpy(b.data.get() + b.size, text, k);
    b.size += k;
    bodySize_ += k;
    text += k;
    n -= k;
  }
}

// Appends the body up to offset end, freeing each block once it is copied
// whole. Offsets below the last call's end have been copied already.
void CodeGenerator::copyBody_(std::string& text, std::size_t end) {
  while (copied_ < end) {
    Block& b = blocks_[block_];
    std::size_t k = std::min(end - copied_, b.size - used_);
    text.append(b.data.get() + used_, k);
    used_ += k;
    copied_ += k;
    if (used_ == b.size) {
      b.data.reset();
      ++block_;
      used_ = 0;
    }
  }
}

void CodeGenerator::release_(int id) {
  std::uint32_t count = nodes_[id].low();
  for (std::uint32_t k = 0; k < count; ++k) {
    Storage& s = storages_[storagesOf_(id)[k]];
    if (s.owner != id) continue;
    pool_(static_cast<ScalarType>(s.type)).release(s.offset, s.count);
    s.owner = -1;
  }
}

void CodeGenerator::addStorage_(int id, std::uint32_t sid) {
  Node& n = nodes_[id];
  std::uint32_t count = n.low();
  if (count == 1) {
    // A second storage: the first moves to the list.
    std::uint32_t first = n.link;
    n.link = static_cast<std::uint32_t>(nodeStorages_.size());
    nodeStorages_.push_back(first);
  } else if (count > 1 && n.link + count != nodeStorages_.size()) {
    throw std::logic_error("comp_trace: a node reserves only while it is written");
  }
  if (count == 0)
    n.link = sid;
  else
    nodeStorages_.push_back(sid);
  ++n.bits;
}

SlotPool& CodeGenerator::pool_(ScalarType type) {
  return type == ScalarType::Double ? doubles_ : ints_;
}

int CodeGenerator::id_(Operation const& op) const {
  // Nearly every question is about the node being written or one of its
  // few inputs: answer those without a probe into the map.
  if (current_ >= 0) {
    Node const& n = nodes_[current_];
    if (n.op == &op) return current_;
    if (n.op->inputCount() <= kDirectInputs) {
      InputList inputs = n.op->inputs();
      for (std::size_t i = 0; i < inputs.size(); ++i)
        if (inputs[i].get() == &op) return inputIds_[n.firstInput + i];
    }
  }
  int const* it = ids_.find(&op);
  if (!it) throw std::logic_error("comp_trace: node is not part of this graph");
  return *it;
}

Slot CodeGenerator::outputSlot(Operation const& op, unsigned output) const {
  return outputSlotOf_(id_(op), output);
}

// By id: a canonical node's op may be one the map does not hold.
Slot CodeGenerator::outputSlotOf_(int id, unsigned output) const {
  Node const& n = nodes_[id];
  if (n.alias()) return outputSlotOf_(static_cast<int>(n.link), n.low());
  if (output >= n.low())
    throw std::logic_error("comp_trace: output read before it was written: " + n.op->description());
  return storages_[storagesOf_(id)[output]].slot();
}

Slot CodeGenerator::reserveOutput(Operation const& op, ScalarType type, unsigned n) {
  int id = id_(op);
  if (id != current_) throw std::logic_error("comp_trace: a node reserves only its own outputs");
  if (n > kLargestSlot) throw std::length_error("comp_trace: vector too long for a slot");
  Slot slot{type, pool_(type).allocate(n), n};
  auto sid = static_cast<std::uint32_t>(storages_.size());
  storages_.push_back({slot.offset, n, static_cast<std::uint32_t>(type), id});
  addStorage_(id, sid);
  return slot;
}

bool CodeGenerator::canOverwrite(Operation const& input) const {
  return current_ >= 0 && canOverwriteId_(id_(input));
}

bool CodeGenerator::canOverwriteId_(int input) const {
  int owner = owner_(input);
  Node const& o = nodes_[owner];
  if (o.leaf() || o.lastUse != step_) return false;
  for (std::uint32_t k = 0; k < o.low(); ++k)
    if (storages_[storagesOf_(owner)[k]].owner != owner) return false;
  int const* inputs = inputsOf_(current_);
  int readers = 0;
  for (std::uint32_t i = 0, count = inputCount_(current_); i < count; ++i) {
    int in = inputs[i];
    if (!nodes_[in].leaf() && owner_(in) == owner) ++readers;
  }
  return readers == 1;
}

Slot CodeGenerator::reserveOverwrite(Operation const& op, Slot const& inputSlot, unsigned n) {
  int id = id_(op);
  if (id != current_) throw std::logic_error("comp_trace: a node reserves only its own outputs");
  // The storage is one that an input of this node owns; offsets alone are
  // ambiguous, as empty slots share them.
  Node const& node = nodes_[id];
  int const* inputs = inputsOf_(id);
  for (std::uint32_t i = 0, count = inputCount_(id); i < count; ++i) {
    int owner = owner_(inputs[i]);
    if (nodes_[owner].leaf()) continue;
    for (std::uint32_t k = 0; k < nodes_[owner].low(); ++k) {
      std::uint32_t sid = storagesOf_(owner)[k];
      Storage& s = storages_[sid];
      if (s.owner != owner || static_cast<ScalarType>(s.type) != inputSlot.type ||
          s.offset != inputSlot.offset || s.count < n || !canOverwriteId_(owner))
        continue;
      s.owner = id;
      addStorage_(id, sid);
      return {inputSlot.type, s.offset, n};
    }
  }
  throw std::logic_error("comp_trace: storage may not be overwritten by " + node.op->description());
}

Slot CodeGenerator::reserveTemporary(ScalarType type, unsigned n) {
  return {type, pool_(type).allocate(n), n};
}

void CodeGenerator::releaseTemporary(Slot const& slot) {
  pool_(slot.type).release(slot.offset, slot.count);
}

std::string CodeGenerator::access(Slot const& slot, unsigned index) const {
  if (index >= slot.count) throw std::logic_error("comp_trace: scratchpad access past its slot");
  bool isDouble = slot.type == ScalarType::Double;
  uses_ |= isDouble ? kDoubles : kInts;
  return element(isDouble ? "spd[" : "spi[", slot.offset + index);
}

std::string CodeGenerator::pointer(Slot const& slot) const {
  bool isDouble = slot.type == ScalarType::Double;
  // An empty vector still needs a pointer, and one into scratch that nothing
  // wrote makes compilers warn about reading it uninitialized.
  if (slot.count == 0) {
    uses_ |= isDouble ? kEmptyDoubles : kEmptyInts;
    return isDouble ? "&spd_empty[0]" : "&spi_empty[0]";
  }
  uses_ |= isDouble ? kDoubles : kInts;
  return element(isDouble ? "&spd[" : "&spi[", slot.offset);
}

std::string CodeGenerator::rawOpCode(Operation const& op) const {
  if (!op.isScalar()) throw std::logic_error("comp_trace: rawOpCode of a vector node");
  int id = id_(op);
  Node const& n = nodes_[id];
  if (n.leaf()) {
    OwnKind kind = n.op->ownKind();
    if (n.link != kNoText) {
      if (kind == OwnKind::Input) uses_ |= kIn;
      return leafTexts_[n.link];
    }
    GenerateCodeVisitor visitor(const_cast<CodeGenerator&>(*this));
    std::string text = static_cast<ScalarOperation const&>(*n.op).inlineCode(visitor);
    if (kind == OwnKind::Constant || kind == OwnKind::Input) {
      n.link = static_cast<std::uint32_t>(leafTexts_.size());
      leafTexts_.push_back(text);
    }
    return text;
  }
  return access(outputSlotOf_(id, 0), 0);
}

unsigned CodeGenerator::inputIndex(std::string const& name) const {
  unsigned index = inputs_.at(name);
  uses_ |= kIn;
  return index;
}

GeneratedCode CodeGenerator::run(std::string const& functionName,
                                 std::vector<TracedDouble> const& outputs,
                                 std::size_t stackLimitBytes, std::size_t bodyLineLimit) {
  checkFunctionName(functionName);
  lineLimit_ = bodyLineLimit;
  collect_(outputs);
  // Exact sizes where doubling left much unused: these live to the end.
  if (nodes_.capacity() - nodes_.size() > nodes_.size() / 8) nodes_.shrink_to_fit();
  if (inputIds_.capacity() - inputIds_.size() > inputIds_.size() / 8) inputIds_.shrink_to_fit();
  findAliases_();
  computeLiveness_(outputs);
  emit_(outputs);
  dropTables_();
  Scratch scratch = layout_(stackLimitBytes);
  return {join_(functionName, scratch, preamble_(functionName, scratch), outputs.empty()),
          workBytes_};
}

// What only writing the body reads: gone before the text is joined, which
// holds the body twice.
void CodeGenerator::dropTables_() {
  // Assigning {} would keep the capacity.
  nodes_ = std::vector<Node>();
  inputIds_ = std::vector<int>();
  ids_ = PointerMap<int>();
  storages_ = std::vector<Storage>();
  nodeStorages_ = std::vector<std::uint32_t>();
  leafTexts_ = std::vector<std::string>();
}

// Scratch that fits the limit lives on the stack; larger scratch is the
// caller's work array, doubles first, then ints (so both stay aligned).
CodeGenerator::Scratch CodeGenerator::layout_(std::size_t stackLimitBytes) {
  Scratch scratch;
  scratch.doubles = allUses_ & kDoubles ? std::max(doubles_.size(), 1u) : 0;
  scratch.ints = allUses_ & kInts ? std::max(ints_.size(), 1u) : 0;
  std::size_t bytes = scratch.doubles * sizeof(double) + scratch.ints * sizeof(int);
  scratch.onStack = bytes <= stackLimitBytes;
  if (!scratch.onStack) workBytes_ = bytes;
  return scratch;
}

// The include, the prototypes (users compile with -Wmissing-prototypes too)
// and, for the work form, the size function.
std::string CodeGenerator::preamble_(std::string const& name, Scratch const& scratch) const {
  std::string text = "#include <vela/codegen_runtime.h>\n\n";
  if (!scratch.onStack) text += "size_t " + name + "_work_size(void);\n";
  text += signature_(name, scratch) + ";\n\n";
  if (!scratch.onStack)
    text += "size_t " + name + "_work_size(void)\n{\n  return " + vela::decimalText(workBytes_) +
            "u;\n}\n\n";
  return text;
}

std::string CodeGenerator::signature_(std::string const& name, Scratch const& scratch) {
  return "void " + name +
         (scratch.onStack ? "(const double* in, double* out)"
                          : "(const double* in, double* out, void* work)");
}

// The signature of the function and its scratch; the zero elements of empty
// vectors where text of these uses asks for them.
std::string CodeGenerator::opening_(std::string const& name, Scratch const& scratch,
                                    unsigned uses) const {
  std::string text = signature_(name, scratch) + "\n{\n";
  if (scratch.onStack) {
    if (scratch.doubles) text += "  double spd[" + vela::decimalText(scratch.doubles) + "];\n";
    if (scratch.ints) text += "  int spi[" + vela::decimalText(scratch.ints) + "];\n";
  } else {
    if (scratch.doubles) text += "  double* spd = (double*)work;\n";
    if (scratch.ints)
      // Through void*: the offset keeps double alignment, which -Wcast-align
      // cannot see.
      text += "  int* spi = (int*)(void*)((char*)work + " +
              vela::decimalText(scratch.doubles * sizeof(double)) + ");\n";
  }
  if (uses & kEmptyDoubles) text += "  double spd_empty[1] = {0.0};\n";
  if (uses & kEmptyInts) text += "  int spi_empty[1] = {0};\n";
  // An int flag that nothing reads is still stored: no warning for that.
  // After the declarations, which C89-minded warnings want first.
  if (scratch.onStack && scratch.ints) text += "  (void)spi;\n";
  return text;
}

// The opening of part k; every part takes the same pointers, and the
// scratch stays where the function declares it.
std::string CodeGenerator::partOpening_(std::string const& name, std::size_t k,
                                        Scratch const& scratch) const {
  unsigned uses = parts_[k].uses;
  std::string text = "static VELA_RT_NOINLINE void " + name + "_part" + vela::decimalText(k) +
                     "(const double* in, double* out";
  if (scratch.doubles) text += ", double* VELA_RT_RESTRICT spd";
  if (scratch.ints) text += ", int* VELA_RT_RESTRICT spi";
  text += ")\n{\n";
  if (uses & kEmptyDoubles) text += "  double spd_empty[1] = {0.0};\n";
  if (uses & kEmptyInts) text += "  int spi_empty[1] = {0};\n";
  if (!(uses & kIn)) text += "  (void)in;\n";
  if (!(uses & kOut)) text += "  (void)out;\n";
  if (scratch.doubles && !(uses & kDoubles)) text += "  (void)spd;\n";
  if (scratch.ints && !(uses & kInts)) text += "  (void)spi;\n";
  return text;
}

// The whole text, in a string of exactly its length: the preamble, then
// either the function with the body inline, or the parts and the function
// that calls them.
std::string CodeGenerator::join_(std::string const& name, Scratch const& scratch,
                                 std::string const& preamble, bool noOutputs) {
  bool split = parts_.size() > 1;
  std::string opening = opening_(name, scratch, split ? 0 : allUses_);
  if (!split && !(allUses_ & kIn)) opening += "  (void)in;\n";
  if (!scratch.onStack && !scratch.doubles && !scratch.ints) opening += "  (void)work;\n";
  if (!split && noOutputs) opening += "  (void)out;\n";
  std::string calls;
  std::size_t size = preamble.size() + bodySize_ + opening.size() + 2;
  if (split) {
    std::string arguments = "(in, out";
    if (scratch.doubles) arguments += ", spd";
    if (scratch.ints) arguments += ", spi";
    arguments += ");\n";
    for (std::size_t k = 0; k < parts_.size(); ++k) {
      calls += "  " + name + "_part" + vela::decimalText(k) + arguments;
      size += partOpening_(name, k, scratch).size() + 3;
    }
    size += calls.size();
  }
  std::string text;
  text.reserve(size);
  text += preamble;
  if (split) {
    for (std::size_t k = 0; k < parts_.size(); ++k) {
      text += partOpening_(name, k, scratch);
      copyBody_(text, parts_[k].end);
      text += "}\n\n";
    }
    text += opening;
    text += calls;
  } else {
    text += opening;
    copyBody_(text, bodySize_);
  }
  text += "}\n";
  blocks_ = std::vector<Block>();
  return text;
}
}  // namespace detail

TemporaryStorage::TemporaryStorage(TemporaryStorage&& other) noexcept
    : generator_(other.generator_), slot_(other.slot_) {
  other.generator_ = nullptr;
}

TemporaryStorage::~TemporaryStorage() {
  if (generator_) generator_->releaseTemporary(slot_);
}

Slot GenerateCodeVisitor::outputSlot(Operation const& op, unsigned output) const {
  return generator_.outputSlot(op, output);
}
Slot GenerateCodeVisitor::reserveOutputVector(Operation const& op, ScalarType type, unsigned n) {
  return generator_.reserveOutput(op, type, n);
}
bool GenerateCodeVisitor::canOverwriteVector(Operation const& input) const {
  return generator_.canOverwrite(input);
}
Slot GenerateCodeVisitor::reserveOverwriteOutputVector(Operation const& op, Slot const& inputSlot,
                                                       unsigned n) {
  return generator_.reserveOverwrite(op, inputSlot, n);
}
TemporaryStorage GenerateCodeVisitor::reserveTemporarySlots(ScalarType type, unsigned n) {
  return TemporaryStorage(&generator_, generator_.reserveTemporary(type, n));
}
std::string GenerateCodeVisitor::scratchpadAccess(Slot const& slot, unsigned index) const {
  return generator_.access(slot, index);
}
std::string GenerateCodeVisitor::scratchpadPointerAccess(Slot const& slot) const {
  return generator_.pointer(slot);
}
std::string GenerateCodeVisitor::rawOpCode(ScalarOperation const& op) const {
  return generator_.rawOpCode(op);
}
std::string GenerateCodeVisitor::rawOpCode(OperationPtr const& op) const {
  return generator_.rawOpCode(*op);
}
unsigned GenerateCodeVisitor::inputIndex(std::string const& name) const {
  return generator_.inputIndex(name);
}
std::string GenerateCodeVisitor::codeLine(std::string const& text) const {
  return codeLine(std::string(text));
}
std::string GenerateCodeVisitor::codeLine(std::string&& text) const {
  std::size_t n = text.size();
  text.resize(n + 3);
  std::memmove(&text[2], &text[0], n);
  text[0] = text[1] = ' ';
  text[n + 2] = '\n';
  return std::move(text);
}

GeneratedCode generateCFunctionCode(std::string const& functionName,
                                    std::vector<std::string> const& inputNames,
                                    std::vector<TracedDouble> const& outputs,
                                    std::size_t stackLimitBytes, std::size_t bodyLineLimit) {
  return detail::CodeGenerator(inputNames)
      .run(functionName, outputs, stackLimitBytes, bodyLineLimit);
}

std::string generateCFunction(std::string const& functionName,
                              std::vector<std::string> const& inputNames,
                              std::vector<TracedDouble> const& outputs) {
  return generateCFunctionCode(functionName, inputNames, outputs).text;
}

}  // namespace kelm_math::comp_trace
