#pragma once

#include <vector>

#include "core/point.h"

// One scored detector candidate: an axis-aligned box and the detector's
// keypoints, all in image pixels (keypoint z is 0). Owns its keypoints; moved,
// not shared.
struct Detection {
  float score = 0.0f;  // 0..1
  float xmin = 0.0f;
  float ymin = 0.0f;
  float xmax = 0.0f;
  float ymax = 0.0f;
  std::vector<Point> keypoints;
};
