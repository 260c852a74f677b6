#include "detection/rotated_bounds.h"

#include <algorithm>
#include <cmath>

RotatedRect rotated_bounds(const std::vector<Point>& points, float rotation) {
  const float cos_r = std::cos(rotation);
  const float sin_r = std::sin(rotation);
  float min_u = 1e30f;
  float max_u = -1e30f;
  float min_v = 1e30f;
  float max_v = -1e30f;
  for (const Point& p : points) {
    // The point in the rectangle's own axes.
    const float u = p.x * cos_r + p.y * sin_r;
    const float v = p.y * cos_r - p.x * sin_r;
    min_u = std::min(min_u, u);
    max_u = std::max(max_u, u);
    min_v = std::min(min_v, v);
    max_v = std::max(max_v, v);
  }
  const float uc = (min_u + max_u) / 2.0f;
  const float vc = (min_v + max_v) / 2.0f;
  return RotatedRect{cos_r * uc - sin_r * vc, sin_r * uc + cos_r * vc, max_u - min_u,
                     max_v - min_v, rotation};
}
