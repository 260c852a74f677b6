#include "detection/regions.h"

#include <algorithm>
#include <cmath>

#include "detection/angles.h"

float normalize_radians(float angle) {
  return angle - kTwoPi * std::floor((angle + kPi) / kTwoPi);
}

float rect_rotation(Point from, Point to, float target_degrees) {
  const float dx = to.x - from.x;
  const float dy = to.y - from.y;
  // y points down on screen; negating dy measures the angle counter-clockwise.
  return normalize_radians(target_degrees * kPi / 180.0f - std::atan2(-dy, dx));
}

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

RotatedRect transform_rect(RotatedRect rect, float scale, float shift) {
  const float side = scale * std::max(rect.height, rect.width);
  const float cx = rect.cx - shift * rect.height * std::sin(rect.rotation);
  const float cy = rect.cy + shift * rect.height * std::cos(rect.rotation);
  return RotatedRect{cx, cy, side, side, rect.rotation};
}

float iou(const RotatedRect& a, const RotatedRect& b) {
  const float a_left = a.cx - a.width / 2.0f;
  const float a_right = a.cx + a.width / 2.0f;
  const float a_top = a.cy - a.height / 2.0f;
  const float a_bottom = a.cy + a.height / 2.0f;
  const float b_left = b.cx - b.width / 2.0f;
  const float b_right = b.cx + b.width / 2.0f;
  const float b_top = b.cy - b.height / 2.0f;
  const float b_bottom = b.cy + b.height / 2.0f;

  const float ix = std::min(b_right, a_right) - std::max(b_left, a_left);
  if (ix <= 0.0f) return 0.0f;
  const float iy = std::min(b_bottom, a_bottom) - std::max(b_top, a_top);
  const float intersection = ix * iy;
  const float united = (a_right - a_left) * (a_bottom - a_top) +
                       (b_right - b_left) * (b_bottom - b_top) - intersection;
  if (iy <= 0.0f || united <= 0.0f) return 0.0f;
  return intersection / united;
}
