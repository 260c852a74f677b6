#include "detection/iou.h"

#include <algorithm>

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
