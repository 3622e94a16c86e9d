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

unsigned SlotPool::allocate(unsigned n) {
  for (auto it = free_.begin(); it != free_.end(); ++it) {
    if (it->second < n) continue;
    unsigned offset = it->first, length = it->second;
    free_.erase(it);
    if (length > n) free_.emplace(offset + n, length - n);
    return offset;
  }
  // Grow at the top, absorbing a free run that ends there.
  unsigned offset = size_;
  if (!free_.empty()) {
    auto last = std::prev(free_.end());
    if (last->first + last->second == size_) {
      offset = last->first;
      free_.erase(last);
    }
  }
  size_ = offset + n;
  return offset;
}

void SlotPool::release(unsigned offset, unsigned n) {
  if (n == 0) return;
  auto next = free_.lower_bound(offset);
  if (next != free_.end() && offset + n == next->first) {
    n += next->second;
    next = free_.erase(next);
  }
  if (next != free_.begin()) {
    auto prev = std::prev(next);
    if (prev->first + prev->second == offset) {
      prev->second += n;
      return;
    }
  }
  free_.emplace(offset, n);
}

CodeGenerator::CodeGenerator(std::vector<std::string> const& inputNames) {
  for (unsigned i = 0; i < inputNames.size(); ++i) {
    if (inputNames[i].empty()) throw std::invalid_argument("comp_trace: empty input name");
    if (!inputs_.emplace(inputNames[i], i).second)
      throw std::invalid_argument("comp_trace: repeated input name: " + inputNames[i]);
  }
}

void CodeGenerator::collect_(std::vector<TracedDouble> const& outputs) {
  struct Frame {
    Operation const* op;
    std::size_t next;
  };
  std::vector<Frame> stack;
  for (auto const& output : outputs) {
    if (output.isConstant()) continue;
    ScalarOperationPtr root = output.operation();
    if (ids_.count(root.get())) continue;
    stack.push_back({root.get(), 0});
    while (!stack.empty()) {
      Frame& top = stack.back();
      if (top.next < top.op->inputCount()) {
        Operation const* in = top.op->input(top.next++).get();
        if (!ids_.count(in)) stack.push_back({in, 0});
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
  node.firstInput = inputIds_.size();
  node.inputCount = op.inputCount();
  for (auto const& in : op.inputs()) inputIds_.push_back(nodes_[ids_.at(in.get())].canonical);
  node.leaf = op.isScalar() && static_cast<ScalarOperation const&>(op).isAlwaysSimple();
  nodes_.push_back(std::move(node));
  ids_.emplace(&op, id);
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
  auto [head, inserted] = heads_.try_emplace(keyHash_(id), id);
  sameHash_.push_back(-1);
  if (inserted) return id;
  for (int c = head->second; c >= 0; c = sameHash_[c])
    if (sameKey_(c, id) && nodes_[c].op->compare_(*nodes_[id].op) == 0) return c;
  sameHash_[id] = head->second;
  head->second = id;
  return id;
}

void CodeGenerator::findAliases_() {
  for (Node& n : nodes_) {
    if (n.canonical != &n - nodes_.data() || typeid(*n.op) != typeid(CollectOp) ||
        n.inputCount == 0)
      continue;
    auto const& collect = static_cast<CollectOp const&>(*n.op);
    int source = -1;
    unsigned output = 0;
    bool alias = true;
    for (std::size_t i = 0; i < n.inputCount && alias; ++i) {
      Node const& in = nodes_[inputIds_[n.firstInput + i]];
      if (typeid(*in.op) != typeid(ElementOp)) {
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
    if (typeid(*n.op) == typeid(ElementOp)) use_(inputIds_[n.firstInput], step);
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
    if (!output.isConstant()) use_(nodes_[ids_.at(output.operation().get())].canonical, kEnd);
  releaseAt_.assign(order_.size(), {});
  for (std::size_t step = 0; step < order_.size(); ++step) {
    Node const& n = nodes_[order_[step]];
    if (n.aliasOf >= 0 || n.lastUse == kEnd) continue;
    int at = n.lastUse == kNever ? static_cast<int>(step) : n.lastUse;
    releaseAt_[at].push_back(order_[step]);
  }
}

std::string CodeGenerator::emit_() {
  GenerateCodeVisitor visitor(*this);
  std::string body;
  for (std::size_t step = 0; step < order_.size(); ++step) {
    step_ = static_cast<int>(step);
    current_ = order_[step];
    if (nodes_[current_].aliasOf < 0) body += nodes_[current_].op->generateCode(visitor);
    for (int id : releaseAt_[step]) release_(id);
  }
  current_ = -1;
  return body;
}

void CodeGenerator::release_(int id) {
  for (int sid : nodes_[id].storages) {
    Storage& s = storages_[sid];
    if (s.owner != id) continue;
    pool_(s.slot.type).release(s.slot.offset, s.slot.count);
    s.owner = -1;
  }
}

SlotPool& CodeGenerator::pool_(ScalarType type) {
  return type == ScalarType::Double ? doubles_ : ints_;
}

int CodeGenerator::id_(Operation const& op) const {
  auto it = ids_.find(&op);
  if (it == ids_.end()) throw std::logic_error("comp_trace: node is not part of this graph");
  return nodes_[it->second].canonical;
}

Slot CodeGenerator::outputSlot(Operation const& op, unsigned output) const {
  int id = id_(op);
  Node const& n = nodes_[id];
  if (n.aliasOf >= 0) return outputSlot(*nodes_[n.aliasOf].op, n.aliasOutput);
  if (output >= n.storages.size())
    throw std::logic_error("comp_trace: output read before it was written: " + n.op->description());
  return storages_[n.storages[output]].slot;
}

Slot CodeGenerator::reserveOutput(Operation const& op, ScalarType type, unsigned n) {
  int id = id_(op);
  if (id != current_) throw std::logic_error("comp_trace: a node reserves only its own outputs");
  Slot slot{type, pool_(type).allocate(n), n};
  int sid = static_cast<int>(storages_.size());
  storages_.push_back({slot, id});
  nodes_[id].storages.push_back(sid);
  return slot;
}

bool CodeGenerator::canOverwrite(Operation const& input) const {
  if (current_ < 0) return false;
  int owner = owner_(id_(input));
  Node const& o = nodes_[owner];
  if (o.leaf || o.lastUse != step_) return false;
  for (int sid : o.storages)
    if (storages_[sid].owner != owner) return false;
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
    for (int sid : nodes_[owner].storages) {
      Storage& s = storages_[sid];
      if (s.owner != owner || s.slot.type != inputSlot.type || s.slot.offset != inputSlot.offset ||
          s.slot.count < n || !canOverwrite(*nodes_[owner].op))
        continue;
      s.owner = id;
      nodes_[id].storages.push_back(sid);
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
  (isDouble ? doublesUsed_ : intsUsed_) = true;
  return (isDouble ? "spd[" : "spi[") + vela::decimalText(slot.offset + index) + "]";
}

std::string CodeGenerator::pointer(Slot const& slot) const {
  bool isDouble = slot.type == ScalarType::Double;
  // An empty vector still needs a pointer, and one into scratch that nothing
  // wrote makes compilers warn about reading it uninitialized.
  if (slot.count == 0) {
    (isDouble ? emptyDoublesUsed_ : emptyIntsUsed_) = true;
    return isDouble ? "&spd_empty[0]" : "&spi_empty[0]";
  }
  (isDouble ? doublesUsed_ : intsUsed_) = true;
  return (isDouble ? "&spd[" : "&spi[") + vela::decimalText(slot.offset) + "]";
}

std::string CodeGenerator::rawOpCode(Operation const& op) const {
  if (!op.isScalar()) throw std::logic_error("comp_trace: rawOpCode of a vector node");
  Node const& n = nodes_[id_(op)];
  if (n.leaf) {
    GenerateCodeVisitor visitor(const_cast<CodeGenerator&>(*this));
    return static_cast<ScalarOperation const&>(*n.op).inlineCode(visitor);
  }
  return access(outputSlot(*n.op, 0), 0);
}

unsigned CodeGenerator::inputIndex(std::string const& name) const {
  auto it = inputs_.find(name);
  if (it == inputs_.end()) throw UnboundInput(name);
  const_cast<CodeGenerator*>(this)->inputRead_ = true;
  return it->second;
}

GeneratedCode CodeGenerator::run(std::string const& functionName,
                                 std::vector<TracedDouble> const& outputs,
                                 std::size_t stackLimitBytes) {
  checkFunctionName(functionName);
  collect_(outputs);
  findAliases_();
  computeLiveness_(outputs);
  std::string body = emit_();
  GenerateCodeVisitor visitor(*this);
  for (std::size_t j = 0; j < outputs.size(); ++j) {
    double constant = 0.0;
    std::string value = outputs[j].getConstant(constant) ? literal(ScalarValue(constant))
                                                         : rawOpCode(*outputs[j].operation());
    body += visitor.codeLine("out[" + vela::decimalText(j) + "] = " + value + ";");
  }
  std::string text = header_(functionName, stackLimitBytes);
  if (outputs.empty()) text += "  (void)out;\n";
  return {text + body + "}\n", workBytes_};
}

// The signature and the scratch declarations. Scratch that fits the limit
// lives on the stack; larger scratch is the caller's work array, doubles
// first, then ints (so both stay aligned).
std::string CodeGenerator::header_(std::string const& name, std::size_t stackLimitBytes) {
  std::size_t doubles = doublesUsed_ ? std::max(doubles_.size(), 1u) : 0;
  std::size_t ints = intsUsed_ ? std::max(ints_.size(), 1u) : 0;
  std::size_t bytes = doubles * sizeof(double) + ints * sizeof(int);
  std::string text = "#include <vela/codegen_runtime.h>\n\n";
  bool onStack = bytes <= stackLimitBytes;
  if (onStack) {
    text += "void " + name + "(const double* in, double* out)\n{\n";
    if (doubles) text += "  double spd[" + vela::decimalText(doubles) + "];\n";
    // An int flag that nothing reads is still stored: no warning for that.
    if (ints) text += "  int spi[" + vela::decimalText(ints) + "];\n  (void)spi;\n";
  } else {
    workBytes_ = bytes;
    text += "size_t " + name + "_work_size(void)\n{\n  return " + vela::decimalText(bytes) +
            "u;\n}\n\nvoid " + name + "(const double* in, double* out, void* work)\n{\n";
    if (doubles) text += "  double* spd = (double*)work;\n";
    if (ints)
      text += "  int* spi = (int*)((char*)work + " + vela::decimalText(doubles * sizeof(double)) +
              ");\n";
  }
  if (emptyDoublesUsed_) text += "  double spd_empty[1] = {0.0};\n";
  if (emptyIntsUsed_) text += "  int spi_empty[1] = {0};\n";
  if (!inputRead_) text += "  (void)in;\n";
  if (!onStack && !doubles && !ints) text += "  (void)work;\n";
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
  return "  " + text + "\n";
}

GeneratedCode generateCFunctionCode(std::string const& functionName,
                                    std::vector<std::string> const& inputNames,
                                    std::vector<TracedDouble> const& outputs,
                                    std::size_t stackLimitBytes) {
  return detail::CodeGenerator(inputNames).run(functionName, outputs, stackLimitBytes);
}

std::string generateCFunction(std::string const& functionName,
                              std::vector<std::string> const& inputNames,
                              std::vector<TracedDouble> const& outputs) {
  return generateCFunctionCode(functionName, inputNames, outputs).text;
}

}  // namespace kelm_math::comp_trace
