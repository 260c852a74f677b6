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

// The operations after a convolution that its kernel applies instead, in the
// kernel's order: residual add, activation, PReLU. Each link needs the
// previous result to have this chain as its only reader.
struct PostChain {
  Conv2DPostOps post;
  int residual = -1;
  int output = -1;  // the tensor the kernel finally writes
  std::vector<float> alpha;
};

bool float_tensor(OpContext& ctx, int t) { return t >= 0 && ctx.type(t) == fb::TensorType_FLOAT32; }

void fold_following(OpContext& ctx, const Shape& out_shape, PostChain& chain) {
  const int channels = out_shape.back(-1);
  int t = chain.output;
  // Residual ADD, only while nothing has been applied after the bias.
  if (chain.post.activation == Activation::kNone) {
    const int c = ctx.sole_consumer(t);
    if (c >= 0) {
      const OperatorDesc& add = ctx.desc_at(c);
      const auto* options = add.table->builtin_options_as_AddOptions();
      Activation act;
      const bool options_ok = add.table->builtin_options_type() == fb::BuiltinOptions_NONE || options;
      if (add.code == fb::BuiltinOperator_ADD && !add.custom && options_ok && add.inputs.size() == 2 &&
          add.outputs.size() == 1 &&
          kernel_activation(options ? options->fused_activation_function() : fb::ActivationFunctionType_NONE, act)) {
        const int r = add.inputs[0] == t ? add.inputs[1] : add.inputs[0];
        if (r >= 0 && r != t && float_tensor(ctx, r) && float_tensor(ctx, add.outputs[0]) &&
            ctx.produced_before(r, ctx.op_index()) && ctx.shape(r) == out_shape) {
          chain.post.add_residual = true;
          chain.residual = r;
          chain.post.activation = act;
          t = add.outputs[0];
          ctx.absorb(c, out_shape);
        }
      }
    }
  }
  if (chain.post.activation == Activation::kNone) {
    const int c = ctx.sole_consumer(t);
    if (c >= 0) {
      const OperatorDesc& op = ctx.desc_at(c);
      if ((op.code == fb::BuiltinOperator_RELU || op.code == fb::BuiltinOperator_RELU6) && !op.custom &&
          op.inputs.size() == 1 && op.outputs.size() == 1 && float_tensor(ctx, op.outputs[0])) {
        chain.post.activation = op.code == fb::BuiltinOperator_RELU ? Activation::kRelu : Activation::kRelu6;
        t = op.outputs[0];
        ctx.absorb(c, out_shape);
      }
    }
  }
  {
    const int c = ctx.sole_consumer(t);
    if (c >= 0) {
      const OperatorDesc& op = ctx.desc_at(c);
      if (op.code == fb::BuiltinOperator_PRELU && !op.custom && op.inputs.size() == 2 && op.outputs.size() == 1 &&
          op.inputs[0] == t && op.inputs[1] >= 0 && float_tensor(ctx, op.outputs[0]) &&
          ctx.has_constant(op.inputs[1]) && ctx.type(op.inputs[1]) == fb::TensorType_FLOAT32) {
        // Only a slope per channel (every other dimension 1) fits the kernel.
        const Shape& s = ctx.shape(op.inputs[1]);
        bool per_channel = s.rank >= 1 && s.rank <= out_shape.rank && s.back(-1) == channels;
        for (int i = 0; per_channel && i + 1 < s.rank; ++i) per_channel = s.dims[i] == 1;
        if (per_channel) {
          const float* alpha = ctx.constant_floats(op.inputs[1]);
          chain.alpha.assign(alpha, alpha + channels);
          t = op.outputs[0];
          ctx.absorb(c, out_shape);
        }
      }
    }
  }
  chain.output = t;
}

}  // namespace

bool kernel_activation(fb::ActivationFunctionType act, Activation& out) {
  switch (act) {
    case fb::ActivationFunctionType_NONE: out = Activation::kNone; return true;
    case fb::ActivationFunctionType_RELU: out = Activation::kRelu; return true;
    case fb::ActivationFunctionType_RELU6: out = Activation::kRelu6; return true;
    default: return false;
  }
}

bool conv_output_size(fb::Padding padding, int in, int kernel, int stride, int dilation, int& out,
                      int& pad_before, int& pad_after) {
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

  const OpContext::FoldedPad* fold = ctx.folded_pad();
  const int in = fold ? fold->source : ctx.input(0);
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
    in_h += fold->top + fold->bottom;
    in_w += fold->left + fold->right;
  }
  int pt, pb, pl, pr;
  if (!conv_output_size(p.padding, in_h, s.kernel_height, s.stride_height, s.dilation_height, s.out_height, pt,
                        pb) ||
      !conv_output_size(p.padding, in_w, s.kernel_width, s.stride_width, s.dilation_width, s.out_width, pl, pr))
    return ctx.fail("output of input " + x.str() + " and filter " + w.str() + " would be empty");
  s.pad_top = pt + (fold ? fold->top : 0);
  s.pad_bottom = pb + (fold ? fold->bottom : 0);
  s.pad_left = pl + (fold ? fold->left : 0);
  s.pad_right = pr + (fold ? fold->right : 0);

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

  PostChain chain;
  chain.post = post;
  chain.output = ctx.output(0);
  fold_following(ctx, out_shape, chain);
  if (!chain.alpha.empty()) chain.post.prelu_alpha = chain.alpha.data();

  std::string error;
  auto conv = Conv2DKernel::create(s, weights, bias_data, chain.post, error);
  if (!conv) return ctx.fail("kernel: " + error);
  std::vector<int> reads = {in};
  if (chain.residual >= 0) reads.push_back(chain.residual);
  ctx.add_step(std::make_unique<ConvolutionKernel>(std::move(conv), in, chain.output, chain.residual), reads,
               {chain.output});
  return true;
}

}  // namespace runtime
