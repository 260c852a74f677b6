#pragma once

#include <immintrin.h>

#include "runtime/kernels/epilogue.h"

namespace runtime::kernels {
namespace {

// The depthwise driver's vector operations on 256-bit vectors: eight
// channels of a pixel. Weight vectors lie kFilterLanes floats apart: eight
// in the AVX2 packing, sixteen where the AVX-512 kernel takes a last group
// of few channels in 256-bit vectors from its own packing.
template <int kFilterLanesOf>
struct Avx2Vectors {
  using Vec = __m256;
  using Mask = __m256i;
  using Finish = VectorEpilogue;
  static constexpr int kLanes = 8;
  static constexpr int kFilterLanes = kFilterLanesOf;

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
