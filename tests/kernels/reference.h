#pragma once

// Plain loops the kernels are checked against: double sums straight from the
// TFLite layouts. Each value carries the sum of the magnitudes that went into
// it, so that the tolerance follows the size of the terms.

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "runtime/kernels/conv2d.h"

namespace kernels_test {

struct Expected {
  std::vector<double> value, magnitude;
};

inline std::vector<float> random_floats(size_t n, std::mt19937& rng, float lo, float hi) {
  std::uniform_real_distribution<float> dist(lo, hi);
  std::vector<float> v(n);
  for (float& x : v) x = dist(rng);
  return v;
}

inline Expected reference_conv2d(const runtime::Conv2DShape& s, const float* input,
                                 const float* weights, const float* bias, const float* residual,
                                 runtime::Activation activation, const float* alpha) {
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
              const float* in =
                  input + ((size_t(n) * s.in_height + iy) * s.in_width + ix) * s.in_channels;
              const size_t tap = size_t(ky) * s.kernel_width + kx;
              const float* w =
                  depthwise ? weights + tap * s.out_channels + oc
                            : weights + (size_t(oc) * s.kernel_height * s.kernel_width + tap) *
                                            s.in_channels;
              for (int i = 0; i < (depthwise ? 1 : s.in_channels); ++i) {
                const double p = double(depthwise ? in[oc] : in[i]) * w[i];
                sum += p;
                magnitude += std::fabs(p);
              }
            }
          if (residual) sum += residual[at], magnitude += std::fabs(residual[at]);
          if (activation != runtime::Activation::kNone) sum = std::max(sum, 0.0);
          if (activation == runtime::Activation::kRelu6) sum = std::min(sum, 6.0);
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
  for (size_t i = 0; i < got.size(); ++i)
    bad += !(std::fabs(got[i] - e.value[i]) <= 1e-5 * e.magnitude[i] + 1e-6);
  return bad;
}

}  // namespace kernels_test
