#include "runtime/ops/binary.h"
#include "runtime/ops/registry.h"

namespace runtime {

bool prepare_sub(OpContext& ctx) {
  bool ok;
  const auto* options = ctx.options<fb::ArithmeticOptions>(fb::BuiltinOptions_SubOptions, ok);
  return ok && prepare_binary(ctx, BinaryOp::kSub, options);
}

}  // namespace runtime
