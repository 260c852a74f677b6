#include "runtime/ops/conv_common.h"
#include "runtime/ops/registry.h"

namespace runtime {

namespace {

class FullyConnectedStep final : public Kernel {
 public:
  FullyConnectedStep(std::unique_ptr<FullyConnectedKernel> fc, int in, int out)
      : fc_(std::move(fc)), in_(in), out_(out) {}
  void run(TensorData data) override { fc_->run(data[in_], data[out_]); }

 private:
  std::unique_ptr<FullyConnectedKernel> fc_;
  int in_, out_;
};

}  // namespace

// out[b][o] = act(sum_i in[b][i] * w[o][i] + bias[o]); the input is read as
// rows of the weights' depth.
bool prepare_fully_connected(OpContext& ctx) {
  if (!ctx.expect_counts(2, 3, 1) || !ctx.float_input(0) || !ctx.float_output(0)) return false;
  bool ok;
  const auto* o = ctx.options<fb::FullyConnectedOptions>(fb::BuiltinOptions_FullyConnectedOptions, ok);
  if (!ok) return false;
  Activation act = Activation::kNone;
  if (!kernel_activation(o ? o->fused_activation_function() : fb::ActivationFunctionType_NONE, act))
    return ctx.fail(std::string("fused activation ") +
                    fb::EnumNameActivationFunctionType(o->fused_activation_function()) + " not supported");
  if (o && o->weights_format() != 0)
    return ctx.fail("weights format " + std::to_string(o->weights_format()) + " not supported");
  const bool keep_dims = o && o->keep_num_dims();
  const int in = ctx.input(0), out = ctx.output(0);
  const int weights_tensor = ctx.input(1);
  const int bias_tensor = ctx.num_inputs() > 2 ? ctx.input(2) : -1;
  const float* weights = ctx.constant_floats(weights_tensor);
  if (!weights) return false;
  const Shape& w = ctx.shape(weights_tensor);
  const Shape& x = ctx.shape(in);
  if (w.rank != 2 || w.dims[0] < 1 || w.dims[1] < 1)
    return ctx.fail("weights " + w.str() + " are not a non-empty matrix");
  FullyConnectedShape s;
  s.out_features = w.dims[0];
  s.in_features = w.dims[1];
  const int64_t elements = x.elements();
  if (elements == 0 || elements % s.in_features != 0)
    return ctx.fail("input " + x.str() + " is not a whole number of rows of " + std::to_string(s.in_features));
  s.batch = static_cast<int>(elements / s.in_features);
  const float* bias = nullptr;
  if (bias_tensor >= 0) {
    bias = ctx.constant_floats(bias_tensor);
    if (!bias) return false;
    if (ctx.shape(bias_tensor).elements() != s.out_features)
      return ctx.fail("bias of " + std::to_string(ctx.shape(bias_tensor).elements()) + " values for " +
                      std::to_string(s.out_features) + " outputs");
  }
  Shape out_shape;
  if (keep_dims) {
    if (x.rank < 1 || x.back(-1) != s.in_features)
      return ctx.fail("input " + x.str() + " has a depth other than the weights' " + std::to_string(s.in_features));
    out_shape = x;
    out_shape.dims[out_shape.rank - 1] = s.out_features;
  } else {
    out_shape = Shape::of({s.batch, s.out_features});
  }
  if (out_shape.elements() > kMaxElements)
    return ctx.fail("output " + out_shape.str() + " has more than " + std::to_string(kMaxElements) + " elements");
  ctx.set_shape(out, out_shape);
  std::string error;
  auto fc = FullyConnectedKernel::create(s, weights, bias, act, error);
  if (!fc) return ctx.fail("kernel: " + error);
  ctx.add_step(std::make_unique<FullyConnectedStep>(std::move(fc), in, out), {in}, {out});
  return true;
}

}  // namespace runtime
