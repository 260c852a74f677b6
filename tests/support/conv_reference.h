#pragma once

// What the convolution tests share: seeded random inputs, the SAME padding
// of the file format, and a plain-loop convolution (double sums straight
// from the TFLite layouts) to check kernels and operators against.
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "runtime/kernels/conv2d.h"

namespace conv_reference {

inline std::vector<float> random_floats(size_t n, uint32_t seed, float lo = -1.f, float hi = 1.f) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> dist(lo, hi);
  std::vector<float> v(n);
  for (float& x : v) x = dist(rng);
  return v;
}

// One spatial axis: SAME pads to ceil(in / stride) outputs, the odd pixel
// after; VALID not at all. Pads given (>= 0) are kept.
inline void pad_axis(int in, int k, int stride, int dilation, bool valid, int& before, int& after, int& out) {
  const int reach = (k - 1) * dilation + 1, same = (in + stride - 1) / stride;
  const int total = valid ? 0 : std::max((same - 1) * stride + reach - in, 0);
  if (before < 0) before = total / 2, after = total - total / 2;
  out = (in + before + after - reach) / stride + 1;
}

// `s` with its output size and any pads left at -1 filled in.
inline runtime::Conv2DShape padded(runtime::Conv2DShape s, bool valid) {
  pad_axis(s.in_height, s.kernel_height, s.stride_height, s.dilation_height, valid, s.pad_top, s.pad_bottom,
           s.out_height);
  pad_axis(s.in_width, s.kernel_width, s.stride_width, s.dilation_width, valid, s.pad_left, s.pad_right,
           s.out_width);
  return s;
}

// Each value with the sum of the magnitudes that went into it, so that a
// tolerance can follow the size of the terms.
struct Expected {
  std::vector<double> value, magnitude;
  std::vector<float> floats() const { return std::vector<float>(value.begin(), value.end()); }
};

inline Expected conv2d(const runtime::Conv2DShape& s, const float* input, const float* weights, const float* bias,
                       const float* residual = nullptr, runtime::Activation activation = runtime::Activation::kNone,
                       const float* alpha = nullptr) {
  const size_t count = size_t(s.batch) * s.out_height * s.out_width * s.out_channels;
  Expected e{std::vector<double>(count), std::vector<double>(count)};
  const bool depthwise = s.groups > 1;
  size_t at = 0;
  for (int n = 0; n < s.batch; ++n)
    for (int oy = 0; oy < s.out_height; ++oy)
      for (int ox = 0; ox < s.out_width; ++ox)
        for (int oc = 0; oc < s.out_channels; ++oc, ++at) {
          double sum = bias ? bias[oc] : 0.0, magnitude = std::fabs(sum);
          for (int ky = 0; ky < s.kernel_height; ++ky)
            for (int kx = 0; kx < s.kernel_width; ++kx) {
              const int iy = oy * s.stride_height + ky * s.dilation_height - s.pad_top;
              const int ix = ox * s.stride_width + kx * s.dilation_width - s.pad_left;
              if (iy < 0 || ix < 0 || iy >= s.in_height || ix >= s.in_width) continue;
              const float* in = input + ((size_t(n) * s.in_height + iy) * s.in_width + ix) * s.in_channels;
              const size_t tap = size_t(ky) * s.kernel_width + kx;
              const float* w = depthwise ? weights + tap * s.out_channels + oc
                                         : weights + (size_t(oc) * s.kernel_height * s.kernel_width + tap) * s.in_channels;
              for (int i = 0; i < (depthwise ? 1 : s.in_channels); ++i) {
                const double p = double(depthwise ? in[oc] : in[i]) * w[i];
                sum += p;
                magnitude += std::fabs(p);
              }
            }
          if (residual) sum += residual[at], magnitude += std::fabs(residual[at]);
          // Written so that NaN passes the activations, as in the kernels.
          if (activation != runtime::Activation::kNone && sum < 0) sum = 0;
          if (activation == runtime::Activation::kRelu6 && sum > 6) sum = 6;
          if (alpha && sum < 0) sum *= alpha[oc];
          if (alpha) magnitude *= std::max(1.0, std::fabs(double(alpha[oc])));
          e.value[at] = sum;
          e.magnitude[at] = magnitude;
        }
  return e;
}

// Float sums in any order stay within a few ulps per term of the exact sum;
// 1e-5 of the summed magnitudes covers thousands of terms and still catches a
// dropped or doubled term.
inline int count_mismatches(const Expected& e, const std::vector<float>& got) {
  int bad = 0;
  for (size_t i = 0; i < got.size(); ++i) bad += !(std::fabs(got[i] - e.value[i]) <= 1e-5 * e.magnitude[i] + 1e-6);
  return bad;
}

}  // namespace conv_reference
