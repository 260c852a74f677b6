#include "runtime/kernels/depthwise_conv.h"

#include <immintrin.h>

#include <algorithm>
#include <cstddef>
#include <utility>

#include "runtime/kernels/aligned_floats.h"
#include "runtime/kernels/epilogue.h"

namespace runtime::kernels {
namespace {

// The part of the window that falls inside the image along one axis, for a
// window starting at `start` (may be negative).
struct TapRange {
  int first, end;
};

TapRange inside(int start, int size, int kernel, int dilation) {
  const int first = start < 0 ? (-start + dilation - 1) / dilation : 0;
  const int end = std::min(kernel, (size - start + dilation - 1) / dilation);
  return {std::min(first, kernel), std::max(end, std::min(first, kernel))};
}

// Where one call reads and writes.
struct Span {
  const float* image;      // the input image
  float* out;              // the first pixel's first channel
  const float* residual;   // likewise in the residual; unread without one
  int y0, x0;              // the first pixel's window corner in the input
  TapRange rows, columns;  // the taps inside the image
};

// Each channel has its own filter, so a vector holds eight channels of one
// pixel; the weights are packed [group of 8 channels][ky][kx][8]. `kMasked`
// marks the last group when the channels are not a multiple of eight.
template <bool kMasked>
__attribute__((target("avx2"), always_inline)) inline __m256 load_group(const float* p,
                                                                       __m256i mask) {
  return kMasked ? _mm256_maskload_ps(p, mask) : _mm256_loadu_ps(p);
}

// The sums of `kCount` neighbouring output pixels in one channel group.
template <int kCount>
struct Sums {
  __m256 v[kCount];
};

template <int kCount>
__attribute__((target("avx2"), always_inline)) inline void store_sums(
    const Conv2DShape& s, const VectorEpilogue& finish, const Span& p, const Sums<kCount>& sums,
    int c, int lanes) {
#pragma GCC unroll 8
  for (int j = 0; j < kCount; ++j) {
    const size_t at = size_t(j) * s.out_channels + c;
    finish.store(sums.v[j], c, p.residual + at, p.out + at, lanes);
  }
}

// One channel group, any geometry: the taps are loops over the part of the
// window inside the image.
template <int kCount, bool kMasked>
__attribute__((target("avx2,fma"), always_inline)) inline Sums<kCount> any_window(
    const Conv2DShape& s, const float* weights, const float* bias, const Span& p, int c) {
  const __m256i mask = lane_mask(s.in_channels - c);
  const size_t pixel = s.in_channels, row = size_t(s.in_width) * pixel;
  Sums<kCount> sums;
#pragma GCC unroll 8
  for (int j = 0; j < kCount; ++j) sums.v[j] = _mm256_loadu_ps(bias + c);
  const float* filter = weights + size_t(c / 8) * s.kernel_height * s.kernel_width * 8;
  for (int ky = p.rows.first; ky < p.rows.end; ++ky) {
    const float* in = p.image + size_t(p.y0 + ky * s.dilation_height) * row + c;
    const float* w = filter + ky * s.kernel_width * 8;
    for (int kx = p.columns.first; kx < p.columns.end; ++kx) {
      const __m256 wv = _mm256_load_ps(w + kx * 8);
      const float* x = in + ptrdiff_t(p.x0 + kx * s.dilation_width) * pixel;
#pragma GCC unroll 8
      for (int j = 0; j < kCount; ++j)
        sums.v[j] = _mm256_fmadd_ps(load_group<kMasked>(x + j * s.stride_width * pixel, mask), wv,
                                    sums.v[j]);
    }
  }
  return sums;
}

// One channel group for windows kKernel wide with stride kStride and no
// dilation across: a kernel row's weights stay in registers and each input
// vector is loaded once for every output it reaches. `kClipped` (one pixel
// only) skips the columns outside the image.
template <int kKernel, int kStride, int kCount, bool kClipped, bool kMasked>
__attribute__((target("avx2,fma"), always_inline)) inline Sums<kCount> fixed_window(
    const Conv2DShape& s, const float* weights, const float* bias, const Span& p, int c) {
  static_assert(!kClipped || kCount == 1);
  const __m256i mask = lane_mask(s.in_channels - c);
  const size_t pixel = s.in_channels, row = size_t(s.in_width) * pixel;
  Sums<kCount> sums;
  const __m256 b = _mm256_loadu_ps(bias + c);
#pragma GCC unroll 8
  for (int j = 0; j < kCount; ++j) sums.v[j] = b;
  const float* filter = weights + size_t(c / 8) * s.kernel_height * kKernel * 8;
  for (int ky = p.rows.first; ky < p.rows.end; ++ky) {
    const float* in = p.image + size_t(p.y0 + ky * s.dilation_height) * row + c;
    __m256 w[kKernel];
#pragma GCC unroll 8
    for (int kx = 0; kx < kKernel; ++kx) w[kx] = _mm256_load_ps(filter + (ky * kKernel + kx) * 8);
#pragma GCC unroll 32
    for (int i = 0; i < (kCount - 1) * kStride + kKernel; ++i) {
      if (kClipped && (i < p.columns.first || i >= p.columns.end)) continue;
      const __m256 x = load_group<kMasked>(in + ptrdiff_t(p.x0 + i) * pixel, mask);
#pragma GCC unroll 8
      for (int j = 0; j < kCount; ++j) {
        const int kx = i - j * kStride;
        if (kx >= 0 && kx < kKernel) sums.v[j] = _mm256_fmadd_ps(x, w[kx], sums.v[j]);
      }
    }
  }
  return sums;
}

// `kCount` neighbouring output pixels, every channel.
using PixelFunction = void (*)(const Conv2DShape&, const float*, const Epilogue&, const Span&);

template <int kKernel, int kStride, int kCount, bool kClipped>
__attribute__((target("avx2,fma"))) void fixed_pixels(const Conv2DShape& s, const float* weights,
                                                      const Epilogue& e, const Span& p) {
  const VectorEpilogue finish(e);
  const int full = s.in_channels / 8 * 8;
  for (int c = 0; c < full; c += 8)
    store_sums(s, finish, p,
               fixed_window<kKernel, kStride, kCount, kClipped, false>(s, weights, e.bias, p, c),
               c, 8);
  if (full < s.in_channels)
    store_sums(
        s, finish, p,
        fixed_window<kKernel, kStride, kCount, kClipped, true>(s, weights, e.bias, p, full), full,
        s.in_channels - full);
}

template <int kCount>
__attribute__((target("avx2,fma"))) void any_pixels(const Conv2DShape& s, const float* weights,
                                                    const Epilogue& e, const Span& p) {
  const VectorEpilogue finish(e);
  const int full = s.in_channels / 8 * 8;
  for (int c = 0; c < full; c += 8)
    store_sums(s, finish, p, any_window<kCount, false>(s, weights, e.bias, p, c), c, 8);
  if (full < s.in_channels)
    store_sums(s, finish, p, any_window<kCount, true>(s, weights, e.bias, p, full), full,
               s.in_channels - full);
}

// How one geometry's output rows are computed: pixels whose windows lie
// wholly inside across, up to `most` at a time (`inner[n]` does n), and the
// pixels at the left and right edges one at a time.
constexpr int kMostPixels = 8;
struct RowKernels {
  int most;
  PixelFunction inner[kMostPixels + 1];
  PixelFunction edge;
};

template <int kKernel, int kStride, int... kCounts>
constexpr RowKernels fixed_row(std::integer_sequence<int, kCounts...>) {
  return {sizeof...(kCounts),
          {nullptr, &fixed_pixels<kKernel, kStride, kCounts + 1, false>...},
          &fixed_pixels<kKernel, kStride, 1, true>};
}

template <int... kCounts>
constexpr RowKernels any_row(std::integer_sequence<int, kCounts...>) {
  return {sizeof...(kCounts), {nullptr, &any_pixels<kCounts + 1>...}, &any_pixels<1>};
}

// Register-resident kernel rows for the kernel widths of our models, as many
// pixels at a time as the 16 vector registers allow; loops otherwise.
RowKernels row_kernels_for(const Conv2DShape& s) {
  if (s.dilation_width == 1) {
    if (s.kernel_width == 3 && s.stride_width == 1)
      return fixed_row<3, 1>(std::make_integer_sequence<int, 8>());
    if (s.kernel_width == 3 && s.stride_width == 2)
      return fixed_row<3, 2>(std::make_integer_sequence<int, 6>());
    if (s.kernel_width == 5 && s.stride_width == 1)
      return fixed_row<5, 1>(std::make_integer_sequence<int, 6>());
    if (s.kernel_width == 5 && s.stride_width == 2)
      return fixed_row<5, 2>(std::make_integer_sequence<int, 4>());
  }
  return any_row(std::make_integer_sequence<int, 4>());
}

class DepthwiseConv2D final : public Conv2DKernel {
 public:
  DepthwiseConv2D(const Conv2DShape& s, const float* weights, const float* bias,
                  const Conv2DPostOps& post)
      : s_(s),
        values_(s.out_channels, (s.out_channels + 7) / 8 * 8, bias, post),
        rows_(row_kernels_for(s)) {
    // [group][ky][kx][8 channels], zero past the last channel.
    const int groups = (s.out_channels + 7) / 8, taps = s.kernel_height * s.kernel_width;
    weights_ = AlignedFloats(size_t(groups) * taps * 8);
    for (int t = 0; t < taps; ++t)
      for (int c = 0; c < s.out_channels; ++c)
        weights_.data()[(size_t(c / 8) * taps + t) * 8 + c % 8] =
            weights[size_t(t) * s.out_channels + c];
  }

  void run(const float* input, float* output, const float* residual) override {
    const Conv2DShape& s = s_;
    const size_t in_image = size_t(s.in_height) * s.in_width * s.in_channels;
    const size_t out_row = size_t(s.out_width) * s.out_channels;
    const size_t out_image = out_row * s.out_height;
    // Output columns whose window lies wholly inside the image.
    const int reach = (s.kernel_width - 1) * s.dilation_width;
    const int inner_first =
        std::min(s.out_width, (s.pad_left + s.stride_width - 1) / s.stride_width);
    const int last_start = s.in_width - 1 - reach + s.pad_left;
    const int inner_end =
        std::clamp(last_start < 0 ? 0 : last_start / s.stride_width + 1, inner_first, s.out_width);
    const TapRange all_columns{0, s.kernel_width};
    for (int n = 0; n < s.batch; ++n) {
      const float* image = input + n * in_image;
      for (int oy = 0; oy < s.out_height; ++oy) {
        const int y0 = oy * s.stride_height - s.pad_top;
        const TapRange rows = inside(y0, s.in_height, s.kernel_height, s.dilation_height);
        const size_t row_at = n * out_image + oy * out_row;
        float* out = output + row_at;
        // Without a residual the pointer is only carried along, never read.
        const float* res = values_.epilogue.add_residual ? residual + row_at : out;
        auto span = [&](int ox, TapRange columns) {
          const size_t at = size_t(ox) * s.out_channels;
          return Span{image, out + at, res + at, y0, ox * s.stride_width - s.pad_left, rows, columns};
        };
        auto edge = [&](int ox) {
          const int x0 = ox * s.stride_width - s.pad_left;
          rows_.edge(s, weights_.data(), values_.epilogue,
                     span(ox, inside(x0, s.in_width, s.kernel_width, s.dilation_width)));
        };
        for (int ox = 0; ox < inner_first; ++ox) edge(ox);
        int ox = inner_first;
        while (ox < inner_end) {
          const int count = std::min(rows_.most, inner_end - ox);
          rows_.inner[count](s, weights_.data(), values_.epilogue, span(ox, all_columns));
          ox += count;
        }
        for (ox = inner_end; ox < s.out_width; ++ox) edge(ox);
      }
    }
  }

 private:
  Conv2DShape s_;
  ChannelValues values_;
  RowKernels rows_;
  AlignedFloats weights_;
};

}  // namespace

std::unique_ptr<Conv2DKernel> make_depthwise_conv2d(const Conv2DShape& shape, const float* weights,
                                                    const float* bias, const Conv2DPostOps& post) {
  return std::make_unique<DepthwiseConv2D>(shape, weights, bias, post);
}

}  // namespace runtime::kernels
