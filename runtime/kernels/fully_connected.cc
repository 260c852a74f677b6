#include "runtime/kernels/conv2d.h"
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
  if (!kernels::check_fully_connected(shape, weights, activation, error)) return nullptr;
  Conv2DShape conv;
  conv.in_height = conv.out_height = 1;
  conv.in_width = conv.out_width = shape.batch;
  conv.in_channels = shape.in_features;
  conv.out_channels = shape.out_features;
  Conv2DPostOps post;
  post.activation = activation;
  auto kernel = Conv2DKernel::create(conv, weights, bias, post, error);
  if (!kernel) return nullptr;
  return std::make_unique<ConvFullyConnected>(std::move(kernel));
}

}  // namespace runtime
