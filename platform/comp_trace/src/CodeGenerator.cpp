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
#include "PodStack.hpp"
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
  PodStack<Frame> stack;
  PodStack<int> pending;
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
          pending.push(complete_(*in, nullptr, mapped));
        else
          stack.push(
              {in.get(), 0, static_cast<std::uint32_t>(pending.size()) | (mapped ? kMapped : 0u)});
        continue;
      }
      Frame done = top;
      stack.pop();
      std::uint32_t first = done.firstPending & ~kMapped;
      int id = complete_(*done.op, pending.data() + first, (done.firstPending & kMapped) != 0);
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
int CodeGenerator::complete_(Operation const& op, int const* inputs, bool mapped) {
  std::uint32_t count = static_cast<std::uint32_t>(op.inputCount());
  std::size_t h = fieldHash(op);
  for (std::uint32_t i = 0; i < count; ++i) h = mixHash(h, inputs[i]);
  void const* key = PointerMap<int>::hashKey(h);
  int* head = heads_.find(key);
  for (int c = head ? *head : -1; c >= 0; c = sameHash_[c]) {
    Node const& other = nodes_[c];
    if (other.inputCount == count && sameClass(*other.op, op) &&
        std::equal(inputs, inputs + count, inputIds_.begin() + other.firstInput) &&
        other.op->compare_(op) == 0) {
      if (mapped) ids_.insert(&op, c);
      return c;
    }
  }
  int id = static_cast<int>(nodes_.size());
  Node& node = nodes_.emplace_back();
  node.op = &op;
  node.firstInput = static_cast<std::uint32_t>(inputIds_.size());
  node.inputCount = count;
  node.leaf = op.isScalar() && static_cast<ScalarOperation const&>(op).isAlwaysSimple();
  inputIds_.insert(inputIds_.end(), inputs, inputs + count);
  sameHash_.push_back(head ? *head : -1);
  if (head)
    *head = id;
  else
    heads_.insert(key, id);
  if (mapped) ids_.insert(&op, id);
  return id;
}

void CodeGenerator::findAliases_() {
  for (Node& n : nodes_) {
    if (n.op->ownKind() != OwnKind::Collect || n.inputCount == 0) continue;
    auto const& collect = static_cast<CollectOp const&>(*n.op);
    int source = -1;
    unsigned output = 0;
    bool alias = true;
    for (std::size_t i = 0; i < n.inputCount && alias; ++i) {
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
      n.aliasOf = source;
      n.aliasOutput = output;
    }
  }
}

int CodeGenerator::owner_(int id) const {
  while (nodes_[id].aliasOf >= 0) id = nodes_[id].aliasOf;
  return id;
}

void CodeGenerator::use_(int id, int step) {
  Node const& n = nodes_[id];
  if (n.leaf) {
    // An element read is a read of its source, wherever it is written inline.
    if (n.op->ownKind() == OwnKind::Element) use_(inputIds_[n.firstInput], step);
    return;
  }
  int owner = owner_(id);
  nodes_[owner].lastUse = std::max(nodes_[owner].lastUse, step);
}

void CodeGenerator::computeLiveness_(std::vector<TracedDouble> const& outputs) {
  for (std::size_t id = 0; id < nodes_.size(); ++id)
    if (!nodes_[id].leaf) order_.push_back(static_cast<int>(id));
  // Most nodes reserve one storage: sized once, the lists never regrow.
  storages_.reserve(order_.size());
  nodeStorages_.reserve(order_.size());
  for (std::size_t step = 0; step < order_.size(); ++step) {
    Node const& n = nodes_[order_[step]];
    if (n.aliasOf >= 0) continue;
    for (std::size_t i = 0; i < n.inputCount; ++i)
      use_(inputIds_[n.firstInput + i], static_cast<int>(step));
  }
  for (auto const& output : outputs)
    if (!output.isConstant()) use_(*ids_.find(output.operation().get()), kEnd);
  // Counted, then placed: one list for all steps.
  auto releaseStep = [&](std::size_t step) {
    Node const& n = nodes_[order_[step]];
    if (n.aliasOf >= 0 || n.lastUse == kEnd) return -1;
    return n.lastUse == kNever ? static_cast<int>(step) : n.lastUse;
  };
  releaseStart_.assign(order_.size() + 1, 0);
  for (std::size_t step = 0; step < order_.size(); ++step)
    if (int at = releaseStep(step); at >= 0) ++releaseStart_[at + 1];
  for (std::size_t k = 1; k < releaseStart_.size(); ++k) releaseStart_[k] += releaseStart_[k - 1];
  releaseIds_.resize(releaseStart_.back());
  std::vector<std::uint32_t> filled(releaseStart_.begin(), releaseStart_.end() - 1);
  for (std::size_t step = 0; step < order_.size(); ++step)
    if (int at = releaseStep(step); at >= 0) releaseIds_[filled[at]++] = order_[step];
}

std::string CodeGenerator::emit_(std::vector<TracedDouble> const& outputs) {
  GenerateCodeVisitor visitor(*this);
  std::string body;
  // Room for long lines: pages reserved and never written cost nothing,
  // a regrowth copies the body.
  body.reserve(order_.size() * 48 + outputs.size() * 32);
  for (std::size_t step = 0; step < order_.size(); ++step) {
    step_ = static_cast<int>(step);
    current_ = order_[step];
    if (nodes_[current_].aliasOf < 0) {
      uses_ = 0;
      std::string text = nodes_[current_].op->generateCode(visitor);
      append_(body, text, uses_);
    }
    for (std::uint32_t k = releaseStart_[step]; k < releaseStart_[step + 1]; ++k)
      release_(releaseIds_[k]);
  }
  current_ = -1;
  for (std::size_t j = 0; j < outputs.size(); ++j) {
    uses_ = 0;
    double constant = 0.0;
    std::string value = outputs[j].getConstant(constant) ? literal(ScalarValue(constant))
                                                         : rawOpCode(*outputs[j].operation());
    append_(body, visitor.codeLine("out[" + vela::decimalText(j) + "] = " + value + ";"),
            uses_ | kOut);
  }
  parts_.push_back({body.size(), partUses_});
  return body;
}

// Parts are filled greedily and close only between nodes.
void CodeGenerator::append_(std::string& body, std::string const& text, unsigned uses) {
  std::size_t lines = 0;
  for (char const *p = text.data(), *end = p + text.size();
       (p = static_cast<char const*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)))); ++p)
    ++lines;
  if (lineLimit_ > 0 && lines > 0 && partLines_ > 0 && partLines_ + lines > lineLimit_) {
    parts_.push_back({body.size(), partUses_});
    partLines_ = 0;
    partUses_ = 0;
  }
  body += text;
  partLines_ += lines;
  partUses_ |= uses;
  allUses_ |= uses;
}

void CodeGenerator::release_(int id) {
  for (std::uint32_t k = 0; k < nodes_[id].storageCount; ++k) {
    Storage& s = storages_[storagesOf_(id)[k]];
    if (s.owner != id) continue;
    pool_(s.slot.type).release(s.slot.offset, s.slot.count);
    s.owner = -1;
  }
}

void CodeGenerator::addStorage_(int id, int sid) {
  Node& n = nodes_[id];
  if (n.storageCount == 0)
    n.firstStorage = static_cast<std::uint32_t>(nodeStorages_.size());
  else if (n.firstStorage + n.storageCount != nodeStorages_.size())
    throw std::logic_error("comp_trace: a node reserves only while it is written");
  nodeStorages_.push_back(sid);
  ++n.storageCount;
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
    if (n.inputCount <= kDirectInputs) {
      InputList inputs = n.op->inputs();
      for (std::size_t i = 0; i < n.inputCount; ++i)
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
  if (n.aliasOf >= 0) return outputSlotOf_(n.aliasOf, n.aliasOutput);
  if (output >= n.storageCount)
    throw std::logic_error("comp_trace: output read before it was written: " + n.op->description());
  return storages_[storagesOf_(id)[output]].slot;
}

Slot CodeGenerator::reserveOutput(Operation const& op, ScalarType type, unsigned n) {
  int id = id_(op);
  if (id != current_) throw std::logic_error("comp_trace: a node reserves only its own outputs");
  Slot slot{type, pool_(type).allocate(n), n};
  int sid = static_cast<int>(storages_.size());
  storages_.push_back({slot, id});
  addStorage_(id, sid);
  return slot;
}

bool CodeGenerator::canOverwrite(Operation const& input) const {
  return current_ >= 0 && canOverwriteId_(id_(input));
}

bool CodeGenerator::canOverwriteId_(int input) const {
  int owner = owner_(input);
  Node const& o = nodes_[owner];
  if (o.leaf || o.lastUse != step_) return false;
  for (std::uint32_t k = 0; k < o.storageCount; ++k)
    if (storages_[storagesOf_(owner)[k]].owner != owner) return false;
  Node const& n = nodes_[current_];
  int readers = 0;
  for (std::size_t i = 0; i < n.inputCount; ++i) {
    int in = inputIds_[n.firstInput + i];
    if (!nodes_[in].leaf && owner_(in) == owner) ++readers;
  }
  return readers == 1;
}

Slot CodeGenerator::reserveOverwrite(Operation const& op, Slot const& inputSlot, unsigned n) {
  int id = id_(op);
  if (id != current_) throw std::logic_error("comp_trace: a node reserves only its own outputs");
  // The storage is one that an input of this node owns; offsets alone are
  // ambiguous, as empty slots share them.
  Node const& node = nodes_[id];
  for (std::size_t i = 0; i < node.inputCount; ++i) {
    int owner = owner_(inputIds_[node.firstInput + i]);
    if (nodes_[owner].leaf) continue;
    for (std::uint32_t k = 0; k < nodes_[owner].storageCount; ++k) {
      int sid = storagesOf_(owner)[k];
      Storage& s = storages_[sid];
      if (s.owner != owner || s.slot.type != inputSlot.type || s.slot.offset != inputSlot.offset ||
          s.slot.count < n || !canOverwriteId_(owner))
        continue;
      s.owner = id;
      addStorage_(id, sid);
      return {s.slot.type, s.slot.offset, n};
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
  if (n.leaf) {
    OwnKind kind = n.op->ownKind();
    if (n.text >= 0) {
      if (kind == OwnKind::Input) uses_ |= kIn;
      return leafTexts_[n.text];
    }
    GenerateCodeVisitor visitor(const_cast<CodeGenerator&>(*this));
    std::string text = static_cast<ScalarOperation const&>(*n.op).inlineCode(visitor);
    if (kind == OwnKind::Constant || kind == OwnKind::Input) {
      n.text = static_cast<int>(leafTexts_.size());
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
  findAliases_();
  computeLiveness_(outputs);
  std::string body = emit_(outputs);
  Scratch scratch = layout_(stackLimitBytes);
  std::string text = preamble_(functionName, scratch);
  if (parts_.size() > 1) return {text + split_(functionName, scratch, body), workBytes_};
  text += opening_(functionName, scratch, allUses_);
  if (!(allUses_ & kIn)) text += "  (void)in;\n";
  if (!scratch.onStack && !scratch.doubles && !scratch.ints) text += "  (void)work;\n";
  if (outputs.empty()) text += "  (void)out;\n";
  text.reserve(text.size() + body.size() + 2);
  text += body;
  text += "}\n";
  return {std::move(text), workBytes_};
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

// The parts, then the function that calls them. Every part takes the same
// pointers; the scratch stays where the function declares it.
std::string CodeGenerator::split_(std::string const& name, Scratch const& scratch,
                                  std::string const& body) const {
  std::string parameters = "const double* in, double* out", arguments = "in, out";
  if (scratch.doubles) {
    parameters += ", double* VELA_RT_RESTRICT spd";
    arguments += ", spd";
  }
  if (scratch.ints) {
    parameters += ", int* VELA_RT_RESTRICT spi";
    arguments += ", spi";
  }
  std::string text, calls;
  text.reserve(body.size() + parts_.size() * 256);
  std::size_t begin = 0;
  for (std::size_t k = 0; k < parts_.size(); ++k) {
    Part const& part = parts_[k];
    std::string partName = name + "_part" + vela::decimalText(k);
    text += "static VELA_RT_NOINLINE void " + partName + "(" + parameters + ")\n{\n";
    if (part.uses & kEmptyDoubles) text += "  double spd_empty[1] = {0.0};\n";
    if (part.uses & kEmptyInts) text += "  int spi_empty[1] = {0};\n";
    if (!(part.uses & kIn)) text += "  (void)in;\n";
    if (!(part.uses & kOut)) text += "  (void)out;\n";
    if (scratch.doubles && !(part.uses & kDoubles)) text += "  (void)spd;\n";
    if (scratch.ints && !(part.uses & kInts)) text += "  (void)spi;\n";
    text.append(body, begin, part.end - begin);
    text += "}\n\n";
    calls += "  " + partName + "(" + arguments + ");\n";
    begin = part.end;
  }
  text += opening_(name, scratch, 0);
  if (!scratch.onStack && !scratch.doubles && !scratch.ints) text += "  (void)work;\n";
  return text + calls + "}\n";
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
