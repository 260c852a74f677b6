#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <random>

#include "face/pose_fit.h"

namespace {

Quaternion axis_angle(Vec3 axis, double degrees) {
  const double n = std::hypot(axis[0], axis[1], axis[2]);
  const double s = std::sin(degrees * std::numbers::pi / 360.0) / n;
  return {std::cos(degrees * std::numbers::pi / 360.0), axis[0] * s, axis[1] * s, axis[2] * s};
}

TEST(PoseFit, RotateByKnownQuaternions) {
  EXPECT_EQ(rotate({1, 0, 0, 0}, {1, 2, 3}), (Vec3{1, 2, 3}));
  EXPECT_EQ(rotate({0, 0, 0, 1}, {1, 2, 3}), (Vec3{-1, -2, 3}));
  const Vec3 y = rotate(axis_angle({0, 0, 1}, 90.0), {1, 0, 0});  // x turns to y
  EXPECT_NEAR(y[0], 0.0, 1e-12);
  EXPECT_NEAR(y[1], 1.0, 1e-12);
}

TEST(PoseFit, RecoversSimilarityTransformsFromWeightedPointsOnly) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> coord(-8.0f, 8.0f);
  std::vector<std::array<float, 3>> model(40);
  for (auto& m : model) m = {coord(rng), coord(rng), coord(rng) * 0.5f};
  std::vector<VertexWeight> weights;
  for (int k = 0; k < 40; k += 3) weights.push_back({k, 0.25f + 0.05f * static_cast<float>(k)});

  // Half turns have a zero scalar part, which the eigenvector must still find.
  for (const Quaternion& q : {Quaternion{1, 0, 0, 0}, axis_angle({1, -2, 0.5}, 120.0),
                              axis_angle({0, 0, 1}, 180.0), axis_angle({1, 1, 1}, 179.0),
                              axis_angle({0.3, 1, 0}, -75.0)}) {
    std::vector<Vec3> targets(model.size(), Vec3{1e6, -1e6, 1e6});  // unweighted: far off
    for (const VertexWeight& w : weights) {
      const auto& m = model[static_cast<std::size_t>(w.index)];
      const Vec3 r = rotate(q, {m[0], m[1], m[2]});
      targets[static_cast<std::size_t>(w.index)] = {2.5 * r[0] + 3, 2.5 * r[1] - 4, 2.5 * r[2] - 60};
    }
    Fit f;
    ASSERT_TRUE(fit(weights, model, targets, f));
    double dot = 0.0;
    for (int i = 0; i < 4; ++i) dot += f.rotation[i] * q[i];
    EXPECT_NEAR(std::fabs(dot), 1.0, 1e-9);
    EXPECT_NEAR(f.scale, 2.5, 1e-9);
    EXPECT_NEAR(f.translation[2], -60.0, 1e-5);  // model products are single precision

    // Degenerate inputs: targets on one point (scale 0), model on one
    // point, a target that is not a number.
    EXPECT_FALSE(fit(weights, model, std::vector<Vec3>(model.size(), Vec3{1, 2, 3}), f));
    Fit untouched;
    EXPECT_FALSE(fit(weights, std::vector<std::array<float, 3>>(40, {1, 1, 1}), targets, untouched));
    targets[static_cast<std::size_t>(weights[2].index)][1] = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(fit(weights, model, targets, untouched));
    EXPECT_EQ(untouched.scale, 0.0);
  }
}

}  // namespace
