#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "detection/angles.h"
#include "detection/iou.h"
#include "detection/normalize_radians.h"
#include "detection/rect_rotation.h"
#include "detection/rotated_bounds.h"
#include "detection/transform_rect.h"

namespace {

TEST(Iou, OverlapOfCentredBoxesIgnoringRotation) {
  const RotatedRect a{5.0f, 5.0f, 10.0f, 10.0f, 0.0f};
  EXPECT_FLOAT_EQ(iou(a, a), 1.0f);
  EXPECT_FLOAT_EQ(iou(a, RotatedRect{6.0f, 5.0f, 10.0f, 10.0f, 0.0f}), 90.0f / 110.0f);
  EXPECT_FLOAT_EQ(iou(a, RotatedRect{6.0f, 5.0f, 10.0f, 10.0f, 1.2f}), 90.0f / 110.0f);
  EXPECT_FLOAT_EQ(iou(a, RotatedRect{5.0f, 7.0f, 4.0f, 2.0f, 0.0f}), 8.0f / 100.0f);
  // Touching edges, apart along y only, and no area.
  EXPECT_EQ(iou(a, RotatedRect{15.0f, 5.0f, 10.0f, 10.0f, 0.0f}), 0.0f);
  EXPECT_EQ(iou(a, RotatedRect{5.0f, 25.0f, 10.0f, 10.0f, 0.0f}), 0.0f);
  EXPECT_EQ(iou(RotatedRect{5.0f, 5.0f, 0.0f, 0.0f, 0.0f}, a), 0.0f);
}

TEST(NormalizeRadians, WrapsIntoHalfOpenRange) {
  EXPECT_EQ(normalize_radians(kPi), -kPi);
  EXPECT_EQ(normalize_radians(-kPi), -kPi);
  EXPECT_EQ(normalize_radians(0.0f), 0.0f);
  EXPECT_NEAR(normalize_radians(3.0f * kPi), -kPi, 1e-5f);
  EXPECT_NEAR(normalize_radians(-0.5f * kPi - 4.0f * kPi), -0.5f * kPi, 1e-5f);

  std::mt19937 rng(7);
  std::uniform_real_distribution<float> angle(-40.0f, 40.0f);
  for (int i = 0; i < 1000; ++i) {
    const float a = angle(rng);
    const float n = normalize_radians(a);
    EXPECT_GE(n, -kPi - 1e-5f);
    EXPECT_LT(n, kPi + 1e-5f);
    const float turns = (a - n) / kTwoPi;
    EXPECT_NEAR(turns, std::round(turns), 1e-5f) << a;
  }
}

TEST(RectRotation, TurnsTheKeypointDirectionToTheTarget) {
  const Point origin{0.0f, 0.0f, 0.0f};
  EXPECT_EQ(rect_rotation(origin, Point{1.0f, 0.0f, 0.0f}, 0.0f), 0.0f);
  EXPECT_EQ(rect_rotation(origin, Point{0.0f, -1.0f, 0.0f}, 90.0f), 0.0f);
  EXPECT_FLOAT_EQ(rect_rotation(origin, Point{0.0f, 1.0f, 0.0f}, 90.0f), -kPi);
  // Pointing right while the target is up: a quarter turn clockwise on
  // screen, which is positive with y down. Depth plays no part.
  EXPECT_FLOAT_EQ(rect_rotation(Point{3.0f, 3.0f, 9.0f}, Point{5.0f, 3.0f, -9.0f}, 90.0f),
                  kPi / 2.0f);
}

TEST(TransformRect, SquaresAndShiftsAlongItsOwnAxis) {
  const RotatedRect r = transform_rect(RotatedRect{100.0f, 100.0f, 40.0f, 20.0f, 0.0f}, 2.0f, -0.5f);
  EXPECT_FLOAT_EQ(r.cx, 100.0f);
  EXPECT_FLOAT_EQ(r.cy, 90.0f);
  EXPECT_FLOAT_EQ(r.width, 80.0f);
  EXPECT_FLOAT_EQ(r.height, 80.0f);
  EXPECT_EQ(r.rotation, 0.0f);

  // Turned a quarter clockwise, the rectangle's top faces +x on screen.
  const RotatedRect t =
      transform_rect(RotatedRect{100.0f, 100.0f, 20.0f, 30.0f, kPi / 2.0f}, 1.5f, -0.5f);
  EXPECT_FLOAT_EQ(t.cx, 115.0f);
  EXPECT_NEAR(t.cy, 100.0f, 1e-4f);
  EXPECT_FLOAT_EQ(t.width, 45.0f);
  EXPECT_EQ(t.rotation, kPi / 2.0f);
}

TEST(RotatedBounds, FitsTheSmallestRectangleOfThatRotation) {
  const std::vector<Point> points = {{1.0f, 2.0f, 0.0f}, {7.0f, -1.0f, 5.0f}, {4.0f, 9.0f, 0.0f}};
  const RotatedRect axis = rotated_bounds(points, 0.0f);
  EXPECT_FLOAT_EQ(axis.cx, 4.0f);
  EXPECT_FLOAT_EQ(axis.cy, 4.0f);
  EXPECT_FLOAT_EQ(axis.width, 6.0f);
  EXPECT_FLOAT_EQ(axis.height, 10.0f);

  // The corners of a turned rectangle give that rectangle back.
  const RotatedRect want{50.0f, 30.0f, 40.0f, 10.0f, 0.6f};
  const float c = std::cos(want.rotation);
  const float s = std::sin(want.rotation);
  std::vector<Point> corners;
  for (float u : {-20.0f, 20.0f}) {
    for (float v : {-5.0f, 5.0f}) {
      corners.push_back(Point{want.cx + c * u - s * v, want.cy + s * u + c * v, 0.0f});
    }
  }
  const RotatedRect got = rotated_bounds(corners, want.rotation);
  EXPECT_NEAR(got.cx, want.cx, 1e-3f);
  EXPECT_NEAR(got.cy, want.cy, 1e-3f);
  EXPECT_NEAR(got.width, want.width, 1e-3f);
  EXPECT_NEAR(got.height, want.height, 1e-3f);
  EXPECT_EQ(got.rotation, want.rotation);
}

}  // namespace
