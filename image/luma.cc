#include "image/luma.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

// trunc(v) limited to 0..limit. Clamping before the conversion keeps a huge
// or NaN coordinate (from a diverging tracker) from overflowing the int; the
// clamped box is empty exactly when the unclamped one would be.
int truncate_to(float v, int limit) {
  if (!(v > 0.0f)) return 0;
  if (v >= static_cast<float>(limit)) return limit;
  return static_cast<int>(v);
}

}  // namespace

float mean_luma(const Image& image, std::span<const Point> points, int step) {
  if (step < 1) return -1.0f;
  int x0 = 0;
  int y0 = 0;
  int x1 = image.width;
  int y1 = image.height;
  if (!points.empty()) {
    float min_x = 1e30f, min_y = 1e30f;
    float max_x = -1e30f, max_y = -1e30f;
    for (const Point& p : points) {
      min_x = std::min(min_x, p.x);
      min_y = std::min(min_y, p.y);
      max_x = std::max(max_x, p.x);
      max_y = std::max(max_y, p.y);
    }
    x0 = truncate_to(min_x, image.width);
    y0 = truncate_to(min_y, image.height);
    x1 = truncate_to(max_x, image.width);
    y1 = truncate_to(max_y, image.height);
  }
  if (y0 >= y1) return -1.0f;

  const size_t row = static_cast<size_t>(image.width) * 3;
  double sum = 0.0;
  int64_t count = 0;
  // 64-bit counters: y + step must not overflow for a large step.
  for (int64_t y = y0; y < y1; y += step) {
    const uint8_t* line = image.pixels.data() + static_cast<size_t>(y) * row;
    for (int64_t x = x0; x < x1; x += step) {
      const uint8_t* p = line + static_cast<size_t>(x) * 3;
      sum += 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2];
      ++count;
    }
  }
  if (count == 0) return -1.0f;
  return static_cast<float>(sum / static_cast<double>(count));
}
