#include "image/yuyv_to_rgb.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {

using Rgb = std::array<int, 3>;

// One pair of pixels converted in an exact-size heap block, so that the
// sanitizer build catches any read past the four bytes.
std::array<Rgb, 2> convert_pair(uint8_t y0, uint8_t u, uint8_t y1, uint8_t v) {
  uint8_t* data = static_cast<uint8_t*>(std::malloc(4));
  const uint8_t bytes[4] = {y0, u, y1, v};
  std::memcpy(data, bytes, 4);
  Image out;
  yuyv_to_rgb(data, 2, 1, out);
  std::free(data);
  EXPECT_EQ(out.pixels.size(), 6u);
  const auto& p = out.pixels;
  return {Rgb{p[0], p[1], p[2]}, Rgb{p[3], p[4], p[5]}};
}

}  // namespace

TEST(YuyvToRgb, ReferenceColoursAndClamping) {
  EXPECT_EQ(convert_pair(16, 128, 235, 128)[0], (Rgb{0, 0, 0}));
  EXPECT_EQ(convert_pair(16, 128, 235, 128)[1], (Rgb{255, 255, 255}));
  EXPECT_EQ(convert_pair(0, 128, 255, 128)[0], (Rgb{0, 0, 0}));        // -19 clamped
  EXPECT_EQ(convert_pair(0, 128, 255, 128)[1], (Rgb{255, 255, 255}));  // 278 clamped
  // Saturated red, and blue-heavy chroma: U and V are not interchangeable.
  EXPECT_EQ(convert_pair(81, 90, 81, 240)[1], (Rgb{255, 0, 0}));
  EXPECT_EQ(convert_pair(128, 255, 128, 128)[0], (Rgb{130, 81, 255}));
  EXPECT_EQ(convert_pair(128, 128, 128, 255)[0], (Rgb{255, 27, 130}));
}

TEST(YuyvToRgb, MatchesPlainFormulaOnRandomFrames) {
  std::mt19937 rng(7);
  Image out;
  for (const auto& [w, h] :
       {std::pair{640, 480}, std::pair{6, 5}, std::pair{5, 3}, std::pair{3, 1}, std::pair{1, 1}}) {
    const size_t n = static_cast<size_t>(w) * h;
    std::vector<uint8_t> data(n * 2);
    for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
    yuyv_to_rgb(data.data(), w, h, out);
    ASSERT_EQ(out.pixels.size(), n * 3);
    for (size_t i = 0; i < n; ++i) {
      const size_t pair = i / 2 * 4;
      const int c = data[2 * i] - 16;
      const int d = data[pair + 1] - 128;
      // The lone last pixel of an odd count has no V: taken as neutral.
      const int e = pair + 3 < data.size() ? data[pair + 3] - 128 : 0;
      const int rgb[3] = {(298 * c + 409 * e + 128) >> 8, (298 * c - 100 * d - 208 * e + 128) >> 8,
                          (298 * c + 516 * d + 128) >> 8};
      for (int k = 0; k < 3; ++k) {
        ASSERT_EQ(out.pixels[i * 3 + k], std::clamp(rgb[k], 0, 255)) << w << "x" << h << " " << i;
      }
    }
  }
}
