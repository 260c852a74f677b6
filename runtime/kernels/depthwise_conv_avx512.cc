#include "runtime/kernels/depthwise_conv.h"

#include <immintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <numeric>
#include <utility>

#include "runtime/kernels/depthwise_avx2.h"
#include "runtime/kernels/depthwise_rows.h"
#include "runtime/kernels/epilogue_avx512.h"

// The depthwise convolution on 512-bit vectors: the shared driver
// (depthwise_driver.h) with this width's traits and its 256-bit tail for a
// last group of few channels, and the flat rows for 8 and 24 channels below.
namespace runtime::kernels {
namespace {

// The depthwise driver on 512-bit vectors: sixteen channels of a pixel (one
// cache line of a pixel with 16 channels), weights packed [group of 16
// channels][ky][kx][16], and twice the registers of AVX2 for longer steps
// along a row.
struct Avx512 {
  using Vec = __m512;
  using Mask = __mmask16;
  using Finish = VectorEpilogue16;
  static constexpr int kLanes = 16;
  static constexpr int kFilterLanes = kLanes;
  // Pixels per step by kernel 3 or 5 and stride 1 or 2 (32 registers, but
  // only 16 for the input addresses: at stride 2, and for 5x5 windows, more
  // pixels ran 10-20% slower on the smaller images).
  static constexpr int kMost[2][2] = {{16, 8}, {12, 8}};
  // A last group of at most 8 channels goes in 256-bit vectors: a
  // half-empty 512-bit vector under a mask costs more than it gains.
  static constexpr bool kHalfTail = true;
  // The copies' registers cost more than the reloads they save: sixteen
  // 3x3 pixels a step ran 10-20% slower with them.
  static constexpr bool kOwnCopies = false;
  static constexpr int kOneGroupMost = kMost[0][0];
  // Pixels per step over two rows of 3x3 windows: 24 sums, six weights
  // and the input in the 32 registers.
  static constexpr int kPairMost = 12;

  __attribute__((target("avx512f"), always_inline)) static Vec load(const float* p) {
    return _mm512_loadu_ps(p);
  }
  __attribute__((target("avx512f"), always_inline)) static Vec load_aligned(const float* p) {
    return _mm512_load_ps(p);
  }
  __attribute__((target("avx512f"), always_inline)) static Vec masked_load(const float* p,
                                                                           Mask m) {
    return _mm512_maskz_loadu_ps(m, p);
  }
  static Mask mask(int lanes) { return lane_mask16(lanes); }
  __attribute__((target("avx512f"), always_inline)) static Vec fmadd(Vec a, Vec b, Vec c) {
    return _mm512_fmadd_ps(a, b, c);
  }
  template <int kSteps>
  __attribute__((target("avx512f"), always_inline)) static void store(const Finish& f, Vec v,
                                                                      int c,
                                                                      const float* residual,
                                                                      float* out) {
    f.template store16<kSteps>(v, c, residual, out);
  }
  __attribute__((target("avx512f"), always_inline)) static void store_lanes(
      const Finish& f, Vec v, int c, const float* residual, float* out, int lanes) {
    f.store(v, c, residual, out, lanes);
  }

  // A last group of at most 8 channels: the driver's steps in 256-bit
  // vectors over this packing, finished by the 256-bit epilogue.
  using Half = Avx2Vectors<16>;
  __attribute__((always_inline)) static Half::Finish half_finish(const Finish& f,
                                                                 const float* bias) {
    return Half::Finish(Epilogue{bias, f.alpha, f.activation, f.add_residual});
  }
};

}  // namespace
}  // namespace runtime::kernels

#pragma GCC push_options
#pragma GCC target("avx512f,avx2,fma")
#include "runtime/kernels/depthwise_driver.h"
#pragma GCC pop_options

namespace runtime::kernels {
namespace {

// Rows of a stride-1 convolution whose kChannels fill no whole vector (8
// or 24 in our models): a row of pixels is one run of floats, and so is each
// run of input it reads, shifted by one pixel per kernel column. Vectors
// are cut from the run without regard to pixels: kPixels pixels fill
// kVectors vectors exactly, where vector v's lane l holds channel
// (16 v + l) % kChannels, so full vectors replace the masked or 256-bit
// ones of a pixel at a time. Only for windows inside the image across; a
// segment's last few pixels go to `rest`.
template <int kChannels>
struct FlatLayout {
  static constexpr int kVectors = kChannels / std::gcd(kChannels, 16);
  static constexpr int kPixels = 16 / std::gcd(kChannels, 16);
  // Blocks of kPixels per step: about a dozen sums beside the weights.
  static constexpr int kBlocks = kVectors == 1 ? 12 : 4;

  // Lane l of vector v: the channel's place in the two group vectors that
  // hold channels 0-15 and 16-31.
  __attribute__((target("avx512f"))) static __m512i channels_of(int v) {
    alignas(64) int32_t lanes[16];
    for (int l = 0; l < 16; ++l) lanes[l] = (16 * v + l) % kChannels;
    return _mm512_load_si512(lanes);
  }
};

// Per-channel values spread over the layout: `low` holds channels 0-15,
// `high` (read past 16 channels only) 16-31.
template <int kChannels>
__attribute__((target("avx512f"), always_inline)) inline void spread(const float* low_values,
                                                                    const float* high_values,
                                                                    const __m512i (&index)[FlatLayout<kChannels>::kVectors],
                                                                    float* out) {
  const __m512 low = _mm512_load_ps(low_values), high = kChannels > 16 ? _mm512_load_ps(high_values) : low;
#pragma GCC unroll 4
  for (int v = 0; v < FlatLayout<kChannels>::kVectors; ++v)
    _mm512_store_ps(out + 16 * v, _mm512_permutex2var_ps(low, index[v], high));
}

// The vector of a kernel row's input that starts `half` half lines (8
// floats) past the cache line `line`: a vector cut from the middle of two
// lines would cost two loads, so one that starts half way through a line
// is put together from the two whole lines instead. With 8 or 24 channels
// every vector a row reads starts on a line or half way through one; the
// same lines and halves serve several kernel columns.
template <int kHalf>
__attribute__((target("avx512f"), always_inline)) inline __m512 half_line_vector(const float* line) {
  if constexpr (kHalf % 2 == 0) {
    return _mm512_load_ps(line + 8 * kHalf);
  } else {
    // The masked form: GCC 12 reports the unmasked one's undefined start.
    return _mm512_maskz_shuffle_f32x4(0xffff, _mm512_load_ps(line + 8 * (kHalf - 1)),
                                      _mm512_load_ps(line + 8 * (kHalf + 1)), 0x4e);
  }
}

// sums[j] += (vector j of kernel column kx's run) * its weight. kStart:
// how many half lines past `line` the kernel row's run starts (0 or 1), or
// -1 when it lies elsewhere (unaligned loads).
template <int kChannels, int kStart, int kx, int kSums, int... kJ>
__attribute__((target("avx512f,avx2,fma"), always_inline)) inline void column_products(
    const float* line, const float* w, __m512 (&sums)[kSums], std::integer_sequence<int, kJ...>) {
  using L = FlatLayout<kChannels>;
  __m512 wv[L::kVectors];
#pragma GCC unroll 4
  for (int v = 0; v < L::kVectors; ++v) wv[v] = _mm512_load_ps(w + (kx * L::kVectors + v) * 16);
  ((sums[kJ] = _mm512_fmadd_ps(
        kStart < 0 ? _mm512_loadu_ps(line + kx * kChannels + 16 * kJ)
                   : half_line_vector<(kStart < 0 ? 0 : kStart) + kx * kChannels / 8 + 2 * kJ>(line),
        wv[kJ % L::kVectors], sums[kJ])),
   ...);
}

// The same for every column of one kernel row.
template <int kChannels, int kStart, int kSums, int... kColumns>
__attribute__((target("avx512f,avx2,fma"), always_inline)) inline void row_products(
    const float* line, const float* w, __m512 (&sums)[kSums], std::integer_sequence<int, kColumns...>) {
  (column_products<kChannels, kStart, kColumns>(line, w, sums, std::make_integer_sequence<int, kSums>()), ...);
}

// The pixels of a flat segment, kBlocks blocks of kPixels at a time, then
// single blocks; fewer than kPixels left go to the pixel-at-a-time kernel.
template <int kChannels, int kKernel, int kSteps, int kBlocks>
__attribute__((target("avx512f,avx2,fma"), always_inline)) inline int flat_steps(
    const Conv2DShape& s, const float* filter, const float* bias, const VectorEpilogue16& finish,
    const Segment& g, int ox) {
  using L = FlatLayout<kChannels>;
  constexpr int kSums = kBlocks * L::kVectors, kWidth = kBlocks * L::kPixels;
  const size_t row = size_t(s.in_width) * kChannels;
  for (; ox + kWidth <= g.to; ox += kWidth) {
    __m512 sums[kSums];
#pragma GCC unroll 32
    for (int j = 0; j < kSums; ++j) sums[j] = _mm512_load_ps(bias + 16 * (j % L::kVectors));
    const ptrdiff_t first = ptrdiff_t(ox - s.pad_left) * kChannels;
    for (int ky = g.rows.first; ky < g.rows.end; ++ky) {
      const float* in = g.image + size_t(g.y0 + ky * s.dilation_height) * row + first;
      const float* w = filter + ky * kKernel * L::kVectors * 16;
      constexpr auto kColumns = std::make_integer_sequence<int, kKernel>();
      switch (reinterpret_cast<uintptr_t>(in) & 63) {
        case 0: row_products<kChannels, 0>(in, w, sums, kColumns); break;
        case 32: row_products<kChannels, 1>(in - 8, w, sums, kColumns); break;
        default: row_products<kChannels, -1>(in, w, sums, kColumns);
      }
    }
    const size_t at = size_t(ox) * kChannels;
#pragma GCC unroll 32
    for (int j = 0; j < kSums; ++j)
      finish.template store16<kSteps>(sums[j], 16 * (j % L::kVectors), g.residual + at + 16 * j,
                                      g.out + at + 16 * j);
  }
  return ox;
}

template <int kChannels, int kKernel, int kSteps>
__attribute__((target("avx512f,avx2,fma"))) void flat_segment(const Conv2DShape& s, const float* weights,
                                                               const Epilogue& e, const Segment& g) {
  using L = FlatLayout<kChannels>;
  // The weights, bias and slopes in the layout, spread once per segment
  // (a few dozen permutations beside a row's products) from the packing
  // by groups of 16 channels.
  __m512i index[L::kVectors];
  for (int v = 0; v < L::kVectors; ++v) index[v] = L::channels_of(v);
  constexpr int kTaps = kKernel * kKernel;
  alignas(64) float filter[kTaps * L::kVectors * 16], bias[L::kVectors * 16], alpha[L::kVectors * 16] = {};
  // Packed by groups of 16 channels: tap t of the second group a whole
  // group's taps after the first's.
  for (int t = 0; t < kTaps; ++t)
    spread<kChannels>(weights + t * 16, kChannels > 16 ? weights + (kTaps + t) * 16 : nullptr, index,
                      filter + t * L::kVectors * 16);
  spread<kChannels>(e.bias, e.bias + 16, index, bias);
  if (e.alpha) spread<kChannels>(e.alpha, e.alpha + 16, index, alpha);
  VectorEpilogue16 finish(e);
  finish.alpha = alpha;
  int ox = flat_steps<kChannels, kKernel, kSteps, L::kBlocks>(s, filter, bias, finish, g, g.from);
  ox = flat_steps<kChannels, kKernel, kSteps, 1>(s, filter, bias, finish, g, ox);
  if (ox < g.to) {
    Segment rest = g;
    rest.from = ox;
    fixed_segment<Avx512, kKernel, 1, L::kPixels, Avx512::kOwnCopies, false, kSteps>(s, weights, e,
                                                                                     rest);
  }
}

template <int kChannels, int kKernel>
constexpr SegmentKernels flat_kernels() {
  // The edges a few pixels at a time, so that most of a row runs flat.
  constexpr SegmentKernels edges = fixed_kernels<Avx512, kKernel, 1, 4>();
  return {edges.most,
          {&flat_segment<kChannels, kKernel, 0>, &flat_segment<kChannels, kKernel, 1>,
           &flat_segment<kChannels, kKernel, 2>, &flat_segment<kChannels, kKernel, 3>},
          {edges.clipped[0], edges.clipped[1], edges.clipped[2], edges.clipped[3]}};
}

// Whether flat_segment takes the inner segments of a convolution.
bool runs_flat(const Conv2DShape& s) {
  return s.stride_width == 1 && s.dilation_width == 1 && s.kernel_width == s.kernel_height &&
         (s.kernel_width == 3 || s.kernel_width == 5) && (s.in_channels == 8 || s.in_channels == 24);
}

SegmentKernels segment_kernels_for(const Conv2DShape& s) {
  if (runs_flat(s)) {
    if (s.in_channels == 8) return s.kernel_width == 3 ? flat_kernels<8, 3>() : flat_kernels<8, 5>();
    return s.kernel_width == 3 ? flat_kernels<24, 3>() : flat_kernels<24, 5>();
  }
  return fixed_or_any_kernels<Avx512>(s);
}

}  // namespace

std::unique_ptr<Conv2DKernel> make_depthwise_conv2d_avx512(const Conv2DShape& shape,
                                                           const float* weights, const float* bias,
                                                           const Conv2DPostOps& post) {
  // Other convolutions of 8 or fewer channels would fill at most half a
  // 512-bit vector, under a mask: one 256-bit vector holds them all.
  if (shape.out_channels <= 8 && !runs_flat(shape)) return make_depthwise_conv2d(shape, weights, bias, post);
  return std::make_unique<DepthwiseRows<16>>(shape, segment_kernels_for(shape), weights, bias,
                                            post);
}

}  // namespace runtime::kernels
