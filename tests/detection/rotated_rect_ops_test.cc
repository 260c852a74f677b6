#include <gtest/gtest.h>

#include <cmath>

#include "detection/angles.h"
#include "detection/iou.h"
#include "detection/normalize_radians.h"
#include "detection/rect_rotation.h"
#include "detection/rotated_bounds.h"
#include "detection/transform_rect.h"

namespace {

TEST(RotatedRectOps, IouIgnoresRotation) {
  const RotatedRect a{5.0f, 5.0f, 10.0f, 10.0f, 0.0f};
  EXPECT_EQ(iou(a, a), 1.0f);
  EXPECT_FLOAT_EQ(iou(a, RotatedRect{6.0f, 5.0f, 10.0f, 10.0f, 1.2f}), 90.0f / 110.0f);
  EXPECT_FLOAT_EQ(iou(a, RotatedRect{5.0f, 7.0f, 4.0f, 2.0f, 0.0f}), 0.08f);
  EXPECT_EQ(iou(a, RotatedRect{15.0f, 5.0f, 10.0f, 10.0f, 0.0f}), 0.0f);  // touching
  EXPECT_EQ(iou(a, RotatedRect{5.0f, 25.0f, 10.0f, 10.0f, 0.0f}), 0.0f);
}

TEST(RotatedRectOps, AnglesWrapAndFollowKeypoints) {
  EXPECT_EQ(normalize_radians(kPi), -kPi);
  EXPECT_EQ(normalize_radians(0.0f), 0.0f);
  EXPECT_NEAR(normalize_radians(3.0f * kPi), -kPi, 1e-5f);
  EXPECT_NEAR(normalize_radians(-4.5f * kPi), -0.5f * kPi, 1e-5f);

  const Point o{0.0f, 0.0f, 0.0f};
  EXPECT_EQ(rect_rotation(o, Point{1.0f, 0.0f, 0.0f}, 0.0f), 0.0f);
  EXPECT_EQ(rect_rotation(o, Point{0.0f, -1.0f, 0.0f}, 90.0f), 0.0f);  // straight up
  EXPECT_FLOAT_EQ(rect_rotation(o, Point{0.0f, 1.0f, 0.0f}, 90.0f), -kPi);
  // Pointing right with the target up: a quarter turn clockwise on screen.
  EXPECT_FLOAT_EQ(rect_rotation(Point{3, 3, 9}, Point{5, 3, -9}, 90.0f), kPi / 2.0f);
}

TEST(RotatedRectOps, TransformShiftsAlongTheRectanglesOwnAxis) {
  const RotatedRect r = transform_rect(RotatedRect{100.0f, 100.0f, 40.0f, 20.0f, 0.0f}, 2.0f, -0.5f);
  EXPECT_EQ(r.cx, 100.0f);
  EXPECT_EQ(r.cy, 90.0f);
  EXPECT_EQ(r.width, 80.0f);
  EXPECT_EQ(r.height, 80.0f);
  // Turned a quarter clockwise, its top faces +x on screen.
  const RotatedRect t = transform_rect(RotatedRect{100.0f, 100.0f, 20.0f, 30.0f, kPi / 2}, 1.5f, -0.5f);
  EXPECT_FLOAT_EQ(t.cx, 115.0f);
  EXPECT_NEAR(t.cy, 100.0f, 1e-4f);
  EXPECT_EQ(t.width, 45.0f);
  EXPECT_EQ(t.rotation, kPi / 2);
}

TEST(RotatedRectOps, BoundsOfATurnedRectanglesCornersGiveItBack) {
  const RotatedRect axis = rotated_bounds({{1, 2, 0}, {7, -1, 5}, {4, 9, 0}}, 0.0f);
  EXPECT_EQ(axis.cx, 4.0f);
  EXPECT_EQ(axis.cy, 4.0f);
  EXPECT_EQ(axis.width, 6.0f);
  EXPECT_EQ(axis.height, 10.0f);

  const float c = std::cos(0.6f), s = std::sin(0.6f);
  std::vector<Point> corners;
  for (float u : {-20.0f, 20.0f}) {
    for (float v : {-5.0f, 5.0f}) corners.push_back({50.0f + c * u - s * v, 30.0f + s * u + c * v, 0});
  }
  const RotatedRect got = rotated_bounds(corners, 0.6f);
  EXPECT_NEAR(got.cx, 50.0f, 1e-3f);
  EXPECT_NEAR(got.cy, 30.0f, 1e-3f);
  EXPECT_NEAR(got.width, 40.0f, 1e-3f);
  EXPECT_NEAR(got.height, 10.0f, 1e-3f);
}

}  // namespace
