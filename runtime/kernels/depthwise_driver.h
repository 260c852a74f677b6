#pragma once

// The depthwise convolution written once for every vector width: a file per
// instruction set defines a traits type V (vector and mask types, lanes,
// loads, multiply-add, the epilogue's stores), turns its instruction set on
// with `#pragma GCC target` and includes this header, whose functions then
// compile for that set. The file includes this header's own includes before
// the pragma, so that only the functions here take the instruction set; and
// everything here has internal linkage, so no inline function or template
// instance built for one set can stand in for another's at link time.
//
// Each channel has its own filter, so a vector holds V::kLanes channels of
// one pixel and the weights are packed [group of kLanes channels][ky][kx]
// [kLanes]. One call computes a segment of an output row in steps of a few
// neighbouring pixels, so that each weight vector loaded serves all of them;
// a step covers every channel group before the next step.
//
// V provides:
//   Vec, Mask, Finish (the epilogue), kLanes, kFilterLanes (floats between
//     a filter's weight vectors: kLanes, or more in a wider packing)
//   load(p), load_aligned(p), masked_load(p, mask), mask(lanes) (0 < lanes < kLanes),
//   fmadd(a, b, c)
//   store<kSteps>(finish, v, c, residual, out), store_lanes(finish, v, c, residual, out, lanes)
//   kMost[kernel 3 or 5][stride 1 or 2]: pixels per step (as many as its registers allow)
//   kOneGroupMost: pixels per 3x3 stride-1 step when one group holds every
//     channel; such steps run without copies
//   kOwnCopies: the segment runs on its own copies of the shape and segment,
//     which the compiler may keep in registers (the vector stores may alias
//     any memory, so fields read through references are read again after
//     every store), where that measured faster than the references
//   kHalfTail: a last group of at most half the lanes goes through
//     fixed_step with the traits V::Half (half the lanes over V's packing),
//     finished by V::half_finish(finish, bias)
#include <algorithm>
#include <cstddef>
#include <utility>

#include "runtime/kernels/depthwise_rows.h"

namespace runtime::kernels {
namespace {

// Finishes and stores the sums of `kCount` pixels of one channel group;
// kSteps as in the epilogue's whole-vector stores, or < 0 for the last,
// partial group.
template <typename V, int kCount, int kSteps>
__attribute__((always_inline)) inline void store_sums(const Conv2DShape& s,
                                                      const typename V::Finish& finish,
                                                      const Segment& g, const Step& at,
                                                      const typename V::Vec (&sums)[kCount], int c) {
#pragma GCC unroll 16
  for (int j = 0; j < kCount; ++j) {
    const size_t o = at.out + size_t(j) * s.out_channels + c;
    if constexpr (kSteps >= 0)
      V::template store<kSteps>(finish, sums[j], c, g.residual + o, g.out + o);
    else
      V::store_lanes(finish, sums[j], c, g.residual + o, g.out + o, s.in_channels - c);
  }
}

// The lanes of group c that hold channels: a mask for the last, partial
// group (kSteps < 0, as in store_sums), none for whole ones.
template <typename V, int kSteps>
__attribute__((always_inline)) inline typename V::Mask group_mask(const Conv2DShape& s, int c) {
  if constexpr (kSteps < 0)
    return V::mask(s.in_channels - c);
  else
    return typename V::Mask{};
}

// One pixel's vector of group c, under group_mask's mask.
template <typename V, int kSteps>
__attribute__((always_inline)) inline typename V::Vec load_group(const float* p,
                                                                 typename V::Mask mask) {
  if constexpr (kSteps < 0)
    return V::masked_load(p, mask);
  else
    return V::load(p);
}

// kCount pixels of one group for windows kKernel wide with stride kStride and
// no dilation across: each input vector of a kernel row is loaded once for
// every output it reaches. kClipped skips the input columns outside the
// image, for pixels near the left and right edges.
template <typename V, int kKernel, int kStride, int kCount, bool kClipped, int kSteps>
__attribute__((always_inline)) inline void fixed_step(const Conv2DShape& s, const float* filter,
                                                      const float* bias,
                                                      const typename V::Finish& finish,
                                                      const Segment& g, const Step& at, int c) {
  using Vec = typename V::Vec;
  const typename V::Mask mask = group_mask<V, kSteps>(s, c);
  const size_t pixel = s.in_channels, row = size_t(s.in_width) * pixel;
  Vec sums[kCount];
  const Vec b = V::load(bias + c);
#pragma GCC unroll 16
  for (int j = 0; j < kCount; ++j) sums[j] = b;
  for (int ky = g.rows.first; ky < g.rows.end; ++ky) {
    const float* in = g.image + size_t(g.y0 + ky * s.dilation_height) * row + c;
    Vec w[kKernel];
#pragma GCC unroll 8
    for (int kx = 0; kx < kKernel; ++kx)
      w[kx] = V::load_aligned(filter + (ky * kKernel + kx) * V::kFilterLanes);
#pragma GCC unroll 32
    for (int i = 0; i < (kCount - 1) * kStride + kKernel; ++i) {
      if (kClipped && (at.x0 + i < 0 || at.x0 + i >= s.in_width)) continue;
      const Vec x = load_group<V, kSteps>(in + ptrdiff_t(at.x0 + i) * pixel, mask);
#pragma GCC unroll 16
      for (int j = 0; j < kCount; ++j) {
        const int kx = i - j * kStride;
        if (kx >= 0 && kx < kKernel) sums[j] = V::fmadd(x, w[kx], sums[j]);
      }
    }
  }
  store_sums<V, kCount, kSteps>(s, finish, g, at, sums, c);
}

// kCount pixels of one group in each of two neighbouring output rows, for
// square kKernel windows at stride 1 without dilation, both rows' windows
// inside the image down: the kKernel + 1 input rows they span are each
// loaded once for both, where one row at a time loads the middle rows twice
// (a third fewer loads from the first-level cache, which bounds these
// steps). Each sum takes its products in the order fixed_step's would, so
// the results are the same bit for bit.
template <typename V, int kKernel, int kCount, bool kClipped, int kSteps>
__attribute__((always_inline)) inline void pair_step(const Conv2DShape& s, const float* filter,
                                                     const float* bias,
                                                     const typename V::Finish& finish,
                                                     const Segment& g, const Step& at, int c) {
  using Vec = typename V::Vec;
  const typename V::Mask mask = group_mask<V, kSteps>(s, c);
  const size_t pixel = s.in_channels, row = size_t(s.in_width) * pixel;
  Vec upper[kCount], lower[kCount];  // the sums of the first row and of the second
  const Vec b = V::load(bias + c);
#pragma GCC unroll 16
  for (int j = 0; j < kCount; ++j) upper[j] = lower[j] = b;
  const float* in = g.image + size_t(g.y0) * row + c;
#pragma GCC unroll 8
  for (int iy = 0; iy <= kKernel; ++iy, in += row) {
    // Input row iy is kernel row iy of the first output row and iy - 1 of
    // the second.
    Vec w_upper[kKernel], w_lower[kKernel];
#pragma GCC unroll 8
    for (int kx = 0; kx < kKernel; ++kx) {
      if (iy < kKernel) w_upper[kx] = V::load_aligned(filter + (iy * kKernel + kx) * V::kFilterLanes);
      if (iy > 0) w_lower[kx] = V::load_aligned(filter + ((iy - 1) * kKernel + kx) * V::kFilterLanes);
    }
#pragma GCC unroll 32
    for (int i = 0; i < kCount - 1 + kKernel; ++i) {
      if (kClipped && (at.x0 + i < 0 || at.x0 + i >= s.in_width)) continue;
      const Vec x = load_group<V, kSteps>(in + ptrdiff_t(at.x0 + i) * pixel, mask);
#pragma GCC unroll 16
      for (int j = 0; j < kCount; ++j) {
        const int kx = i - j;
        if (kx < 0 || kx >= kKernel) continue;
        if (iy < kKernel) upper[j] = V::fmadd(x, w_upper[kx], upper[j]);
        if (iy > 0) lower[j] = V::fmadd(x, w_lower[kx], lower[j]);
      }
    }
  }
  store_sums<V, kCount, kSteps>(s, finish, g, at, upper, c);
  const Step below{at.out + size_t(s.out_width) * s.out_channels, at.x0};
  store_sums<V, kCount, kSteps>(s, finish, g, below, lower, c);
}

// A step of one row (kRows 1) or of two (kRows 2, see pair_step).
template <typename V, int kKernel, int kStride, int kCount, bool kClipped, int kSteps, int kRows>
__attribute__((always_inline)) inline void group_step(const Conv2DShape& s, const float* filter,
                                                      const float* bias,
                                                      const typename V::Finish& finish,
                                                      const Segment& g, const Step& at, int c) {
  if constexpr (kRows == 2)
    pair_step<V, kKernel, kCount, kClipped, kSteps>(s, filter, bias, finish, g, at, c);
  else
    fixed_step<V, kKernel, kStride, kCount, kClipped, kSteps>(s, filter, bias, finish, g, at, c);
}

// One pixel of one group, any geometry: loops over the part of its window
// inside the image.
template <typename V, int kSteps>
__attribute__((always_inline)) inline void any_step(const Conv2DShape& s, const float* filter,
                                                    const float* bias,
                                                    const typename V::Finish& finish,
                                                    const Segment& g, const Step& at, int c) {
  const typename V::Mask mask = group_mask<V, kSteps>(s, c);
  const size_t pixel = s.in_channels, row = size_t(s.in_width) * pixel;
  const TapRange columns = inside(at.x0, s.in_width, s.kernel_width, s.dilation_width);
  typename V::Vec sums[1] = {V::load(bias + c)};
  for (int ky = g.rows.first; ky < g.rows.end; ++ky) {
    const float* in = g.image + size_t(g.y0 + ky * s.dilation_height) * row + c;
    const float* w = filter + ky * s.kernel_width * V::kFilterLanes;
    for (int kx = columns.first; kx < columns.end; ++kx)
      sums[0] = V::fmadd(
          load_group<V, kSteps>(in + ptrdiff_t(at.x0 + kx * s.dilation_width) * pixel, mask),
          V::load_aligned(w + kx * V::kFilterLanes), sums[0]);
  }
  store_sums<V, 1, kSteps>(s, finish, g, at, sums, c);
}

// kCount pixels of a segment in every channel group. The groups go
// innermost: neighbouring groups read the parts of the same cache lines one
// after the other.
template <typename V, int kKernel, int kStride, int kCount, bool kClipped, int kSteps, int kRows>
__attribute__((always_inline)) inline void all_groups(const Conv2DShape& s, const float* weights,
                                                      const float* bias,
                                                      const typename V::Finish& finish,
                                                      const Segment& g, int ox) {
  constexpr int kLanes = V::kLanes;
  const Step at = step_at(s, ox);
  const size_t filter_size = size_t(s.kernel_height) * kKernel * kLanes;
  const int full = s.in_channels / kLanes * kLanes;
  for (int c = 0; c < full; c += kLanes)
    group_step<V, kKernel, kStride, kCount, kClipped, kSteps, kRows>(
        s, weights + c / kLanes * filter_size, bias, finish, g, at, c);
  const float* last = weights + full / kLanes * filter_size;
  const int rest = s.in_channels - full;
  if constexpr (V::kHalfTail) {
    if (rest > 0 && rest <= kLanes / 2) {
      using H = typename V::Half;
      const typename H::Finish half = V::half_finish(finish, bias);
      if (rest == kLanes / 2)
        group_step<H, kKernel, kStride, kCount, kClipped, kSteps, kRows>(s, last, bias, half, g, at,
                                                                        full);
      else
        group_step<H, kKernel, kStride, kCount, kClipped, -1, kRows>(s, last, bias, half, g, at, full);
      return;
    }
  }
  if (rest > 0)
    group_step<V, kKernel, kStride, kCount, kClipped, -1, kRows>(s, last, bias, finish, g, at, full);
}

// The pixels of a segment: kMost at a time, then the rest at most kFew at a
// time, with a step for every count below kFew. Not one for every count
// below kMost: the large unrolled steps are what costs the compiler most
// (minutes per instruction set), and rows rarely leave more than kFew.
template <typename V, int kKernel, int kStride, int kMost, bool kClipped, int kSteps,
          int... kFewer>
__attribute__((always_inline)) inline void all_steps(const Conv2DShape& s, const float* weights,
                                                     const float* bias,
                                                     const typename V::Finish& finish,
                                                     const Segment& g,
                                                     std::integer_sequence<int, kFewer...>) {
  constexpr int kFew = sizeof...(kFewer) + 1;
  int ox = g.from;
  for (; ox + kMost <= g.to; ox += kMost)
    all_groups<V, kKernel, kStride, kMost, kClipped, kSteps, 1>(s, weights, bias, finish, g, ox);
  if constexpr (kFew < kMost) {
    for (; ox + kFew <= g.to; ox += kFew)
      all_groups<V, kKernel, kStride, kFew, kClipped, kSteps, 1>(s, weights, bias, finish, g, ox);
  }
  const int rest = g.to - ox;
  ((rest == kFewer + 1 ? all_groups<V, kKernel, kStride, kFewer + 1, kClipped, kSteps, 1>(
                             s, weights, bias, finish, g, ox)
                       : void()),
   ...);
}

template <typename V, int kKernel, int kStride, int kMost, bool kCopies, bool kClipped, int kSteps>
void fixed_segment(const Conv2DShape& s, const float* weights, const Epilogue& e,
                   const Segment& g) {
  constexpr int kFew = std::min(kMost, 8);
  using Few = std::make_integer_sequence<int, kFew - 1>;
  const typename V::Finish finish(e);
  if constexpr (kCopies) {
    const Conv2DShape shape = s;
    const Segment segment = g;
    all_steps<V, kKernel, kStride, kMost, kClipped, kSteps>(shape, weights, e.bias, finish,
                                                            segment, Few());
  } else {
    all_steps<V, kKernel, kStride, kMost, kClipped, kSteps>(s, weights, e.bias, finish, g, Few());
  }
}

// The pixels of a pair segment after its longest steps: a step of each
// count in kCounts (descending) that still fits.
template <typename V, int kKernel, bool kClipped, int kSteps, int... kCounts>
__attribute__((always_inline)) inline void pair_rest(const Conv2DShape& s, const float* weights,
                                                     const float* bias,
                                                     const typename V::Finish& finish,
                                                     const Segment& g, int ox) {
  ((ox + kCounts <= g.to
        ? (all_groups<V, kKernel, 1, kCounts, kClipped, kSteps, 2>(s, weights, bias, finish, g, ox),
           ox += kCounts)
        : 0),
   ...);
}

// A segment of two neighbouring rows (see pair_step): steps of kPair pixels
// over both, then the rest in steps of 8, 4, 2 and 1 pixels at most once
// each. Not a step for every count below kPair, as single rows have: the
// pair steps are twice as large, and one for every count made the library
// half a megabyte larger again for no measured gain.
template <typename V, int kKernel, int kPair, bool kClipped, int kSteps>
void pair_segment(const Conv2DShape& s, const float* weights, const Epilogue& e,
                  const Segment& g) {
  static_assert(kPair > 8);
  const typename V::Finish finish(e);
  int ox = g.from;
  for (; ox + kPair <= g.to; ox += kPair)
    all_groups<V, kKernel, 1, kPair, kClipped, kSteps, 2>(s, weights, e.bias, finish, g, ox);
  pair_rest<V, kKernel, kClipped, kSteps, 8, 4, 2, 1>(s, weights, e.bias, finish, g, ox);
}

template <typename V, int kSteps>
void any_segment(const Conv2DShape& s, const float* weights, const Epilogue& e, const Segment& g) {
  constexpr int kLanes = V::kLanes;
  const typename V::Finish finish(e);
  const size_t filter_size = size_t(s.kernel_height) * s.kernel_width * kLanes;
  const int full = s.in_channels / kLanes * kLanes;
  for (int ox = g.from; ox < g.to; ++ox) {
    const Step at = step_at(s, ox);
    for (int c = 0; c < full; c += kLanes)
      any_step<V, kSteps>(s, weights + c / kLanes * filter_size, e.bias, finish, g, at, c);
    if (full < s.in_channels)
      any_step<V, -1>(s, weights + full / kLanes * filter_size, e.bias, finish, g, at, full);
  }
}

template <typename V, int kKernel, int kStride, int kMost, bool kCopies = V::kOwnCopies>
constexpr SegmentKernels fixed_kernels() {
  return {kMost,
          {&fixed_segment<V, kKernel, kStride, kMost, kCopies, false, 0>,
           &fixed_segment<V, kKernel, kStride, kMost, kCopies, false, 1>,
           &fixed_segment<V, kKernel, kStride, kMost, kCopies, false, 2>,
           &fixed_segment<V, kKernel, kStride, kMost, kCopies, false, 3>},
          {&fixed_segment<V, kKernel, kStride, kMost, kCopies, true, 0>,
           &fixed_segment<V, kKernel, kStride, kMost, kCopies, true, 1>,
           &fixed_segment<V, kKernel, kStride, kMost, kCopies, true, 2>,
           &fixed_segment<V, kKernel, kStride, kMost, kCopies, true, 3>}};
}

// The 3x3 stride-1 kernels, with steps over two rows (pair_step) where the
// width has them (V::kPairMost pixels a step, 0 for none) and the shape
// allows them. Not for 5x5 windows: pairs made the hand model's 14x14
// layers 14% faster but its 7x7 ones 7% slower, for another 1.2 MB of
// library.
template <typename V, int kMost, bool kCopies>
SegmentKernels fixed_kernels_with_pairs(const Conv2DShape& s) {
  constexpr int kKernel = 3;
  SegmentKernels k = fixed_kernels<V, kKernel, 1, kMost, kCopies>();
  constexpr int kPair = V::kPairMost;
  if constexpr (kPair > 0) {
    if (s.kernel_height == kKernel && s.stride_height == 1 && s.dilation_height == 1) {
      constexpr SegmentKernels pairs = {
          kPair,
          {&pair_segment<V, kKernel, kPair, false, 0>, &pair_segment<V, kKernel, kPair, false, 1>,
           &pair_segment<V, kKernel, kPair, false, 2>, &pair_segment<V, kKernel, kPair, false, 3>},
          {&pair_segment<V, kKernel, kPair, true, 0>, &pair_segment<V, kKernel, kPair, true, 1>,
           &pair_segment<V, kKernel, kPair, true, 2>, &pair_segment<V, kKernel, kPair, true, 3>}};
      std::copy(pairs.inner, pairs.inner + kStepCombinations, k.pair_inner);
      std::copy(pairs.clipped, pairs.clipped + kStepCombinations, k.pair_clipped);
    }
  }
  return k;
}

// Register-resident kernel rows for the kernel widths of our models (3 and
// 5, stride 1 or 2, no dilation across); loops otherwise.
template <typename V>
SegmentKernels fixed_or_any_kernels(const Conv2DShape& s) {
  if (s.dilation_width == 1) {
    if (s.kernel_width == 3 && s.stride_width == 1)
      return s.in_channels <= V::kLanes
                 ? fixed_kernels_with_pairs<V, V::kOneGroupMost, false>(s)
                 : fixed_kernels_with_pairs<V, V::kMost[0][0], V::kOwnCopies>(s);
    if (s.kernel_width == 3 && s.stride_width == 2) return fixed_kernels<V, 3, 2, V::kMost[0][1]>();
    if (s.kernel_width == 5 && s.stride_width == 1) return fixed_kernels<V, 5, 1, V::kMost[1][0]>();
    if (s.kernel_width == 5 && s.stride_width == 2) return fixed_kernels<V, 5, 2, V::kMost[1][1]>();
  }
  constexpr SegmentFunction kAny[kStepCombinations] = {&any_segment<V, 0>, &any_segment<V, 1>,
                                                       &any_segment<V, 2>, &any_segment<V, 3>};
  SegmentKernels any{};
  any.most = 1;
  std::copy(kAny, kAny + kStepCombinations, any.inner);
  std::copy(kAny, kAny + kStepCombinations, any.clipped);
  return any;
}

}  // namespace
}  // namespace runtime::kernels
