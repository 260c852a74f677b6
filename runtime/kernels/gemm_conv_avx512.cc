#include "runtime/kernels/gemm_conv.h"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "runtime/kernels/aligned_floats.h"
#include "runtime/kernels/epilogue_avx512.h"
#include "runtime/kernels/padded_input.h"

// The matrix-product convolution of gemm_conv.cc on 512-bit vectors: strips
// of 16 to 48 output channels, twice the rows per block in the 32 vector
// registers, channel tails under mask registers.
namespace runtime::kernels {
namespace {

// Rows per block for a strip of 1, 2 or 3 vectors: 12, 16 or 24 sums in
// the 32 registers beside the weights and the broadcast input.
constexpr int kBlockRows[4] = {0, 12, 8, 8};
// Pairs of rows per block when two rows share a strip of 1 or 3 vectors (see
// block_product): 6 or 12 sums, with two row pointers per pair in the general
// registers.
constexpr int kBlockPairs[4] = {0, 6, 0, 4};
// Rows taken together while every strip passes over them, sized so that
// their inputs stay in the second-level cache.
constexpr int kChunkFloats = 32 * 1024;
// Weights small enough to stay in the first-level cache are better used on
// a few rows at a time, so that the rows and their outputs stay there too.
constexpr size_t kSmallWeightFloats = 6 * 1024;
constexpr int kSmallWeightRows = 48;

// One strip of columns over a run of rows.
struct Strip {
  const float* const* rows;  // each row's first input float, or null when
  const float* first_input;  // the rows follow each other from here
  int depth;                 // floats per row then
  int count;                 // rows
  float* out;                // first output of the first row
  const float* residual;     // same place in the residual; unread without one
  int row_stride;            // floats between rows of out and residual
  const int* taps;           // float offsets of each tap run from a row's start
  int num_taps, tap_length;  // tap runs, and floats per run
  const float* panel;        // the strip's packed weights
  int column, columns;       // first column and how many are real
};

// Adds the products of kRows rows (or pairs of rows, see block_product) to
// `acc`, each input value broadcast to a whole vector.
template <int kRows, int kVectors, bool kPaired>
__attribute__((target("avx512f,avx2,fma"), always_inline)) inline void broadcast_sums(
    const Strip& st, const float* (&row)[kRows][kPaired ? 2 : 1], __mmask16 first_lanes,
    __m512 (&acc)[kRows][kVectors]) {
  constexpr int kInputs = kPaired ? 2 : 1;
  // The vector holding the end of the first row's channels and the start of
  // the second's.
  constexpr int kMixed = kVectors / 2;
  const float* w = st.panel;
  for (int t = 0; t < st.num_taps; ++t) {
    const float* a[kRows][kInputs];
#pragma GCC unroll 16
    for (int r = 0; r < kRows; ++r) {
#pragma GCC unroll 2
      for (int i = 0; i < kInputs; ++i) a[r][i] = row[r][i] + st.taps[t];
    }
    for (int k = 0; k < st.tap_length; ++k, w += 16 * kVectors) {
      __m512 wv[kVectors];
#pragma GCC unroll 16
      for (int v = 0; v < kVectors; ++v) wv[v] = _mm512_load_ps(w + 16 * v);
#pragma GCC unroll 16
      for (int r = 0; r < kRows; ++r) {
        if constexpr (kPaired) {
          const __m512 first = _mm512_set1_ps(a[r][0][k]), second = _mm512_set1_ps(a[r][1][k]);
#pragma GCC unroll 16
          for (int v = 0; v < kVectors; ++v) {
            const __m512 x = v < kMixed    ? first
                             : v > kMixed ? second
                                          : _mm512_mask_blend_ps(first_lanes, second, first);
            acc[r][v] = _mm512_fmadd_ps(x, wv[v], acc[r][v]);
          }
        } else {
          const __m512 x = _mm512_set1_ps(a[r][0][k]);
#pragma GCC unroll 16
          for (int v = 0; v < kVectors; ++v) acc[r][v] = _mm512_fmadd_ps(x, wv[v], acc[r][v]);
        }
      }
    }
  }
}

// The sums of kPairs pairs of rows with 8 or fewer output channels, one
// vector per pair (see block_product): rather than two broadcasts and a
// blend per input value, whose loads would bound the product, eight values
// of each row are loaded at once and spread over the lanes by permutations.
template <int kPairs>
__attribute__((target("avx512f,avx2,fma"), always_inline)) inline void narrow_pairs(
    const Strip& st, const float* (&row)[kPairs][2], __mmask16 first_lanes,
    __m512 (&acc)[kPairs][1]) {
  const float* w = st.panel;
  // spread[j]: value j of the first row in its lanes, of the second row in
  // the others, from a vector holding eight values of each.
  __m512i spread[8];
#pragma GCC unroll 8
  for (int j = 0; j < 8; ++j)
    spread[j] = _mm512_mask_blend_epi32(first_lanes, _mm512_set1_epi32(8 + j), _mm512_set1_epi32(j));
  for (int t = 0; t < st.num_taps; ++t) {
    for (int k = 0; k < st.tap_length; k += 8) {
      const int values = std::min(8, st.tap_length - k);
      __m512 both[kPairs];
#pragma GCC unroll 16
      for (int p = 0; p < kPairs; ++p) {
        const __m256 first = load_lanes(row[p][0] + st.taps[t] + k, values);
        const __m256 second = load_lanes(row[p][1] + st.taps[t] + k, values);
        // Side by side; masked forms, as GCC 12's unmasked ones start from
        // an undefined vector that -Wmaybe-uninitialized reports.
        const __m512d low = _mm512_maskz_broadcast_f64x4(0x0f, _mm256_castps_pd(first));
        both[p] = _mm512_castpd_ps(_mm512_mask_broadcast_f64x4(low, 0xf0, _mm256_castps_pd(second)));
      }
#pragma GCC unroll 8
      for (int j = 0; j < 8; ++j) {
        if (j >= values) break;
        const __m512 wv = _mm512_load_ps(w + 16 * j);
#pragma GCC unroll 16
        for (int p = 0; p < kPairs; ++p)
          acc[p][0] = _mm512_fmadd_ps(_mm512_maskz_permutexvar_ps(0xffff, spread[j], both[p]), wv,
                                      acc[p][0]);
      }
      w += 16 * values;
    }
  }
}

// broadcast_sums for a whole block of rows that follow each other in
// memory, kStride floats apart (a 1x1 convolution's pixels): every row's
// inputs at a fixed offset from the block's first, so that no row pointers
// compete for the general registers.
template <int kRows, int kVectors, int kStride>
__attribute__((target("avx512f,avx2,fma"), always_inline)) inline void following_sums(
    const float* first, const float* w, __m512 (&acc)[kRows][kVectors]) {
  for (int k = 0; k < kStride; ++k, w += 16 * kVectors) {
    __m512 wv[kVectors];
#pragma GCC unroll 16
    for (int v = 0; v < kVectors; ++v) wv[v] = _mm512_load_ps(w + 16 * v);
#pragma GCC unroll 16
    for (int r = 0; r < kRows; ++r) {
      const __m512 x = _mm512_set1_ps(first[r * kStride + k]);
#pragma GCC unroll 16
      for (int v = 0; v < kVectors; ++v) acc[r][v] = _mm512_fmadd_ps(x, wv[v], acc[r][v]);
    }
  }
}

// narrow_pairs for a whole block of rows that follow each other in memory
// (a 1x1 convolution's pixels) with kDepth inputs each: every input is at a
// fixed offset from the block's first, so no row pointers are kept, and the
// depth loop unrolls completely.
template <int kPairs, int kDepth>
__attribute__((target("avx512f,avx2,fma"), always_inline)) inline void following_pairs(
    const float* first, const float* w, __mmask16 first_lanes, __m512 (&acc)[kPairs][1]) {
  __m512i spread[8];
#pragma GCC unroll 8
  for (int j = 0; j < 8; ++j)
    spread[j] = _mm512_mask_blend_epi32(first_lanes, _mm512_set1_epi32(8 + j), _mm512_set1_epi32(j));
#pragma GCC unroll 8
  for (int k = 0; k < kDepth; k += 8) {
    __m512 both[kPairs];
#pragma GCC unroll 16
    for (int p = 0; p < kPairs; ++p) {
      const float* a = first + 2 * p * kDepth + k;
      const __m512d low = _mm512_maskz_broadcast_f64x4(0x0f, _mm256_castps_pd(_mm256_loadu_ps(a)));
      both[p] = _mm512_castpd_ps(
          _mm512_mask_broadcast_f64x4(low, 0xf0, _mm256_castps_pd(_mm256_loadu_ps(a + kDepth))));
    }
#pragma GCC unroll 8
    for (int j = 0; j < 8; ++j) {
      const __m512 wv = _mm512_load_ps(w + 16 * (k + j));
#pragma GCC unroll 16
      for (int p = 0; p < kPairs; ++p)
        acc[p][0] = _mm512_fmadd_ps(_mm512_maskz_permutexvar_ps(0xffff, spread[j], both[p]), wv, acc[p][0]);
    }
  }
}

// A product with 8 or fewer output channels, or 17 to 24, would leave a
// quarter to half of its last vector empty. Instead two neighbouring rows
// (output pixels) share one strip of 1 or 3 vectors: the first row's
// channels, then the second's, so that the pair's outputs lie side by side
// in memory as in the output tensor. The vector where the first row's
// channels end takes its lanes from both rows' inputs. Such a strip covers
// every output channel, its weights, bias and slopes are repeated for the
// second row, and `columns` counts the pair's lanes (twice the channels).
//
// Paired: kRows pairs of rows; the block's last pair may lack its second row
// (`rows_here` odd), which then reads the first row again and stores nothing.
// kPartial: some vectors hold fewer than 16 real lanes, stored under masks.
template <int kRows, int kVectors, int kSteps, bool kPartial, bool kPaired>
__attribute__((target("avx512f,avx2,fma"), always_inline)) inline void block_product(
    const Strip& st, int first_row, int rows_here, const VectorEpilogue16& finish,
    const float* bias) {
  // Inputs per block row: one, or the pair's two.
  constexpr int kInputs = kPaired ? 2 : 1;
  // The lanes of the first row in the vector where its channels end.
  const __mmask16 first_lanes = kPaired ? lane_mask16(st.columns / 2 - 16 * (kVectors / 2)) : 0;
  __m512 acc[kRows][kVectors];
#pragma GCC unroll 16
  for (int v = 0; v < kVectors; ++v) {
    const __m512 b = _mm512_loadu_ps(bias + st.column + 16 * v);
#pragma GCC unroll 16
    for (int r = 0; r < kRows; ++r) acc[r][v] = b;
  }
  const float* row[kRows][kInputs];
#pragma GCC unroll 16
  for (int r = 0; r < kRows; ++r) {
#pragma GCC unroll 2
    for (int i = 0; i < kInputs; ++i) {
      const int at = first_row + std::min(kInputs * r + i, rows_here - 1);
      row[r][i] = st.rows ? st.rows[at] : st.first_input + size_t(at) * st.depth;
    }
  }
  // A whole block of rows that follow each other (a 1x1 convolution's, the
  // only rows without a pointer table), at the depths of our models.
  const bool following = !st.rows && rows_here == kInputs * kRows;
  if constexpr (kPaired && kVectors == 1) {
    if (following && st.depth == 16)
      following_pairs<kRows, 16>(row[0][0], st.panel, first_lanes, acc);
    else
      narrow_pairs<kRows>(st, row, first_lanes, acc);
  } else {
    if (following && st.depth == 8 && !kPaired)
      following_sums<kRows, kVectors, 8>(row[0][0], st.panel, acc);
    else
      broadcast_sums<kRows, kVectors, kPaired>(st, row, first_lanes, acc);
  }
  // Every index constant after unrolling, so that the sums stay in registers.
  const size_t first = size_t(first_row) * st.row_stride;
#pragma GCC unroll 16
  for (int r = 0; r < kRows; ++r) {
    // Lanes of this block row: a lone last row of a pair has half.
    const int lanes = kPaired && kInputs * r + 1 >= rows_here ? st.columns / 2 : st.columns;
#pragma GCC unroll 16
    for (int v = 0; v < kVectors; ++v) {
      const size_t at = first + size_t(kInputs * r) * st.row_stride + 16 * v;
      const __mmask16 m =
          !kPartial ? __mmask16(0xffff) : lane_mask16(std::clamp(lanes - 16 * v, 0, 16));
      finish.template store16<kSteps>(acc[r][v], st.column + 16 * v, st.residual + at,
                                      st.out + at, m);
    }
  }
}

// The last rows of a strip, fewer than a block: one of kRows... block rows.
template <int kVectors, int kSteps, bool kPartial, bool kPaired, int... kRows>
__attribute__((target("avx512f,avx2,fma"), always_inline)) inline void last_rows(
    const Strip& st, int first_row, const VectorEpilogue16& finish, const float* bias,
    std::integer_sequence<int, kRows...>) {
  const int rest = st.count - first_row;
  const int block_rows = kPaired ? (rest + 1) / 2 : rest;
  ((block_rows == kRows + 1
        ? block_product<kRows + 1, kVectors, kSteps, kPartial, kPaired>(st, first_row, rest,
                                                                         finish, bias)
        : void()),
   ...);
}

template <int kVectors, int kSteps, bool kPartial, bool kPaired>
__attribute__((target("avx512f,avx2,fma"))) void strip_product(const Strip& st, const Epilogue& e) {
  constexpr int kRows = kPaired ? kBlockPairs[kVectors] : kBlockRows[kVectors];
  constexpr int kStep = kPaired ? 2 * kRows : kRows;
  const VectorEpilogue16 finish(e);
  int r = 0;
  for (; r + kStep <= st.count; r += kStep)
    block_product<kRows, kVectors, kSteps, kPartial, kPaired>(st, r, kStep, finish, e.bias);
  // The rest: fewer than kRows rows, or up to kRows pairs whose last lacks
  // its second row, which is stored under masks.
  if (r < st.count)
    last_rows<kVectors, kSteps, kPartial || kPaired, kPaired>(
        st, r, finish, e.bias, std::make_integer_sequence<int, kPaired ? kRows : kRows - 1>());
}

using StripFunction = void (*)(const Strip&, const Epilogue&);

template <int kVectors, bool kPaired>
constexpr std::array<StripFunction, 2 * kStepCombinations> strip_products() {
  return {&strip_product<kVectors, 0, false, kPaired>, &strip_product<kVectors, 1, false, kPaired>,
          &strip_product<kVectors, 2, false, kPaired>, &strip_product<kVectors, 3, false, kPaired>,
          &strip_product<kVectors, 0, true, kPaired>,  &strip_product<kVectors, 1, true, kPaired>,
          &strip_product<kVectors, 2, true, kPaired>,  &strip_product<kVectors, 3, true, kPaired>};
}

// [vectors][steps], plus kStepCombinations for a strip narrower than its
// vectors; then the same for paired rows (one or three vectors).
constexpr std::array<StripFunction, 2 * kStepCombinations> kStripProducts[4] = {
    {}, strip_products<1, false>(), strip_products<2, false>(), strip_products<3, false>()};
constexpr std::array<StripFunction, 2 * kStepCombinations> kPairedProducts[4] = {
    {}, strip_products<1, true>(), {}, strip_products<3, true>()};

// Whether rows go in pairs (see block_product) for `channels` outputs.
bool pairs_rows(int channels) { return channels <= 8 || (channels > 16 && channels <= 24); }

// How the output channels are cut into strips: two vectors each, except a
// last strip of one vector (up to 16 columns left) or of three (48 left,
// instead of a two-vector strip and an inefficient one-vector one). Paired
// rows take one strip of twice the channels.
struct StripPlan {
  int column, vectors;
  size_t panel;  // offset of the packed weights
};

std::vector<StripPlan> plan_strips(int channels, size_t depth) {
  if (pairs_rows(channels)) return {{0, (2 * channels + 15) / 16, 0}};
  std::vector<StripPlan> plan;
  size_t panel = 0;
  for (int column = 0; column < channels;) {
    const int left = channels - column;
    const int vectors = left <= 16 ? 1 : left == 48 ? 3 : 2;
    plan.push_back({column, vectors, panel});
    panel += depth * 16 * vectors;
    column += 16 * vectors;
  }
  return plan;
}

// The kernel's bias and slopes, padded to whole vectors; when rows go in
// pairs, each value twice, the second row's copy after the first's.
ChannelValues channel_values(int channels, const float* bias, const Conv2DPostOps& post) {
  if (!pairs_rows(channels)) return ChannelValues(channels, (channels + 15) / 16 * 16, bias, post);
  auto twice = [channels](const float* values) {
    std::vector<float> both;
    if (values) {
      both.assign(values, values + channels);
      both.insert(both.end(), values, values + channels);
    }
    return both;
  };
  const std::vector<float> biases = twice(bias), slopes = twice(post.prelu_alpha);
  Conv2DPostOps paired = post;
  paired.prelu_alpha = post.prelu_alpha ? slopes.data() : nullptr;
  return ChannelValues(2 * channels, (2 * channels + 15) / 16 * 16, bias ? biases.data() : nullptr,
                       paired);
}

class GemmConv2D512 final : public Conv2DKernel {
 public:
  GemmConv2D512(const Conv2DShape& s, const float* weights, const float* bias,
                const Conv2DPostOps& post)
      : s_(s),
        padded_width_(s.in_width + s.pad_left + s.pad_right),
        copies_input_(has_padding(s)),
        padded_input_(copies_input_ ? PaddedInput(s) : PaddedInput()),
        paired_(pairs_rows(s.out_channels)),
        // Padded to whole vectors: every strip reads whole vectors of these.
        values_(channel_values(s.out_channels, bias, post)) {
    const int c = s.in_channels;
    const size_t row_floats = size_t(padded_width_) * c;
    if (s.dilation_width == 1) {
      tap_length_ = s.kernel_width * c;
      for (int kh = 0; kh < s.kernel_height; ++kh)
        taps_.push_back(static_cast<int>(kh * s.dilation_height * row_floats));
    } else {
      tap_length_ = c;
      for (int kh = 0; kh < s.kernel_height; ++kh)
        for (int kw = 0; kw < s.kernel_width; ++kw)
          taps_.push_back(static_cast<int>(kh * s.dilation_height * row_floats +
                                           size_t(kw) * s.dilation_width * c));
    }
    depth_ = size_t(s.kernel_height) * s.kernel_width * c;
    pack(weights);
    const int pixels = s.out_height * s.out_width;
    chunk_rows_ = panels_.size() <= kSmallWeightFloats
                      ? kSmallWeightRows
                      : std::max<int>(48, int(kChunkFloats / std::max<size_t>(depth_, 1)) / 48 * 48);
    chunk_rows_ = std::min(chunk_rows_, pixels);
    rows_.resize(chunk_rows_);
  }

  void run(const float* input, float* output, const float* residual) override {
    const Conv2DShape& s = s_;
    const size_t in_image = size_t(s.in_height) * s.in_width * s.in_channels;
    const int pixels = s.out_height * s.out_width;
    const size_t out_image = size_t(pixels) * s.out_channels;
    for (int n = 0; n < s.batch; ++n) {
      const float* image = input + n * in_image;
      if (copies_input_) image = padded_input_.fill(image);
      float* out = output + n * out_image;
      // Without a residual the pointer is only carried along, never read.
      const float* residual_image = values_.epilogue.add_residual ? residual + n * out_image : out;
      for (int first = 0; first < pixels; first += chunk_rows_)
        run_chunk(image, first, std::min(chunk_rows_, pixels - first), out, residual_image);
    }
  }

 private:
  // One panel of depth_ x (16 x vectors) floats per strip; columns past the
  // last output channel are zero.
  void pack(const float* weights) {
    strips_ = plan_strips(s_.out_channels, depth_);
    const StripPlan& last = strips_.back();
    panels_ = AlignedFloats(last.panel + depth_ * 16 * last.vectors);
    for (const StripPlan& strip : strips_) {
      const int width = 16 * strip.vectors;
      float* panel = panels_.data() + strip.panel;
      // Paired rows: the second row's channels after the first's.
      const int columns = paired_ ? 2 * s_.out_channels : s_.out_channels;
      for (size_t k = 0; k < depth_; ++k)
        for (int j = 0; j < width && strip.column + j < columns; ++j)
          panel[k * width + j] =
              weights[size_t((strip.column + j) % s_.out_channels) * depth_ + k];
    }
  }

  void run_chunk(const float* image, int first, int count, float* out, const float* residual) {
    const Conv2DShape& s = s_;
    // Without padding or striding, output pixel m reads input pixel m.
    const bool follow = s.kernel_height == 1 && s.kernel_width == 1 && s.stride_height == 1 &&
                        s.stride_width == 1 && !copies_input_;
    if (!follow) {
      const size_t padded_row = size_t(padded_width_) * s.in_channels;
      int y = first / s.out_width, x = first % s.out_width;
      for (int r = 0; r < count; ++r) {
        rows_[r] = image + size_t(y) * s.stride_height * padded_row +
                   size_t(x) * s.stride_width * s.in_channels;
        if (++x == s.out_width) x = 0, ++y;
      }
    }
    const int n = s.out_channels;
    for (const StripPlan& strip : strips_) {
      const size_t at = size_t(first) * n + strip.column;
      const Strip st{follow ? nullptr : rows_.data(),
                     image + size_t(first) * s.in_channels,
                     s.in_channels,
                     count,
                     out + at,
                     residual + at,
                     n,
                     taps_.data(),
                     static_cast<int>(taps_.size()),
                     tap_length_,
                     panels_.data() + strip.panel,
                     strip.column,
                     std::min(16 * strip.vectors, (paired_ ? 2 * n : n) - strip.column)};
      const bool full = st.columns == 16 * strip.vectors;
      (paired_ ? kPairedProducts : kStripProducts)[strip.vectors]
                                                  [steps_ + (full ? 0 : kStepCombinations)](
                                                      st, values_.epilogue);
    }
  }

  Conv2DShape s_;
  int padded_width_;
  bool copies_input_;
  PaddedInput padded_input_;  // when copies_input_
  bool paired_;               // rows go in pairs (see block_product)
  ChannelValues values_;
  std::vector<int> taps_;  // float offsets of each tap run from a row's first float
  int tap_length_ = 0;     // floats per tap run
  size_t depth_ = 0;       // the product's inner dimension
  int steps_ = steps_of(values_.epilogue);
  std::vector<StripPlan> strips_;
  AlignedFloats panels_;
  int chunk_rows_ = 0;
  std::vector<const float*> rows_;  // one chunk's row starts, filled per run
};

}  // namespace

std::unique_ptr<Conv2DKernel> make_gemm_conv2d_avx512(const Conv2DShape& shape,
                                                      const float* weights, const float* bias,
                                                      const Conv2DPostOps& post) {
  return std::make_unique<GemmConv2D512>(shape, weights, bias, post);
}

}  // namespace runtime::kernels
