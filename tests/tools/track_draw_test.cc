// The track tool's drawing primitives clip: shapes partly outside the image,
// far away or with coordinates that are not numbers draw only what falls
// inside, and never write past the pixels.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "tools/track/canvas.h"

namespace {

constexpr int kWidth = 20, kHeight = 10;
constexpr Rgb kInk{255, 255, 255};
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

bool inked(const Image& image, int x, int y) {
  return image.pixels[3 * (static_cast<std::size_t>(y) * image.width + x)] == 255;
}

int inked_count(const Image& image) {
  int n = 0;
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) n += inked(image, x, y);
  }
  return n;
}

TEST(TrackDraw, ShapesClipToTheImage) {
  const struct {
    const char* name;
    std::function<void(Image&)> draw;
    int inked;  // pixels drawn, -1 when only the pixel at (x, y) is checked
    int x, y;
  } cases[] = {
      {"line through from far away", [](Image& i) { draw_line(i, -1e6f, -1e6f, 1e6f, 1e6f, kInk, 1); }, kHeight, 5, 5},
      {"line between huge ends", [](Image& i) { draw_line(i, -1e30f, 3, 1e30f, -1e30f, kInk, 4); }, -1, -1, -1},
      {"line with a NaN end", [](Image& i) { draw_line(i, kNaN, 0, 5, 5, kInk, 3); }, 0, -1, -1},
      {"row inside, thickness 1", [](Image& i) { draw_line(i, -5, 3, 100, 3, kInk, 1); }, kWidth, 0, 3},
      {"disc far away", [](Image& i) { fill_circle(i, 1e30f, 0, 5, kInk); }, 0, -1, -1},
      {"disc larger than everything", [](Image& i) { fill_circle(i, 10, 5, 1e30f, kInk); }, kWidth * kHeight, 0, 0},
      {"disc with a NaN radius", [](Image& i) { fill_circle(i, 5, 5, kNaN, kInk); }, 0, -1, -1},
      {"box larger than the image", [](Image& i) { draw_box(i, -1, -1, kWidth, kHeight, kInk, 1); }, 0, -1, -1},
      {"turned region around the image", [](Image& i) { draw_rotated_rect(i, {10, 5, 1e20f, 1e20f, 0.3f}, kInk, 2); },
       -1, -1, -1},
      {"text running off the right edge", [](Image& i) { draw_text(i, kWidth - 3, 1, "WWW", kInk, 2); }, -1,
       kWidth - 3, 1},
      {"text far to the left", [](Image& i) { draw_text(i, -1'000'000, 0, "A", kInk, 1); }, 0, -1, -1},
      {"bar of a value that is not a number", [](Image& i) { draw_bar(i, 0, 0, 10, 4, kNaN, kInk, Rgb{0, 0, 0}); },
       0, -1, -1},
      {"bar past full", [](Image& i) { draw_bar(i, 2, 2, 30, 3, 7.0f, kInk, kInk); }, (kWidth - 2) * 3, kWidth - 1, 3},
  };
  for (const auto& c : cases) {
    Image image{kWidth, kHeight, std::vector<uint8_t>(kWidth * kHeight * 3, 0)};
    c.draw(image);
    ASSERT_EQ(image.pixels.size(), static_cast<std::size_t>(kWidth * kHeight * 3)) << c.name;
    EXPECT_TRUE(c.inked < 0 || inked_count(image) == c.inked) << c.name << ": " << inked_count(image);
    EXPECT_TRUE(c.x < 0 || inked(image, c.x, c.y)) << c.name;
  }
}

}  // namespace
