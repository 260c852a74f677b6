#pragma once

#include <memory>

#include "runtime/kernels/conv2d.h"

namespace runtime::kernels {

// A depthwise convolution (groups == channels) on AVX2 with FMA, for any
// geometry that check_conv2d accepts. The caller checks that the processor
// has both.
std::unique_ptr<Conv2DKernel> make_depthwise_conv2d(const Conv2DShape& shape, const float* weights,
                                                    const float* bias, const Conv2DPostOps& post);

// The same on AVX-512; the caller checks that the processor has AVX-512F.
std::unique_ptr<Conv2DKernel> make_depthwise_conv2d_avx512(const Conv2DShape& shape,
                                                           const float* weights, const float* bias,
                                                           const Conv2DPostOps& post);

}  // namespace runtime::kernels
