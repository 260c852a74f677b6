#pragma once

#include <cstddef>

namespace runtime::kernels {

// Whether none of the `count` values is NaN or infinite. A read-only pass,
// cheaper than the output pass it lets a convolution skip (see conv2d.cc).
bool all_finite(const float* data, size_t count);

}  // namespace runtime::kernels
