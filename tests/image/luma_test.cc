#include "image/luma.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace {

Image grey_image(int width, int height, uint8_t value) {
  return Image{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 3, value)};
}

}  // namespace

TEST(MeanLuma, WholeImageAndEmptyAreas) {
  EXPECT_EQ(mean_luma(Image{}, {}, 16), -1.0f);
  EXPECT_NEAR(mean_luma(grey_image(33, 17, 100), {}, 16), 100.0f, 1e-4f);
  const Image image = grey_image(40, 30, 100);
  EXPECT_EQ(mean_luma(image, {Point{-9, 3, 0}, Point{-1, 20, 0}}, 1), -1.0f);  // left of image
  EXPECT_EQ(mean_luma(image, {Point{5, 50, 0}, Point{9, 60, 0}}, 1), -1.0f);   // below it
  EXPECT_EQ(mean_luma(image, {Point{5, 5, 0}}, 1), -1.0f);  // a single point: empty box
  EXPECT_EQ(mean_luma(image, {}, 0), -1.0f);
}

TEST(MeanLuma, TruncatedHalfOpenBoxAndStep) {
  // Column x has grey level x: the mean tells exactly which columns were read.
  Image image = grey_image(40, 30, 0);
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 40; ++x) {
      for (int c = 0; c < 3; ++c) image.pixels[(y * 40 + x) * 3 + c] = static_cast<uint8_t>(x);
    }
  }
  EXPECT_NEAR(mean_luma(image, {Point{10.9f, 2.5f, 0}, Point{20.9f, 3.9f, 0}}, 1), 14.5f, 1e-4f);
  EXPECT_NEAR(mean_luma(image, {Point{10.9f, 2.5f, 0}, Point{20.9f, 3.9f, 0}}, 4), 14.0f, 1e-4f);
  EXPECT_NEAR(mean_luma(image, {}, 16), 16.0f, 1e-4f);  // columns 0, 16, 32
  // Points far outside, or not numbers, are cut to the image without overflow.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_NEAR(mean_luma(image, {Point{-1e38f, -1e38f, 0}, Point{1e38f, 1e38f, 0}}, 1), 19.5f,
              1e-4f);
  EXPECT_NEAR(mean_luma(image, {Point{nan, nan, 0}, Point{2, 0, 0}, Point{6, 1, 0}}, 1), 3.5f,
              1e-4f);
}

TEST(MeanLuma, WeightsChannelsRec601) {
  Image image = grey_image(2, 1, 0);
  image.pixels = {255, 0, 0, 0, 0, 255};
  EXPECT_NEAR(mean_luma(image, {}, 1), (0.299f * 255 + 0.114f * 255) / 2, 1e-3f);
}
