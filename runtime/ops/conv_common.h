#pragma once

#include "runtime/ops/op.h"

namespace runtime {

struct ConvParams {
  fb::Padding padding = fb::Padding_SAME;
  int stride_h = 1, stride_w = 1;
  int dilation_h = 1, dilation_w = 1;
  fb::ActivationFunctionType activation = fb::ActivationFunctionType_NONE;
  bool depthwise = false;
};

// The parameters both convolution option tables share.
template <typename Options>
ConvParams conv_params(const Options& o, bool depthwise) {
  ConvParams p;
  p.depthwise = depthwise;
  p.padding = o.padding();
  p.stride_h = o.stride_h();
  p.stride_w = o.stride_w();
  p.dilation_h = o.dilation_h_factor();
  p.dilation_w = o.dilation_w_factor();
  p.activation = o.fused_activation_function();
  return p;
}

// The kernels' form of a fused activation; false for one they do not have.
bool kernel_activation(fb::ActivationFunctionType act, Activation& out);

// Output size and leading padding of one spatial dimension, as the file
// format defines SAME and VALID. False when the output would be empty.
bool output_size_and_padding(fb::Padding padding, int in, int kernel, int stride, int dilation,
                             int& out, int& pad_before, int& pad_after);

// The shared path of CONV_2D and DEPTHWISE_CONV_2D: checks shapes, applies a
// folded PAD, folds a following residual ADD, RELU/RELU6 and PRELU into the
// kernel's post-ops where the graph allows, and adds the step.
bool prepare_convolution(OpContext& ctx, const ConvParams& params);

}  // namespace runtime
