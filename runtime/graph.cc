#include "runtime/graph.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "runtime/planner.h"

namespace runtime {

// Everything the operators' prepare functions see and change while one
// graph compiles.
struct CompileState {
  const Model& model;
  Graph& graph;
  std::string& error;
  std::vector<bool> known;          // shape known: input, constant or written
  std::vector<int> constant;        // index into graph.constants_, or -1
  std::vector<int> producer;        // operator writing the tensor, or -1
  std::vector<int> consumers;       // number of operators reading the tensor
  std::vector<bool> graph_output;
  std::vector<bool> absorbed;       // operator computed by an earlier one
  std::vector<OpContext::FoldedPad> folded;  // per operator
  std::vector<bool> has_fold;
  std::vector<int> order;     // operators in execution order
  std::vector<int> position;  // per operator, its place in `order`

  std::vector<Shape>& shapes() { return graph.shapes_; }
  std::vector<AlignedFloats>& constants() { return graph.constants_; }
  std::vector<Step>& steps() { return graph.steps_; }

  // After every operator is prepared: arena offsets and bound outputs.
  // False when the arena would exceed kMaxArenaBytes.
  bool plan_memory();
  // Frees constants that no step reads any more (kernels keep packed copies).
  void drop_unused_constants();

  bool fail(const std::string& message) {
    error = message;
    return false;
  }
};

// ---- OpContext ----

const OperatorDesc& OpContext::desc() const { return state_.model.operators()[op_index_]; }
const OperatorDesc& OpContext::desc_at(int i) const { return state_.model.operators()[i]; }
const Shape& OpContext::shape(int t) const { return state_.shapes()[t]; }
fb::TensorType OpContext::type(int t) const { return state_.model.tensors()[t].type; }
bool OpContext::has_constant(int t) const {
  return t >= 0 && (state_.constant[t] >= 0 || state_.model.tensors()[t].data != nullptr);
}

bool OpContext::fail(const std::string& message) {
  state_.error = message;
  return false;
}

bool OpContext::expect_counts(int min_inputs, int max_inputs, int outputs) {
  if (num_inputs() < min_inputs || num_inputs() > max_inputs || num_outputs() != outputs)
    return fail("wrong number of inputs or outputs");
  return true;
}

bool OpContext::float_input(int i) {
  if (i >= num_inputs() || input(i) < 0) return fail("input " + std::to_string(i) + " missing");
  const int t = input(i);
  if (state_.constant[t] < 0 && type(t) != fb::TensorType_FLOAT32)
    return fail("input " + std::to_string(i) + " is not float32");
  if (state_.constant[t] < 0 && !state_.known[t]) return fail("input read before it is written");
  return true;
}

bool OpContext::float_output(int i) {
  if (type(output(i)) != fb::TensorType_FLOAT32) return fail("output is not float32");
  return true;
}

const float* OpContext::constant_floats(int t) {
  if (t < 0 || state_.constant[t] < 0) {
    fail("expected a float constant");
    return nullptr;
  }
  return state_.constants()[state_.constant[t]].data();
}

bool OpContext::constant_ints(int t, std::vector<int32_t>& out) {
  if (t < 0) return fail("parameter tensor missing");
  const TensorDesc& d = state_.model.tensors()[t];
  if (d.type != fb::TensorType_INT32 || !d.data) return fail("expected an int32 constant");
  out.resize(d.bytes / 4);
  if (!out.empty()) std::memcpy(out.data(), d.data, out.size() * 4);
  return true;
}

bool OpContext::constant_halves(int t, std::vector<uint16_t>& out) {
  if (t < 0) return fail("parameter tensor missing");
  const TensorDesc& d = state_.model.tensors()[t];
  if (d.type != fb::TensorType_FLOAT16 || !d.data) return fail("expected a float16 constant");
  out.resize(d.bytes / 2);
  if (!out.empty()) std::memcpy(out.data(), d.data, out.size() * 2);
  return true;
}

void OpContext::set_shape(int t, const Shape& s) {
  state_.shapes()[t] = s;
  state_.known[t] = true;
}

void OpContext::set_constant(int t, std::vector<float> values) {
  AlignedFloats store(values.size());
  if (!values.empty()) std::memcpy(store.data(), values.data(), values.size() * sizeof(float));
  state_.constant[t] = static_cast<int>(state_.constants().size());
  state_.constants().push_back(std::move(store));
}

void OpContext::add_step(std::unique_ptr<Kernel> kernel, std::vector<int> reads, std::vector<int> writes) {
  Step step;
  step.kernel = std::move(kernel);
  step.code = desc().code;
  step.reads = std::move(reads);
  step.writes = std::move(writes);
  state_.steps().push_back(std::move(step));
}

int OpContext::sole_consumer(int t) const {
  if (state_.graph_output[t] || state_.consumers[t] != 1) return -1;
  const auto& ops = state_.model.operators();
  for (int i = 0; i < static_cast<int>(ops.size()); ++i)
    for (int in : ops[i].inputs)
      if (in == t) return state_.position[i] > state_.position[op_index_] ? i : -1;
  return -1;
}

bool OpContext::produced_before(int t, int op) const {
  if (state_.constant[t] >= 0) return true;
  if (!state_.known[t]) return false;
  const int p = state_.producer[t];
  return p < 0 || state_.position[p] < state_.position[op];
}

void OpContext::absorb(int op, const Shape& s) {
  state_.absorbed[op] = true;
  for (int out : desc_at(op).outputs) {
    set_shape(out, s);
    state_.producer[out] = op;
  }
}

void OpContext::fold_pad_into(int conv_op, const FoldedPad& pad) {
  state_.folded[conv_op] = pad;
  state_.has_fold[conv_op] = true;
}

const OpContext::FoldedPad* OpContext::folded_pad() const {
  return state_.has_fold[op_index_] ? &state_.folded[op_index_] : nullptr;
}

bool activation_range(fb::ActivationFunctionType act, float& lo, float& hi) {
  lo = -std::numeric_limits<float>::infinity();
  hi = std::numeric_limits<float>::infinity();
  switch (act) {
    case fb::ActivationFunctionType_NONE: return true;
    case fb::ActivationFunctionType_RELU: lo = 0; return true;
    case fb::ActivationFunctionType_RELU_N1_TO_1: lo = -1; hi = 1; return true;
    case fb::ActivationFunctionType_RELU6: lo = 0; hi = 6; return true;
    default: return false;
  }
}

// ---- Compilation ----

namespace {

bool load_constants(CompileState& s) {
  const auto& tensors = s.model.tensors();
  for (size_t t = 0; t < tensors.size(); ++t) {
    const TensorDesc& d = tensors[t];
    if (!d.data) continue;
    s.shapes()[t] = d.shape;
    s.known[t] = true;
    if (d.type != fb::TensorType_FLOAT32) continue;
    AlignedFloats store(static_cast<size_t>(d.shape.elements()));
    std::memcpy(store.data(), d.data, d.bytes);
    s.constant[t] = static_cast<int>(s.constants().size());
    s.constants().push_back(std::move(store));
    s.shapes()[t] = d.shape;
    s.known[t] = true;
  }
  return true;
}

bool shapes_agree(const TensorDesc& d, const Shape& inferred) {
  if (!d.has_shape) return true;
  if (d.signature.rank != inferred.rank) return false;
  for (int i = 0; i < inferred.rank; ++i)
    if (d.signature.dims[i] != -1 && d.signature.dims[i] != inferred.dims[i]) return false;
  return true;
}

bool prepare_one(CompileState& s, int i) {
  const OperatorDesc& op = s.model.operators()[i];
  const auto& tensors = s.model.tensors();
  const std::string where = "operator " + std::to_string(i) + " (" + operator_name(op.code) + "): ";
  const OperatorRow* row = op.custom ? nullptr : find_operator(op.code);
  if (!row) return s.fail(where + "not supported");
  for (int out : op.outputs) {
    if (tensors[out].data || s.constant[out] >= 0 || s.known[out])
      return s.fail(where + "writes a constant, an input or a tensor written before");
    s.producer[out] = i;
  }
  OpContext ctx(s, i);
  if (!row->prepare(ctx)) return s.fail(where + s.error);
  for (int out : op.outputs) {
    if (!s.known[out]) return s.fail(where + "output shape not inferred");
    const Shape& inferred = s.shapes()[out];
    if (inferred.elements() > kMaxElements) return s.fail(where + "output too large");
    if (!shapes_agree(tensors[out], inferred))
      return s.fail(where + "inferred shape " + inferred.str() + " differs from the declared one");
  }
  return true;
}

// Files place each DEQUANTIZE of a constant just before its first reader,
// which may come after the convolution whose PRELU slope it provides. Folding
// them all first makes every constant visible to the fusion decisions.
bool fold_constants(CompileState& s) {
  constexpr int32_t kDequantize = 6;
  const auto& ops = s.model.operators();
  for (int i = 0; i < static_cast<int>(ops.size()); ++i) {
    const OperatorDesc& op = ops[i];
    if (op.custom || op.code != kDequantize || op.inputs.size() != 1 || op.inputs[0] < 0 ||
        !s.model.tensors()[op.inputs[0]].data)
      continue;
    if (!prepare_one(s, i)) return false;
    s.absorbed[i] = true;
  }
  return true;
}

// Files often compute a residual branch between a convolution and the ADD
// that joins it, so the convolution could not read the residual when it
// runs. Such a convolution, whose only reader is that ADD, is moved to just
// before it: its inputs are still written earlier and nothing in between
// reads its output, so the results are unchanged and the ADD can fold in.
void schedule(CompileState& s) {
  constexpr int32_t kAdd = 0, kConv2D = 3, kDepthwiseConv2D = 4;
  const auto& ops = s.model.operators();
  const int n = static_cast<int>(ops.size());
  std::vector<int> producer(s.model.tensors().size(), -1);
  for (int i = 0; i < n; ++i)
    for (int t : ops[i].outputs) producer[t] = i;
  s.order.resize(n);
  for (int i = 0; i < n; ++i) s.order[i] = i;
  for (int i = 0; i < n; ++i) {
    const OperatorDesc& conv = ops[i];
    if (conv.custom || (conv.code != kConv2D && conv.code != kDepthwiseConv2D) || conv.outputs.size() != 1) continue;
    const int t = conv.outputs[0];
    if (s.graph_output[t] || s.consumers[t] != 1) continue;
    int add = -1;
    for (int j = i + 1; j < n && add < 0; ++j)
      for (int in : ops[j].inputs)
        if (in == t) add = j;
    if (add < 0 || ops[add].custom || ops[add].code != kAdd || ops[add].inputs.size() != 2) continue;
    const int r = ops[add].inputs[0] == t ? ops[add].inputs[1] : ops[add].inputs[0];
    if (r < 0 || producer[r] < i) continue;  // already available, nothing to gain
    // Move i to just before `add` in the current order.
    auto from = std::find(s.order.begin(), s.order.end(), i);
    auto to = std::find(s.order.begin(), s.order.end(), add);
    if (from < to) std::rotate(from, from + 1, to);
  }
  s.position.assign(n, 0);
  for (int k = 0; k < n; ++k) s.position[s.order[k]] = k;
}

bool prepare_operators(CompileState& s) {
  schedule(s);
  if (!fold_constants(s)) return false;
  for (int i : s.order)
    if (!s.absorbed[i] && !prepare_one(s, i)) return false;
  return true;
}

// Which tensors live in the arena: everything the steps write, except the
// outputs that the caller's buffers receive directly.
}  // namespace

bool CompileState::plan_memory() {
  CompileState& s = *this;
  Graph& g = s.graph;
  const size_t n = s.model.tensors().size();
  std::vector<bool> bound(n, false);
  g.output_bound_.assign(g.outputs_.size(), false);
  for (size_t k = 0; k < g.outputs_.size(); ++k) {
    const int t = g.outputs_[k];
    if (s.producer[t] >= 0 && s.constant[t] < 0 && !bound[t]) {
      bound[t] = true;
      g.output_bound_[k] = true;
    }
  }
  std::vector<int> first(n, -1), last(n, -1);
  for (int step = 0; step < static_cast<int>(g.steps_.size()); ++step) {
    for (int t : g.steps_[step].writes)
      if (first[t] < 0) first[t] = last[t] = step;
    for (int t : g.steps_[step].reads) last[t] = std::max(last[t], step);
  }
  std::vector<Lifetime> lifetimes;
  std::vector<int> arena_tensor;
  for (size_t t = 0; t < n; ++t) {
    if (first[t] < 0 || bound[t]) continue;
    lifetimes.push_back({static_cast<size_t>(g.shapes_[t].elements()) * sizeof(float), first[t], last[t]});
    arena_tensor.push_back(static_cast<int>(t));
  }
  const ArenaPlan plan = plan_arena(lifetimes);
  if (plan.bytes > kMaxArenaBytes) return fail("activations need " + std::to_string(plan.bytes) + " bytes");
  g.arena_ = AlignedFloats(plan.bytes / sizeof(float));
  for (size_t i = 0; i < arena_tensor.size(); ++i)
    g.data_[arena_tensor[i]] = g.arena_.data() + plan.offsets[i] / sizeof(float);
  return true;
}

void CompileState::drop_unused_constants() {
  CompileState& s = *this;
  Graph& g = s.graph;
  const size_t n = s.model.tensors().size();
  // Keep only the constants some step or output still reads; the kernels
  // hold their own packed copies of weights.
  std::vector<bool> needed(n, false);
  for (const Step& step : g.steps_)
    for (int t : step.reads) needed[t] = true;
  for (int t : g.outputs_) needed[t] = true;
  for (size_t t = 0; t < n; ++t) {
    if (s.constant[t] < 0) continue;
    AlignedFloats& store = g.constants_[s.constant[t]];
    if (needed[t]) g.data_[t] = store.data();
    else store = AlignedFloats();
  }
}

std::unique_ptr<Graph> Graph::compile(const Model& model, const std::vector<Shape>& input_shapes,
                                      std::string& error) {
  auto graph = std::unique_ptr<Graph>(new Graph);
  Graph& g = *graph;
  const size_t n = model.tensors().size();
  CompileState s{model, g, error, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}};
  s.known.assign(n, false);
  s.constant.assign(n, -1);
  s.producer.assign(n, -1);
  s.consumers.assign(n, 0);
  s.graph_output.assign(n, false);
  s.absorbed.assign(model.operators().size(), false);
  s.folded.assign(model.operators().size(), {});
  s.has_fold.assign(model.operators().size(), false);
  g.shapes_.assign(n, Shape{});
  g.data_.assign(n, nullptr);
  g.inputs_ = model.signature().inputs;
  g.outputs_ = model.signature().outputs;

  for (const auto& op : model.operators())
    for (int in : op.inputs)
      if (in >= 0) ++s.consumers[in];
  for (int t : model.outputs()) s.graph_output[t] = true;
  for (int t : g.outputs_) s.graph_output[t] = true;

  for (size_t t = 0; t < n; ++t)
    if (model.tensors()[t].sparse || model.tensors()[t].variable) {
      error = "tensor " + std::to_string(t) + " is sparse or variable, which is not supported";
      return nullptr;
    }
  load_constants(s);
  if (input_shapes.size() != g.inputs_.size()) {
    error = "wrong number of input shapes";
    return nullptr;
  }
  for (size_t k = 0; k < g.inputs_.size(); ++k) {
    const int t = g.inputs_[k];
    if (model.tensors()[t].data) {
      error = "signature input " + std::to_string(k) + " is a constant";
      return nullptr;
    }
    g.shapes_[t] = input_shapes[k];
    s.known[t] = true;
  }
  if (!prepare_operators(s)) return nullptr;
  for (int t : g.outputs_)
    if (!s.known[t]) {
      error = "signature output " + std::to_string(t) + " is never written";
      return nullptr;
    }

  if (!s.plan_memory()) return nullptr;
  s.drop_unused_constants();
  return graph;
}

void Graph::run(float* const* inputs, float* const* outputs) {
  for (size_t k = 0; k < inputs_.size(); ++k) data_[inputs_[k]] = inputs[k];
  for (size_t k = 0; k < outputs_.size(); ++k)
    if (output_bound_[k]) data_[outputs_[k]] = outputs[k];
  TensorData data = data_.data();
  if (!profiling_) {
    for (Step& step : steps_) step.kernel->run(data);
  } else {
    for (size_t i = 0; i < steps_.size(); ++i) {
      const auto start = std::chrono::steady_clock::now();
      steps_[i].kernel->run(data);
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start);
      ProfileEntry& e = profile_[profile_slot_[i]];
      e.nanoseconds += static_cast<uint64_t>(ns.count());
      ++e.steps;
    }
  }
  for (size_t k = 0; k < outputs_.size(); ++k)
    if (!output_bound_[k])
      std::memmove(outputs[k], data_[outputs_[k]],
                   static_cast<size_t>(shapes_[outputs_[k]].elements()) * sizeof(float));
}

void Graph::set_profiling(bool enabled) {
  profiling_ = enabled;
  profile_.clear();
  profile_slot_.clear();
  if (!enabled) return;
  for (const Step& step : steps_) {
    auto it = std::find_if(profile_.begin(), profile_.end(), [&](const ProfileEntry& e) { return e.code == step.code; });
    if (it == profile_.end()) {
      profile_.push_back({step.code, 0, 0});
      it = profile_.end() - 1;
    }
    profile_slot_.push_back(static_cast<int>(it - profile_.begin()));
  }
}

}  // namespace runtime
