#include "CodeGenerator.hpp"

#include <algorithm>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <typeindex>
#include <unordered_set>

#include "FunctionName.hpp"
#include "NodeHash.hpp"
#include "ScalarNodes.hpp"
#include "kelm_math/comp_trace/CollectOp.hpp"
#include "kelm_math/comp_trace/GenerateCFunction.hpp"
#include "vela/NumberText.hpp"

namespace kelm_math::comp_trace {
namespace detail {

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

void CodeGenerator::collect_(std::vector<TracedDouble> const& outputs) {
  struct Frame {
    Operation const* op;
    std::size_t next;
  };
  std::vector<Frame> stack;
  for (auto const& output : outputs) {
    if (output.isConstant()) continue;
    ScalarOperationPtr root = output.operation();
    if (ids_.find(root.get())) continue;
    stack.push_back({root.get(), 0});
    while (!stack.empty()) {
      Frame& top = stack.back();
      if (top.next < top.op->inputCount()) {
        Operation const* in = top.op->input(top.next++).get();
        if (!ids_.find(in)) stack.push_back({in, 0});
        continue;
      }
      Operation const* op = top.op;
      stack.pop_back();
      complete_(*op);
    }
  }
}

// Called in post-order: the inputs already have their canonical nodes.
void CodeGenerator::complete_(Operation const& op) {
  int id = static_cast<int>(nodes_.size());
  Node node;
  node.op = &op;
  node.canonical = id;
  node.firstInput = static_cast<std::uint32_t>(inputIds_.size());
  node.inputCount = static_cast<std::uint32_t>(op.inputCount());
  for (auto const& in : op.inputs()) inputIds_.push_back(nodes_[*ids_.find(in.get())].canonical);
  node.leaf = op.isScalar() && static_cast<ScalarOperation const&>(op).isAlwaysSimple();
  nodes_.push_back(std::move(node));
  ids_.insert(&op, id);
  nodes_[id].canonical = canonicalOf_(id);
}

std::size_t CodeGenerator::keyHash_(int id) const {
  Node const& n = nodes_[id];
  std::size_t h = fieldHash(*n.op);
  for (std::size_t i = 0; i < n.inputCount; ++i) h = mixHash(h, inputIds_[n.firstInput + i]);
  return h;
}

bool CodeGenerator::sameKey_(int a, int b) const {
  Node const& x = nodes_[a];
  Node const& y = nodes_[b];
  if (typeid(*x.op) != typeid(*y.op) || x.inputCount != y.inputCount) return false;
  return std::equal(inputIds_.begin() + x.firstInput,
                    inputIds_.begin() + x.firstInput + x.inputCount,
                    inputIds_.begin() + y.firstInput);
}

int CodeGenerator::canonicalOf_(int id) {
  void const* key = PointerMap<int>::hashKey(keyHash_(id));
  sameHash_.push_back(-1);
  int* head = heads_.find(key);
  if (!head) {
    heads_.insert(key, id);
    return id;
  }
  for (int c = *head; c >= 0; c = sameHash_[c])
    if (sameKey_(c, id) && nodes_[c].op->compare_(*nodes_[id].op) == 0) return c;
  sameHash_[id] = *head;
  *head = id;
  return id;
}

void CodeGenerator::findAliases_() {
  for (Node& n : nodes_) {
    if (n.canonical != &n - nodes_.data() || n.op->ownKind() != OwnKind::Collect ||
        n.inputCount == 0)
      continue;
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
    if (nodes_[id].canonical == static_cast<int>(id) && !nodes_[id].leaf)
      order_.push_back(static_cast<int>(id));
  for (std::size_t step = 0; step < order_.size(); ++step) {
    Node const& n = nodes_[order_[step]];
    if (n.aliasOf >= 0) continue;
    for (std::size_t i = 0; i < n.inputCount; ++i)
      use_(inputIds_[n.firstInput + i], static_cast<int>(step));
  }
  for (auto const& output : outputs)
    if (!output.isConstant()) use_(nodes_[*ids_.find(output.operation().get())].canonical, kEnd);
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
  body.reserve(order_.size() * 28 + outputs.size() * 24);  // a typical line: no regrowth
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
    if (n.inputCount <= 4) {
      InputList inputs = n.op->inputs();
      for (std::size_t i = 0; i < n.inputCount; ++i)
        if (inputs[i].get() == &op) return inputIds_[n.firstInput + i];
    }
  }
  int const* it = ids_.find(&op);
  if (!it) throw std::logic_error("comp_trace: node is not part of this graph");
  return nodes_[*it].canonical;
}

Slot CodeGenerator::outputSlot(Operation const& op, unsigned output) const {
  int id = id_(op);
  Node const& n = nodes_[id];
  if (n.aliasOf >= 0) return outputSlot(*nodes_[n.aliasOf].op, n.aliasOutput);
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
  if (current_ < 0) return false;
  int owner = owner_(id_(input));
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
          s.slot.count < n || !canOverwrite(*nodes_[owner].op))
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
  return (isDouble ? "spd[" : "spi[") + vela::decimalText(slot.offset + index) + "]";
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
  return (isDouble ? "&spd[" : "&spi[") + vela::decimalText(slot.offset) + "]";
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
  return access(outputSlot(*n.op, 0), 0);
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

// The include and, for the work form, the size function.
std::string CodeGenerator::preamble_(std::string const& name, Scratch const& scratch) const {
  std::string text = "#include <vela/codegen_runtime.h>\n\n";
  if (!scratch.onStack)
    text += "size_t " + name + "_work_size(void)\n{\n  return " + vela::decimalText(workBytes_) +
            "u;\n}\n\n";
  return text;
}

// The signature of the function and its scratch; the zero elements of empty
// vectors where text of these uses asks for them.
std::string CodeGenerator::opening_(std::string const& name, Scratch const& scratch,
                                    unsigned uses) const {
  std::string text = "void " + name;
  if (scratch.onStack) {
    text += "(const double* in, double* out)\n{\n";
    if (scratch.doubles) text += "  double spd[" + vela::decimalText(scratch.doubles) + "];\n";
    // An int flag that nothing reads is still stored: no warning for that.
    if (scratch.ints) text += "  int spi[" + vela::decimalText(scratch.ints) + "];\n  (void)spi;\n";
  } else {
    text += "(const double* in, double* out, void* work)\n{\n";
    if (scratch.doubles) text += "  double* spd = (double*)work;\n";
    if (scratch.ints)
      text += "  int* spi = (int*)((char*)work + " +
              vela::decimalText(scratch.doubles * sizeof(double)) + ");\n";
  }
  if (uses & kEmptyDoubles) text += "  double spd_empty[1] = {0.0};\n";
  if (uses & kEmptyInts) text += "  int spi_empty[1] = {0};\n";
  return text;
}

// The parts, then the function that calls them. Every part takes the same
// pointers; the scratch stays where the function declares it.
std::string CodeGenerator::split_(std::string const& name, Scratch const& scratch,
                                  std::string const& body) const {
  std::string parameters = "const double* in, double* out", arguments = "in, out";
  if (scratch.doubles) {
    parameters += ", double* spd";
    arguments += ", spd";
  }
  if (scratch.ints) {
    parameters += ", int* spi";
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
