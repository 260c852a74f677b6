#include "runtime/kernels/conv2d.h"

#include <algorithm>
#include <vector>

#include "runtime/kernels/shape_check.h"

namespace runtime {
namespace {

float activate(Activation activation, float v) {
  switch (activation) {
    case Activation::kNone: return v;
    case Activation::kRelu: return std::max(v, 0.0f);
    case Activation::kRelu6: return std::min(std::max(v, 0.0f), 6.0f);
  }
  return v;
}

// Direct loops over NHWC; correct for every checked shape, used until the
// library-backed path covers it.
class PlainConv2D final : public Conv2DKernel {
 public:
  PlainConv2D(const Conv2DShape& s, const float* weights, const float* bias,
              const Conv2DPostOps& post)
      : s_(s),
        activation_(post.activation),
        add_residual_(post.add_residual),
        weights_(weights, weights + weight_count(s)),
        bias_(bias ? std::vector<float>(bias, bias + s.out_channels)
                   : std::vector<float>(s.out_channels, 0.0f)),
        alpha_(post.prelu_alpha ? std::vector<float>(post.prelu_alpha,
                                                     post.prelu_alpha + s.out_channels)
                                : std::vector<float>()) {}

  void run(const float* input, float* output, const float* residual) override {
    const bool depthwise = s_.groups != 1;
    for (int b = 0; b < s_.batch; ++b)
      for (int oy = 0; oy < s_.out_height; ++oy)
        for (int ox = 0; ox < s_.out_width; ++ox) {
          const size_t out_at =
              ((size_t(b) * s_.out_height + oy) * s_.out_width + ox) * s_.out_channels;
          for (int oc = 0; oc < s_.out_channels; ++oc) {
            float acc = bias_[oc];
            for (int ky = 0; ky < s_.kernel_height; ++ky) {
              const int iy = oy * s_.stride_height - s_.pad_top + ky * s_.dilation_height;
              if (iy < 0 || iy >= s_.in_height) continue;
              for (int kx = 0; kx < s_.kernel_width; ++kx) {
                const int ix = ox * s_.stride_width - s_.pad_left + kx * s_.dilation_width;
                if (ix < 0 || ix >= s_.in_width) continue;
                const float* in =
                    input + ((size_t(b) * s_.in_height + iy) * s_.in_width + ix) * s_.in_channels;
                if (depthwise) {
                  acc += in[oc] *
                         weights_[(size_t(ky) * s_.kernel_width + kx) * s_.out_channels + oc];
                } else {
                  const float* w = weights_.data() +
                                   ((size_t(oc) * s_.kernel_height + ky) * s_.kernel_width + kx) *
                                       s_.in_channels;
                  for (int ic = 0; ic < s_.in_channels; ++ic) acc += in[ic] * w[ic];
                }
              }
            }
            if (add_residual_) acc += residual[out_at + oc];
            acc = activate(activation_, acc);
            if (!alpha_.empty() && acc < 0) acc *= alpha_[oc];
            output[out_at + oc] = acc;
          }
        }
  }

 private:
  static size_t weight_count(const Conv2DShape& s) {
    return size_t(s.out_channels) * s.kernel_height * s.kernel_width * (s.in_channels / s.groups);
  }

  Conv2DShape s_;
  Activation activation_;
  bool add_residual_;
  std::vector<float> weights_, bias_, alpha_;
};

}  // namespace

std::unique_ptr<Conv2DKernel> Conv2DKernel::create(const Conv2DShape& shape, const float* weights,
                                                   const float* bias, const Conv2DPostOps& post,
                                                   std::string& error) {
  if (!kernels::check_conv2d(shape, weights, post, error)) return nullptr;
  return std::make_unique<PlainConv2D>(shape, weights, bias, post);
}

}  // namespace runtime
