#include "runtime/ops/conv_common.h"
#include "runtime/ops/registry.h"

namespace runtime {

bool prepare_conv_2d(OpContext& ctx) {
  bool ok;
  const auto* o = ctx.options<fb::Conv2DOptions>(fb::BuiltinOptions_Conv2DOptions, ok);
  if (!ok) return false;
  if (!o) return ctx.fail("options missing");
  return prepare_convolution(ctx, conv_params(*o, false));
}

}  // namespace runtime
