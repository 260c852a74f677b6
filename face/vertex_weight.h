#pragma once

#include <cstdint>

// One canonical face vertex that takes part in the pose fit, with its weight.
struct VertexWeight {
  std::int32_t index = 0;  // into the canonical vertices
  float weight = 0.0f;     // > 0 after a successful load
};
