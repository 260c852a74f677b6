#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace runtime {

// NaN stays NaN through every activation: RELU is `v < 0 ? 0 : v`, RELU6
// also `v > 6 ? 6 : v`.
enum class Activation { kNone, kRelu, kRelu6 };

// Geometry of one 2-D convolution over NHWC float tensors.
struct Conv2DShape {
  int batch = 1;
  int in_height = 0, in_width = 0, in_channels = 0;
  int out_height = 0, out_width = 0, out_channels = 0;
  int kernel_height = 1, kernel_width = 1;
  int stride_height = 1, stride_width = 1;
  int dilation_height = 1, dilation_width = 1;
  // Explicit zero padding; SAME padding and a folded PAD are both expressed here.
  int pad_top = 0, pad_left = 0, pad_bottom = 0, pad_right = 0;
  // 1: ordinary convolution, weights [out_channels][kh][kw][in_channels].
  // in_channels (== out_channels): depthwise, weights [1][kh][kw][out_channels].
  int groups = 1;
};

// Work applied to each output element inside the kernel, in this order:
// bias, residual add, activation, PReLU.
struct Conv2DPostOps {
  bool add_residual = false;       // out += residual (same NHWC shape as out)
  Activation activation = Activation::kNone;
  const float* prelu_alpha = nullptr;  // per output channel, or null; copied at create
};

// One convolution, created once when a model compiles and run per frame.
// create copies and repacks the weights and bias; the caller's arrays need
// not outlive the call. run reads `input` (and `residual` when add_residual)
// and writes `output`, all NHWC, without allocating. `residual` may be
// `output` itself (an in-place add); the arrays may not overlap otherwise.
class Conv2DKernel {
 public:
  virtual ~Conv2DKernel() = default;
  // Null with `error` set when the shape or post-ops cannot be built.
  // `bias` may be null (no bias).
  static std::unique_ptr<Conv2DKernel> create(const Conv2DShape& shape, const float* weights,
                                              const float* bias, const Conv2DPostOps& post,
                                              std::string& error);
  virtual void run(const float* input, float* output, const float* residual) = 0;
};

// out[b][o] = act(sum_i in[b][i] * weights[o][i] + bias[o]), TFLite weight layout.
struct FullyConnectedShape {
  int batch = 1;
  int in_features = 0;
  int out_features = 0;
};

class FullyConnectedKernel {
 public:
  virtual ~FullyConnectedKernel() = default;
  static std::unique_ptr<FullyConnectedKernel> create(const FullyConnectedShape& shape,
                                                      const float* weights, const float* bias,
                                                      Activation activation, std::string& error);
  virtual void run(const float* input, float* output) = 0;
};

}  // namespace runtime
