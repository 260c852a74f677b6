#pragma once

#include <array>
#include <span>

#include "face/vertex_weight.h"

using Vec3 = std::array<double, 3>;
using Quaternion = std::array<double, 4>;  // w, x, y, z: scalar part first

// A similarity transform: a model point m maps to
// scale * R(rotation) * m + translation.
struct Fit {
  Quaternion rotation = {1.0, 0.0, 0.0, 0.0};  // unit length
  double scale = 0.0;
  Vec3 translation = {0.0, 0.0, 0.0};
};

// R(q) * v for a unit quaternion q.
Vec3 rotate(const Quaternion& q, const Vec3& v);

// Weighted least-squares similarity fit of `model_points` onto `targets`
// (absolute orientation by the quaternion eigenvector method), over the
// entries of `weights` only. Every weight index must be valid for both spans.
// Writes `out` and returns true when the fit is determined and its scale is
// positive; a non-positive scale is written but reported as false, and a
// degenerate input (no spread, no weight, not-a-number values) returns false
// leaving `out` as it was.
bool fit(std::span<const VertexWeight> weights, std::span<const std::array<float, 3>> model_points,
         std::span<const Vec3> targets, Fit& out);
