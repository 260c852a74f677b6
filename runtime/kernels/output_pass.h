#pragma once

#include <cstddef>

#include "runtime/kernels/conv2d.h"

namespace runtime::kernels {

// Applies `activation`, then PReLU when `alpha` is not null, in place to
// `pixels` NHWC pixels of `channels` values each, after the convolution has
// written them (they are still warm in cache). This pass exists because two
// post-ops cannot be fused into oneDNN 2.6's vectorised kernels on AVX2:
// PReLU (it falls back to a reference convolution a thousand times slower),
// and activations that leave NaN as NaN (its RELU and clip give 0 for NaN).
// Here RELU is `v < 0 ? 0 : v` and RELU6 also `v > 6 ? 6 : v`, so NaN passes;
// PReLU multiplies negative values by their channel's alpha.
void apply_output_pass(float* data, size_t pixels, int channels, Activation activation,
                       const float* alpha);

}  // namespace runtime::kernels
