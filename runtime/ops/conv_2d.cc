#include "runtime/ops/conv_common.h"
#include "runtime/ops/registry.h"

namespace runtime {

bool prepare_conv_2d(OpContext& ctx) {
  bool ok;
  const auto* o = ctx.options<fb::Conv2DOptions>(fb::BuiltinOptions_Conv2DOptions, ok);
  if (!ok) return false;
  if (!o) return ctx.fail("options missing");
  ConvParams p;
  p.padding = o->padding();
  p.stride_h = o->stride_h();
  p.stride_w = o->stride_w();
  p.dilation_h = o->dilation_h_factor();
  p.dilation_w = o->dilation_w_factor();
  p.activation = o->fused_activation_function();
  return prepare_convolution(ctx, p);
}

}  // namespace runtime
