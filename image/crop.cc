#include "image/crop.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace {

// The tensor-to-image mapping of one call, split so that crop_to_tensor can
// hoist the row terms; every path evaluates the same expressions in the same
// order, so a point maps identically whichever function asks.
struct RegionMap {
  RegionMap(const RotatedRect& r, int w, int h)
      : rect(r),
        cos_r(std::cos(r.rotation)),
        sin_r(std::sin(r.rotation)),
        w(static_cast<float>(w)),
        h(static_cast<float>(h)) {}

  float u(float i) const { return (i / w - 0.5f) * rect.width; }
  float v(float j) const { return (j / h - 0.5f) * rect.height; }
  float x(float u, float v_sin) const { return rect.cx + u * cos_r - v_sin; }
  float y(float u, float v_cos) const { return rect.cy + u * sin_r + v_cos; }

  const RotatedRect& rect;
  float cos_r;
  float sin_r;
  float w;
  float h;
};

// Bilinear sample at (x, y) with a black outside; writes the three channels
// mapped to [lo, hi]. The accumulation starts at 0 and takes the neighbours
// in the order (x0, y0), (x0 + 1, y0), (x0, y0 + 1), (x0 + 1, y0 + 1).
inline void sample(const Image& image, float x, float y, float scale, float lo, float* out) {
  const float fx0 = std::floor(x);
  const float fy0 = std::floor(y);
  // Whole-sample rejection before converting to int: a point this far out
  // (or NaN, which fails every comparison) has no neighbour inside, and the
  // conversion of a huge or NaN float to int would be undefined.
  const float fw = static_cast<float>(image.width);
  const float fh = static_cast<float>(image.height);
  if (!(fx0 >= -1.0f && fx0 < fw && fy0 >= -1.0f && fy0 < fh)) {
    const float black = 0.0f * scale + lo;
    out[0] = black;
    out[1] = black;
    out[2] = black;
    return;
  }
  const int x0 = static_cast<int>(fx0);
  const int y0 = static_cast<int>(fy0);
  const float fx = x - fx0;
  const float fy = y - fy0;
  const float weights[4] = {(1.0f - fx) * (1.0f - fy), fx * (1.0f - fy), (1.0f - fx) * fy,
                            fx * fy};
  const size_t row = static_cast<size_t>(image.width) * 3;
  const uint8_t* base = image.pixels.data();

  float sum[3];
  if (x0 >= 0 && x0 + 1 < image.width && y0 >= 0 && y0 + 1 < image.height) {
    // Interior: all four neighbours exist. 0 + a equals a exactly, so
    // starting from the first product gives the same sums as starting at 0.
    const uint8_t* p00 = base + static_cast<size_t>(y0) * row + static_cast<size_t>(x0) * 3;
    const uint8_t* p01 = p00 + row;
    for (int c = 0; c < 3; ++c) {
      float s = weights[0] * static_cast<float>(p00[c]);
      s += weights[1] * static_cast<float>(p00[c + 3]);
      s += weights[2] * static_cast<float>(p01[c]);
      s += weights[3] * static_cast<float>(p01[c + 3]);
      sum[c] = s;
    }
  } else {
    sum[0] = sum[1] = sum[2] = 0.0f;
    for (int k = 0; k < 4; ++k) {
      const int nx = x0 + (k & 1);
      const int ny = y0 + (k >> 1);
      if (nx < 0 || nx >= image.width || ny < 0 || ny >= image.height) continue;
      const uint8_t* p = base + static_cast<size_t>(ny) * row + static_cast<size_t>(nx) * 3;
      for (int c = 0; c < 3; ++c) sum[c] += weights[k] * static_cast<float>(p[c]);
    }
  }
  for (int c = 0; c < 3; ++c) out[c] = sum[c] * scale + lo;
}

}  // namespace

void crop_to_tensor(const Image& image, const RotatedRect& rect, int w, int h, float lo, float hi,
                    float* out) {
  if (w < 1 || h < 1) return;
  const float scale = (hi - lo) / 255.0f;
  const RegionMap map(rect, w, h);
  for (int j = 0; j < h; ++j) {
    const float v = map.v(static_cast<float>(j));
    const float v_sin = v * map.sin_r;
    const float v_cos = v * map.cos_r;
    for (int i = 0; i < w; ++i) {
      const float u = map.u(static_cast<float>(i));
      sample(image, map.x(u, v_sin), map.y(u, v_cos), scale, lo, out);
      out += 3;
    }
  }
}

Point crop_to_image(const RotatedRect& rect, int w, int h, Point p) {
  const RegionMap map(rect, w, h);
  const float u = map.u(p.x);
  const float v = map.v(p.y);
  return Point{map.x(u, v * map.sin_r), map.y(u, v * map.cos_r), p.z / map.w * rect.width};
}

RotatedRect letterbox_rect(const Image& image) {
  const float side = static_cast<float>(std::max(image.width, image.height));
  return RotatedRect{static_cast<float>(image.width) * 0.5f, static_cast<float>(image.height) * 0.5f,
                     side, side, 0.0f};
}
