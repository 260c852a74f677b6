// Pass: constants.
// Assumes: read_and_verify has run.
// Guarantees: every float32 constant of the file has its own aligned copy
// and its declared shape; every DEQUANTIZE of a float16 constant is computed
// once here (float32 values, the operator absorbed), wherever the file
// places it, so the fusions see every constant.
#include <cstring>

#include "runtime/compiler/passes.h"
#include "runtime/compiler/prepare.h"

namespace runtime {

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
  }
  return true;
}

// Files place each DEQUANTIZE of a constant just before its first reader,
// which may come after the convolution whose PRELU slope it provides.
bool fold_dequantized_constants(CompileState& s) {
  const auto& ops = s.model.operators();
  for (int i = 0; i < static_cast<int>(ops.size()); ++i) {
    const OperatorDesc& op = ops[i];
    if (op.custom || op.code != fb::BuiltinOperator_DEQUANTIZE || op.inputs.size() != 1 || op.inputs[0] < 0 ||
        !s.model.tensors()[op.inputs[0]].data)
      continue;
    if (!prepare_one(s, i)) return false;
    s.absorbed[i] = true;
  }
  return true;
}

}  // namespace runtime
