#include "runtime/ops/binary.h"
#include "runtime/ops/registry.h"

namespace runtime {

bool prepare_mul(OpContext& ctx) {
  bool ok;
  const auto* options = ctx.options<fb::ArithmeticOptions>(fb::BuiltinOptions_MulOptions, ok);
  return ok && prepare_binary(ctx, BinaryOp::kMul, options);
}

}  // namespace runtime
