#include "runtime/ops/conv_common.h"

#include <algorithm>

namespace runtime {

namespace {

class ConvolutionKernel final : public Kernel {
 public:
  ConvolutionKernel(std::unique_ptr<Conv2DKernel> conv, int in, int out, int residual)
      : conv_(std::move(conv)), in_(in), out_(out), residual_(residual) {}
  void run(TensorData data) override {
    conv_->run(data[in_], data[out_], residual_ >= 0 ? data[residual_] : nullptr);
  }

 private:
  std::unique_ptr<Conv2DKernel> conv_;
  int in_, out_, residual_;
};

}  // namespace

bool kernel_activation(fb::ActivationFunctionType act, Activation& out) {
  switch (act) {
    case fb::ActivationFunctionType_NONE: out = Activation::kNone; return true;
    case fb::ActivationFunctionType_RELU: out = Activation::kRelu; return true;
    case fb::ActivationFunctionType_RELU6: out = Activation::kRelu6; return true;
    default: return false;
  }
}

bool output_size_and_padding(fb::Padding padding, int in, int kernel, int stride, int dilation,
                             int& out, int& pad_before, int& pad_after) {
  const int64_t effective = int64_t{dilation} * (kernel - 1) + 1;
  if (padding == fb::Padding_SAME) {
    out = (in + stride - 1) / stride;
    const int64_t total = std::max<int64_t>((int64_t{out} - 1) * stride + effective - in, 0);
    pad_before = static_cast<int>(total / 2);
    pad_after = static_cast<int>(total - total / 2);
  } else {
    out = in < effective ? 0 : static_cast<int>((in - effective) / stride + 1);
    pad_before = pad_after = 0;
  }
  return out > 0;
}

bool prepare_convolution(OpContext& ctx, const ConvParams& p) {
  if (!ctx.expect_counts(2, 3, 1) || !ctx.float_output(0)) return false;
  if (p.stride_h < 1 || p.stride_w < 1 || p.dilation_h < 1 || p.dilation_w < 1 || p.stride_h > 1024 ||
      p.stride_w > 1024 || p.dilation_h > 1024 || p.dilation_w > 1024)
    return ctx.fail("stride " + std::to_string(p.stride_h) + "x" + std::to_string(p.stride_w) + " or dilation " +
                    std::to_string(p.dilation_h) + "x" + std::to_string(p.dilation_w) + " outside 1 to 1024");
  if (p.padding != fb::Padding_SAME && p.padding != fb::Padding_VALID)
    return ctx.fail("padding " + std::to_string(p.padding) + " is neither SAME nor VALID");
  Conv2DPostOps post;
  if (!kernel_activation(p.activation, post.activation))
    return ctx.fail(std::string("fused activation ") + fb::EnumNameActivationFunctionType(p.activation) +
                    " not supported");

  const ConvFusion& fusion = ctx.fusion();
  const bool fold = fusion.pad_source >= 0;  // the PAD's own prepare checked its input
  const int in = fold ? fusion.pad_source : ctx.input(0);
  if (!fold && !ctx.float_input(0)) return false;
  const int filter = ctx.input(1);
  const int bias = ctx.num_inputs() > 2 ? ctx.input(2) : -1;
  const Shape& x = ctx.shape(in);
  if (x.rank != 4) return ctx.fail("input has shape " + x.str() + ", not 4-D");
  const float* weights = ctx.constant_floats(filter);
  if (!weights) return false;
  const Shape& w = ctx.shape(filter);
  if (w.rank != 4) return ctx.fail("filter has shape " + w.str() + ", not 4-D");

  Conv2DShape s;
  s.batch = x.dims[0];
  s.in_height = x.dims[1];
  s.in_width = x.dims[2];
  s.in_channels = x.dims[3];
  s.kernel_height = w.dims[1];
  s.kernel_width = w.dims[2];
  s.stride_height = p.stride_h;
  s.stride_width = p.stride_w;
  s.dilation_height = p.dilation_h;
  s.dilation_width = p.dilation_w;
  if (p.depthwise) {
    if (w.dims[0] != 1 || w.dims[3] != s.in_channels)
      return ctx.fail("filter " + w.str() + " over " + std::to_string(s.in_channels) +
                      " channels: only a depth multiplier of 1 is supported");
    s.out_channels = s.in_channels;
    s.groups = s.in_channels;
  } else {
    if (w.dims[3] != s.in_channels)
      return ctx.fail("filter " + w.str() + " has depth " + std::to_string(w.dims[3]) + ", the input " +
                      std::to_string(s.in_channels));
    s.out_channels = w.dims[0];
  }
  if (s.batch < 1 || s.in_channels < 1 || s.out_channels < 1 || s.kernel_height < 1 || s.kernel_width < 1)
    return ctx.fail("empty convolution: input " + x.str() + ", filter " + w.str());
  int in_h = s.in_height, in_w = s.in_width;
  if (fold) {
    in_h += fusion.pad_top + fusion.pad_bottom;
    in_w += fusion.pad_left + fusion.pad_right;
  }
  int pt, pb, pl, pr;
  if (!output_size_and_padding(p.padding, in_h, s.kernel_height, s.stride_height, s.dilation_height,
                               s.out_height, pt, pb) ||
      !output_size_and_padding(p.padding, in_w, s.kernel_width, s.stride_width, s.dilation_width,
                               s.out_width, pl, pr))
    return ctx.fail("output of input " + x.str() + " and filter " + w.str() + " would be empty");
  s.pad_top = pt + fusion.pad_top;
  s.pad_bottom = pb + fusion.pad_bottom;
  s.pad_left = pl + fusion.pad_left;
  s.pad_right = pr + fusion.pad_right;

  const float* bias_data = nullptr;
  if (bias >= 0) {
    bias_data = ctx.constant_floats(bias);
    if (!bias_data) return false;
    if (ctx.shape(bias).elements() != s.out_channels)
      return ctx.fail("bias of " + std::to_string(ctx.shape(bias).elements()) + " values for " +
                      std::to_string(s.out_channels) + " output channels");
  }
  const Shape out_shape = Shape::of({s.batch, s.out_height, s.out_width, s.out_channels});
  if (out_shape.elements() > kMaxElements)
    return ctx.fail("output " + out_shape.str() + " has more than " + std::to_string(kMaxElements) + " elements");
  ctx.set_shape(ctx.output(0), out_shape);

  // The operators fused after the convolution, as the rewrite pass chose
  // them from the declared shapes; the inferred ones must bear that out.
  if (fusion.activation != Activation::kNone) post.activation = fusion.activation;
  if (fusion.residual >= 0 && !(ctx.shape(fusion.residual) == out_shape))
    return ctx.fail("fused residual ADD: its other input, " + ctx.tensor_label(fusion.residual) +
                    ", differs from the output " + out_shape.str());
  if (fusion.alpha >= 0) {
    if (ctx.shape(fusion.alpha).elements() != s.out_channels)
      return ctx.fail("fused PRELU: slope " + ctx.tensor_label(fusion.alpha) + " for " +
                      std::to_string(s.out_channels) + " output channels");
    post.prelu_alpha = ctx.constant_floats(fusion.alpha);
    if (!post.prelu_alpha) return false;
  }
  post.add_residual = fusion.residual >= 0;
  ctx.define_fused_outputs(out_shape);
  const int out = fusion.ops.empty() ? ctx.output(0) : fusion.output;

  std::string error;
  auto conv = Conv2DKernel::create(s, weights, bias_data, post, error);
  if (!conv) return ctx.fail("kernel: " + error);
  std::vector<int> reads = {in};
  if (fusion.residual >= 0) reads.push_back(fusion.residual);
  ctx.add_step(std::make_unique<ConvolutionKernel>(std::move(conv), in, out, fusion.residual), reads, {out});
  return true;
}

}  // namespace runtime
