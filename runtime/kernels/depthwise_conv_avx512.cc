#include "runtime/kernels/depthwise_conv.h"

#include <immintrin.h>

#include <algorithm>
#include <cstddef>
#include <utility>

#include "runtime/kernels/depthwise_rows.h"
#include "runtime/kernels/epilogue_avx512.h"

// The depthwise convolution of depthwise_conv.cc on 512-bit vectors: a
// vector holds sixteen channels of one pixel (one cache line of a pixel with
// 16 channels), weights are packed [group of 16 channels][ky][kx][16], and
// twice the registers take longer steps along a row.
namespace runtime::kernels {
namespace {

template <bool kMasked>
__attribute__((target("avx512f"), always_inline)) inline __m512 load_group(const float* p,
                                                                          __mmask16 mask) {
  return kMasked ? _mm512_maskz_loadu_ps(mask, p) : _mm512_loadu_ps(p);
}

template <bool kMasked>
inline __mmask16 group_mask(int lanes) {
  return kMasked ? lane_mask16(lanes) : __mmask16(0xffff);
}

// Finishes and stores the sums of `kCount` pixels of one channel group;
// kSteps as in VectorEpilogue16::store8, or < 0 for the last, partial group.
template <int kCount, int kSteps>
__attribute__((target("avx512f"), always_inline)) inline void store_sums(
    const Conv2DShape& s, const VectorEpilogue16& finish, const Segment& g, const Step& at,
    const __m512 (&sums)[kCount], int c) {
#pragma GCC unroll 16
  for (int j = 0; j < kCount; ++j) {
    const size_t o = at.out + size_t(j) * s.out_channels + c;
    if constexpr (kSteps >= 0)
      finish.template store16<kSteps>(sums[j], c, g.residual + o, g.out + o);
    else
      finish.store(sums[j], c, g.residual + o, g.out + o, s.in_channels - c);
  }
}

// kCount pixels of one group for windows kKernel wide with stride kStride and
// no dilation across: each input vector of a kernel row is loaded once for
// every output it reaches. kClipped skips the input columns outside the
// image, for pixels near the left and right edges.
template <int kKernel, int kStride, int kCount, bool kClipped, int kSteps>
__attribute__((target("avx512f,avx2,fma"), always_inline)) inline void fixed_step(
    const Conv2DShape& s, const float* filter, const float* bias, const VectorEpilogue16& finish,
    const Segment& g, const Step& at, int c) {
  constexpr bool kMasked = kSteps < 0;
  const __mmask16 mask = group_mask<kMasked>(s.in_channels - c);
  const size_t pixel = s.in_channels, row = size_t(s.in_width) * pixel;
  __m512 sums[kCount];
  const __m512 b = _mm512_loadu_ps(bias + c);
#pragma GCC unroll 16
  for (int j = 0; j < kCount; ++j) sums[j] = b;
  for (int ky = g.rows.first; ky < g.rows.end; ++ky) {
    const float* in = g.image + size_t(g.y0 + ky * s.dilation_height) * row + c;
    __m512 w[kKernel];
#pragma GCC unroll 8
    for (int kx = 0; kx < kKernel; ++kx) w[kx] = _mm512_load_ps(filter + (ky * kKernel + kx) * 16);
#pragma GCC unroll 32
    for (int i = 0; i < (kCount - 1) * kStride + kKernel; ++i) {
      if (kClipped && (at.x0 + i < 0 || at.x0 + i >= s.in_width)) continue;
      const __m512 x = load_group<kMasked>(in + ptrdiff_t(at.x0 + i) * pixel, mask);
#pragma GCC unroll 16
      for (int j = 0; j < kCount; ++j) {
        const int kx = i - j * kStride;
        if (kx >= 0 && kx < kKernel) sums[j] = _mm512_fmadd_ps(x, w[kx], sums[j]);
      }
    }
  }
  store_sums<kCount, kSteps>(s, finish, g, at, sums, c);
}

// fixed_step for a last group of at most 8 channels, in 256-bit vectors: a
// half-empty 512-bit vector under a mask costs more than it gains. The
// filter keeps its 16-float stride. kSteps < 0: fewer than 8, under a mask.
template <int kKernel, int kStride, int kCount, bool kClipped, int kSteps>
__attribute__((target("avx512f,avx2,fma"), always_inline)) inline void half_step(
    const Conv2DShape& s, const float* filter, const float* bias, const VectorEpilogue16& finish,
    const Segment& g, const Step& at, int c) {
  const int lanes = s.in_channels - c;
  const __m256i mask = lane_mask(lanes);
  const size_t pixel = s.in_channels, row = size_t(s.in_width) * pixel;
  __m256 sums[kCount];
  const __m256 b = _mm256_loadu_ps(bias + c);
#pragma GCC unroll 16
  for (int j = 0; j < kCount; ++j) sums[j] = b;
  for (int ky = g.rows.first; ky < g.rows.end; ++ky) {
    const float* in = g.image + size_t(g.y0 + ky * s.dilation_height) * row + c;
    __m256 w[kKernel];
#pragma GCC unroll 8
    for (int kx = 0; kx < kKernel; ++kx) w[kx] = _mm256_load_ps(filter + (ky * kKernel + kx) * 16);
#pragma GCC unroll 32
    for (int i = 0; i < (kCount - 1) * kStride + kKernel; ++i) {
      if (kClipped && (at.x0 + i < 0 || at.x0 + i >= s.in_width)) continue;
      const float* p = in + ptrdiff_t(at.x0 + i) * pixel;
      const __m256 x = kSteps >= 0 ? _mm256_loadu_ps(p) : _mm256_maskload_ps(p, mask);
#pragma GCC unroll 16
      for (int j = 0; j < kCount; ++j) {
        const int kx = i - j * kStride;
        if (kx >= 0 && kx < kKernel) sums[j] = _mm256_fmadd_ps(x, w[kx], sums[j]);
      }
    }
  }
  const VectorEpilogue half(Epilogue{bias, finish.alpha, finish.activation, finish.add_residual});
#pragma GCC unroll 16
  for (int j = 0; j < kCount; ++j) {
    const size_t o = at.out + size_t(j) * s.out_channels + c;
    if constexpr (kSteps >= 0)
      half.template store8<kSteps>(sums[j], c, g.residual + o, g.out + o);
    else
      half.store(sums[j], c, g.residual + o, g.out + o, lanes);
  }
}

// One pixel of one group, any geometry: loops over the part of its window
// inside the image.
template <int kSteps>
__attribute__((target("avx512f,avx2,fma"), always_inline)) inline void any_step(
    const Conv2DShape& s, const float* filter, const float* bias, const VectorEpilogue16& finish,
    const Segment& g, const Step& at, int c) {
  constexpr bool kMasked = kSteps < 0;
  const __mmask16 mask = group_mask<kMasked>(s.in_channels - c);
  const size_t pixel = s.in_channels, row = size_t(s.in_width) * pixel;
  const TapRange columns = inside(at.x0, s.in_width, s.kernel_width, s.dilation_width);
  __m512 sums[1] = {_mm512_loadu_ps(bias + c)};
  for (int ky = g.rows.first; ky < g.rows.end; ++ky) {
    const float* in = g.image + size_t(g.y0 + ky * s.dilation_height) * row + c;
    const float* w = filter + ky * s.kernel_width * 16;
    for (int kx = columns.first; kx < columns.end; ++kx)
      sums[0] = _mm512_fmadd_ps(
          load_group<kMasked>(in + ptrdiff_t(at.x0 + kx * s.dilation_width) * pixel, mask),
          _mm512_load_ps(w + kx * 16), sums[0]);
  }
  store_sums<1, kSteps>(s, finish, g, at, sums, c);
}

// kCount pixels of a segment in every channel group. The groups go
// innermost: neighbouring groups read the two halves of the same cache lines
// one after the other.
template <int kKernel, int kStride, int kCount, bool kClipped, int kSteps>
__attribute__((target("avx512f,avx2,fma"), always_inline)) inline void all_groups(
    const Conv2DShape& s, const float* weights, const float* bias, const VectorEpilogue16& finish,
    const Segment& g, int ox) {
  const Step at = step_at(s, ox);
  const size_t filter_size = size_t(s.kernel_height) * kKernel * 16;
  const int full = s.in_channels / 16 * 16;
  for (int c = 0; c < full; c += 16)
    fixed_step<kKernel, kStride, kCount, kClipped, kSteps>(s, weights + c / 16 * filter_size, bias,
                                                           finish, g, at, c);
  const float* last = weights + full / 16 * filter_size;
  if (s.in_channels - full == 8)
    half_step<kKernel, kStride, kCount, kClipped, kSteps>(s, last, bias, finish, g, at, full);
  else if (s.in_channels - full > 0 && s.in_channels - full < 8)
    half_step<kKernel, kStride, kCount, kClipped, -1>(s, last, bias, finish, g, at, full);
  else if (full < s.in_channels)
    fixed_step<kKernel, kStride, kCount, kClipped, -1>(s, last, bias, finish, g, at, full);
}

// The pixels of a segment: kMost at a time, then the few left over.
template <int kKernel, int kStride, int kMost, bool kClipped, int kSteps, int... kFewer>
__attribute__((target("avx512f,avx2,fma"), always_inline)) inline void all_steps(
    const Conv2DShape& s, const float* weights, const float* bias, const VectorEpilogue16& finish,
    const Segment& g, std::integer_sequence<int, kFewer...>) {
  int ox = g.from;
  for (; ox + kMost <= g.to; ox += kMost)
    all_groups<kKernel, kStride, kMost, kClipped, kSteps>(s, weights, bias, finish, g, ox);
  const int rest = g.to - ox;
  ((rest == kFewer + 1
        ? all_groups<kKernel, kStride, kFewer + 1, kClipped, kSteps>(s, weights, bias, finish, g,
                                                                      ox)
        : void()),
   ...);
}

template <int kKernel, int kStride, int kMost, bool kClipped, int kSteps>
__attribute__((target("avx512f,avx2,fma"))) void fixed_segment(const Conv2DShape& s, const float* weights,
                                                       const Epilogue& e, const Segment& g) {
  all_steps<kKernel, kStride, kMost, kClipped, kSteps>(
      s, weights, e.bias, VectorEpilogue16(e), g, std::make_integer_sequence<int, kMost - 1>());
}

template <int kSteps>
__attribute__((target("avx512f,avx2,fma"))) void any_segment(const Conv2DShape& s, const float* weights,
                                                     const Epilogue& e, const Segment& g) {
  const VectorEpilogue16 finish(e);
  const size_t filter_size = size_t(s.kernel_height) * s.kernel_width * 16;
  const int full = s.in_channels / 16 * 16;
  for (int ox = g.from; ox < g.to; ++ox) {
    const Step at = step_at(s, ox);
    for (int c = 0; c < full; c += 16)
      any_step<kSteps>(s, weights + c / 16 * filter_size, e.bias, finish, g, at, c);
    if (full < s.in_channels)
      any_step<-1>(s, weights + full / 16 * filter_size, e.bias, finish, g, at, full);
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
// pixels at a time as the 32 vector registers allow; loops otherwise.
SegmentKernels segment_kernels_for(const Conv2DShape& s) {
  if (s.dilation_width == 1) {
    if (s.kernel_width == 3 && s.stride_width == 1) return fixed_kernels<3, 1, 16>();
    if (s.kernel_width == 3 && s.stride_width == 2) return fixed_kernels<3, 2, 12>();
    if (s.kernel_width == 5 && s.stride_width == 1) return fixed_kernels<5, 1, 16>();
    if (s.kernel_width == 5 && s.stride_width == 2) return fixed_kernels<5, 2, 12>();
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

std::unique_ptr<Conv2DKernel> make_depthwise_conv2d_avx512(const Conv2DShape& shape,
                                                           const float* weights, const float* bias,
                                                           const Conv2DPostOps& post) {
  return std::make_unique<DepthwiseRows<16>>(shape, segment_kernels_for(shape), weights, bias,
                                            post);
}

}  // namespace runtime::kernels
