#pragma once

// Plain loops the kernels are checked against, written independently of the
// kernels: double accumulation, no repacking, straight from the TFLite layouts.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "runtime/kernels/conv2d.h"

namespace kernels_test {

// Each expected value carries the sum of the magnitudes that went into it, so
// that the tolerance follows the size of the terms rather than of the result.
struct Expected {
  std::vector<double> value;
  std::vector<double> magnitude;
};

inline std::vector<float> random_floats(size_t n, std::mt19937& rng, float lo = -1.0f,
                                        float hi = 1.0f) {
  std::uniform_real_distribution<float> dist(lo, hi);
  std::vector<float> v(n);
  for (float& x : v) x = dist(rng);
  return v;
}

inline void apply_post(runtime::Activation activation, const float* alpha, int channel,
                       double& value, double& magnitude) {
  if (activation == runtime::Activation::kRelu) value = std::max(value, 0.0);
  if (activation == runtime::Activation::kRelu6) value = std::clamp(value, 0.0, 6.0);
  if (alpha != nullptr) {
    if (value < 0) value *= alpha[channel];
    magnitude *= std::max(1.0, std::fabs(double(alpha[channel])));
  }
}

inline Expected reference_conv2d(const runtime::Conv2DShape& s, const float* input,
                                 const float* weights, const float* bias, const float* residual,
                                 runtime::Activation activation, const float* alpha) {
  const size_t out_count = size_t(s.batch) * s.out_height * s.out_width * s.out_channels;
  Expected e{std::vector<double>(out_count), std::vector<double>(out_count)};
  const bool depthwise = s.groups > 1;
  const int in_per_group = s.in_channels / s.groups;
  for (int n = 0; n < s.batch; ++n)
    for (int oy = 0; oy < s.out_height; ++oy)
      for (int ox = 0; ox < s.out_width; ++ox)
        for (int oc = 0; oc < s.out_channels; ++oc) {
          double sum = bias ? bias[oc] : 0.0;
          double mag = std::fabs(sum);
          for (int ky = 0; ky < s.kernel_height; ++ky)
            for (int kx = 0; kx < s.kernel_width; ++kx) {
              const int iy = oy * s.stride_height + ky * s.dilation_height - s.pad_top;
              const int ix = ox * s.stride_width + kx * s.dilation_width - s.pad_left;
              if (iy < 0 || ix < 0 || iy >= s.in_height || ix >= s.in_width) continue;
              for (int i = 0; i < in_per_group; ++i) {
                const int ic = depthwise ? oc : i;
                const double x =
                    input[((size_t(n) * s.in_height + iy) * s.in_width + ix) * s.in_channels + ic];
                const double w =
                    depthwise
                        ? weights[(size_t(ky) * s.kernel_width + kx) * s.out_channels + oc]
                        : weights[((size_t(oc) * s.kernel_height + ky) * s.kernel_width + kx) *
                                      s.in_channels +
                                  i];
                sum += x * w;
                mag += std::fabs(x * w);
              }
            }
          const size_t at = ((size_t(n) * s.out_height + oy) * s.out_width + ox) * s.out_channels + oc;
          if (residual) {
            sum += residual[at];
            mag += std::fabs(residual[at]);
          }
          apply_post(activation, alpha, oc, sum, mag);
          e.value[at] = sum;
          e.magnitude[at] = mag;
        }
  return e;
}

inline Expected reference_fully_connected(const runtime::FullyConnectedShape& s,
                                          const float* input, const float* weights,
                                          const float* bias, runtime::Activation activation) {
  const size_t out_count = size_t(s.batch) * s.out_features;
  Expected e{std::vector<double>(out_count), std::vector<double>(out_count)};
  for (int n = 0; n < s.batch; ++n)
    for (int o = 0; o < s.out_features; ++o) {
      double sum = bias ? bias[o] : 0.0;
      double mag = std::fabs(sum);
      for (int i = 0; i < s.in_features; ++i) {
        const double p = double(input[size_t(n) * s.in_features + i]) *
                         weights[size_t(o) * s.in_features + i];
        sum += p;
        mag += std::fabs(p);
      }
      apply_post(activation, nullptr, o, sum, mag);
      e.value[size_t(n) * s.out_features + o] = sum;
      e.magnitude[size_t(n) * s.out_features + o] = mag;
    }
  return e;
}

// Float sums in any order stay within a few ulps per term of the exact sum;
// 1e-5 of the summed magnitudes covers a few thousand terms with room to spare
// while still catching a dropped or doubled term.
inline int count_mismatches(const Expected& e, const std::vector<float>& got,
                            size_t* first_bad = nullptr) {
  int bad = 0;
  for (size_t i = 0; i < got.size(); ++i) {
    const double tolerance = 1e-5 * e.magnitude[i] + 1e-6;
    if (!(std::fabs(got[i] - e.value[i]) <= tolerance)) {
      if (bad == 0 && first_bad) *first_bad = i;
      ++bad;
    }
  }
  return bad;
}

}  // namespace kernels_test
