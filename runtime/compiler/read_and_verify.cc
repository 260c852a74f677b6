// Pass: read and verify.
// Assumes: a Model whose indices are all in range (model.cc checked them),
// and a fresh state and graph.
// Guarantees: every per-tensor and per-operator record sized; no sparse or variable tensor; one shape per signature input,
// none of them a constant; the reader counts and the input and output roles
// of every tensor recorded for the passes after it.
#include "runtime/compiler/passes.h"

namespace runtime {

bool read_and_verify(CompileState& s, const std::vector<Shape>& input_shapes) {
  const Model& model = s.model;
  const size_t n = model.tensors().size();
  s.known.assign(n, false);
  s.constant.assign(n, -1);
  s.producer.assign(n, -1);
  s.consumers.assign(n, 0);
  s.graph_output.assign(n, false);
  s.graph_input.assign(n, false);
  s.absorbed.assign(model.operators().size(), false);
  s.shapes().assign(n, Shape{});
  s.data().assign(n, nullptr);
  s.graph_inputs() = model.signature().inputs;
  s.graph_outputs() = model.signature().outputs;
  for (size_t t = 0; t < n; ++t)
    if (model.tensors()[t].sparse || model.tensors()[t].variable)
      return s.fail("tensor " + std::to_string(t) + " is sparse or variable, which is not supported");
  for (const auto& op : model.operators())
    for (int in : op.inputs)
      if (in >= 0) ++s.consumers[in];
  for (int t : model.outputs()) s.graph_output[t] = true;
  for (int t : s.graph_outputs()) s.graph_output[t] = true;
  for (int t : model.inputs()) s.graph_input[t] = true;
  for (int t : s.graph_inputs()) s.graph_input[t] = true;
  if (input_shapes.size() != s.graph_inputs().size())
    return s.fail("got " + std::to_string(input_shapes.size()) + " input shapes for " +
                  std::to_string(s.graph_inputs().size()) + " signature inputs");
  for (size_t k = 0; k < s.graph_inputs().size(); ++k) {
    const int t = s.graph_inputs()[k];
    if (model.tensors()[t].data) return s.fail("signature input " + std::to_string(k) + " is a constant");
    s.shapes()[t] = input_shapes[k];
    s.known[t] = true;
  }
  return true;
}

}  // namespace runtime
