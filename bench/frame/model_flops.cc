#include "bench/frame/model_flops.h"

#include <fstream>
#include <iterator>
#include <vector>

#include "runtime/model.h"

double model_flops(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string error;
  const auto model = runtime::Model::parse(std::move(bytes), error);
  if (!model) return 0.0;
  const auto& tensors = model->tensors();
  double flops = 0.0;
  for (const runtime::OperatorDesc& op : model->operators()) {
    if (op.custom || op.inputs.size() < 2 || op.outputs.empty() || op.inputs[1] < 0) continue;
    const runtime::Shape& weights = tensors[op.inputs[1]].shape;
    const double out = static_cast<double>(tensors[op.outputs[0]].shape.elements());
    if (weights.rank == 0) continue;
    switch (op.code) {
      case runtime::fb::BuiltinOperator_CONV_2D:  // weights [out, kh, kw, in]
        if (weights.rank == 4) flops += 2.0 * out * weights.dim(1) * weights.dim(2) * weights.dim(3);
        break;
      case runtime::fb::BuiltinOperator_DEPTHWISE_CONV_2D:  // weights [1, kh, kw, channels]
        if (weights.rank == 4) flops += 2.0 * out * weights.dim(1) * weights.dim(2);
        break;
      case runtime::fb::BuiltinOperator_FULLY_CONNECTED:  // weights [out, in]
        flops += 2.0 * out * weights.back(-1);
        break;
      default:
        break;
    }
  }
  return flops;
}
