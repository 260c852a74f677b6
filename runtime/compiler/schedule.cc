// Pass: schedule.
// Assumes: the reader counts and graph outputs of read_and_verify.
// Guarantees: `order` is a permutation of the operators and `position` its
// inverse. A convolution whose only reader is a residual ADD of a tensor
// computed after the convolution is moved to just before that ADD: its
// inputs are still written earlier and nothing in between reads its output,
// so results are unchanged and the ADD can fuse into it.
#include <algorithm>

#include "runtime/compiler/passes.h"

namespace runtime {

void schedule(CompileState& s) {
  const auto& ops = s.model.operators();
  const int n = static_cast<int>(ops.size());
  std::vector<int> producer(s.model.tensors().size(), -1);
  for (int i = 0; i < n; ++i)
    for (int t : ops[i].outputs) producer[t] = i;
  s.order.resize(n);
  for (int i = 0; i < n; ++i) s.order[i] = i;
  for (int i = 0; i < n; ++i) {
    const OperatorDesc& conv = ops[i];
    if (conv.custom ||
        (conv.code != fb::BuiltinOperator_CONV_2D && conv.code != fb::BuiltinOperator_DEPTHWISE_CONV_2D) ||
        conv.outputs.size() != 1)
      continue;
    const int t = conv.outputs[0];
    if (s.graph_output[t] || s.consumers[t] != 1) continue;
    int add = -1;
    for (int j = i + 1; j < n && add < 0; ++j)
      for (int in : ops[j].inputs)
        if (in == t) add = j;
    if (add < 0 || ops[add].custom || ops[add].code != fb::BuiltinOperator_ADD || ops[add].inputs.size() != 2) continue;
    const int r = ops[add].inputs[0] == t ? ops[add].inputs[1] : ops[add].inputs[0];
    if (r < 0 || producer[r] < i) continue;  // already available, nothing to gain
    auto from = std::find(s.order.begin(), s.order.end(), i);
    auto to = std::find(s.order.begin(), s.order.end(), add);
    if (from < to) std::rotate(from, from + 1, to);
  }
  s.position.assign(n, 0);
  for (int k = 0; k < n; ++k) s.position[s.order[k]] = k;
}

}  // namespace runtime
