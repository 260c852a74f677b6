#include "runtime/kernels/conv2d.h"

#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "runtime/kernels/dnnl_primitive.h"
#include "runtime/kernels/finite_scan.h"
#include "runtime/kernels/output_pass.h"
#include "runtime/kernels/shape_check.h"

namespace runtime {
namespace {

using dnnl::memory;
using kernels::BoundPrimitive;
using kernels::DnnlDevice;
constexpr memory::data_type kF32 = memory::data_type::f32;

bool is_depthwise(const Conv2DShape& s) { return s.groups > 1; }

memory::desc nhwc(int n, int h, int w, int c) {
  return memory::desc({n, c, h, w}, kF32, memory::format_tag::nhwc);
}

// TFLite's weight layouts described to oneDNN as they lie in memory, so that
// one reorder at create repacks them into whatever layout the primitive wants.
memory::desc tflite_weights(const Conv2DShape& s) {
  if (is_depthwise(s)) {
    // [1][kh][kw][channels] seen as (groups, out 1, in 1, kh, kw).
    const memory::dim c = s.out_channels, kw = s.kernel_width;
    return memory::desc({c, 1, 1, s.kernel_height, kw}, kF32, memory::dims{1, 1, 1, kw * c, c});
  }
  return memory::desc({s.out_channels, s.in_channels, s.kernel_height, s.kernel_width}, kF32,
                      memory::format_tag::ohwi);
}

memory::desc packed_weights_any(const Conv2DShape& s) {
  memory::dims dims = tflite_weights(s).dims();
  return memory::desc(dims, kF32, memory::format_tag::any);
}

// How the residual reaches the primitive: as a second input added after the
// bias, or already sitting in the output when the caller adds in place.
enum class Residual { kNone, kSeparate, kInPlace };

// The residual, then `activation` when the library may apply it (see
// DnnlConv2D for when); PReLU never, see output_pass.h.
dnnl::primitive_attr make_attr(const Conv2DShape& s, Residual residual, Activation activation) {
  dnnl::post_ops ops;
  if (residual == Residual::kSeparate)
    ops.append_binary(dnnl::algorithm::binary_add,
                      nhwc(s.batch, s.out_height, s.out_width, s.out_channels));
  if (residual == Residual::kInPlace) ops.append_sum(1.0f);
  if (activation == Activation::kRelu)
    ops.append_eltwise(1.0f, dnnl::algorithm::eltwise_relu, 0.0f, 0.0f);
  if (activation == Activation::kRelu6)
    ops.append_eltwise(1.0f, dnnl::algorithm::eltwise_clip, 0.0f, 6.0f);
  dnnl::primitive_attr attr;
  attr.set_post_ops(ops);
  attr.set_scratchpad_mode(dnnl::scratchpad_mode::user);
  return attr;
}

dnnl::convolution_forward::primitive_desc describe_conv(const DnnlDevice& device,
                                                        const Conv2DShape& s, bool with_bias,
                                                        const dnnl::primitive_attr& attr) {
  const memory::desc src = nhwc(s.batch, s.in_height, s.in_width, s.in_channels);
  const memory::desc dst = nhwc(s.batch, s.out_height, s.out_width, s.out_channels);
  const memory::desc bias = with_bias ? memory::desc({s.out_channels}, kF32, memory::format_tag::x)
                                      : memory::desc();
  const memory::dims strides = {s.stride_height, s.stride_width};
  // oneDNN counts dilation from 0 (no gap), TFLite from 1.
  const memory::dims dilation = {s.dilation_height - 1, s.dilation_width - 1};
  const memory::dims pad_before = {s.pad_top, s.pad_left};
  const memory::dims pad_after = {s.pad_bottom, s.pad_right};
  const dnnl::convolution_forward::desc desc(
      dnnl::prop_kind::forward_inference, dnnl::algorithm::convolution_direct, src,
      packed_weights_any(s), bias, dst, strides, dilation, pad_before, pad_after);
  return {desc, attr, device.engine};
}

// The kernel's own copy of the bias.
memory copy_bias(const DnnlDevice& device, const Conv2DShape& s, const float* bias) {
  memory m(memory::desc({s.out_channels}, kF32, memory::format_tag::x), device.engine);
  std::memcpy(m.get_data_handle(), bias, s.out_channels * sizeof(float));
  return m;
}

// One executable form of the convolution with its argument slots.
struct BoundConv {
  BoundPrimitive primitive;
  int src = -1, dst = -1, residual = -1;
  bool copy_residual = false;  // the residual goes into the output before the run
};

// Parameters shared by the forms of one convolution: the caller's weights,
// repacked once per layout a form asks for, and the copied bias.
struct Parameters {
  const float* caller_weights;  // TFLite layout, read only during create
  std::vector<memory> packed;
  std::optional<memory> bias;

  const memory& weights_for(const DnnlDevice& device, const Conv2DShape& s,
                            const memory::desc& wanted) {
    for (const memory& m : packed)
      if (m.get_desc() == wanted) return m;
    memory user(tflite_weights(s), device.engine, const_cast<float*>(caller_weights));
    memory repacked(wanted, device.engine);
    dnnl::stream stream = device.stream;
    dnnl::reorder(user, repacked).execute(stream, user, repacked);
    stream.wait();
    packed.push_back(repacked);
    return packed.back();
  }
};

// oneDNN 2.6's gemm-based convolution, which it picks when the padding is as
// wide as the kernel, adds a binary post-op's tensor at wrong offsets (every
// pixel gets the first pixel's values), while its sum post-op is right. Only
// the direct jit convolutions are trusted with a separate residual tensor.
bool adds_residual_tensor_correctly(const dnnl::convolution_forward::primitive_desc& pd) {
  return std::string_view(pd.impl_info_str()).starts_with("jit");
}

BoundConv bind_conv(const DnnlDevice& device, const Conv2DShape& s, Parameters& parameters,
                    Residual residual, Activation activation) {
  auto pd = describe_conv(device, s, parameters.bias.has_value(),
                          make_attr(s, residual, activation));
  bool copy_residual = false;
  if (residual == Residual::kSeparate && !adds_residual_tensor_correctly(pd)) {
    residual = Residual::kInPlace;
    copy_residual = true;
    pd = describe_conv(device, s, parameters.bias.has_value(), make_attr(s, residual, activation));
  }
  BoundConv conv{BoundPrimitive(device, dnnl::convolution_forward(pd), pd.scratchpad_desc())};
  conv.copy_residual = copy_residual;
  conv.primitive.bind(DNNL_ARG_WEIGHTS, parameters.weights_for(device, s, pd.weights_desc()));
  if (parameters.bias) conv.primitive.bind(DNNL_ARG_BIAS, *parameters.bias);
  conv.src = conv.primitive.bind(DNNL_ARG_SRC, memory(pd.src_desc(), device.engine, nullptr));
  conv.dst = conv.primitive.bind(DNNL_ARG_DST, memory(pd.dst_desc(), device.engine, nullptr));
  // Post-op arguments are numbered by their position in the chain; the
  // residual comes first.
  if (residual == Residual::kSeparate)
    conv.residual = conv.primitive.bind(DNNL_ARG_ATTR_MULTIPLE_POST_OP(0) | DNNL_ARG_SRC_1,
                                        memory(pd.dst_desc(), device.engine, nullptr));
  return conv;
}

// The forms of one convolution for one choice of fused activation: one adding
// a separate residual tensor (or no residual), and with a residual one for a
// caller that passes the output itself as the residual, where reading the
// residual while the output is being written would be unsafe.
struct Forms {
  BoundConv separate;
  std::optional<BoundConv> in_place;

  Forms(const DnnlDevice& device, const Conv2DShape& s, Parameters& parameters,
        bool add_residual, Activation activation)
      : separate(bind_conv(device, s, parameters,
                           add_residual ? Residual::kSeparate : Residual::kNone, activation)) {
    if (add_residual)
      in_place.emplace(bind_conv(device, s, parameters, Residual::kInPlace, activation));
  }

  void run(const float* input, float* output, const float* residual, size_t output_count) {
    BoundConv& conv = (in_place && residual == output) ? *in_place : separate;
    conv.primitive.set_handle(conv.src, input);
    conv.primitive.set_handle(conv.dst, output);
    if (conv.residual >= 0) conv.primitive.set_handle(conv.residual, residual);
    if (conv.copy_residual) std::memcpy(output, residual, output_count * sizeof(float));
    conv.primitive.execute();
  }
};

// The convolution on oneDNN over the caller's NHWC tensors, followed by the
// activation and PReLU in a pass of our own (see output_pass.h).
//
// That pass costs 15-25% on a large output, and is only needed for NaN and
// infinities: on finite values the library's fused RELU and clip give the
// same results. A finite input and residual with finite weights and bias give
// a finite sum unless it overflows float (|x| > 3e38, where summation order
// already decides between infinity and NaN). So when the activation is the
// only post-op left and reading the input (and residual) is cheaper than
// rewriting the output, the kernel also holds a form with the activation
// fused, and takes it after checking that the input is finite.
class DnnlConv2D final : public Conv2DKernel {
 public:
  DnnlConv2D(const Conv2DShape& s, const float* weights, const float* bias,
             const Conv2DPostOps& post)
      : input_count_(size_t(s.batch) * s.in_height * s.in_width * s.in_channels),
        output_count_(size_t(s.batch) * s.out_height * s.out_width * s.out_channels),
        channels_(s.out_channels),
        activation_(post.activation),
        add_residual_(post.add_residual),
        alpha_(post.prelu_alpha ? std::vector<float>(post.prelu_alpha,
                                                     post.prelu_alpha + s.out_channels)
                                : std::vector<float>()),
        parameters_{weights, {}, bias ? std::optional<memory>(copy_bias(device_, s, bias))
                                      : std::nullopt},
        exact_(device_, s, parameters_, post.add_residual, Activation::kNone) {
    const size_t scanned = input_count_ + (add_residual_ ? output_count_ : 0);
    if (activation_ != Activation::kNone && alpha_.empty() && scanned < 2 * output_count_ &&
        kernels::all_finite(weights, tflite_weights(s).get_size() / sizeof(float)) &&
        (!bias || kernels::all_finite(bias, s.out_channels)))
      fused_.emplace(device_, s, parameters_, post.add_residual, activation_);
    parameters_.caller_weights = nullptr;  // not the kernel's to keep
  }

  void run(const float* input, float* output, const float* residual) override {
    if (fused_ && kernels::all_finite(input, input_count_) &&
        (!add_residual_ || kernels::all_finite(residual, output_count_))) {
      fused_->run(input, output, residual, output_count_);
      return;
    }
    exact_.run(input, output, residual, output_count_);
    if (!alpha_.empty() || activation_ != Activation::kNone)
      kernels::apply_output_pass(output, output_count_ / channels_, channels_, activation_,
                                 alpha_.empty() ? nullptr : alpha_.data());
  }

 private:
  DnnlDevice device_;
  size_t input_count_, output_count_;
  int channels_;
  Activation activation_;
  bool add_residual_;
  std::vector<float> alpha_;  // per output channel; empty without PReLU
  Parameters parameters_;
  Forms exact_;                 // activation and PReLU in the output pass
  std::optional<Forms> fused_;  // activation in the library, for finite inputs
};

}  // namespace

std::unique_ptr<Conv2DKernel> Conv2DKernel::create(const Conv2DShape& shape, const float* weights,
                                                   const float* bias, const Conv2DPostOps& post,
                                                   std::string& error) {
  if (!kernels::check_conv2d(shape, weights, post, error)) return nullptr;
  return kernels::create_on_one_thread<DnnlConv2D>("convolution", error, shape, weights, bias, post);
}

}  // namespace runtime
