#include "detection/transform_rect.h"

#include <algorithm>
#include <cmath>

RotatedRect transform_rect(RotatedRect rect, float scale, float shift) {
  const float side = scale * std::max(rect.height, rect.width);
  const float cx = rect.cx - shift * rect.height * std::sin(rect.rotation);
  const float cy = rect.cy + shift * rect.height * std::cos(rect.rotation);
  return RotatedRect{cx, cy, side, side, rect.rotation};
}
