#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>

#include "runtime/kernels/aligned_floats.h"
#include "runtime/kernels/conv2d.h"
#include "runtime/kernels/epilogue.h"

// How the depthwise kernels of every vector width walk an output: row by
// row, each row cut into segments at its left and right edges, where windows
// reach outside the image, and between them, where they do not; a segment
// function of the width's own file computes each segment. Nothing here uses
// vector instructions, so the two widths' files share it as it is.
namespace runtime::kernels {

// The part of the window that falls inside the image along one axis, for a
// window starting at `start` (may be negative).
struct TapRange {
  int first, end;
};

inline TapRange inside(int start, int size, int kernel, int dilation) {
  const int first = start < 0 ? (-start + dilation - 1) / dilation : 0;
  const int end = std::min(kernel, (size - start + dilation - 1) / dilation);
  return {std::min(first, kernel), std::max(end, std::min(first, kernel))};
}

// A run of output pixels [from, to) of one output row.
struct Segment {
  const float* image;     // the input image
  float* out;             // the output row's first pixel
  const float* residual;  // likewise in the residual; unread without one
  int y0;                 // the row's window top in the input (may be negative)
  TapRange rows;          // the kernel rows inside the image
  int from, to;
};

// Where the pixels of one step start: output offset and window left edge.
struct Step {
  size_t out;
  int x0;
};

inline Step step_at(const Conv2DShape& s, int ox) {
  return {size_t(ox) * s.out_channels, ox * s.stride_width - s.pad_left};
}

using SegmentFunction = void (*)(const Conv2DShape&, const float*, const Epilogue&,
                                 const Segment&);

// The functions for one geometry: segments whose windows lie wholly inside
// across, and segments at the left and right edges, by epilogue steps.
struct SegmentKernels {
  int most;  // pixels per step
  SegmentFunction inner[kStepCombinations];
  SegmentFunction clipped[kStepCombinations];
  // The same over two neighbouring rows at once, where the row pair's
  // windows lie inside the image down; null where the geometry has none.
  SegmentFunction pair_inner[kStepCombinations] = {};
  SegmentFunction pair_clipped[kStepCombinations] = {};
};

// A depthwise convolution whose vectors hold kLanes channels of one pixel:
// weights packed [group of kLanes channels][ky][kx][kLanes], bias and slopes
// padded to whole groups.
template <int kLanes>
class DepthwiseRows final : public Conv2DKernel {
 public:
  DepthwiseRows(const Conv2DShape& s, const SegmentKernels& kernels, const float* weights,
                const float* bias, const Conv2DPostOps& post)
      : s_(s), values_(s.out_channels, (s.out_channels + kLanes - 1) / kLanes * kLanes, bias, post) {
    const int steps = steps_of(values_.epilogue);
    inner_ = kernels.inner[steps];
    clipped_ = kernels.clipped[steps];
    pair_inner_ = kernels.pair_inner[steps];
    pair_clipped_ = kernels.pair_clipped[steps];
    // Output columns whose window lies wholly inside the image across.
    const int reach = (s.kernel_width - 1) * s.dilation_width;
    const int inner_first = std::min(s.out_width, (s.pad_left + s.stride_width - 1) / s.stride_width);
    const int last_start = s.in_width - 1 - reach + s.pad_left;
    const int inner_end = std::clamp(last_start < 0 ? 0 : last_start / s.stride_width + 1,
                                     inner_first, s.out_width);
    // The clipped segments at the edges take whole steps where they can: a
    // step's few extra checks cost less than a short step's reloads.
    left_end_ = inner_first == 0 ? 0 : std::min(s.out_width, std::max(inner_first, kernels.most));
    right_start_ = inner_end == s.out_width
                       ? s.out_width
                       : std::max(left_end_, std::min(inner_end, s.out_width - kernels.most));
    // Zero past the last channel.
    const int groups = (s.out_channels + kLanes - 1) / kLanes, taps = s.kernel_height * s.kernel_width;
    weights_ = AlignedFloats(size_t(groups) * taps * kLanes);
    for (int t = 0; t < taps; ++t)
      for (int c = 0; c < s.out_channels; ++c)
        weights_.data()[(size_t(c / kLanes) * taps + t) * kLanes + c % kLanes] =
            weights[size_t(t) * s.out_channels + c];
  }

  void run(const float* input, float* output, const float* residual) override {
    const Conv2DShape& s = s_;
    const size_t in_image = size_t(s.in_height) * s.in_width * s.in_channels;
    const size_t out_row = size_t(s.out_width) * s.out_channels;
    const size_t out_image = out_row * s.out_height;
    for (int n = 0; n < s.batch; ++n) {
      for (int oy = 0; oy < s.out_height;) {
        const size_t row_at = n * out_image + oy * out_row;
        Segment g;
        g.image = input + n * in_image;
        g.out = output + row_at;
        // Without a residual the pointer is only carried along, never read.
        g.residual = values_.epilogue.add_residual ? residual + row_at : g.out;
        g.y0 = oy * s.stride_height - s.pad_top;
        g.rows = inside(g.y0, s.in_height, s.kernel_height, s.dilation_height);
        // Pair functions exist only for stride 1 down, so the next row's
        // window is this one's moved down one.
        const bool pair = pair_inner_ && oy + 1 < s.out_height && g.y0 >= 0 &&
                          g.y0 + s.kernel_height < s.in_height;
        run_segment(pair ? pair_clipped_ : clipped_, g, 0, left_end_);
        run_segment(pair ? pair_inner_ : inner_, g, left_end_, right_start_);
        run_segment(pair ? pair_clipped_ : clipped_, g, right_start_, s.out_width);
        oy += pair ? 2 : 1;
      }
    }
  }

 private:
  void run_segment(SegmentFunction f, Segment& g, int from, int to) {
    if (from >= to) return;
    g.from = from;
    g.to = to;
    f(s_, weights_.data(), values_.epilogue, g);
  }

  Conv2DShape s_;
  ChannelValues values_;
  SegmentFunction inner_, clipped_;
  SegmentFunction pair_inner_, pair_clipped_;  // null without pairs
  int left_end_, right_start_;  // inner_ runs on the output columns between
  AlignedFloats weights_;
};

}  // namespace runtime::kernels
