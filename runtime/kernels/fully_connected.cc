#include <cstring>

#include "runtime/kernels/conv2d.h"
#include "runtime/kernels/dnnl_primitive.h"
#include "runtime/kernels/output_pass.h"
#include "runtime/kernels/shape_check.h"

namespace runtime {
namespace {

using dnnl::memory;
using kernels::BoundPrimitive;
using kernels::DnnlDevice;
constexpr memory::data_type kF32 = memory::data_type::f32;

dnnl::primitive_attr make_attr() {
  dnnl::primitive_attr attr;
  attr.set_scratchpad_mode(dnnl::scratchpad_mode::user);
  return attr;
}

dnnl::inner_product_forward::primitive_desc describe_inner_product(
    const DnnlDevice& device, const FullyConnectedShape& s, bool with_bias) {
  const memory::desc src({s.batch, s.in_features}, kF32, memory::format_tag::nc);
  const memory::desc weights({s.out_features, s.in_features}, kF32, memory::format_tag::any);
  const memory::desc bias =
      with_bias ? memory::desc({s.out_features}, kF32, memory::format_tag::x) : memory::desc();
  const memory::desc dst({s.batch, s.out_features}, kF32, memory::format_tag::nc);
  const dnnl::inner_product_forward::desc desc(dnnl::prop_kind::forward_inference, src, weights,
                                               bias, dst);
  return {desc, make_attr(), device.engine};
}

// A fully connected layer as oneDNN's inner product; the weights are
// repacked once from TFLite's [out][in]. The activation follows in the output
// pass, which keeps NaN.
class DnnlFullyConnected final : public FullyConnectedKernel {
 public:
  DnnlFullyConnected(const FullyConnectedShape& s, const float* weights, const float* bias,
                     Activation activation)
      : batch_(s.batch),
        out_features_(s.out_features),
        activation_(activation),
        pd_(describe_inner_product(device_, s, bias != nullptr)),
        primitive_(device_, dnnl::inner_product_forward(pd_), pd_.scratchpad_desc()) {
    const memory::desc tflite({s.out_features, s.in_features}, kF32, memory::format_tag::oi);
    memory user_weights(tflite, device_.engine, const_cast<float*>(weights));
    memory packed(pd_.weights_desc(), device_.engine);
    dnnl::reorder(user_weights, packed).execute(device_.stream, user_weights, packed);
    device_.stream.wait();
    primitive_.bind(DNNL_ARG_WEIGHTS, packed);
    if (bias) {
      memory copy(pd_.bias_desc(), device_.engine);
      std::memcpy(copy.get_data_handle(), bias, pd_.bias_desc().get_size());
      primitive_.bind(DNNL_ARG_BIAS, copy);
    }
    src_ = primitive_.bind(DNNL_ARG_SRC, memory(pd_.src_desc(), device_.engine, nullptr));
    dst_ = primitive_.bind(DNNL_ARG_DST, memory(pd_.dst_desc(), device_.engine, nullptr));
  }

  void run(const float* input, float* output) override {
    primitive_.set_handle(src_, input);
    primitive_.set_handle(dst_, output);
    primitive_.execute();
    if (activation_ != Activation::kNone)
      kernels::apply_output_pass(output, batch_, out_features_, activation_, nullptr);
  }

 private:
  DnnlDevice device_;
  int batch_, out_features_;
  Activation activation_;
  dnnl::inner_product_forward::primitive_desc pd_;
  BoundPrimitive primitive_;
  int src_ = -1, dst_ = -1;
};

}  // namespace

std::unique_ptr<FullyConnectedKernel> FullyConnectedKernel::create(const FullyConnectedShape& shape,
                                                                   const float* weights,
                                                                   const float* bias,
                                                                   Activation activation,
                                                                   std::string& error) {
  if (!kernels::check_fully_connected(shape, weights, activation, error)) return nullptr;
  return kernels::create_on_one_thread<DnnlFullyConnected>("fully connected", error, shape, weights,
                                                            bias, activation);
}

}  // namespace runtime
