#include "runtime/kernels/plain_conv.h"

#include <vector>

#include "runtime/kernels/epilogue.h"

namespace runtime::kernels {
namespace {

class PlainConv2D final : public Conv2DKernel {
 public:
  PlainConv2D(const Conv2DShape& s, const float* weights, const float* bias,
              const Conv2DPostOps& post)
      : s_(s),
        weights_(weights, weights + size_t(s.out_channels) * s.kernel_height * s.kernel_width *
                                        (s.in_channels / s.groups)),
        values_(s.out_channels, s.out_channels, bias, post) {}

  void run(const float* input, float* output, const float* residual) override {
    const Conv2DShape& s = s_;
    const bool depthwise = s.groups > 1;
    const int depth = depthwise ? 1 : s.in_channels;
    size_t o = 0;
    for (int n = 0; n < s.batch; ++n)
      for (int oy = 0; oy < s.out_height; ++oy)
        for (int ox = 0; ox < s.out_width; ++ox)
          for (int oc = 0; oc < s.out_channels; ++oc, ++o) {
            float sum = values_.epilogue.bias[oc];
            for (int ky = 0; ky < s.kernel_height; ++ky) {
              const int y = oy * s.stride_height - s.pad_top + ky * s.dilation_height;
              if (y < 0 || y >= s.in_height) continue;
              for (int kx = 0; kx < s.kernel_width; ++kx) {
                const int x = ox * s.stride_width - s.pad_left + kx * s.dilation_width;
                if (x < 0 || x >= s.in_width) continue;
                const float* in =
                    input + ((size_t(n) * s.in_height + y) * s.in_width + x) * s.in_channels;
                const size_t tap = size_t(ky) * s.kernel_width + kx;
                if (depthwise) {
                  sum += in[oc] * weights_[tap * s.out_channels + oc];
                  continue;
                }
                const float* w = weights_.data() + (size_t(oc) * s.kernel_height * s.kernel_width + tap) * depth;
                for (int ic = 0; ic < depth; ++ic) sum += in[ic] * w[ic];
              }
            }
            output[o] = finish(values_.epilogue, sum, oc, values_.epilogue.add_residual ? residual + o : nullptr);
          }
  }

 private:
  Conv2DShape s_;
  std::vector<float> weights_;  // the caller's layout
  ChannelValues values_;
};

}  // namespace

std::unique_ptr<Conv2DKernel> make_plain_conv2d(const Conv2DShape& shape, const float* weights,
                                                const float* bias, const Conv2DPostOps& post) {
  return std::make_unique<PlainConv2D>(shape, weights, bias, post);
}

}  // namespace runtime::kernels
