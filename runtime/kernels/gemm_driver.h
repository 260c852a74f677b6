#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "runtime/kernels/aligned_floats.h"
#include "runtime/kernels/conv2d.h"
#include "runtime/kernels/epilogue.h"
#include "runtime/kernels/half_floats.h"
#include "runtime/kernels/padded_input.h"

// A convolution as a matrix product, the same for every vector width: each
// output pixel is a row, each output channel a column, and the inner
// dimension runs over the kernel's taps and input channels. Rows are pixels
// of the input addressed through pointers, so no patch matrix is ever built:
// with the input padded (a copy whose zero border is written once), the taps
// of one kernel row lie side by side in memory, kernel_width * in_channels
// floats from the pixel under the window's left edge.
//
// Columns go in strips of one to three vectors (mostly two), the weights of
// each strip packed at create so the inner loop reads them in order. A
// product over few rows (a small image's pixels) uses each weight only a few
// dozen times and spends much of its time fetching them from memory: its
// panels keep the weights as float16 where they are exact (half_floats.h). A block
// of rows by a strip's columns is summed in registers and finished (bias,
// residual, activation, PReLU) before it is stored: that is the microkernel,
// a strip function of the width's own file. Nothing here uses vector
// instructions, so both widths' files share it as it is.
namespace runtime::kernels {

// One strip of columns over a run of rows: what a strip function computes.
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
  bool halves;               // panel holds them as float16, two bytes each
  int column, columns;       // first column and how many are real
};

using StripFunction = void (*)(const Strip&, const Epilogue&);

// The same strip without its first `rows` rows.
inline Strip after_rows(const Strip& st, int rows) {
  Strip rest = st;
  if (st.rows)
    rest.rows = st.rows + rows;
  else
    rest.first_input = st.first_input + size_t(rows) * st.depth;
  rest.count = st.count - rows;
  rest.out = st.out + size_t(rows) * st.row_stride;
  rest.residual = st.residual + size_t(rows) * st.row_stride;
  return rest;
}

// How far ahead of its reads a strip's first block requests the weights
// (products of large weights; see GemmConv). In a frame the models push each
// other's weights out of the caches, and the first block of each strip reads
// its panel from memory (the blocks after it find it cached): with only the
// hardware prefetcher, 7x7x192->1152 took a third longer with its weights in
// memory than with them cached; requested this far ahead, under a tenth.
inline constexpr int kWeightsAhead = 8192;

// The first kWeightsAhead bytes of a product's weights, which no block
// requests ahead: asked for at once at the start of the product.
inline void request_first_weights(const float* panel) {
  const char* first = reinterpret_cast<const char*>(panel);
  for (int line = 0; line < kWeightsAhead; line += 64) __builtin_prefetch(first + line, 0, 2);
}

// Rows taken together while every strip passes over them, sized so that
// their inputs stay in the second-level cache.
inline constexpr int kChunkFloats = 32 * 1024;
// Weights small enough to stay in the first-level cache are better used on
// a few rows at a time, so that the rows and their outputs stay there too.
inline constexpr size_t kSmallWeightFloats = 6 * 1024;
inline constexpr int kSmallWeightRows = 48;
// Products of at most this many rows keep float16 weights.
inline constexpr int kHalfWeightRows = 256;

// The matrix-product convolution over the traits W of one vector width:
//   kLanes: floats per vector
//   kChunkRows: chunks are a multiple of this many rows (whole blocks)
//   pairs_rows(channels): whether rows go in pairs, two rows' channels side
//     by side in one strip (few channels: the strip would be mostly empty)
//   strip_function(vectors, paired, steps, full, rows, ahead): the
//     microkernel for a strip of `vectors` vectors, epilogue steps as
//     steps_of, `full` when every lane of the strip is a real column; `rows`
//     is every row of the product when it runs as one chunk (else 0), for
//     blocks that fit it; `ahead` when its first block should request the
//     weights kWeightsAhead bytes ahead of its reads
template <typename W>
class GemmConv final : public Conv2DKernel {
 public:
  GemmConv(const Conv2DShape& s, const float* weights, const float* bias,
           const Conv2DPostOps& post)
      : s_(s),
        padded_width_(s.in_width + s.pad_left + s.pad_right),
        copies_input_(has_padding(s)),
        padded_input_(copies_input_ ? PaddedInput(s) : PaddedInput()),
        paired_(W::pairs_rows(s.out_channels)),
        // Padded to whole vectors: every strip reads whole vectors of these.
        values_(channel_values(s.out_channels, paired_, bias, post)) {
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
    constexpr int kMultiple = W::kChunkRows;
    const bool small_weights = panels_.size() <= kSmallWeightFloats;
    chunk_rows_ =
        small_weights
            ? kSmallWeightRows
            : std::max<int>(kMultiple,
                            int(kChunkFloats / std::max<size_t>(depth_, 1)) / kMultiple * kMultiple);
    // A product of large weights whose inputs all fit the second-level
    // cache runs as one chunk: a 7x7 image's 49 rows in chunks of 48
    // streamed every weight again for the last row.
    if (!small_weights && size_t(pixels) * depth_ <= 2 * size_t(kChunkFloats)) chunk_rows_ = pixels;
    chunk_rows_ = std::min(chunk_rows_, pixels);
    rows_.resize(chunk_rows_);
    // One chunk: the width may cut it into blocks that fit its row count.
    // Small weights stay in the caches from one run to the next; and where
    // they serve a layer of few input channels, requests ahead would take
    // the load slots its broadcasts are bound by.
    plan_strips(chunk_rows_ == pixels ? pixels : 0, /*ahead=*/!small_weights);
    if (!paired_ && pixels <= kHalfWeightRows && has_half_floats()) halves_ = to_halves();
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
  static constexpr int kLanes = W::kLanes;

  // How the output channels are cut into strips: two vectors each, except a
  // last strip of one vector (up to one vector's columns left) or of three
  // (three left, instead of a two-vector strip and an inefficient one-vector
  // one). Paired rows take one strip of twice the channels.
  struct StripPlan {
    int column, vectors, columns;  // first column, vectors, real columns
    size_t panel;                  // offset of the packed weights
    StripFunction product;
  };

  // The kernel's bias and slopes, padded to whole vectors; when rows go in
  // pairs, each value twice, the second row's copy after the first's.
  static ChannelValues channel_values(int channels, bool paired, const float* bias,
                                      const Conv2DPostOps& post) {
    const auto padded = [](int n) { return (n + kLanes - 1) / kLanes * kLanes; };
    if (!paired) return ChannelValues(channels, padded(channels), bias, post);
    auto twice = [channels](const float* values) {
      std::vector<float> both;
      if (values) {
        both.assign(values, values + channels);
        both.insert(both.end(), values, values + channels);
      }
      return both;
    };
    const std::vector<float> biases = twice(bias), slopes = twice(post.prelu_alpha);
    Conv2DPostOps doubled = post;
    doubled.prelu_alpha = post.prelu_alpha ? slopes.data() : nullptr;
    return ChannelValues(2 * channels, padded(2 * channels), bias ? biases.data() : nullptr,
                         doubled);
  }

  // `rows`: every row of the product, when it runs as one chunk; else 0.
  // `ahead`: first blocks request the weights ahead (kWeightsAhead).
  void plan_strips(int rows, bool ahead) {
    const int steps = steps_of(values_.epilogue);
    const int columns = paired_ ? 2 * s_.out_channels : s_.out_channels;
    strips_.clear();
    size_t panel = 0;
    for (int column = 0; column < columns;) {
      const int left = columns - column;
      const int vectors = paired_                ? (left + kLanes - 1) / kLanes
                          : left <= kLanes       ? 1
                          : left == 3 * kLanes   ? 3
                                                 : 2;
      const int real = std::min(kLanes * vectors, left);
      strips_.push_back({column, vectors, real, panel,
                         W::strip_function(vectors, paired_, steps, real == kLanes * vectors, rows,
                                           ahead)});
      panel += depth_ * kLanes * vectors;
      column += kLanes * vectors;
    }
  }

  // One panel of depth_ x (kLanes x vectors) floats per strip; columns past
  // the last output channel are zero. Paired rows: the second row's
  // channels after the first's.
  void pack(const float* weights) {
    plan_strips(0, false);
    const StripPlan& last = strips_.back();
    panels_ = AlignedFloats(last.panel + depth_ * kLanes * last.vectors);
    for (const StripPlan& strip : strips_) {
      const int width = kLanes * strip.vectors;
      float* panel = panels_.data() + strip.panel;
      for (size_t k = 0; k < depth_; ++k)
        for (int j = 0; j < strip.columns; ++j)
          panel[k * width + j] =
              weights[size_t((strip.column + j) % s_.out_channels) * depth_ + k];
    }
  }

  // The panels as float16, two to a float of the storage, when every
  // weight is one; false (and the panels as they were) otherwise.
  bool to_halves() {
    std::vector<uint16_t> halves(panels_.size());
    for (size_t i = 0; i < halves.size(); ++i)
      if (!to_half(panels_.data()[i], halves[i])) return false;
    AlignedFloats storage((halves.size() + 1) / 2);
    std::memcpy(storage.data(), halves.data(), halves.size() * sizeof(uint16_t));
    panels_ = std::move(storage);
    return true;
  }

  void run_chunk(const float* image, int first, int count, float* out, const float* residual) {
    const Conv2DShape& s = s_;
    // Without padding or striding, output pixel m reads input pixel m.
    const bool follow = s.kernel_height == 1 && s.kernel_width == 1 && s.stride_height == 1 &&
                        s.stride_width == 1 && !copies_input_;
    if (!follow) {
      const size_t padded_row = size_t(padded_width_) * s.in_channels;
      // Walked by additions: a multiply per row cost a tenth of a
      // three-channel first layer's time.
      const size_t next_row = size_t(s.stride_height) * padded_row,
                   next_pixel = size_t(s.stride_width) * s.in_channels;
      int x = first % s.out_width;
      const float* line = image + size_t(first / s.out_width) * next_row;
      const float* at = line + x * next_pixel;
      for (int r = 0; r < count; ++r) {
        rows_[r] = at;
        at += next_pixel;
        if (++x == s.out_width) {
          x = 0;
          line += next_row;
          at = line;
        }
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
                     // Halves: the strip's first weight at half its offset.
                     panels_.data() + (halves_ ? strip.panel / 2 : strip.panel),
                     halves_,
                     strip.column,
                     strip.columns};
      strip.product(st, values_.epilogue);
    }
  }

  Conv2DShape s_;
  int padded_width_;
  bool copies_input_;
  PaddedInput padded_input_;  // when copies_input_
  bool paired_;               // rows go in pairs
  ChannelValues values_;
  std::vector<int> taps_;  // float offsets of each tap run from a row's first float
  int tap_length_ = 0;     // floats per tap run
  size_t depth_ = 0;       // the product's inner dimension
  std::vector<StripPlan> strips_;
  AlignedFloats panels_;
  bool halves_ = false;  // panels_ holds float16 weights
  int chunk_rows_ = 0;
  std::vector<const float*> rows_;  // one chunk's row starts, filled per run
};

}  // namespace runtime::kernels
