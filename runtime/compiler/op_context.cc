// The compile-time view the operators' prepare functions get of one
// operator, over the shared compile state. Every shape or value it gives a
// tensor is recorded as a definition, so that check_writes sees all of them,
// those made by fusions included.
#include <cstring>
#include <limits>

#include "runtime/compiler/compile_state.h"

namespace runtime {

std::string CompileState::op_label(int op) const {
  const OperatorDesc& d = model.operators()[op];
  return "operator " + std::to_string(op) + " (" + (d.custom ? "custom" : operator_name(d.code)) + ")";
}

std::string CompileState::op_label(int op, int origin) const {
  return origin == op ? op_label(op) : op_label(origin) + " fused into " + op_label(op);
}

std::string CompileState::tensor_label(int t) const {
  std::string label = "tensor ";
  label.append(std::to_string(t));
  if (!model.tensors()[t].name.empty()) label.append(" \"").append(model.tensors()[t].name).append("\"");
  if (known[t]) label.append(" ").append(graph.shapes[t].str());
  return label;
}

const OperatorDesc& OpContext::desc() const { return state_.model.operators()[op_index_]; }
const OperatorDesc& OpContext::desc_at(int i) const { return state_.model.operators()[i]; }
const Shape& OpContext::shape(int t) const { return state_.shapes()[t]; }
fb::TensorType OpContext::type(int t) const { return state_.model.tensors()[t].type; }
bool OpContext::has_constant(int t) const {
  return t >= 0 && (state_.constant[t] >= 0 || state_.model.tensors()[t].data != nullptr);
}

std::string OpContext::tensor_label(int t) const { return state_.tensor_label(t); }

bool OpContext::fail(const std::string& message) {
  state_.error = message;
  return false;
}

bool OpContext::expect_counts(int min_inputs, int max_inputs, int outputs) {
  if (num_inputs() < min_inputs || num_inputs() > max_inputs || num_outputs() != outputs)
    return fail("has " + std::to_string(num_inputs()) + " inputs and " + std::to_string(num_outputs()) +
                " outputs, expected " + std::to_string(min_inputs) +
                (max_inputs != min_inputs ? " to " + std::to_string(max_inputs) : "") + " and " +
                std::to_string(outputs));
  return true;
}

bool OpContext::float_input(int i) {
  if (i >= num_inputs() || input(i) < 0) return fail("input " + std::to_string(i) + " missing");
  const int t = input(i);
  if (state_.constant[t] < 0 && type(t) != fb::TensorType_FLOAT32)
    return fail("input " + std::to_string(i) + ", " + state_.tensor_label(t) + ", is of type " +
                fb::EnumNameTensorType(type(t)) + ", not FLOAT32");
  if (state_.constant[t] < 0 && !state_.known[t])
    return fail("input " + std::to_string(i) + ", " + state_.tensor_label(t) + ", is read before it is written");
  return true;
}

bool OpContext::float_output(int i) {
  if (type(output(i)) != fb::TensorType_FLOAT32)
    return fail("output " + std::to_string(i) + ", " + state_.tensor_label(output(i)) + ", is of type " +
                fb::EnumNameTensorType(type(output(i))) + ", not FLOAT32");
  return true;
}

const float* OpContext::constant_floats(int t) {
  if (t < 0 || state_.constant[t] < 0) {
    fail(t < 0 ? std::string("a float constant input is missing")
               : state_.tensor_label(t) + " is not a float constant");
    return nullptr;
  }
  return state_.constants()[state_.constant[t]].data();
}

namespace {

// The raw contents of constant `t` of `type` into `out`, or the reason not.
template <typename T>
bool copy_constant(const CompileState& s, int t, fb::TensorType type, const char* what, std::vector<T>& out,
                   std::string& why) {
  if (t < 0) return why = "parameter tensor missing", false;
  const TensorDesc& d = s.model.tensors()[t];
  if (d.type != type || !d.data) return why = s.tensor_label(t) + " is not " + what + " constant", false;
  out.resize(d.bytes / sizeof(T));
  if (!out.empty()) std::memcpy(out.data(), d.data, out.size() * sizeof(T));
  return true;
}

}  // namespace

bool OpContext::constant_ints(int t, std::vector<int32_t>& out) {
  std::string why;
  return copy_constant(state_, t, fb::TensorType_INT32, "an int32", out, why) || fail(why);
}

bool OpContext::constant_halves(int t, std::vector<uint16_t>& out) {
  std::string why;
  return copy_constant(state_, t, fb::TensorType_FLOAT16, "a float16", out, why) || fail(why);
}

// A tensor keeps the first shape it is given (a constant's, an input's or its
// first writer's), so that no later operator is prepared over a shape its
// memory does not have; a second definition is only recorded, and refused by
// check_writes.
void OpContext::set_shape(int t, const Shape& s) {
  state_.definitions.push_back({t, op_index_, op_index_, s});
  if (state_.known[t]) return;
  state_.shapes()[t] = s;
  state_.known[t] = true;
}

void OpContext::set_constant(int t, std::vector<float> values) {
  AlignedFloats store(values.size());
  if (!values.empty()) std::memcpy(store.data(), values.data(), values.size() * sizeof(float));
  state_.constant[t] = static_cast<int>(state_.constants().size());
  state_.constants().push_back(std::move(store));
  state_.definitions.push_back({t, op_index_, op_index_, state_.shapes()[t]});
}

void OpContext::add_step(std::unique_ptr<Kernel> kernel, std::vector<int> reads, std::vector<int> writes) {
  Step step;
  step.kernel = std::move(kernel);
  step.code = desc().code;
  step.op = op_index_;
  step.reads = std::move(reads);
  step.writes = std::move(writes);
  state_.steps().push_back(std::move(step));
}

const ConvFusion& OpContext::fusion() const { return state_.fusion[op_index_]; }

bool OpContext::folded_away() const { return state_.folded_into[op_index_] >= 0; }

void OpContext::define_fused_outputs(const Shape& s) {
  for (int op : fusion().ops)
    for (int out : desc_at(op).outputs) {
      state_.definitions.push_back({out, op_index_, op, s});
      if (state_.known[out]) continue;
      state_.shapes()[out] = s;
      state_.known[out] = true;
      state_.producer[out] = op;
    }
}

bool activation_range(fb::ActivationFunctionType act, float& lo, float& hi) {
  lo = -std::numeric_limits<float>::infinity();
  hi = std::numeric_limits<float>::infinity();
  switch (act) {
    case fb::ActivationFunctionType_NONE:
      return true;
    case fb::ActivationFunctionType_RELU:
      lo = 0;
      return true;
    case fb::ActivationFunctionType_RELU_N1_TO_1:
      lo = -1;
      hi = 1;
      return true;
    case fb::ActivationFunctionType_RELU6:
      lo = 0;
      hi = 6;
      return true;
    default:
      return false;
  }
}

}  // namespace runtime
