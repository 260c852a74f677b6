#pragma once

#include <cstddef>

#include "runtime/kernels/conv2d.h"

namespace runtime::kernels {

// Applies `activation`, then PReLU when `alpha` is not null, in place to
// `pixels` NHWC pixels of `channels` values each, after the library has
// written them (they are still warm in cache). oneDNN 2.6 can fuse neither
// into its vectorised kernels on AVX2 as we need them: its RELU and clip give
// 0 for NaN where ours keep NaN, and a PReLU post-op sends it to a reference
// convolution a thousand times slower. Here RELU is `v < 0 ? 0 : v` and
// RELU6 also `v > 6 ? 6 : v`, so NaN passes; PReLU multiplies negative values
// by their channel's alpha.
void apply_output_pass(float* data, size_t pixels, int channels, Activation activation,
                       const float* alpha);

}  // namespace runtime::kernels
