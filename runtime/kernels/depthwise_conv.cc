#include "runtime/kernels/depthwise_conv.h"

#include <immintrin.h>

#include <algorithm>
#include <cstddef>
#include <utility>

#include "runtime/kernels/depthwise_rows.h"
#include "runtime/kernels/epilogue.h"

// Each channel has its own filter, so a vector holds eight channels of one
// pixel and the weights are packed [group of 8 channels][ky][kx][8]. One call
// computes a segment of an output row in steps of a few neighbouring pixels,
// so that each weight vector loaded serves all of them; a step covers every
// channel group before the next step.
namespace runtime::kernels {
namespace {

template <bool kMasked>
__attribute__((target("avx2"), always_inline)) inline __m256 load_group(const float* p,
                                                                       __m256i mask) {
  return kMasked ? _mm256_maskload_ps(p, mask) : _mm256_loadu_ps(p);
}

template <bool kMasked>
__attribute__((target("avx2"), always_inline)) inline __m256i group_mask(int lanes) {
  return kMasked ? lane_mask(lanes) : _mm256_setzero_si256();
}

// Finishes and stores the sums of `kCount` pixels of one channel group;
// kSteps as in VectorEpilogue::store8, or < 0 for the last, partial group.
template <int kCount, int kSteps>
__attribute__((target("avx2"), always_inline)) inline void store_sums(
    const Conv2DShape& s, const VectorEpilogue& finish, const Segment& g, const Step& at,
    const __m256 (&sums)[kCount], int c) {
#pragma GCC unroll 16
  for (int j = 0; j < kCount; ++j) {
    const size_t o = at.out + size_t(j) * s.out_channels + c;
    if constexpr (kSteps >= 0)
      finish.template store8<kSteps>(sums[j], c, g.residual + o, g.out + o);
    else
      finish.store(sums[j], c, g.residual + o, g.out + o, s.in_channels - c);
  }
}

// kCount pixels of one group for windows kKernel wide with stride kStride and
// no dilation across: each input vector of a kernel row is loaded once for
// every output it reaches. kClipped skips the input columns outside the
// image, for pixels near the left and right edges.
template <int kKernel, int kStride, int kCount, bool kClipped, int kSteps>
__attribute__((target("avx2,fma"), always_inline)) inline void fixed_step(
    const Conv2DShape& s, const float* filter, const float* bias, const VectorEpilogue& finish,
    const Segment& g, const Step& at, int c) {
  constexpr bool kMasked = kSteps < 0;
  const __m256i mask = group_mask<kMasked>(s.in_channels - c);
  const size_t pixel = s.in_channels, row = size_t(s.in_width) * pixel;
  __m256 sums[kCount];
  const __m256 b = _mm256_loadu_ps(bias + c);
#pragma GCC unroll 16
  for (int j = 0; j < kCount; ++j) sums[j] = b;
  for (int ky = g.rows.first; ky < g.rows.end; ++ky) {
    const float* in = g.image + size_t(g.y0 + ky * s.dilation_height) * row + c;
    __m256 w[kKernel];
#pragma GCC unroll 8
    for (int kx = 0; kx < kKernel; ++kx) w[kx] = _mm256_load_ps(filter + (ky * kKernel + kx) * 8);
#pragma GCC unroll 32
    for (int i = 0; i < (kCount - 1) * kStride + kKernel; ++i) {
      if (kClipped && (at.x0 + i < 0 || at.x0 + i >= s.in_width)) continue;
      const __m256 x = load_group<kMasked>(in + ptrdiff_t(at.x0 + i) * pixel, mask);
#pragma GCC unroll 16
      for (int j = 0; j < kCount; ++j) {
        const int kx = i - j * kStride;
        if (kx >= 0 && kx < kKernel) sums[j] = _mm256_fmadd_ps(x, w[kx], sums[j]);
      }
    }
  }
  store_sums<kCount, kSteps>(s, finish, g, at, sums, c);
}

// One pixel of one group, any geometry: loops over the part of its window
// inside the image.
template <int kSteps>
__attribute__((target("avx2,fma"), always_inline)) inline void any_step(
    const Conv2DShape& s, const float* filter, const float* bias, const VectorEpilogue& finish,
    const Segment& g, const Step& at, int c) {
  constexpr bool kMasked = kSteps < 0;
  const __m256i mask = group_mask<kMasked>(s.in_channels - c);
  const size_t pixel = s.in_channels, row = size_t(s.in_width) * pixel;
  const TapRange columns = inside(at.x0, s.in_width, s.kernel_width, s.dilation_width);
  __m256 sums[1] = {_mm256_loadu_ps(bias + c)};
  for (int ky = g.rows.first; ky < g.rows.end; ++ky) {
    const float* in = g.image + size_t(g.y0 + ky * s.dilation_height) * row + c;
    const float* w = filter + ky * s.kernel_width * 8;
    for (int kx = columns.first; kx < columns.end; ++kx)
      sums[0] = _mm256_fmadd_ps(
          load_group<kMasked>(in + ptrdiff_t(at.x0 + kx * s.dilation_width) * pixel, mask),
          _mm256_load_ps(w + kx * 8), sums[0]);
  }
  store_sums<1, kSteps>(s, finish, g, at, sums, c);
}

// kCount pixels of a segment in every channel group. The groups go
// innermost: neighbouring groups read the two halves of the same cache lines
// one after the other.
template <int kKernel, int kStride, int kCount, bool kClipped, int kSteps>
__attribute__((target("avx2,fma"), always_inline)) inline void all_groups(
    const Conv2DShape& s, const float* weights, const float* bias, const VectorEpilogue& finish,
    const Segment& g, int ox) {
  const Step at = step_at(s, ox);
  const size_t filter_size = size_t(s.kernel_height) * kKernel * 8;
  const int full = s.in_channels / 8 * 8;
  for (int c = 0; c < full; c += 8)
    fixed_step<kKernel, kStride, kCount, kClipped, kSteps>(s, weights + c / 8 * filter_size, bias,
                                                           finish, g, at, c);
  if (full < s.in_channels)
    fixed_step<kKernel, kStride, kCount, kClipped, -1>(s, weights + full / 8 * filter_size, bias,
                                                       finish, g, at, full);
}

// The pixels of a segment: kMost at a time, then the rest at most kFew at a
// time, with a step for every count below kFew. Not one for every count
// below kMost: the large unrolled steps are what costs the compiler most
// (minutes for this file), and rows rarely leave more than kFew.
template <int kKernel, int kStride, int kMost, bool kClipped, int kSteps, int... kFewer>
__attribute__((target("avx2,fma"), always_inline)) inline void all_steps(
    const Conv2DShape& s, const float* weights, const float* bias, const VectorEpilogue& finish,
    const Segment& g, std::integer_sequence<int, kFewer...>) {
  constexpr int kFew = sizeof...(kFewer) + 1;
  int ox = g.from;
  for (; ox + kMost <= g.to; ox += kMost)
    all_groups<kKernel, kStride, kMost, kClipped, kSteps>(s, weights, bias, finish, g, ox);
  if constexpr (kFew < kMost) {
    for (; ox + kFew <= g.to; ox += kFew)
      all_groups<kKernel, kStride, kFew, kClipped, kSteps>(s, weights, bias, finish, g, ox);
  }
  const int rest = g.to - ox;
  ((rest == kFewer + 1
        ? all_groups<kKernel, kStride, kFewer + 1, kClipped, kSteps>(s, weights, bias, finish, g,
                                                                      ox)
        : void()),
   ...);
}

template <int kKernel, int kStride, int kMost, bool kClipped, int kSteps>
__attribute__((target("avx2,fma"))) void fixed_segment(const Conv2DShape& s, const float* weights,
                                                       const Epilogue& e, const Segment& g) {
  constexpr int kFew = std::min(kMost, 8);
  all_steps<kKernel, kStride, kMost, kClipped, kSteps>(
      s, weights, e.bias, VectorEpilogue(e), g, std::make_integer_sequence<int, kFew - 1>());
}

template <int kSteps>
__attribute__((target("avx2,fma"))) void any_segment(const Conv2DShape& s, const float* weights,
                                                     const Epilogue& e, const Segment& g) {
  const VectorEpilogue finish(e);
  const size_t filter_size = size_t(s.kernel_height) * s.kernel_width * 8;
  const int full = s.in_channels / 8 * 8;
  for (int ox = g.from; ox < g.to; ++ox) {
    const Step at = step_at(s, ox);
    for (int c = 0; c < full; c += 8)
      any_step<kSteps>(s, weights + c / 8 * filter_size, e.bias, finish, g, at, c);
    if (full < s.in_channels)
      any_step<-1>(s, weights + full / 8 * filter_size, e.bias, finish, g, at, full);
  }
}

template <int kKernel, int kStride, int kMost>
constexpr SegmentKernels fixed_kernels() {
  return {kMost,
          {&fixed_segment<kKernel, kStride, kMost, false, 0>,
           &fixed_segment<kKernel, kStride, kMost, false, 1>,
           &fixed_segment<kKernel, kStride, kMost, false, 2>,
           &fixed_segment<kKernel, kStride, kMost, false, 3>},
          {&fixed_segment<kKernel, kStride, kMost, true, 0>,
           &fixed_segment<kKernel, kStride, kMost, true, 1>,
           &fixed_segment<kKernel, kStride, kMost, true, 2>,
           &fixed_segment<kKernel, kStride, kMost, true, 3>}};
}

// Register-resident kernel rows for the kernel widths of our models, as many
// pixels at a time as the 16 vector registers allow; loops otherwise.
SegmentKernels segment_kernels_for(const Conv2DShape& s) {
  if (s.dilation_width == 1) {
    if (s.kernel_width == 3 && s.stride_width == 1) return fixed_kernels<3, 1, 10>();
    if (s.kernel_width == 3 && s.stride_width == 2) return fixed_kernels<3, 2, 8>();
    if (s.kernel_width == 5 && s.stride_width == 1) return fixed_kernels<5, 1, 8>();
    if (s.kernel_width == 5 && s.stride_width == 2) return fixed_kernels<5, 2, 8>();
  }
  constexpr SegmentFunction kAny[kStepCombinations] = {&any_segment<0>, &any_segment<1>,
                                                       &any_segment<2>, &any_segment<3>};
  SegmentKernels any{};
  any.most = 1;
  std::copy(kAny, kAny + kStepCombinations, any.inner);
  std::copy(kAny, kAny + kStepCombinations, any.clipped);
  return any;
}

}  // namespace

std::unique_ptr<Conv2DKernel> make_depthwise_conv2d(const Conv2DShape& shape, const float* weights,
                                                    const float* bias, const Conv2DPostOps& post) {
  return std::make_unique<DepthwiseRows<8>>(shape, segment_kernels_for(shape), weights, bias,
                                           post);
}

}  // namespace runtime::kernels
