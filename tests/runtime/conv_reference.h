#pragma once

// Plain-loop convolution over NHWC with explicit padding, for the CONV_2D
// and DEPTHWISE_CONV_2D tests.
#include <algorithm>
#include <vector>

namespace testing_models {

struct ConvCase {
  int batch = 1, h = 5, w = 5, in_c = 3, out_c = 4, kh = 3, kw = 3;
  int stride_h = 1, stride_w = 1, dilation_h = 1, dilation_w = 1;
  bool same = true;
  bool depthwise = false;

  int out_h() const { return same ? (h + stride_h - 1) / stride_h : (h - dilation_h * (kh - 1) - 1) / stride_h + 1; }
  int out_w() const { return same ? (w + stride_w - 1) / stride_w : (w - dilation_w * (kw - 1) - 1) / stride_w + 1; }
  int pad_top() const {
    return same ? std::max((out_h() - 1) * stride_h + dilation_h * (kh - 1) + 1 - h, 0) / 2 : 0;
  }
  int pad_left() const {
    return same ? std::max((out_w() - 1) * stride_w + dilation_w * (kw - 1) + 1 - w, 0) / 2 : 0;
  }
  int channels_out() const { return depthwise ? in_c : out_c; }
};

// weights: [out_c][kh][kw][in_c], or [1][kh][kw][c] when depthwise.
inline std::vector<float> conv_reference(const ConvCase& c, const std::vector<float>& x,
                                         const std::vector<float>& weights, const std::vector<float>& bias) {
  const int oh = c.out_h(), ow = c.out_w(), oc = c.channels_out();
  std::vector<float> out(static_cast<size_t>(c.batch) * oh * ow * oc);
  for (int b = 0; b < c.batch; ++b)
    for (int y = 0; y < oh; ++y)
      for (int xo = 0; xo < ow; ++xo)
        for (int o = 0; o < oc; ++o) {
          double acc = bias.empty() ? 0.0 : bias[o];
          for (int ky = 0; ky < c.kh; ++ky)
            for (int kx = 0; kx < c.kw; ++kx) {
              const int iy = y * c.stride_h - c.pad_top() + ky * c.dilation_h;
              const int ix = xo * c.stride_w - c.pad_left() + kx * c.dilation_w;
              if (iy < 0 || iy >= c.h || ix < 0 || ix >= c.w) continue;
              const float* px = &x[((static_cast<size_t>(b) * c.h + iy) * c.w + ix) * c.in_c];
              if (c.depthwise) {
                acc += double{px[o]} * weights[(static_cast<size_t>(ky) * c.kw + kx) * oc + o];
              } else {
                for (int i = 0; i < c.in_c; ++i)
                  acc += double{px[i]} * weights[((static_cast<size_t>(o) * c.kh + ky) * c.kw + kx) * c.in_c + i];
              }
            }
          out[((static_cast<size_t>(b) * oh + y) * ow + xo) * oc + o] = static_cast<float>(acc);
        }
  return out;
}

}  // namespace testing_models
