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

// Rows per block for a strip of 1, 2 or 3 vectors: 16, 24 or 24 sums in
// the 32 registers beside the weights and the broadcast input.
constexpr int kBlockRows[4] = {0, 8, 8, 8};
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

// kPartial: the strip's last vector holds fewer than 16 real columns, stored
// under a mask.
template <int kRows, int kVectors, int kSteps, bool kPartial>
__attribute__((target("avx512f,avx2,fma"), always_inline)) inline void block_product(
    const Strip& st, int first_row, const VectorEpilogue16& finish, const float* bias) {
  __m512 acc[kRows][kVectors];
#pragma GCC unroll 16
  for (int v = 0; v < kVectors; ++v) {
    const __m512 b = _mm512_loadu_ps(bias + st.column + 16 * v);
#pragma GCC unroll 16
    for (int r = 0; r < kRows; ++r) acc[r][v] = b;
  }
  const float* row[kRows];
#pragma GCC unroll 16
  for (int r = 0; r < kRows; ++r)
    row[r] = st.rows ? st.rows[first_row + r]
                     : st.first_input + size_t(first_row + r) * st.depth;
  const float* w = st.panel;
  for (int t = 0; t < st.num_taps; ++t) {
    const float* a[kRows];
#pragma GCC unroll 16
    for (int r = 0; r < kRows; ++r) a[r] = row[r] + st.taps[t];
    for (int k = 0; k < st.tap_length; ++k, w += 16 * kVectors) {
      __m512 wv[kVectors];
#pragma GCC unroll 16
      for (int v = 0; v < kVectors; ++v) wv[v] = _mm512_load_ps(w + 16 * v);
#pragma GCC unroll 16
      for (int r = 0; r < kRows; ++r) {
        const __m512 x = _mm512_set1_ps(a[r][k]);
#pragma GCC unroll 16
        for (int v = 0; v < kVectors; ++v) acc[r][v] = _mm512_fmadd_ps(x, wv[v], acc[r][v]);
      }
    }
  }
  // Every index constant after unrolling, so that the sums stay in registers.
  const __mmask16 tail = lane_mask16(st.columns - 16 * (kVectors - 1));
  const size_t first = size_t(first_row) * st.row_stride;
#pragma GCC unroll 16
  for (int r = 0; r < kRows; ++r) {
#pragma GCC unroll 16
    for (int v = 0; v < kVectors; ++v) {
      const size_t at = first + size_t(r) * st.row_stride + 16 * v;
      finish.template store16<kSteps>(acc[r][v], st.column + 16 * v, st.residual + at,
                                      st.out + at,
                                      kPartial && v == kVectors - 1 ? tail : __mmask16(0xffff));
    }
  }
}

// The last rows of a strip, fewer than a block: one of kRows... rows.
template <int kVectors, int kSteps, bool kPartial, int... kRows>
__attribute__((target("avx512f,avx2,fma"), always_inline)) inline void last_rows(
    const Strip& st, int first_row, const VectorEpilogue16& finish, const float* bias,
    std::integer_sequence<int, kRows...>) {
  const int rest = st.count - first_row;
  ((rest == kRows + 1 ? block_product<kRows + 1, kVectors, kSteps, kPartial>(st, first_row,
                                                                               finish, bias)
                      : void()),
   ...);
}

template <int kVectors, int kSteps, bool kPartial>
__attribute__((target("avx512f,avx2,fma"))) void strip_product(const Strip& st, const Epilogue& e) {
  constexpr int kRows = kBlockRows[kVectors];
  const VectorEpilogue16 finish(e);
  int r = 0;
  for (; r + kRows <= st.count; r += kRows)
    block_product<kRows, kVectors, kSteps, kPartial>(st, r, finish, e.bias);
  if (r < st.count)
    last_rows<kVectors, kSteps, kPartial>(st, r, finish, e.bias,
                                std::make_integer_sequence<int, kRows - 1>());
}

using StripFunction = void (*)(const Strip&, const Epilogue&);

template <int kVectors>
constexpr std::array<StripFunction, 2 * kStepCombinations> strip_products() {
  return {&strip_product<kVectors, 0, false>, &strip_product<kVectors, 1, false>,
          &strip_product<kVectors, 2, false>, &strip_product<kVectors, 3, false>,
          &strip_product<kVectors, 0, true>,  &strip_product<kVectors, 1, true>,
          &strip_product<kVectors, 2, true>,  &strip_product<kVectors, 3, true>};
}

// [vectors][steps], plus kStepCombinations for a strip narrower than its
// vectors.
constexpr std::array<StripFunction, 2 * kStepCombinations> kStripProducts[4] = {
    {}, strip_products<1>(), strip_products<2>(), strip_products<3>()};

// How the output channels are cut into strips: two vectors each, except a
// last strip of one vector (up to 16 columns left) or of three (48 left,
// instead of a two-vector strip and an inefficient one-vector one).
struct StripPlan {
  int column, vectors;
  size_t panel;  // offset of the packed weights
};

std::vector<StripPlan> plan_strips(int channels, size_t depth) {
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

class GemmConv2D512 final : public Conv2DKernel {
 public:
  GemmConv2D512(const Conv2DShape& s, const float* weights, const float* bias,
             const Conv2DPostOps& post)
      : s_(s),
        padded_width_(s.in_width + s.pad_left + s.pad_right),
        copies_input_(has_padding(s)),
        padded_input_(copies_input_ ? PaddedInput(s) : PaddedInput()),
        // Padded to whole vectors: every strip reads whole vectors of these.
        values_(s.out_channels, (s.out_channels + 15) / 16 * 16, bias, post) {
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
      for (size_t k = 0; k < depth_; ++k)
        for (int j = 0; j < width && strip.column + j < s_.out_channels; ++j)
          panel[k * width + j] = weights[size_t(strip.column + j) * depth_ + k];
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
                     std::min(16 * strip.vectors, n - strip.column)};
      const bool full = st.columns == 16 * strip.vectors;
      kStripProducts[strip.vectors][steps_ + (full ? 0 : kStepCombinations)](st, values_.epilogue);
    }
  }

  Conv2DShape s_;
  int padded_width_;
  bool copies_input_;
  PaddedInput padded_input_;  // when copies_input_
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
