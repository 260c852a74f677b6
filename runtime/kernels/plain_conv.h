#pragma once

#include <memory>

#include "runtime/kernels/conv2d.h"

namespace runtime::kernels {

// Any convolution check_conv2d accepts, in plain loops: the kernel for
// processors without AVX2 and FMA, where the vector kernels cannot run.
std::unique_ptr<Conv2DKernel> make_plain_conv2d(const Conv2DShape& shape, const float* weights,
                                                const float* bias, const Conv2DPostOps& post);

}  // namespace runtime::kernels
