#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <vector>

#include "image/luma.h"
#include "image/yuyv_to_rgb.h"

// The formula below is the code's own; one reference colour anchors it:
// studio-range red (Y 81, U 90, V 240) is pure red, its blue clamped up from -1.
TEST(YuyvToRgb, MatchesPlainFormulaOnRandomFramesOddCountsIncluded) {
  const std::vector<uint8_t> red = {81, 90, 81, 240};  // exactly sized: the sanitizers see overreads
  Image out;
  yuyv_to_rgb(red.data(), 2, 1, out);
  EXPECT_EQ(out.pixels, (std::vector<uint8_t>{255, 0, 0, 255, 0, 0}));
  std::mt19937 rng(7);
  for (const auto& [w, h] : {std::pair{640, 480}, {6, 5}, {5, 3}, {3, 1}, {1, 1}}) {
    const size_t n = size_t(w) * h;
    std::vector<uint8_t> data(n * 2);
    for (uint8_t& b : data) b = uint8_t(rng());
    yuyv_to_rgb(data.data(), w, h, out);
    ASSERT_EQ(out.pixels.size(), n * 3);
    for (size_t i = 0; i < n; ++i) {
      const size_t pair = i / 2 * 4;
      const int c = data[2 * i] - 16, d = data[pair + 1] - 128;
      const int e = pair + 3 < data.size() ? data[pair + 3] - 128 : 0;  // a lone last pixel: no V
      const int rgb[3] = {(298 * c + 409 * e + 128) >> 8, (298 * c - 100 * d - 208 * e + 128) >> 8,
                          (298 * c + 516 * d + 128) >> 8};
      for (int k = 0; k < 3; ++k) {
        ASSERT_EQ(out.pixels[i * 3 + k], std::clamp(rgb[k], 0, 255)) << w << "x" << h << " " << i;
      }
    }
  }
}

TEST(MeanLuma, TruncatedHalfOpenBoxStepAndEmptyAreas) {
  Image image{40, 30, std::vector<uint8_t>(40 * 30 * 3)};
  for (size_t k = 0; k < image.pixels.size(); ++k) image.pixels[k] = uint8_t(k / 3 % 40);
  const float nan = std::numeric_limits<float>::quiet_NaN(), big = 1e38f;
  // The grey level is the column, so the mean tells which columns were read.
  const std::pair<std::vector<Point>, float> cases[] = {
      {{}, 16},  // step 16: columns 0, 16 and 32
      {{{10.9f, 2.5f, 0}, {20.9f, 3.9f, 0}}, 14.5f}, {{{-big, -big, 0}, {big, big, 0}}, 19.5f},
      {{{nan, nan, 0}, {2, 0, 0}, {6, 1, 0}}, 3.5f}, {{{-9, 3, 0}, {-1, 20, 0}}, -1},
      {{{5, 50, 0}, {9, 60, 0}}, -1}};
  for (const auto& [points, mean] : cases) {
    EXPECT_NEAR(mean_luma(image, points, points.empty() ? 16 : 1), mean, 1e-4f) << mean;
  }
  EXPECT_NEAR(mean_luma(image, cases[1].first, 4), 14, 1e-4f);  // columns 10, 14 and 18
  EXPECT_EQ(mean_luma(image, {}, 0), -1);
  EXPECT_EQ(mean_luma(Image{}, {}, 16), -1);
  EXPECT_NEAR(mean_luma(Image{2, 1, {255, 0, 0, 0, 0, 255}}, {}, 1), (0.299f + 0.114f) * 127.5f,
              1e-3f);
}
