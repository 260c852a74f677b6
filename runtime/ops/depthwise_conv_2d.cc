#include "runtime/ops/conv_common.h"
#include "runtime/ops/registry.h"

namespace runtime {

bool prepare_depthwise_conv_2d(OpContext& ctx) {
  bool ok;
  const auto* o = ctx.options<fb::DepthwiseConv2DOptions>(fb::BuiltinOptions_DepthwiseConv2DOptions, ok);
  if (!ok) return false;
  if (!o) return ctx.fail("options missing");
  // The filter's shape decides the multiplier; a stated one must agree.
  if (o->depth_multiplier() > 1)
    return ctx.fail("depth multiplier " + std::to_string(o->depth_multiplier()) + ": only 1 is supported");
  return prepare_convolution(ctx, conv_params(*o, true));
}

}  // namespace runtime
