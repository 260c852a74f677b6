#include "runtime/kernels/depthwise_conv.h"

#include <immintrin.h>

#include <algorithm>
#include <cstddef>
#include <utility>

#include "runtime/kernels/depthwise_rows.h"
#include "runtime/kernels/epilogue.h"

// The depthwise convolution on 256-bit vectors: the shared driver
// (depthwise_driver.h) with this width's traits.
namespace runtime::kernels {
namespace {

// The depthwise driver on 256-bit vectors: eight channels of a pixel.
struct Avx2 {
  using Vec = __m256;
  using Mask = __m256i;
  using Finish = VectorEpilogue;
  static constexpr int kLanes = 8;
  // Pixels per step by kernel 3 or 5 and stride 1 or 2: the sums and a
  // kernel row of weights fill the 16 registers.
  static constexpr int kMost[2][2] = {{10, 8}, {8, 8}};
  static constexpr bool kHalfTail = false;

  __attribute__((target("avx2"), always_inline)) static Vec load(const float* p) {
    return _mm256_loadu_ps(p);
  }
  __attribute__((target("avx2"), always_inline)) static Vec load_aligned(const float* p) {
    return _mm256_load_ps(p);
  }
  __attribute__((target("avx2"), always_inline)) static Vec masked_load(const float* p, Mask m) {
    return _mm256_maskload_ps(p, m);
  }
  __attribute__((target("avx2"), always_inline)) static Mask mask(int lanes) {
    return lane_mask(lanes);
  }
  __attribute__((target("avx2,fma"), always_inline)) static Vec fmadd(Vec a, Vec b, Vec c) {
    return _mm256_fmadd_ps(a, b, c);
  }
  template <int kSteps>
  __attribute__((target("avx2,fma"), always_inline)) static void store(const Finish& f, Vec v,
                                                                       int c, const float* residual,
                                                                       float* out) {
    f.template store8<kSteps>(v, c, residual, out);
  }
  __attribute__((target("avx2,fma"), always_inline)) static void store_lanes(
      const Finish& f, Vec v, int c, const float* residual, float* out, int lanes) {
    f.store(v, c, residual, out, lanes);
  }
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
