#include "image/crop.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "image/crop_variants.h"

namespace {

// R = 10x, G = 10y, B = 7: bilinear sampling of this ramp reads back the position.
Image ramp_image(int w, int h) {
  Image image{w, h, std::vector<uint8_t>(size_t(w) * h * 3, 7)};
  for (size_t k = 0; k < image.pixels.size(); k += 3) {
    image.pixels[k] = uint8_t(10 * (k / 3 % w));
    image.pixels[k + 1] = uint8_t(10 * (k / 3 / w));
  }
  return image;
}

// A plain bilinear sampler from the definition (lo = -1, hi = 1), at the points
// that crop_to_image gives for whole tensor positions.
std::vector<float> reference_crop(const Image& image, const RotatedRect& rect, int w, int h) {
  std::vector<float> out;
  for (int t = 0; t < w * h; ++t) {
    const Point p = crop_to_image(rect, w, h, Point{float(t % w), float(t / w), 0.0f});
    const int x0 = int(std::floor(p.x)), y0 = int(std::floor(p.y));
    const float fx = p.x - float(x0), fy = p.y - float(y0);
    const float wt[4] = {(1 - fx) * (1 - fy), fx * (1 - fy), (1 - fx) * fy, fx * fy};
    for (int c = 0; c < 3; ++c) {
      float sum = 0.0f;
      for (int k = 0; k < 4; ++k) {
        const int x = x0 + k % 2, y = y0 + k / 2;
        if (x < 0 || x >= image.width || y < 0 || y >= image.height) continue;
        sum += wt[k] * float(image.pixels[(size_t(y) * image.width + x) * 3 + c]);
      }
      out.push_back(sum * (2.0f / 255.0f) + -1.0f);
    }
  }
  return out;
}

}  // namespace

TEST(CropToTensor, SamplingPositionsBlackBorderAndRotation) {
  // A 1 x 1 tensor samples its region's top-left corner (x, y): x, y, then R, G, B.
  const float cases[][5] = {{2, 1, 20, 10, 7},       {1.25f, 0.5f, 12.5f, 5, 7},
                            {2.5f, 1.5f, 25, 15, 7}, {3.5f, 2, 15, 10, 3.5f},  // black outside
                            {-0.5f, 0, 0, 0, 3.5f},  {0, 2.5f, 0, 10, 3.5f},
                            {-1, 0, 0, 0, 0}};
  std::vector<float> out(12);
  for (const auto& c : cases) {
    crop_to_tensor(ramp_image(4, 3), RotatedRect{c[0] + 1, c[1] + 1, 2, 2, 0}, 1, 1, 0, 255,
                   out.data());
    EXPECT_EQ(std::vector<float>(out.begin(), out.begin() + 3), std::vector<float>(c + 2, c + 5))
        << c[0] << "," << c[1];
  }
  // A quarter turn: along a tensor row is down the image, from (14, 6) to (14, 10).
  crop_to_tensor(ramp_image(20, 20), RotatedRect{10, 10, 8, 8, 1.5707964f}, 2, 2, 0, 255,
                 out.data());
  const float turned[12] = {140, 60, 7, 140, 100, 7, 100, 60, 7, 100, 100, 7};
  for (int k = 0; k < 12; ++k) EXPECT_NEAR(out[k], turned[k], 1e-3f) << k;
}

TEST(CropToTensor, EveryBuildMatchesThePlainSamplerBitForBit) {
  Image image{67, 41, std::vector<uint8_t>(67 * 41 * 3)};
  std::mt19937 rng(11);
  for (uint8_t& b : image.pixels) b = uint8_t(rng());
  // Inside, up to the last row and column, letterboxed, then random.
  std::vector<RotatedRect> rects = {{33, 20, 24, 16, 0.3f}, {33, 20, 67, 41, 0},
                                    letterbox_rect(image)};
  std::uniform_real_distribution<float> pos(-20, 90), size(3, 80), angle(-4, 4);
  while (rects.size() < 22) rects.push_back({pos(rng), pos(rng), size(rng), size(rng), angle(rng)});
  using Crop = void (*)(const Image&, const RotatedRect&, int, int, float, float, float*);
  std::vector<Crop> builds = {crop_to_tensor, crop_to_tensor_baseline};
#if defined(__x86_64__)
  if (__builtin_cpu_supports("sse4.1")) builds.push_back(crop_to_tensor_sse41);
  if (__builtin_cpu_supports("avx2")) builds.push_back(crop_to_tensor_avx2);
#endif
  for (size_t r = 0; r < rects.size(); ++r) {
    const int w = 1 + int(rng() % 37), h = 1 + int(rng() % 29);
    const std::vector<float> expected = reference_crop(image, rects[r], w, h);
    for (size_t b = 0; b < builds.size(); ++b) {
      std::vector<float> out(size_t(w) * h * 3);
      builds[b](image, rects[r], w, h, -1, 1, out.data());
      ASSERT_EQ(out, expected) << "rect " << r << ", build " << b;
    }
  }
}

TEST(CropToTensor, EmptyTensorOrRegionOutsideOrNotANumber) {
  const Image image = ramp_image(8, 8);
  std::vector<float> out(12, 42.0f);
  crop_to_tensor(image, letterbox_rect(image), 0, 2, 0, 1, out.data());
  crop_to_tensor(image, letterbox_rect(image), 2, 0, 0, 1, out.data());
  EXPECT_EQ(out, std::vector<float>(12, 42.0f));
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (const auto& [frame, rect] : {std::pair{image, RotatedRect{-50, 4, 8, 8, 0.3f}},
                                    {image, RotatedRect{1e30f, 4, 8, 8, 0}},
                                    {image, RotatedRect{nan, 4, 8, 8, 0}},
                                    {image, RotatedRect{4, 4, 8, 8, nan}},
                                    {Image{}, RotatedRect{0, 0, 4, 4, 0}}}) {  // no frame yet
    out.assign(12, 42.0f);
    crop_to_tensor(frame, rect, 2, 2, -0.5f, 0.5f, out.data());
    EXPECT_EQ(out, std::vector<float>(12, -0.5f)) << rect.cx << " " << rect.rotation;
  }
}
