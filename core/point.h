#pragma once

// A landmark or keypoint: x to the right, y downwards (image pixels unless a
// caller says otherwise), z a depth on the same scale as x (0 where unknown).
struct Point {
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;
};
