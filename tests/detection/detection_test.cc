#include <gtest/gtest.h>

#include <array>
#include <limits>

#include "detection/anchors.h"
#include "detection/angles.h"
#include "detection/regions.h"
#include "detection/weighted_nms.h"

namespace {

TEST(SsdAnchors, DetectorGridsInOutputOrder) {
  const std::vector<Anchor> face = ssd_anchors(128, {8, 16, 16, 16});
  const std::vector<Anchor> palm = ssd_anchors(192, {8, 16, 16, 16});
  ASSERT_EQ(face.size(), 896u);
  ASSERT_EQ(palm.size(), 2016u);
  // Two per 8-stride cell, columns inside rows, then six per 16-stride cell.
  const struct { const std::vector<Anchor>& a; std::size_t i; float nx, ny, d; } cases[] = {
      {face, 1, 1, 1, 32},     {face, 2, 3, 1, 32},     {face, 32, 1, 3, 32},
      {face, 512, 1, 1, 16},   {face, 517, 1, 1, 16},   {face, 518, 3, 1, 16},
      {face, 895, 15, 15, 16}, {palm, 1151, 47, 47, 48}, {palm, 1152, 1, 1, 24},
      {palm, 1157, 1, 1, 24},  {palm, 2015, 23, 23, 24}};
  for (const auto& c : cases) {
    EXPECT_FLOAT_EQ(c.a[c.i].x, c.nx / c.d) << c.i;
    EXPECT_FLOAT_EQ(c.a[c.i].y, c.ny / c.d) << c.i;
  }
  EXPECT_EQ(ssd_anchors(100, {16}).size(), 7u * 7u * 2u);       // grid side rounds up
  EXPECT_EQ(ssd_anchors(128, {0, 16, -8}).size(), 8u * 8u * 2u);  // strides below 1 add nothing
}

std::array<float, 4> edges(const Detection& d) { return {d.xmin, d.ymin, d.xmax, d.ymax}; }

TEST(DecodeDetections, MapsBoxesAndKeypointsThroughTheRegion) {
  const std::vector<Anchor> anchors = {{0.5f, 0.5f}, {0.25f, 0.75f}};
  const std::vector<float> boxes = {0, 0, 64, 64, 0, 0, 8, -16, 32, 64, 16, -16};
  const std::vector<float> scores = {5, 5};
  // A 640 x 480 frame letterboxed into the square detector input.
  auto d = decode_detections(boxes, scores, anchors, 128, 1, 0.5f, {320, 240, 640, 640, 0});
  EXPECT_EQ(edges(d.at(0)), (std::array<float, 4>{160, 80, 480, 400}));
  // Off centre, not square, turned (the turn is ignored): the second anchor
  // reads its own record, x and y apart.
  d = decode_detections(boxes, scores, anchors, 128, 1, 0.5f, {100, 50, 256, 64, 0.7f});
  EXPECT_EQ(edges(d.at(1)), (std::array<float, 4>{20, 42, 84, 74}));
  EXPECT_EQ(d[1].keypoints.at(0).x, 68.0f);
  EXPECT_EQ(d[1].keypoints.at(0).y, 58.0f);
}

TEST(DecodeDetections, LogisticThresholdAndArraySizes) {
  const std::vector<Anchor> anchors(5, Anchor{0.5f, 0.5f});
  const std::vector<float> boxes(5 * 4, 10.0f);
  // Clamped to exact 1 and 0; a NaN score would break suppression's sort.
  const std::vector<float> scores = {1000, -1000, 0, -1e-6f, std::numeric_limits<float>::quiet_NaN()};
  const RotatedRect roi{64, 64, 128, 128, 0};
  const auto all = decode_detections(boxes, scores, anchors, 128, 0, 0.0f, roi);
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ((std::array{all[0].score, all[1].score, all[2].score}), (std::array{1.0f, 0.0f, 0.5f}));
  EXPECT_EQ(decode_detections(boxes, scores, anchors, 128, 0, 0.5f, roi).size(), 2u);

  const std::vector<float> short_boxes(boxes.begin(), boxes.end() - 1), longer(30, 10.0f);
  const std::vector<float> short_scores(scores.begin(), scores.end() - 1);
  EXPECT_TRUE(decode_detections(short_boxes, scores, anchors, 128, 0, 0, roi).empty());
  EXPECT_TRUE(decode_detections(boxes, short_scores, anchors, 128, 0, 0, roi).empty());
  EXPECT_TRUE(decode_detections(longer, scores, anchors, 128, -1, 0, roi).empty());
  EXPECT_EQ(decode_detections(longer, scores, anchors, 128, 0, 0, roi).size(), 4u);
}

// A candidate with one keypoint at its box's top-left corner.
Detection box(float score, float xmin, float xmax, float ymin = 0, float ymax = 10) {
  return Detection{score, xmin, ymin, xmax, ymax, {Point{xmin, ymin, 0}}};
}

TEST(WeightedNms, BlendsGroupsByScore) {
  // Overlap 90 / 110 = 0.818, given lowest first.
  std::vector<Detection> in = {box(0.6f, 1, 11), box(0.9f, 0, 10)};
  in[0].keypoints[0].y = 3;
  auto r = weighted_nms(in, 0.3f, 5);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].score, 0.9f);
  EXPECT_FLOAT_EQ(r[0].xmin, 0.4f);
  EXPECT_FLOAT_EQ(r[0].xmax, 10.4f);
  EXPECT_FLOAT_EQ(r[0].keypoints.at(0).y, 1.2f);
  EXPECT_EQ(edges(weighted_nms(in, 0.9f, 5).at(1)), edges(in[0]));
  EXPECT_EQ(weighted_nms(in, 0.9f, 1).size(), 1u);
  EXPECT_TRUE(weighted_nms(in, 0.3f, 0).empty());
  // An overlap of exactly the threshold merges: 50 / 100 against 0.5.
  EXPECT_EQ(weighted_nms({box(0.9f, 0, 10), box(0.8f, 0, 10, 0, 5)}, 0.5f, 5).size(), 1u);

  // B joins A (overlap 0.43); C overlaps B as much but A only by 0.11, so C
  // stands alone rather than pulling B into a second group.
  r = weighted_nms({box(0.9f, 0, 10), box(0.8f, 4, 14), box(0.7f, 8, 18)}, 0.4f, 5);
  ASSERT_EQ(r.size(), 2u);
  EXPECT_FLOAT_EQ(r[0].xmax, (0.9f * 10 + 0.8f * 14) / 1.7f);
  EXPECT_EQ(r[1].xmin, 8.0f);

  // Groups without weight (a head without area, zero scores) keep the head.
  r = weighted_nms({box(0.9f, 5, 5, 5, 15), box(0.4f, 0, 10)}, 0.3f, 5);
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].xmin, 5.0f);
  r = weighted_nms({box(0, 0, 10), box(0, 1, 11)}, 0.3f, 5);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].xmax - r[0].xmin, 10.0f);
}

TEST(RotatedRectOps, Examples) {
  const RotatedRect a{5, 5, 10, 10, 0};
  EXPECT_FLOAT_EQ(iou(a, {6, 5, 10, 10, 1.2f}), 90.0f / 110.0f);  // rotation ignored
  EXPECT_FLOAT_EQ(iou(a, {5, 7, 4, 2, 0}), 0.08f);
  EXPECT_EQ(iou(a, {15, 5, 10, 10, 0}), 0.0f);  // touching
  EXPECT_EQ(iou(a, {25, 5, 10, 10, 0}), 0.0f);  // apart side by side
  EXPECT_EQ(iou(a, {5, 25, 10, 10, 0}), 0.0f);  // apart one above the other

  EXPECT_EQ(normalize_radians(kPi), -kPi);
  EXPECT_NEAR(normalize_radians(3 * kPi), -kPi, 1e-5f);
  EXPECT_NEAR(normalize_radians(-4.5f * kPi), -0.5f * kPi, 1e-5f);

  EXPECT_EQ(rect_rotation({0, 0, 0}, {1, 0, 0}, 0), 0.0f);
  EXPECT_EQ(rect_rotation({0, 0, 0}, {0, -1, 0}, 90), 0.0f);  // straight up
  EXPECT_FLOAT_EQ(rect_rotation({0, 0, 0}, {0, 1, 0}, 90), -kPi);
  EXPECT_FLOAT_EQ(rect_rotation({3, 3, 9}, {5, 3, -9}, 90), kPi / 2);
}

}  // namespace
