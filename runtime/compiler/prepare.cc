// Pass: shape inference and kernels.
// Assumes: constants loaded, DEQUANTIZEs of constants folded, the schedule
// and the rewrites decided.
// Guarantees: every operator not absorbed has been prepared in execution
// order: its options and input types checked, the shapes of its outputs
// inferred (a convolution's also given to the outputs of the operators fused
// after it), its kernel created. The early output checks below only give the
// operator's own error first; check_writes is the one that holds for every
// definition, the fused ones included.
#include "runtime/compiler/prepare.h"

#include "runtime/compiler/passes.h"

namespace runtime {

bool prepare_one(CompileState& s, int i) {
  const OperatorDesc& op = s.model.operators()[i];
  const std::string where = s.op_label(i) + ": ";
  const OperatorRow* row = op.custom ? nullptr : find_operator(op.code);
  if (!row) return s.fail(where + "not supported (code " + std::to_string(op.code) + ")");
  for (int out : op.outputs)
    if (s.model.tensors()[out].data || s.constant[out] >= 0 || s.known[out])
      return s.fail(where + "output " + s.tensor_label(out) + " is a constant, an input or a tensor written before");
  for (int out : op.outputs) s.producer[out] = i;
  OpContext ctx(s, i);
  if (!row->prepare(ctx)) return s.fail(where + s.error);
  for (int out : op.outputs) {
    if (!s.known[out]) return s.fail(where + "shape of output " + s.tensor_label(out) + " not inferred");
    // Before the next operator sizes its buffers from this shape.
    if (!check_output_shape(s, i, i, out, s.shapes()[out])) return false;
  }
  return true;
}

bool prepare_operators(CompileState& s) {
  for (int i : s.order)
    if (!s.absorbed[i] && !prepare_one(s, i)) return false;
  for (size_t k = 0; k < s.graph_outputs().size(); ++k)
    if (!s.known[s.graph_outputs()[k]])
      return s.fail("signature output " + std::to_string(k) + ", " + s.tensor_label(s.graph_outputs()[k]) +
                    ", is never written");
  return true;
}

}  // namespace runtime
