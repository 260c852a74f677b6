// Pass: the write rules, on the graph as rewritten.
// Assumes: prepare_operators has run; every shape or value an operator gave
// a tensor, directly or by fusing a later operator, is in `definitions`.
// Guarantees, for the steps as they will run:
// - every tensor an operator defines is none of: a constant of the file, a
//   model input, a tensor another operator (or another output of a fused
//   chain) defines; so its shape was set once, and every kernel sized its
//   reads and writes of it from that one shape;
// - that shape has at most kMaxElements and equals the declared one;
// - every step writes only tensors its own operator defined, each written
//   by no other step, all float32; and reads only constants, signature
//   inputs and tensors an earlier step wrote.
// The arena is planned from these shapes, so no kernel runs past its tensor.
#include <algorithm>

#include "runtime/compiler/passes.h"

namespace runtime {

namespace {

bool shapes_agree(const TensorDesc& d, const Shape& inferred) {
  if (!d.has_shape) return true;
  if (d.signature.rank != inferred.rank) return false;
  for (int i = 0; i < inferred.rank; ++i)
    if (d.signature.dims[i] != -1 && d.signature.dims[i] != inferred.dims[i]) return false;
  return true;
}

std::string tensor_name(const CompileState& s, int t) {
  std::string label = "tensor ";
  label.append(std::to_string(t));
  const std::string& name = s.model.tensors()[t].name;
  if (!name.empty()) label.append(" \"").append(name).append("\"");
  return label;
}

}  // namespace

bool check_output_shape(CompileState& s, int op, int origin, int t, const Shape& shape) {
  const std::string where = s.op_label(op, origin) + ": output " + tensor_name(s, t);
  if (shape.elements() > kMaxElements)
    return s.fail(where + " would have shape " + shape.str() + ", more than " + std::to_string(kMaxElements) +
                  " elements");
  const TensorDesc& d = s.model.tensors()[t];
  if (!shapes_agree(d, shape))
    return s.fail(where + " has the inferred shape " + shape.str() + " but is declared " + d.signature.str());
  return true;
}

bool check_writes(CompileState& s) {
  const auto& tensors = s.model.tensors();
  const size_t n = tensors.size();
  std::vector<int> first(n, -1);  // per tensor, its first definition
  for (size_t k = 0; k < s.definitions.size(); ++k) {
    const CompileState::Definition& d = s.definitions[k];
    const int t = d.tensor;
    const std::string where = s.op_label(d.op, d.origin) + ": output " + tensor_name(s, t) + " ";
    if (tensors[t].data)
      return s.fail(where + "is a constant of the file (" + tensors[t].shape.str() + ", " +
                    std::to_string(tensors[t].bytes) + " bytes); operators may not write constants");
    if (s.graph_input[t]) return s.fail(where + "is a model input; operators may not write inputs");
    if (tensors[t].type != fb::TensorType_FLOAT32)
      return s.fail(where + "is of type " + fb::EnumNameTensorType(tensors[t].type) + "; outputs are FLOAT32");
    if (first[t] < 0) {
      first[t] = static_cast<int>(k);
    } else {
      const CompileState::Definition& e = s.definitions[first[t]];
      if (e.op != d.op || e.origin != d.origin || !(e.shape == d.shape))
        return s.fail(where + "as " + d.shape.str() + " is also written by " + s.op_label(e.op, e.origin) + " as " +
                      e.shape.str() + "; every tensor has one writer");
    }
    if (!check_output_shape(s, d.op, d.origin, t, d.shape)) return false;
  }
  std::vector<int> written_by(n, -1);  // step index
  for (int k = 0; k < static_cast<int>(s.steps().size()); ++k) {
    const Step& step = s.steps()[k];
    for (int t : step.reads) {
      const bool ready = s.constant[t] >= 0 || written_by[t] >= 0 ||
                         std::find(s.graph_inputs().begin(), s.graph_inputs().end(), t) != s.graph_inputs().end();
      if (!ready)
        return s.fail(s.op_label(step.op) + ": reads " + tensor_name(s, t) +
                      ", which is neither a constant, a signature input nor written by an earlier step");
    }
    for (int t : step.writes) {
      if (first[t] < 0 || s.definitions[first[t]].op != step.op)
        return s.fail(
            s.op_label(step.op) + ": writes " + tensor_name(s, t) + ", whose shape " +
            (first[t] < 0 ? std::string("no operator set") : "was set by " + s.op_label(s.definitions[first[t]].op)));
      if (written_by[t] >= 0)
        return s.fail(s.op_label(step.op) + ": writes " + tensor_name(s, t) + ", which step " +
                      std::to_string(written_by[t]) + " writes too");
      written_by[t] = k;
    }
  }
  return true;
}

}  // namespace runtime
