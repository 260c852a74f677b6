#pragma once

#include <cstddef>

namespace runtime::kernels {

// Applies PReLU in place to `pixels` NHWC pixels of `channels` values each:
// a negative value is multiplied by its channel's alpha. oneDNN 2.6 has no
// vectorised PReLU post-op on AVX2 (it falls back to a reference convolution
// a thousand times slower), so the convolution runs without it and this pass
// follows while the output is still warm in cache.
void apply_prelu(float* data, size_t pixels, int channels, const float* alpha);

}  // namespace runtime::kernels
