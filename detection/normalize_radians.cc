#include "detection/normalize_radians.h"

#include <cmath>

#include "detection/angles.h"

float normalize_radians(float angle) {
  return angle - kTwoPi * std::floor((angle + kPi) / kTwoPi);
}
