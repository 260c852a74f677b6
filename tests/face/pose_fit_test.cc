#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "face/pose_fit.h"

namespace {

Quaternion axis_angle(Vec3 axis, double degrees) {
  const double n = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
  const double half = degrees * 3.141592653589793 / 360.0;
  const double s = std::sin(half) / n;
  return {std::cos(half), axis[0] * s, axis[1] * s, axis[2] * s};
}

TEST(Rotate, MatchesKnownRotations) {
  const Vec3 v = {1.0, 2.0, 3.0};
  EXPECT_EQ(rotate({1.0, 0.0, 0.0, 0.0}, v), v);
  const Vec3 half_turn = rotate({0.0, 0.0, 0.0, 1.0}, v);
  EXPECT_DOUBLE_EQ(half_turn[0], -1.0);
  EXPECT_DOUBLE_EQ(half_turn[1], -2.0);
  EXPECT_DOUBLE_EQ(half_turn[2], 3.0);
  // A quarter turn about z takes x to y, about x takes y to z.
  const Vec3 x_to_y = rotate(axis_angle({0, 0, 1}, 90.0), {1.0, 0.0, 0.0});
  EXPECT_NEAR(x_to_y[0], 0.0, 1e-12);
  EXPECT_NEAR(x_to_y[1], 1.0, 1e-12);
  const Vec3 y_to_z = rotate(axis_angle({1, 0, 0}, 90.0), {0.0, 1.0, 0.0});
  EXPECT_NEAR(y_to_z[1], 0.0, 1e-12);
  EXPECT_NEAR(y_to_z[2], 1.0, 1e-12);
}

// Model points spread in 3-D, with a weighted subset; unweighted points get
// targets far off, which must not matter.
struct FitCase {
  std::vector<std::array<float, 3>> model;
  std::vector<VertexWeight> weights;

  FitCase() {
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> coord(-8.0f, 8.0f);
    for (int k = 0; k < 40; ++k) model.push_back({coord(rng), coord(rng), coord(rng) * 0.5f});
    for (int k = 0; k < 40; k += 3) weights.push_back({k, 0.25f + 0.05f * static_cast<float>(k)});
  }
  std::vector<Vec3> targets(const Quaternion& q, double scale, const Vec3& t) const {
    std::vector<Vec3> out(model.size(), Vec3{1e6, -1e6, 1e6});
    for (const VertexWeight& w : weights) {
      const auto& m = model[static_cast<std::size_t>(w.index)];
      const Vec3 r = rotate(q, {m[0], m[1], m[2]});
      for (int i = 0; i < 3; ++i) out[static_cast<std::size_t>(w.index)][i] = scale * r[i] + t[i];
    }
    return out;
  }
};

TEST(Fit, RecoversASimilarityTransform) {
  const FitCase c;
  const std::vector<Quaternion> rotations = {
      {1.0, 0.0, 0.0, 0.0},          axis_angle({0, 1, 0}, 35.0), axis_angle({1, -2, 0.5}, 120.0),
      axis_angle({0, 0, 1}, 180.0),  axis_angle({1, 1, 1}, 179.0), axis_angle({0.3, 1, 0}, -75.0)};
  for (const Quaternion& q : rotations) {
    const Vec3 t = {3.0, -4.0, -60.0};
    Fit f;
    ASSERT_TRUE(fit(c.weights, c.model, c.targets(q, 2.5, t), f));
    const double dot = f.rotation[0] * q[0] + f.rotation[1] * q[1] + f.rotation[2] * q[2] +
                       f.rotation[3] * q[3];
    EXPECT_NEAR(std::fabs(dot), 1.0, 1e-9) << q[0] << " " << q[1] << " " << q[2] << " " << q[3];
    EXPECT_NEAR(f.scale, 2.5, 1e-9);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(f.translation[i], t[i], 1e-5);
  }
}

TEST(Fit, DegenerateInputFails) {
  const FitCase c;
  Fit f;
  f.scale = 42.0;
  // All targets on one point: no spread to match, scale 0.
  EXPECT_FALSE(fit(c.weights, c.model, std::vector<Vec3>(c.model.size(), Vec3{1, 2, 3}), f));
  EXPECT_LE(f.scale, 0.0 + 1e-12);

  // All weighted model points on one point: nothing to rotate.
  Fit untouched;
  untouched.scale = 42.0;
  const std::vector<std::array<float, 3>> flat(c.model.size(), {1.0f, 1.0f, 1.0f});
  EXPECT_FALSE(fit(c.weights, flat, c.targets({1, 0, 0, 0}, 1.0, {0, 0, 0}), untouched));
  EXPECT_EQ(untouched.scale, 42.0);

  // A target that is not a number.
  std::vector<Vec3> targets = c.targets({1, 0, 0, 0}, 1.0, {0, 0, -50});
  targets[static_cast<std::size_t>(c.weights[2].index)][1] = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(fit(c.weights, c.model, targets, untouched));
  EXPECT_EQ(untouched.scale, 42.0);
}

}  // namespace
