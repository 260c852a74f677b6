#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "detection/decode_detections.h"

namespace {

// Raw detector outputs for a handful of anchors, with every logit far below
// any threshold until a test sets it.
struct RawOutputs {
  std::vector<Anchor> anchors;
  int keypoints = 2;
  int input_size = 128;
  FloatArray boxes;
  FloatArray scores;

  RawOutputs(std::vector<Anchor> a, int num_keypoints) : anchors(std::move(a)),
                                                         keypoints(num_keypoints) {
    boxes.assign(anchors.size() * record(), 0.0f);
    scores.assign(anchors.size(), -50.0f);
  }
  std::size_t record() const { return (static_cast<std::size_t>(keypoints) + 2) * 2; }
  void set(std::size_t anchor, float logit, std::initializer_list<float> values) {
    scores[anchor] = logit;
    std::size_t at = anchor * record();
    for (float v : values) boxes[at++] = v;
  }
  std::vector<Detection> decode(float threshold, const RotatedRect& roi) const {
    return decode_detections(boxes, scores, anchors, input_size, keypoints, threshold, roi);
  }
};

const RotatedRect kUnitRoi{64.0f, 64.0f, 128.0f, 128.0f, 0.0f};  // the input itself

TEST(DecodeDetections, LetterboxedBoxMapsIntoTheImage) {
  RawOutputs raw({{0.5f, 0.5f}}, 0);
  raw.set(0, 5.0f, {0.0f, 0.0f, 64.0f, 64.0f});
  const RotatedRect letterbox{320.0f, 240.0f, 640.0f, 640.0f, 0.0f};
  const std::vector<Detection> d = raw.decode(0.5f, letterbox);
  ASSERT_EQ(d.size(), 1u);
  EXPECT_FLOAT_EQ(d[0].xmin, 160.0f);
  EXPECT_FLOAT_EQ(d[0].ymin, 80.0f);
  EXPECT_FLOAT_EQ(d[0].xmax, 480.0f);
  EXPECT_FLOAT_EQ(d[0].ymax, 400.0f);
  EXPECT_FLOAT_EQ(d[0].score, 1.0f / (std::exp(-5.0f) + 1.0f));
}

TEST(DecodeDetections, EachAnchorReadsItsOwnRecordAndOffset) {
  // Three anchors with two keypoints: records of 8 floats. A wrong record
  // stride or anchor index shows as a wrong box or keypoint.
  RawOutputs raw({{0.25f, 0.5f}, {0.5f, 0.25f}, {0.75f, 0.75f}}, 2);
  raw.set(0, 3.0f, {8.0f, -8.0f, 16.0f, 32.0f, 4.0f, 12.0f, -4.0f, 0.0f});
  raw.set(2, 3.0f, {-16.0f, 16.0f, 32.0f, 16.0f, 0.0f, 8.0f, 16.0f, -32.0f});
  // A non-square region, off centre, so that width and height cannot swap.
  const RotatedRect roi{100.0f, 50.0f, 256.0f, 64.0f, 0.7f};
  const std::vector<Detection> d = raw.decode(0.9f, roi);
  ASSERT_EQ(d.size(), 2u);

  // Anchor 0: centre (0.25 + 1/16, 0.5 - 1/16), half size (1/16, 1/8).
  EXPECT_FLOAT_EQ(d[0].xmin, (0.3125f - 0.0625f - 0.5f) * 256.0f + 100.0f);
  EXPECT_FLOAT_EQ(d[0].xmax, (0.3125f + 0.0625f - 0.5f) * 256.0f + 100.0f);
  EXPECT_FLOAT_EQ(d[0].ymin, (0.4375f - 0.125f - 0.5f) * 64.0f + 50.0f);
  EXPECT_FLOAT_EQ(d[0].ymax, (0.4375f + 0.125f - 0.5f) * 64.0f + 50.0f);
  ASSERT_EQ(d[0].keypoints.size(), 2u);
  EXPECT_FLOAT_EQ(d[0].keypoints[0].x, (4.0f / 128.0f + 0.25f - 0.5f) * 256.0f + 100.0f);
  EXPECT_FLOAT_EQ(d[0].keypoints[0].y, (12.0f / 128.0f + 0.5f - 0.5f) * 64.0f + 50.0f);
  EXPECT_FLOAT_EQ(d[0].keypoints[1].x, (-4.0f / 128.0f + 0.25f - 0.5f) * 256.0f + 100.0f);
  EXPECT_FLOAT_EQ(d[0].keypoints[1].y, 50.0f);
  EXPECT_EQ(d[0].keypoints[1].z, 0.0f);

  // Anchor 2 follows anchor 0 in anchor order; anchor 1 stayed below.
  EXPECT_FLOAT_EQ(d[1].xmin, (0.625f - 0.125f - 0.5f) * 256.0f + 100.0f);
  EXPECT_FLOAT_EQ(d[1].ymax, (0.875f + 0.0625f - 0.5f) * 64.0f + 50.0f);
  EXPECT_FLOAT_EQ(d[1].keypoints[1].x, (16.0f / 128.0f + 0.75f - 0.5f) * 256.0f + 100.0f);
  EXPECT_FLOAT_EQ(d[1].keypoints[1].y, (-32.0f / 128.0f + 0.75f - 0.5f) * 64.0f + 50.0f);
}

TEST(DecodeDetections, ScoreIsASinglePrecisionLogisticWithInclusiveThreshold) {
  RawOutputs raw({{0.5f, 0.5f}, {0.5f, 0.5f}, {0.5f, 0.5f}, {0.5f, 0.5f}}, 0);
  raw.set(0, 1000.0f, {0.0f, 0.0f, 10.0f, 10.0f});
  raw.set(1, -1000.0f, {0.0f, 0.0f, 10.0f, 10.0f});
  raw.set(2, 0.0f, {0.0f, 0.0f, 10.0f, 10.0f});
  raw.set(3, -1e-6f, {0.0f, 0.0f, 10.0f, 10.0f});

  const std::vector<Detection> all = raw.decode(0.0f, kUnitRoi);
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[0].score, 1.0f);
  EXPECT_EQ(all[1].score, 0.0f);
  EXPECT_EQ(all[2].score, 0.5f);

  const std::vector<Detection> half = raw.decode(0.5f, kUnitRoi);
  ASSERT_EQ(half.size(), 2u);  // the logit just below 0 falls under 0.5
  EXPECT_EQ(half[0].score, 1.0f);
  EXPECT_EQ(half[1].score, 0.5f);
}

TEST(DecodeDetections, NotANumberScoreNeverPasses) {
  RawOutputs raw({{0.5f, 0.5f}, {0.5f, 0.5f}}, 0);
  raw.set(0, std::numeric_limits<float>::quiet_NaN(), {0.0f, 0.0f, 10.0f, 10.0f});
  raw.set(1, 4.0f, {0.0f, 0.0f, 10.0f, 10.0f});
  const std::vector<Detection> d = raw.decode(0.0f, kUnitRoi);
  ASSERT_EQ(d.size(), 1u);
  EXPECT_FALSE(std::isnan(d[0].score));
}

TEST(DecodeDetections, ArraysTooShortGiveNothingAndExtraValuesAreIgnored) {
  RawOutputs raw({{0.5f, 0.5f}, {0.25f, 0.25f}}, 7);
  raw.set(0, 5.0f, {0.0f, 0.0f, 10.0f, 10.0f});
  raw.set(1, 5.0f, {0.0f, 0.0f, 10.0f, 10.0f});
  ASSERT_EQ(raw.decode(0.5f, kUnitRoi).size(), 2u);

  RawOutputs short_boxes = raw;
  short_boxes.boxes.pop_back();
  EXPECT_TRUE(short_boxes.decode(0.5f, kUnitRoi).empty());

  RawOutputs short_scores = raw;
  short_scores.scores.pop_back();
  EXPECT_TRUE(short_scores.decode(0.5f, kUnitRoi).empty());

  RawOutputs longer = raw;
  longer.boxes.insert(longer.boxes.end(), 18, 1.0f);
  longer.scores.push_back(9.0f);
  EXPECT_EQ(longer.decode(0.5f, kUnitRoi).size(), 2u);

  RawOutputs no_anchors({}, 7);
  no_anchors.scores.assign(4, 9.0f);
  no_anchors.boxes.assign(72, 0.0f);
  EXPECT_TRUE(no_anchors.decode(0.0f, kUnitRoi).empty());

  EXPECT_TRUE(decode_detections(raw.boxes, raw.scores, raw.anchors, 128, -1, 0.0f, kUnitRoi)
                  .empty());
}

}  // namespace
