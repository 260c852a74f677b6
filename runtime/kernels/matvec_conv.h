#pragma once

#include <memory>

#include "runtime/kernels/conv2d.h"

namespace runtime::kernels {

// A convolution with one output pixel whose window is the whole input (no
// padding, the kernel as wide as the input): a matrix-vector product, as in
// a landmark model's last layer. Every weight is used once per run, so the
// product is bound by reading them; they are kept as float16, half the
// bytes, and widened as they are read. Results are those of the
// matrix-product kernels bit for bit: each sum starts at the bias and takes
// the products in the window's order. Null where the shape is not such a
// product, a weight is not exactly a float16 value, or the processor lacks
// AVX2, FMA or F16C; the caller then takes the matrix-product kernel.
std::unique_ptr<Conv2DKernel> make_matvec_conv2d(const Conv2DShape& shape, const float* weights,
                                                 const float* bias, const Conv2DPostOps& post);

}  // namespace runtime::kernels
