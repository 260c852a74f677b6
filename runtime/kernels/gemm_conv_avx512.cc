#include "runtime/kernels/gemm_conv.h"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <utility>

#include "runtime/kernels/epilogue_avx512.h"
#include "runtime/kernels/gemm_driver.h"

// The matrix-product convolution's microkernels on 512-bit vectors (the
// driver that walks the output is gemm_driver.h): strips of 16 to 48 output
// channels, twice the rows per block in the 32 vector registers, channel
// tails under mask registers, and rows in pairs for few channels.
namespace runtime::kernels {
namespace {

// Rows per block for a strip of 1, 2 or 3 vectors: 12, 16 or 24 sums in
// the 32 registers beside the weights and the broadcast input.
constexpr int kBlockRows[4] = {0, 12, 8, 8};
// Pairs of rows per block when two rows share a strip of 1 or 3 vectors (see
// block_product): 6 or 12 sums, with two row pointers per pair in the general
// registers.
constexpr int kBlockPairs[4] = {0, 6, 0, 4};

// Adds the products of kRows rows (or pairs of rows, see block_product) to
// `acc`, each input value broadcast to a whole vector. The weights are
// floats, or float16 widened as they are read (kHalves: the float form hands
// over to it when the strip's panel holds float16). kAhead: requests the
// weights kWeightsAhead bytes ahead of its reads.
template <int kRows, int kVectors, bool kPaired, bool kAhead, bool kHalves = false>
__attribute__((target("avx512f,avx2,fma"), always_inline)) inline void broadcast_sums(
    const Strip& st, const float* (&row)[kRows][kPaired ? 2 : 1], __mmask16 first_lanes,
    __m512 (&acc)[kRows][kVectors]) {
  if constexpr (!kPaired && !kHalves) {
    if (st.halves)
      return broadcast_sums<kRows, kVectors, false, kAhead, true>(st, row, first_lanes, acc);
  }
  constexpr int kInputs = kPaired ? 2 : 1;
  constexpr int kWeightBytes = kHalves ? 2 : 4;
  // The vector holding the end of the first row's channels and the start of
  // the second's.
  constexpr int kMixed = kVectors / 2;
  const char* w = reinterpret_cast<const char*>(st.panel);
  for (int t = 0; t < st.num_taps; ++t) {
    const float* a[kRows][kInputs];
#pragma GCC unroll 16
    for (int r = 0; r < kRows; ++r) {
#pragma GCC unroll 2
      for (int i = 0; i < kInputs; ++i) a[r][i] = row[r][i] + st.taps[t];
    }
    for (int k = 0; k < st.tap_length; ++k, w += 16 * kVectors * kWeightBytes) {
      if constexpr (kAhead) {
#pragma GCC unroll 4
        for (int line = 0; line < 16 * kVectors * kWeightBytes; line += 64)
          _mm_prefetch(w + kWeightsAhead + line, _MM_HINT_T1);
      }
      __m512 wv[kVectors];
#pragma GCC unroll 16
      for (int v = 0; v < kVectors; ++v) {
        const char* at = w + 16 * v * kWeightBytes;
        // The masked form: GCC 12 reports the unmasked one's undefined start.
        if constexpr (kHalves)
          wv[v] = _mm512_maskz_cvtph_ps(0xffff,
                                        _mm256_load_si256(reinterpret_cast<const __m256i*>(at)));
        else
          wv[v] = _mm512_load_ps(reinterpret_cast<const float*>(at));
      }
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
// kAhead: requests the weights ahead of its reads (see broadcast_sums).
template <int kRows, int kVectors, int kSteps, bool kPartial, bool kPaired, bool kAhead = false>
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
    if (following && st.depth == 8 && !kPaired && !st.halves)
      following_sums<kRows, kVectors, 8>(row[0][0], st.panel, acc);
    else
      broadcast_sums<kRows, kVectors, kPaired, kAhead>(st, row, first_lanes, acc);
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

template <int kVectors, int kSteps, bool kPartial, bool kPaired,
          int kRows = kPaired ? kBlockPairs[kVectors] : kBlockRows[kVectors]>
__attribute__((target("avx512f,avx2,fma"))) void strip_product(const Strip& st, const Epilogue& e) {
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

// strip_product whose first block requests the weights ahead of its reads
// (products of large weights, see kWeightsAhead); the rest of the strip is
// strip_product's.
template <int kVectors, int kSteps, bool kPartial, int kRows = kBlockRows[kVectors]>
__attribute__((target("avx512f,avx2,fma"))) void strip_product_ahead(const Strip& st,
                                                                     const Epilogue& e) {
  if (st.count < kRows) return strip_product<kVectors, kSteps, kPartial, false, kRows>(st, e);
  if (st.column == 0) request_first_weights(st.panel);
  block_product<kRows, kVectors, kSteps, kPartial, false, true>(st, 0, kRows, VectorEpilogue16(e),
                                                                e.bias);
  if (st.count > kRows)
    strip_product<kVectors, kSteps, kPartial, false, kRows>(after_rows(st, kRows), e);
}

template <int kVectors, bool kPaired,
          int kRows = kPaired ? kBlockPairs[kVectors] : kBlockRows[kVectors]>
constexpr std::array<StripFunction, 2 * kStepCombinations> strip_products() {
  return {&strip_product<kVectors, 0, false, kPaired, kRows>,
          &strip_product<kVectors, 1, false, kPaired, kRows>,
          &strip_product<kVectors, 2, false, kPaired, kRows>,
          &strip_product<kVectors, 3, false, kPaired, kRows>,
          &strip_product<kVectors, 0, true, kPaired, kRows>,
          &strip_product<kVectors, 1, true, kPaired, kRows>,
          &strip_product<kVectors, 2, true, kPaired, kRows>,
          &strip_product<kVectors, 3, true, kPaired, kRows>};
}

template <int kVectors, int kRows = kBlockRows[kVectors]>
constexpr std::array<StripFunction, 2 * kStepCombinations> strip_products_ahead() {
  return {&strip_product_ahead<kVectors, 0, false, kRows>,
          &strip_product_ahead<kVectors, 1, false, kRows>,
          &strip_product_ahead<kVectors, 2, false, kRows>,
          &strip_product_ahead<kVectors, 3, false, kRows>,
          &strip_product_ahead<kVectors, 0, true, kRows>,
          &strip_product_ahead<kVectors, 1, true, kRows>,
          &strip_product_ahead<kVectors, 2, true, kRows>,
          &strip_product_ahead<kVectors, 3, true, kRows>};
}

// [vectors][steps], plus kStepCombinations for a strip narrower than its
// vectors; then the same for paired rows (one or three vectors).
constexpr std::array<StripFunction, 2 * kStepCombinations> kStripProducts[4] = {
    {}, strip_products<1, false>(), strip_products<2, false>(), strip_products<3, false>()};
constexpr std::array<StripFunction, 2 * kStepCombinations> kPairedProducts[4] = {
    {}, strip_products<1, true>(), {}, strip_products<3, true>()};
// Two-vector strips in blocks of 7 rows, for products of a multiple of 7
// rows in one chunk (7x7 and 14x14 images): 8-row blocks leave a short
// last block in every strip. 192 -> 1152 channels on 7x7 ran 5% faster.
constexpr std::array<StripFunction, 2 * kStepCombinations> kSevenRowProducts =
    strip_products<2, false, 7>();
// The same whose first blocks request the weights ahead (single rows only:
// rows go in pairs only for few output channels, whose weights are small).
constexpr std::array<StripFunction, 2 * kStepCombinations> kAheadProducts[4] = {
    {}, strip_products_ahead<1>(), strip_products_ahead<2>(), strip_products_ahead<3>()};
constexpr std::array<StripFunction, 2 * kStepCombinations> kSevenRowAheadProducts =
    strip_products_ahead<2, 7>();

// The matrix-product driver on 512-bit vectors.
struct Avx512Gemm {
  static constexpr int kLanes = 16;
  static constexpr int kChunkRows = 48;
  // Rows go in pairs (see block_product) where one row would leave most of
  // a one- or three-vector strip empty.
  static bool pairs_rows(int channels) {
    return channels <= 8 || (channels > 16 && channels <= 24);
  }
  static StripFunction strip_function(int vectors, bool paired, int steps, bool full, int rows,
                                      bool ahead) {
    const int at = steps + (full ? 0 : kStepCombinations);
    if (paired) return kPairedProducts[vectors][at];
    if (vectors == 2 && rows % 7 == 0 && rows % kBlockRows[2] != 0)
      return (ahead ? kSevenRowAheadProducts : kSevenRowProducts)[at];
    return (ahead ? kAheadProducts : kStripProducts)[vectors][at];
  }
};

}  // namespace

std::unique_ptr<Conv2DKernel> make_gemm_conv2d_avx512(const Conv2DShape& shape,
                                                      const float* weights, const float* bias,
                                                      const Conv2DPostOps& post) {
  return std::make_unique<GemmConv<Avx512Gemm>>(shape, weights, bias, post);
}

}  // namespace runtime::kernels
