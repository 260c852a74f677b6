#include <gtest/gtest.h>

#include <cmath>

#include "detection/weighted_nms.h"

namespace {

// A candidate with one keypoint at its box's top-left corner.
Detection box(float score, float xmin, float xmax, float ymin = 0.0f, float ymax = 10.0f) {
  return Detection{score, xmin, ymin, xmax, ymax, {Point{xmin, ymin, 0.0f}}};
}

void expect_x(const Detection& d, float xmin, float xmax) {
  EXPECT_FLOAT_EQ(d.xmin, xmin);
  EXPECT_FLOAT_EQ(d.xmax, xmax);
}

TEST(WeightedNms, OverlappingCandidatesBlendByTheirOwnScores) {
  EXPECT_TRUE(weighted_nms({}, 0.3f, 5).empty());
  EXPECT_TRUE(weighted_nms({box(0.9f, 0, 10)}, 0.3f, 0).empty());

  // Overlap 90 / 110; given lowest first, so the sort has to happen.
  std::vector<Detection> in = {box(0.6f, 1, 11), box(0.9f, 0, 10)};
  in[0].keypoints[0].y = 3.0f;
  const std::vector<Detection> merged = weighted_nms(in, 0.3f, 5);
  ASSERT_EQ(merged.size(), 1u);
  EXPECT_EQ(merged[0].score, 0.9f);  // the head's own, not an average
  expect_x(merged[0], 0.4f, 10.4f);
  ASSERT_EQ(merged[0].keypoints.size(), 1u);
  EXPECT_FLOAT_EQ(merged[0].keypoints[0].x, 0.4f);
  EXPECT_FLOAT_EQ(merged[0].keypoints[0].y, 0.6f * 3.0f / 1.5f);

  const std::vector<Detection> apart = weighted_nms(in, 0.9f, 2);
  ASSERT_EQ(apart.size(), 2u);
  expect_x(apart[0], 0, 10);
  expect_x(apart[1], 1, 11);

  // Weights 0.9 and 0.3, not equal shares (overlap 80 / 120).
  expect_x(weighted_nms({box(0.9f, 0, 10), box(0.3f, 2, 12)}, 0.5f, 5)[0], 0.5f, 10.5f);
}

TEST(WeightedNms, AnAbsorbedCandidateNeverHeadsAGroup) {
  // B joins A (overlap 0.43); C overlaps B as much but A by 0.11 only, so C
  // stands alone instead of pulling B into a second group.
  const std::vector<Detection> r =
      weighted_nms({box(0.9f, 0, 10), box(0.8f, 4, 14), box(0.7f, 8, 18)}, 0.4f, 5);
  ASSERT_EQ(r.size(), 2u);
  expect_x(r[0], 0.8f * 4.0f / 1.7f, (0.9f * 10.0f + 0.8f * 14.0f) / 1.7f);
  expect_x(r[1], 8, 18);
}

TEST(WeightedNms, StopsAtMaxCountInScoreOrder) {
  const std::vector<Detection> in = {box(0.5f, 0, 10), box(0.8f, 20, 30), box(0.7f, 40, 50),
                                     box(0.9f, 60, 70)};
  const std::vector<Detection> r = weighted_nms(in, 0.3f, 2);
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].score, 0.9f);
  EXPECT_EQ(r[1].score, 0.8f);
  EXPECT_EQ(weighted_nms(in, 0.3f, 10).size(), 4u);
}

TEST(WeightedNms, GroupWithoutWeightKeepsItsHead) {
  // A box without area does not overlap even itself, and zero scores weigh
  // nothing: the head stands unchanged instead of turning into NaN.
  std::vector<Detection> r = weighted_nms({box(0.9f, 5, 5, 5, 15), box(0.4f, 0, 10)}, 0.3f, 5);
  ASSERT_EQ(r.size(), 2u);
  expect_x(r[0], 5, 5);
  EXPECT_EQ(r[0].keypoints[0].y, 5.0f);
  expect_x(r[1], 0, 10);

  r = weighted_nms({box(0.0f, 0, 10), box(0.0f, 1, 11)}, 0.3f, 5);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].xmax - r[0].xmin, 10.0f);
  EXPECT_FALSE(std::isnan(r[0].keypoints[0].x));
}

}  // namespace
