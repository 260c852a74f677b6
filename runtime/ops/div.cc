#include "runtime/ops/binary.h"
#include "runtime/ops/registry.h"

namespace runtime {

bool prepare_div(OpContext& ctx) {
  bool ok;
  const auto* options = ctx.options<fb::ArithmeticOptions>(fb::BuiltinOptions_DivOptions, ok);
  return ok && prepare_binary(ctx, BinaryOp::kDiv, options);
}

}  // namespace runtime
