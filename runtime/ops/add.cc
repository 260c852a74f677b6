#include "runtime/ops/binary.h"
#include "runtime/ops/registry.h"

namespace runtime {

bool prepare_add(OpContext& ctx) {
  bool ok;
  const auto* options = ctx.options<fb::ArithmeticOptions>(fb::BuiltinOptions_AddOptions, ok);
  return ok && prepare_binary(ctx, BinaryOp::kAdd, options);
}

}  // namespace runtime
