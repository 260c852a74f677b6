#include "runtime/kernels/conv2d_bands.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "runtime/kernels/shape_check.h"

namespace {

using runtime::Conv2DShape;
using runtime::kernels::Band;
using runtime::kernels::plan_bands;

// Random geometries, each cut at random band sizes: the bands must tile the
// output rows in order, be valid convolutions on their own, read only rows
// of the image, and read exactly the rows the whole convolution would.
TEST(Conv2DBands, TileTheOutputAndReadTheSameRows) {
  std::mt19937 rng(11);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  int checked = 0;
  for (int trial = 0; trial < 2000; ++trial) {
    Conv2DShape s;
    s.in_height = pick(1, 60), s.in_width = pick(1, 9);
    s.in_channels = s.out_channels = pick(1, 8);
    s.kernel_height = pick(1, 5), s.stride_height = pick(1, 3), s.dilation_height = pick(1, 2);
    s.pad_top = pick(0, 4), s.pad_bottom = pick(0, 4);
    s.out_width = s.in_width;
    s.out_height = runtime::kernels::conv_output_size(s.in_height, s.kernel_height, s.stride_height,
                                                      s.dilation_height, s.pad_top, s.pad_bottom);
    if (s.out_height < 1) continue;
    const size_t row_bytes = size_t(s.out_width) * s.out_channels * sizeof(float);
    const std::vector<Band> bands = plan_bands(s, row_bytes * pick(1, 8));
    SCOPED_TRACE("trial " + std::to_string(trial));
    int next_row = 0;
    for (const Band& b : bands) {
      ASSERT_EQ(b.out_row, next_row);
      next_row += b.shape.out_height;
      ASSERT_GE(b.in_row, 0);
      ASSERT_GE(b.shape.in_height, 1);
      ASSERT_LE(b.in_row + b.shape.in_height, s.in_height);
      ASSERT_EQ(runtime::kernels::conv_output_size(b.shape.in_height, b.shape.kernel_height,
                                                   b.shape.stride_height, b.shape.dilation_height,
                                                   b.shape.pad_top, b.shape.pad_bottom),
                b.shape.out_height);
      // The band's first output row starts where the whole convolution's does.
      ASSERT_EQ(b.in_row - b.shape.pad_top, b.out_row * s.stride_height - s.pad_top);
    }
    ASSERT_EQ(next_row, s.out_height);
    ++checked;
  }
  EXPECT_GT(checked, 1000);
}

TEST(Conv2DBands, SmallOrBatchedConvolutionsStayWhole) {
  Conv2DShape s;
  s.in_height = s.out_height = 8;
  s.in_width = s.out_width = 8;
  s.in_channels = s.out_channels = 4;
  EXPECT_EQ(plan_bands(s, 8 * 8 * 4 * sizeof(float)).size(), 1u);
  EXPECT_EQ(plan_bands(s, 8 * 4 * sizeof(float)).size(), 8u);
  s.batch = 2;
  EXPECT_EQ(plan_bands(s, 8 * 4 * sizeof(float)).size(), 1u);
}

}  // namespace
