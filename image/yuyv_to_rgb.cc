#include "image/yuyv_to_rgb.h"

#include <cassert>
#include <cstddef>
#include <cstdint>

#include "image/resize_pixels.h"

namespace {

inline uint8_t clamp_byte(int32_t v) {
  return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// One pixel from its luma and the pair's shared chroma differences.
inline void store_rgb(int32_t y, int32_t d, int32_t e, uint8_t* rgb) {
  const int32_t c = y - 16;
  rgb[0] = clamp_byte((298 * c + 409 * e + 128) >> 8);
  rgb[1] = clamp_byte((298 * c - 100 * d - 208 * e + 128) >> 8);
  rgb[2] = clamp_byte((298 * c + 516 * d + 128) >> 8);
}

}  // namespace

void yuyv_to_rgb(const uint8_t* data, int width, int height, Image& out) {
  assert(width >= 0 && height >= 0);
  resize_pixels(out, width, height);
  const int64_t n = int64_t{width} * height;
  const int64_t pairs = n / 2;
  const uint8_t* __restrict src = data;
  uint8_t* __restrict dst = out.pixels.data();
  for (int64_t p = 0; p < pairs; ++p) {
    const uint8_t* s = src + 4 * p;
    uint8_t* o = dst + 6 * p;
    const int32_t d = s[1] - 128;
    const int32_t e = s[3] - 128;
    store_rgb(s[0], d, e, o);
    store_rgb(s[2], d, e, o + 3);
  }
  if (n % 2 != 0) {
    const uint8_t* s = src + 4 * pairs;
    store_rgb(s[0], s[1] - 128, 0, dst + 6 * pairs);
  }
}
