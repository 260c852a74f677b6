#include <gtest/gtest.h>

#include <cmath>

#include "detection/weighted_nms.h"

namespace {

// A candidate with one keypoint at its box's top-left corner unless given.
Detection candidate(float score, float xmin, float ymin, float xmax, float ymax) {
  Detection d;
  d.score = score;
  d.xmin = xmin;
  d.ymin = ymin;
  d.xmax = xmax;
  d.ymax = ymax;
  d.keypoints = {Point{xmin, ymin, 0.0f}};
  return d;
}

void expect_box(const Detection& d, float xmin, float ymin, float xmax, float ymax) {
  EXPECT_FLOAT_EQ(d.xmin, xmin);
  EXPECT_FLOAT_EQ(d.ymin, ymin);
  EXPECT_FLOAT_EQ(d.xmax, xmax);
  EXPECT_FLOAT_EQ(d.ymax, ymax);
}

TEST(WeightedNms, NothingInOrNothingAllowedGivesNothing) {
  EXPECT_TRUE(weighted_nms({}, 0.3f, 5).empty());
  EXPECT_TRUE(weighted_nms({candidate(0.9f, 0, 0, 10, 10)}, 0.3f, 0).empty());
}

TEST(WeightedNms, IdenticalBoxesMergeUnderTheHigherScore) {
  const std::vector<Detection> r =
      weighted_nms({candidate(0.6f, 0, 0, 10, 10), candidate(0.9f, 0, 0, 10, 10)}, 0.3f, 5);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_FLOAT_EQ(r[0].score, 0.9f);
  expect_box(r[0], 0, 0, 10, 10);
}

TEST(WeightedNms, OverlappingBoxesBlendByTheirScores) {
  // Overlap 90 / 110. Given lowest first, so the sort has to happen.
  std::vector<Detection> in = {candidate(0.6f, 1, 0, 11, 10), candidate(0.9f, 0, 0, 10, 10)};
  in[0].keypoints[0] = Point{5.0f, 7.0f, 3.0f};
  in[1].keypoints[0] = Point{2.0f, 4.0f, 3.0f};

  const std::vector<Detection> merged = weighted_nms(in, 0.3f, 5);
  ASSERT_EQ(merged.size(), 1u);
  EXPECT_FLOAT_EQ(merged[0].score, 0.9f);  // the head's own, not an average
  expect_box(merged[0], 0.4f, 0.0f, 10.4f, 10.0f);
  ASSERT_EQ(merged[0].keypoints.size(), 1u);
  EXPECT_FLOAT_EQ(merged[0].keypoints[0].x, (0.9f * 2.0f + 0.6f * 5.0f) / 1.5f);
  EXPECT_FLOAT_EQ(merged[0].keypoints[0].y, (0.9f * 4.0f + 0.6f * 7.0f) / 1.5f);
  EXPECT_EQ(merged[0].keypoints[0].z, 0.0f);

  const std::vector<Detection> apart = weighted_nms(in, 0.9f, 2);
  ASSERT_EQ(apart.size(), 2u);
  EXPECT_FLOAT_EQ(apart[0].score, 0.9f);
  expect_box(apart[0], 0, 0, 10, 10);
  EXPECT_FLOAT_EQ(apart[1].score, 0.6f);
  expect_box(apart[1], 1, 0, 11, 10);
}

TEST(WeightedNms, AWeakMemberPullsLittle) {
  // Overlap 80 / 120; weights 0.9 and 0.3, not equal shares.
  const std::vector<Detection> r =
      weighted_nms({candidate(0.9f, 0, 0, 10, 10), candidate(0.3f, 2, 0, 12, 10)}, 0.5f, 5);
  ASSERT_EQ(r.size(), 1u);
  expect_box(r[0], 0.5f, 0.0f, 10.5f, 10.0f);
}

TEST(WeightedNms, AnAbsorbedCandidateNeverHeadsAGroup) {
  // B joins A (overlap 60 / 140 = 0.43); C overlaps B as much but A only
  // 20 / 180. C must stand alone, not pull B into a second group.
  const std::vector<Detection> r = weighted_nms(
      {candidate(0.9f, 0, 0, 10, 10), candidate(0.8f, 4, 0, 14, 10), candidate(0.7f, 8, 0, 18, 10)},
      0.4f, 5);
  ASSERT_EQ(r.size(), 2u);
  expect_box(r[0], 0.8f * 4.0f / 1.7f, 0.0f, (0.9f * 10.0f + 0.8f * 14.0f) / 1.7f, 10.0f);
  EXPECT_FLOAT_EQ(r[1].score, 0.7f);
  expect_box(r[1], 8, 0, 18, 10);
}

TEST(WeightedNms, StopsAtMaxCountInScoreOrder) {
  const std::vector<Detection> in = {candidate(0.5f, 0, 0, 10, 10), candidate(0.8f, 20, 0, 30, 10),
                                     candidate(0.7f, 40, 0, 50, 10), candidate(0.9f, 60, 0, 70, 10)};
  const std::vector<Detection> r = weighted_nms(in, 0.3f, 2);
  ASSERT_EQ(r.size(), 2u);
  EXPECT_FLOAT_EQ(r[0].score, 0.9f);
  EXPECT_FLOAT_EQ(r[1].score, 0.8f);
  EXPECT_EQ(weighted_nms(in, 0.3f, 10).size(), 4u);
}

TEST(WeightedNms, GroupWithoutWeightKeepsItsHead) {
  // A box without area does not even overlap itself; scores of 0 add no
  // weight. Either way the head stands unchanged instead of becoming NaN.
  Detection flat = candidate(0.9f, 5, 5, 5, 15);
  flat.keypoints[0] = Point{6.0f, 7.0f, 0.0f};
  std::vector<Detection> r = weighted_nms({flat, candidate(0.4f, 0, 0, 10, 10)}, 0.3f, 5);
  ASSERT_EQ(r.size(), 2u);
  expect_box(r[0], 5, 5, 5, 15);
  EXPECT_FLOAT_EQ(r[0].keypoints[0].x, 6.0f);
  EXPECT_FLOAT_EQ(r[0].keypoints[0].y, 7.0f);
  expect_box(r[1], 0, 0, 10, 10);

  r = weighted_nms({candidate(0.0f, 0, 0, 10, 10), candidate(0.0f, 1, 0, 11, 10)}, 0.3f, 5);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_FALSE(std::isnan(r[0].xmin));
  EXPECT_FALSE(std::isnan(r[0].keypoints[0].x));
  EXPECT_EQ(r[0].xmax - r[0].xmin, 10.0f);
}

}  // namespace
