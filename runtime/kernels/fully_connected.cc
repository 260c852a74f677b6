#include "runtime/kernels/conv2d.h"
#include "runtime/kernels/kernel_family.h"
#include "runtime/kernels/shape_check.h"

namespace runtime {
namespace {

// A fully connected layer is a 1x1 convolution over a row of `batch` pixels
// with `in_features` channels: TFLite's [out][in] weights are already that
// convolution's weight layout.
class ConvFullyConnected final : public FullyConnectedKernel {
 public:
  explicit ConvFullyConnected(std::unique_ptr<Conv2DKernel> conv) : conv_(std::move(conv)) {}
  void run(const float* input, float* output) override { conv_->run(input, output, nullptr); }

 private:
  std::unique_ptr<Conv2DKernel> conv_;
};

}  // namespace

std::unique_ptr<FullyConnectedKernel> FullyConnectedKernel::create(const FullyConnectedShape& shape,
                                                                   const float* weights,
                                                                   const float* bias,
                                                                   Activation activation,
                                                                   std::string& error) {
  return kernels::make_fully_connected(kernels::chosen_kernel_family(), shape, weights, bias,
                                       activation, error);
}

namespace kernels {

std::unique_ptr<FullyConnectedKernel> make_fully_connected(KernelFamily family,
                                                           const FullyConnectedShape& shape,
                                                           const float* weights, const float* bias,
                                                           Activation activation,
                                                           std::string& error) {
  if (!check_fully_connected(shape, weights, activation, error)) return nullptr;
  Conv2DShape conv;
  conv.in_height = conv.out_height = 1;
  conv.in_width = conv.out_width = shape.batch;
  conv.in_channels = shape.in_features;
  conv.out_channels = shape.out_features;
  Conv2DPostOps post;
  post.activation = activation;
  if (!check_conv2d(conv, weights, post, error)) return nullptr;
  return std::make_unique<ConvFullyConnected>(make_conv2d(family, conv, weights, bias, post));
}

}  // namespace kernels

}  // namespace runtime
