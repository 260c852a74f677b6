#include "image/crop.h"

#include "image/crop_sampler.h"

void crop_to_tensor(const Image& image, const RotatedRect& rect, int w, int h, float lo, float hi,
                    float* out) {
  if (w < 1 || h < 1) return;
#if defined(BRIDGE_CROP_SSE41)
  if (__builtin_cpu_supports("avx2")) {
    crop_to_tensor_avx2(image, rect, w, h, lo, hi, out);
    return;
  }
  if (__builtin_cpu_supports("sse4.1")) {
    crop_to_tensor_sse41(image, rect, w, h, lo, hi, out);
    return;
  }
#endif
  crop_to_tensor_baseline(image, rect, w, h, lo, hi, out);
}

void crop_to_tensor_baseline(const Image& image, const RotatedRect& rect, int w, int h, float lo,
                             float hi, float* out) {
  sample_region(image, rect, w, h, lo, hi, out);
}

Point crop_to_image(const RotatedRect& rect, int w, int h, Point p) {
  const RegionMap map(rect, w, h);
  const float u = map.u(p.x);
  const float v = map.v(p.y);
  return Point{map.column_x(u) - v * map.sin_r, map.column_y(u) + v * map.cos_r,
               p.z / map.w * rect.width};
}

RotatedRect letterbox_rect(const Image& image) {
  const float side = static_cast<float>(std::max(image.width, image.height));
  return RotatedRect{static_cast<float>(image.width) * 0.5f,
                     static_cast<float>(image.height) * 0.5f, side, side, 0.0f};
}
