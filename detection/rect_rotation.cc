#include "detection/rect_rotation.h"

#include <cmath>

#include "detection/angles.h"
#include "detection/normalize_radians.h"

float rect_rotation(Point from, Point to, float target_degrees) {
  const float dx = to.x - from.x;
  const float dy = to.y - from.y;
  // y points down on screen; negating dy measures the angle counter-clockwise.
  return normalize_radians(target_degrees * kPi / 180.0f - std::atan2(-dy, dx));
}
