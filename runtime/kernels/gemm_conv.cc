#include "runtime/kernels/gemm_conv.h"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <utility>

#include "runtime/kernels/epilogue.h"
#include "runtime/kernels/gemm_driver.h"

namespace runtime::kernels {
namespace {

// The matrix-product convolution's microkernels on 256-bit vectors (the
// driver that walks the output is gemm_driver.h): a block of rows by a
// strip of 8 to 24 output channels summed in the 16 vector registers.

// Rows per block for a strip of 1, 2 or 3 vectors: 8, 12 or 12 sums in
// registers beside the weights and the broadcast input.
constexpr int kBlockRows[4] = {0, 8, 6, 4};

// Adds the products of kRows rows to `acc`, each input value broadcast to a
// whole vector; the weights float, or float16 (kHalves) widened as they are
// read. kAhead: requests the weights kWeightsAhead bytes ahead of its reads.
template <int kRows, int kVectors, bool kHalves, bool kAhead>
__attribute__((target("avx2,fma,f16c"), always_inline)) inline void broadcast_sums(
    const Strip& st, const float* (&row)[kRows], __m256 (&acc)[kRows][kVectors]) {
  constexpr int kWeightBytes = kHalves ? 2 : 4;
  const char* w = reinterpret_cast<const char*>(st.panel);
  for (int t = 0; t < st.num_taps; ++t) {
    const float* a[kRows];
#pragma GCC unroll 8
    for (int r = 0; r < kRows; ++r) a[r] = row[r] + st.taps[t];
    for (int k = 0; k < st.tap_length; ++k, w += 8 * kVectors * kWeightBytes) {
      if constexpr (kAhead) {
#pragma GCC unroll 2
        for (int line = 0; line < 8 * kVectors * kWeightBytes; line += 64)
          _mm_prefetch(w + kWeightsAhead + line, _MM_HINT_T1);
      }
      __m256 wv[kVectors];
#pragma GCC unroll 8
      for (int v = 0; v < kVectors; ++v) {
        const char* at = w + 8 * v * kWeightBytes;
        if constexpr (kHalves)
          wv[v] = _mm256_cvtph_ps(_mm_load_si128(reinterpret_cast<const __m128i*>(at)));
        else
          wv[v] = _mm256_load_ps(reinterpret_cast<const float*>(at));
      }
#pragma GCC unroll 8
      for (int r = 0; r < kRows; ++r) {
        const __m256 x = _mm256_broadcast_ss(a[r] + k);
#pragma GCC unroll 8
        for (int v = 0; v < kVectors; ++v) acc[r][v] = _mm256_fmadd_ps(x, wv[v], acc[r][v]);
      }
    }
  }
}

// kSteps < 0: the optional epilogue steps are read at run time and the
// strip may be narrower than its vectors.
template <int kRows, int kVectors, int kSteps, bool kAhead = false>
__attribute__((target("avx2,fma,f16c"), always_inline)) inline void block_product(
    const Strip& st, int first_row, const VectorEpilogue& finish, const float* bias) {
  __m256 acc[kRows][kVectors];
#pragma GCC unroll 8
  for (int v = 0; v < kVectors; ++v) {
    const __m256 b = _mm256_loadu_ps(bias + st.column + 8 * v);
#pragma GCC unroll 8
    for (int r = 0; r < kRows; ++r) acc[r][v] = b;
  }
  const float* row[kRows];
#pragma GCC unroll 8
  for (int r = 0; r < kRows; ++r)
    row[r] = st.rows ? st.rows[first_row + r]
                     : st.first_input + size_t(first_row + r) * st.depth;
  if (st.halves)
    broadcast_sums<kRows, kVectors, true, kAhead>(st, row, acc);
  else
    broadcast_sums<kRows, kVectors, false, kAhead>(st, row, acc);
  // Every index constant after unrolling, so that the sums stay in registers.
  const size_t first = size_t(first_row) * st.row_stride;
#pragma GCC unroll 8
  for (int r = 0; r < kRows; ++r) {
#pragma GCC unroll 8
    for (int v = 0; v < kVectors; ++v) {
      const size_t at = first + size_t(r) * st.row_stride + 8 * v;
      if constexpr (kSteps >= 0) {
        finish.template store8<kSteps>(acc[r][v], st.column + 8 * v, st.residual + at, st.out + at);
      } else {
        const int lanes = std::min(8, st.columns - 8 * v);
        if (lanes > 0)
          finish.store(acc[r][v], st.column + 8 * v, st.residual + at, st.out + at, lanes);
      }
    }
  }
}

// The last rows of a strip, fewer than a block: one of kRows... rows.
template <int kVectors, int kSteps, int... kRows>
__attribute__((target("avx2,fma,f16c"), always_inline)) inline void last_rows(
    const Strip& st, int first_row, const VectorEpilogue& finish, const float* bias,
    std::integer_sequence<int, kRows...>) {
  const int rest = st.count - first_row;
  ((rest == kRows + 1 ? block_product<kRows + 1, kVectors, kSteps>(st, first_row, finish, bias)
                      : void()),
   ...);
}

template <int kVectors, int kSteps>
__attribute__((target("avx2,fma,f16c"))) void strip_product(const Strip& st, const Epilogue& e) {
  constexpr int kRows = kBlockRows[kVectors];
  const VectorEpilogue finish(e);
  int r = 0;
  for (; r + kRows <= st.count; r += kRows)
    block_product<kRows, kVectors, kSteps>(st, r, finish, e.bias);
  if (r < st.count)
    last_rows<kVectors, kSteps>(st, r, finish, e.bias,
                                std::make_integer_sequence<int, kRows - 1>());
}

// strip_product whose first block requests the weights ahead of its reads
// (products of large weights, see kWeightsAhead); the rest of the strip is
// strip_product's.
template <int kVectors, int kSteps>
__attribute__((target("avx2,fma,f16c"))) void strip_product_ahead(const Strip& st,
                                                                  const Epilogue& e) {
  constexpr int kRows = kBlockRows[kVectors];
  if (st.count < kRows) return strip_product<kVectors, kSteps>(st, e);
  if (st.column == 0) request_first_weights(st.panel);
  block_product<kRows, kVectors, kSteps, true>(st, 0, VectorEpilogue(e), e.bias);
  if (st.count > kRows) strip_product<kVectors, kSteps>(after_rows(st, kRows), e);
}

template <int kVectors, bool kAhead>
constexpr std::array<StripFunction, kStepCombinations + 1> strip_products() {
  if constexpr (kAhead)
    return {&strip_product_ahead<kVectors, -1>, &strip_product_ahead<kVectors, 0>,
            &strip_product_ahead<kVectors, 1>, &strip_product_ahead<kVectors, 2>,
            &strip_product_ahead<kVectors, 3>};
  else
    return {&strip_product<kVectors, -1>, &strip_product<kVectors, 0>,
            &strip_product<kVectors, 1>, &strip_product<kVectors, 2>,
            &strip_product<kVectors, 3>};
}

// [vectors][1 + steps], or [vectors][0] for a strip narrower than its
// vectors; then the same whose first blocks request the weights ahead.
constexpr std::array<StripFunction, kStepCombinations + 1> kStripProducts[4] = {
    {}, strip_products<1, false>(), strip_products<2, false>(), strip_products<3, false>()};
constexpr std::array<StripFunction, kStepCombinations + 1> kAheadProducts[4] = {
    {}, strip_products<1, true>(), strip_products<2, true>(), strip_products<3, true>()};

// The matrix-product driver on 256-bit vectors.
struct Avx2Gemm {
  static constexpr int kLanes = 8;
  static constexpr int kChunkRows = 24;
  static bool pairs_rows(int) { return false; }
  static StripFunction strip_function(int vectors, bool, int steps, bool full, int, bool ahead) {
    return (ahead ? kAheadProducts : kStripProducts)[vectors][full ? 1 + steps : 0];
  }
};

}  // namespace

std::unique_ptr<Conv2DKernel> make_gemm_conv2d(const Conv2DShape& shape, const float* weights,
                                               const float* bias, const Conv2DPostOps& post) {
  return std::make_unique<GemmConv<Avx2Gemm>>(shape, weights, bias, post);
}

}  // namespace runtime::kernels
