#include "image/crop.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "image/crop_variants.h"
#include "tests/image/test_jpeg.h"

namespace {

// R = 10x, G = 10y, B = 7: bilinear sampling of a linear ramp returns the
// ramp's value, so the sampled position can be read back from the colour.
Image ramp_image(int width, int height) {
  Image image{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 3)};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* p = &image.pixels[(static_cast<size_t>(y) * width + x) * 3];
      p[0] = static_cast<uint8_t>(10 * x);
      p[1] = static_cast<uint8_t>(10 * y);
      p[2] = 7;
    }
  }
  return image;
}

// The value of one sample at image point (x, y) with lo = 0 and hi = 255 (so
// byte values come out unchanged): a 1 x 1 tensor samples the region's
// top-left corner.
std::vector<float> sample_at(const Image& image, float x, float y) {
  std::vector<float> out(3);
  crop_to_tensor(image, RotatedRect{x + 1.0f, y + 1.0f, 2.0f, 2.0f, 0.0f}, 1, 1, 0.0f, 255.0f,
                 out.data());
  return out;
}

// Plain bilinear sampler written from the definition, placed at the points
// that crop_to_image gives for integer tensor positions.
std::vector<float> reference_crop(const Image& image, const RotatedRect& rect, int w, int h,
                                  float lo, float hi) {
  std::vector<float> out;
  const float scale = (hi - lo) / 255.0f;
  for (int j = 0; j < h; ++j) {
    for (int i = 0; i < w; ++i) {
      const Point p = crop_to_image(rect, w, h, Point{float(i), float(j), 0.0f});
      const int x0 = static_cast<int>(std::floor(p.x));
      const int y0 = static_cast<int>(std::floor(p.y));
      const float fx = p.x - float(x0), fy = p.y - float(y0);
      const float wt[4] = {(1 - fx) * (1 - fy), fx * (1 - fy), (1 - fx) * fy, fx * fy};
      for (int c = 0; c < 3; ++c) {
        float sum = 0.0f;
        for (int k = 0; k < 4; ++k) {
          const int nx = x0 + k % 2, ny = y0 + k / 2;
          if (nx >= 0 && nx < image.width && ny >= 0 && ny < image.height) {
            sum += wt[k] * float(image.pixels[(size_t(ny) * image.width + nx) * 3 + c]);
          }
        }
        out.push_back(sum * scale + lo);
      }
    }
  }
  return out;
}

}  // namespace

TEST(CropToTensor, SamplingPositionsAndBlackBorder) {
  const Image image = ramp_image(4, 3);
  EXPECT_EQ(sample_at(image, 2.0f, 1.0f), (std::vector<float>{20, 10, 7}));  // exact pixel
  EXPECT_EQ(sample_at(image, 1.25f, 0.5f), (std::vector<float>{12.5f, 5, 7}));
  EXPECT_EQ(sample_at(image, 2.5f, 1.5f), (std::vector<float>{25, 15, 7}));  // up to the last pixel
  // Last column: the right neighbour is outside and fades towards black.
  EXPECT_EQ(sample_at(image, 3.5f, 2.0f), (std::vector<float>{15, 10, 3.5f}));
  // Left of the first column and below the last row: half weight each.
  EXPECT_EQ(sample_at(image, -0.5f, 0.0f), (std::vector<float>{0, 0, 3.5f}));
  EXPECT_EQ(sample_at(image, 0.0f, 2.5f), (std::vector<float>{0, 10, 3.5f}));
  EXPECT_EQ(sample_at(image, -1.0f, 0.0f), (std::vector<float>{0, 0, 0}));
}

TEST(CropToTensor, LetterboxOfLandscapeFrame) {
  const Image image = textured_image(640, 480);
  const RotatedRect rect = letterbox_rect(image);
  std::vector<float> out(128 * 128 * 3);
  crop_to_tensor(image, rect, 128, 128, -1.0f, 1.0f, out.data());
  const auto tensor = [&](int i, int j, int c) { return out[(j * 128 + i) * 3 + c]; };
  const auto pixel = [&](int x, int y, int c) {
    return float(image.pixels[(y * 640 + x) * 3 + c]) * (2.0f / 255.0f) - 1.0f;
  };
  for (int c = 0; c < 3; ++c) {
    for (int i = 0; i < 128; ++i) {
      for (int j : {0, 15, 112, 127}) ASSERT_EQ(tensor(i, j, c), -1.0f) << i << "," << j;
      EXPECT_NEAR(tensor(i, 16, c), pixel(5 * i, 0, c), 1e-6f);  // image row 0
      EXPECT_NEAR(tensor(i, 111, c), pixel(5 * i, 475, c), 1e-6f);
    }
    EXPECT_NEAR(tensor(64, 64, c), pixel(320, 240, c), 1e-6f);
  }
}

TEST(CropToTensor, RotationTurnsTensorRowsClockwise) {
  // Quarter turn: moving right along a tensor row moves down the image.
  const Image image = ramp_image(20, 20);
  std::vector<float> out(2 * 2 * 3);
  crop_to_tensor(image, RotatedRect{10, 10, 8, 8, 1.5707964f}, 2, 2, 0.0f, 255.0f, out.data());
  const float expected[4][2] = {{14, 6}, {14, 10}, {10, 6}, {10, 10}};  // image (x, y)
  for (int k = 0; k < 4; ++k) {
    EXPECT_NEAR(out[k * 3 + 0], 10 * expected[k][0], 1e-3f) << k;
    EXPECT_NEAR(out[k * 3 + 1], 10 * expected[k][1], 1e-3f) << k;
  }
}

TEST(CropToTensor, MatchesPlainSamplerOnRotatedRegionsBitForBit) {
  const Image image = textured_image(67, 41, 3);
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> pos(-20.0f, 90.0f), size(3.0f, 80.0f), angle(-4.0f, 4.0f);
  for (int round = 0; round < 22; ++round) {
    // Two fixed regions first: one well inside, one covering the whole
    // image up to its last row and column.
    const RotatedRect rect =
        round == 0   ? RotatedRect{33, 20, 24, 16, 0.3f}
        : round == 1 ? RotatedRect{33, 20, 67, 41, 0}
                     : RotatedRect{pos(rng), pos(rng), size(rng), size(rng), angle(rng)};
    const int w = 1 + static_cast<int>(rng() % 37), h = 1 + static_cast<int>(rng() % 29);
    const std::vector<float> expected = reference_crop(image, rect, w, h, -1.0f, 1.0f);
    std::vector<float> out(size_t(w) * h * 3);
    crop_to_tensor(image, rect, w, h, -1.0f, 1.0f, out.data());
    ASSERT_EQ(out, expected) << round;
    // Both builds of the sampling loop, whichever this processor runs.
    crop_to_tensor_baseline(image, rect, w, h, -1.0f, 1.0f, out.data());
    ASSERT_EQ(out, expected) << round;
#if defined(__x86_64__)
    if (__builtin_cpu_supports("sse4.1")) {
      crop_to_tensor_sse41(image, rect, w, h, -1.0f, 1.0f, out.data());
      ASSERT_EQ(out, expected) << round;
    }
#endif
  }
}

TEST(CropToTensor, EmptyTensorOrRegionOutsideOrNotANumber) {
  const Image image = ramp_image(8, 8);
  std::vector<float> out(12, 42.0f);
  crop_to_tensor(image, letterbox_rect(image), 0, 2, 0.0f, 1.0f, out.data());
  crop_to_tensor(image, letterbox_rect(image), 2, 0, 0.0f, 1.0f, out.data());
  EXPECT_EQ(out, std::vector<float>(12, 42.0f));
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (const RotatedRect& rect : {RotatedRect{-50, 4, 8, 8, 0.3f}, RotatedRect{1e30f, 4, 8, 8, 0},
                                  RotatedRect{nan, 4, 8, 8, 0}, RotatedRect{4, 4, 8, 8, nan}}) {
    crop_to_tensor(image, rect, 2, 2, -0.5f, 0.5f, out.data());
    EXPECT_EQ(out, std::vector<float>(12, -0.5f));
  }
  crop_to_tensor(Image{}, RotatedRect{0, 0, 4, 4, 0}, 2, 2, -0.5f, 0.5f,
                 out.data());  // no frame yet
  EXPECT_EQ(out, std::vector<float>(12, -0.5f));
}

TEST(CropToImage, LetterboxSquareCornerCentreAndDepth) {
  const RotatedRect portrait = letterbox_rect(Image{480, 640, {}});
  EXPECT_TRUE(portrait.cx == 240 && portrait.cy == 320 && portrait.width == 640 &&
              portrait.height == 640 && portrait.rotation == 0);
  const RotatedRect landscape = letterbox_rect(Image{640, 480, {}});
  const Point corner = crop_to_image(landscape, 128, 128, Point{0, 0, 1});
  EXPECT_TRUE(corner.x == 0 && corner.y == -80 && corner.z == 5);  // a column is 5 pixels
  const Point centre = crop_to_image(landscape, 128, 128, Point{64, 64, 0});
  EXPECT_TRUE(centre.x == 320 && centre.y == 240);
}
