#include "runtime/kernels/gemm_conv.h"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>
#include <vector>

#include "runtime/kernels/aligned_floats.h"
#include "runtime/kernels/epilogue.h"

namespace runtime::kernels {
namespace {

// A convolution as a matrix product: each output pixel is a row, each output
// channel a column, and the inner dimension runs over the kernel's taps and
// input channels. Rows are pixels of the input addressed through pointers, so
// no patch matrix is ever built: with the input padded (a copy whose zero
// border is written once), the taps of one kernel row lie side by side in
// memory, kernel_width * in_channels floats from the pixel under the window's
// left edge.
//
// Columns go in blocks of 16 (two vectors), the weights of each block packed
// at create so the inner loop reads them in order; a last block of at most 8
// columns uses one vector. A block of rows by columns is summed in registers
// and finished (bias, residual, activation, PReLU) before it is stored.
constexpr int kBlockColumns = 16;
constexpr int kRowsTwoVectors = 6;  // 12 accumulators of the 16 registers
constexpr int kRowsOneVector = 8;
// Rows taken together while every column block passes over them, sized so
// their inputs stay in the second-level cache.
constexpr int kChunkFloats = 32 * 1024;

// Where a block's rows read and write.
struct RowBlock {
  const float* const* rows;  // each row's first input float
  float* out;                // first output of the block's first row
  const float* residual;     // same place in the residual; unread without one
  int row_stride;            // floats between rows of out and residual
};

template <int kRows, int kVectors>
__attribute__((target("avx2,fma"))) void block_product(const RowBlock& b, const int* taps,
                                                       int num_taps, int tap_length,
                                                       const float* panel, const Epilogue& e,
                                                       int column, int columns) {
  __m256 acc[kRows][kVectors];
#pragma GCC unroll 8
  for (int v = 0; v < kVectors; ++v) {
    const __m256 bias = _mm256_loadu_ps(e.bias + column + 8 * v);
#pragma GCC unroll 8
    for (int r = 0; r < kRows; ++r) acc[r][v] = bias;
  }
  const float* w = panel;
  for (int t = 0; t < num_taps; ++t) {
    const float* a[kRows];
#pragma GCC unroll 8
    for (int r = 0; r < kRows; ++r) a[r] = b.rows[r] + taps[t];
    for (int k = 0; k < tap_length; ++k, w += 8 * kVectors) {
      __m256 wv[kVectors];
#pragma GCC unroll 8
      for (int v = 0; v < kVectors; ++v) wv[v] = _mm256_load_ps(w + 8 * v);
#pragma GCC unroll 8
      for (int r = 0; r < kRows; ++r) {
        const __m256 x = _mm256_broadcast_ss(a[r] + k);
#pragma GCC unroll 8
        for (int v = 0; v < kVectors; ++v) acc[r][v] = _mm256_fmadd_ps(x, wv[v], acc[r][v]);
      }
    }
  }
  const VectorEpilogue finish(e);
  if (columns == 8 * kVectors) {
#pragma GCC unroll 8
    for (int r = 0; r < kRows; ++r) {
#pragma GCC unroll 8
      for (int v = 0; v < kVectors; ++v) {
        const size_t at = size_t(r) * b.row_stride + 8 * v;
        finish.store(acc[r][v], column + 8 * v, b.residual + at, b.out + at, 8);
      }
    }
    return;
  }
  // Every index constant after unrolling, so that the sums stay in registers.
#pragma GCC unroll 8
  for (int r = 0; r < kRows; ++r) {
#pragma GCC unroll 8
    for (int v = 0; v < kVectors; ++v) {
      const int lanes = std::min(8, columns - 8 * v);
      const size_t at = size_t(r) * b.row_stride + 8 * v;
      if (lanes > 0) finish.store(acc[r][v], column + 8 * v, b.residual + at, b.out + at, lanes);
    }
  }
}

using BlockFunction = void (*)(const RowBlock&, const int*, int, int, const float*,
                               const Epilogue&, int, int);

template <int kVectors, int... kRows>
constexpr std::array<BlockFunction, sizeof...(kRows) + 1> block_table(
    std::integer_sequence<int, kRows...>) {
  return {nullptr, &block_product<kRows + 1, kVectors>...};
}

// block_product for every row count up to the full block.
constexpr auto kTwoVectorBlocks =
    block_table<2>(std::make_integer_sequence<int, kRowsTwoVectors>());
constexpr auto kOneVectorBlocks = block_table<1>(std::make_integer_sequence<int, kRowsOneVector>());

class GemmConv2D final : public Conv2DKernel {
 public:
  GemmConv2D(const Conv2DShape& s, const float* weights, const float* bias,
             const Conv2DPostOps& post)
      : s_(s),
        padded_height_(s.in_height + s.pad_top + s.pad_bottom),
        padded_width_(s.in_width + s.pad_left + s.pad_right),
        copies_input_(s.pad_top || s.pad_left || s.pad_bottom || s.pad_right),
        padded_input_(copies_input_ ? size_t(padded_height_) * padded_width_ * s.in_channels : 0),
        values_(s.out_channels, round_up(s.out_channels, kBlockColumns), bias, post) {
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
    chunk_rows_ = std::max<int>(24, int(kChunkFloats / std::max<size_t>(depth_, 1)) / 24 * 24);
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
      if (copies_input_) image = pad(image);
      float* out = output + n * out_image;
      // Without a residual the pointer is only carried along, never read.
      const float* residual_image = values_.epilogue.add_residual ? residual + n * out_image : out;
      for (int first = 0; first < pixels; first += chunk_rows_)
        run_chunk(image, first, std::min(chunk_rows_, pixels - first), out, residual_image);
    }
  }

 private:
  static int round_up(int n, int m) { return (n + m - 1) / m * m; }

  // Panels of depth_ x 16 floats, one per column block; columns past the
  // last output channel are zero.
  void pack(const float* weights) {
    const int blocks = round_up(s_.out_channels, kBlockColumns) / kBlockColumns;
    panels_ = AlignedFloats(size_t(blocks) * depth_ * kBlockColumns);
    for (int b = 0; b < blocks; ++b) {
      const int first = b * kBlockColumns;
      const int width = panel_width(first);
      float* panel = panels_.data() + size_t(b) * depth_ * kBlockColumns;
      for (size_t k = 0; k < depth_; ++k)
        for (int j = 0; j < width && first + j < s_.out_channels; ++j)
          panel[k * width + j] = weights[size_t(first + j) * depth_ + k];
    }
  }

  // 16, or 8 for a last block of at most 8 columns.
  int panel_width(int first_column) const {
    return s_.out_channels - first_column <= 8 ? 8 : kBlockColumns;
  }

  // Copies one image into the inside of the zero-bordered buffer.
  const float* pad(const float* image) {
    const size_t in_row = size_t(s_.in_width) * s_.in_channels;
    const size_t padded_row = size_t(padded_width_) * s_.in_channels;
    float* inside = padded_input_.data() + s_.pad_top * padded_row + size_t(s_.pad_left) * s_.in_channels;
    for (int y = 0; y < s_.in_height; ++y)
      std::memcpy(inside + y * padded_row, image + y * in_row, in_row * sizeof(float));
    return padded_input_.data();
  }

  void run_chunk(const float* image, int first, int count, float* out, const float* residual) {
    const Conv2DShape& s = s_;
    const size_t padded_row = size_t(padded_width_) * s.in_channels;
    int y = first / s.out_width, x = first % s.out_width;
    for (int r = 0; r < count; ++r) {
      rows_[r] = image + size_t(y) * s.stride_height * padded_row +
                 size_t(x) * s.stride_width * s.in_channels;
      if (++x == s.out_width) x = 0, ++y;
    }
    const int n = s.out_channels;
    for (int column = 0; column < n; column += kBlockColumns) {
      const int width = panel_width(column);
      const int columns = std::min(width, n - column);
      const float* panel = panels_.data() + size_t(column / kBlockColumns) * depth_ * kBlockColumns;
      const int block_rows = width == 8 ? kRowsOneVector : kRowsTwoVectors;
      const BlockFunction* table = width == 8 ? kOneVectorBlocks.data() : kTwoVectorBlocks.data();
      for (int r = 0; r < count; r += block_rows) {
        const int rows = std::min(block_rows, count - r);
        const size_t at = size_t(first + r) * n + column;
        const RowBlock block{rows_.data() + r, out + at, residual + at, n};
        table[rows](block, taps_.data(), static_cast<int>(taps_.size()), tap_length_, panel,
                    values_.epilogue, column, columns);
      }
    }
  }

  Conv2DShape s_;
  int padded_height_, padded_width_;
  bool copies_input_;
  AlignedFloats padded_input_;  // zero border written once; inside copied per run
  ChannelValues values_;
  std::vector<int> taps_;  // float offsets of each tap run from a row's first float
  int tap_length_ = 0;     // floats per tap run
  size_t depth_ = 0;       // the product's inner dimension
  AlignedFloats panels_;
  int chunk_rows_ = 0;
  std::vector<const float*> rows_;  // one chunk's row starts, filled per run
};

}  // namespace

std::unique_ptr<Conv2DKernel> make_gemm_conv2d(const Conv2DShape& shape, const float* weights,
                                               const float* bias, const Conv2DPostOps& post) {
  return std::make_unique<GemmConv2D>(shape, weights, bias, post);
}

}  // namespace runtime::kernels
