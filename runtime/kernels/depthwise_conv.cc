#include "runtime/kernels/depthwise_conv.h"

#include <immintrin.h>

#include <algorithm>
#include <cstddef>
#include <utility>

#include "runtime/kernels/depthwise_avx2.h"
#include "runtime/kernels/depthwise_rows.h"
#include "runtime/kernels/epilogue.h"

// The depthwise convolution on 256-bit vectors: the shared driver
// (depthwise_driver.h) with this width's traits.
namespace runtime::kernels {
namespace {

// The depthwise driver on 256-bit vectors: eight channels of a pixel.
struct Avx2 : Avx2Vectors<8> {
  // Pixels per step by kernel 3 or 5 and stride 1 or 2: the sums and a
  // kernel row of weights in the 16 registers, with room left for the input
  // addresses (ten 3x3 pixels spilled them and ran 10-20% slower; six 5x5
  // pixels at stride 2 beat eight by about as much).
  static constexpr int kMost[2][2] = {{8, 8}, {8, 6}};
  // 10-20% faster on the 3x3 layers; the 5x5 ones unchanged.
  static constexpr bool kOwnCopies = true;
  // Eight channels alone (the face landmark model's 128x128 stage): ten
  // pixels and no copies, 15% faster than the above.
  static constexpr int kOneGroupMost = 10;
  static constexpr bool kHalfTail = false;
  // No steps over two rows: their sums and weights leave too few of the 16
  // registers for more than a few pixels.
  static constexpr int kPairMost = 0;
};

}  // namespace
}  // namespace runtime::kernels

#pragma GCC push_options
#pragma GCC target("avx2,fma")
#include "runtime/kernels/depthwise_driver.h"
#pragma GCC pop_options

namespace runtime::kernels {

std::unique_ptr<Conv2DKernel> make_depthwise_conv2d(const Conv2DShape& shape, const float* weights,
                                                    const float* bias, const Conv2DPostOps& post) {
  return std::make_unique<DepthwiseRows<8>>(shape, fixed_or_any_kernels<Avx2>(shape), weights,
                                           bias, post);
}

}  // namespace runtime::kernels
