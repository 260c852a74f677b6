#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "detection/decode_detections.h"

namespace {

// Outputs of an input-128 detector with every logit far below threshold
// until a test sets a record.
struct RawOutputs {
  std::vector<Anchor> anchors;
  int keypoints;
  FloatArray boxes = FloatArray(anchors.size() * record(), 0.0f);
  FloatArray scores = FloatArray(anchors.size(), -50.0f);

  std::size_t record() const { return (static_cast<std::size_t>(keypoints) + 2) * 2; }
  void set(std::size_t i, float logit, std::initializer_list<float> values) {
    scores[i] = logit;
    std::copy(values.begin(), values.end(), boxes.begin() + static_cast<long>(i * record()));
  }
  std::vector<Detection> decode(float threshold, const RotatedRect& roi) const {
    return decode_detections(boxes, scores, anchors, 128, keypoints, threshold, roi);
  }
};

const RotatedRect kInput{64.0f, 64.0f, 128.0f, 128.0f, 0.0f};

TEST(DecodeDetections, LetterboxedBoxMapsIntoTheImage) {
  RawOutputs raw{{{0.5f, 0.5f}}, 0};
  raw.set(0, 5.0f, {0.0f, 0.0f, 64.0f, 64.0f});
  const auto d = raw.decode(0.5f, RotatedRect{320.0f, 240.0f, 640.0f, 640.0f, 0.0f});
  ASSERT_EQ(d.size(), 1u);
  EXPECT_EQ(d[0].xmin, 160.0f);
  EXPECT_EQ(d[0].ymin, 80.0f);
  EXPECT_EQ(d[0].xmax, 480.0f);
  EXPECT_EQ(d[0].ymax, 400.0f);
}

TEST(DecodeDetections, EachAnchorReadsItsOwnRecord) {
  // Records of 8 floats; a non-square region off centre and turned (the turn
  // is ignored), so stride, axis or anchor mix-ups all show.
  RawOutputs raw{{{0.25f, 0.5f}, {0.5f, 0.25f}, {0.75f, 0.75f}}, 2};
  raw.set(0, 3.0f, {8.0f, -8.0f, 16.0f, 32.0f, 4.0f, 12.0f, -4.0f, 0.0f});
  raw.set(2, 3.0f, {-16.0f, 16.0f, 32.0f, 16.0f, 0.0f, 8.0f, 16.0f, -32.0f});
  const auto d = raw.decode(0.9f, RotatedRect{100.0f, 50.0f, 256.0f, 64.0f, 0.7f});
  ASSERT_EQ(d.size(), 2u);
  EXPECT_FLOAT_EQ(d[0].xmin, (0.3125f - 0.0625f - 0.5f) * 256.0f + 100.0f);
  EXPECT_FLOAT_EQ(d[0].ymax, (0.4375f + 0.125f - 0.5f) * 64.0f + 50.0f);
  ASSERT_EQ(d[0].keypoints.size(), 2u);
  EXPECT_FLOAT_EQ(d[0].keypoints[0].x, (4.0f / 128.0f + 0.25f - 0.5f) * 256.0f + 100.0f);
  EXPECT_FLOAT_EQ(d[0].keypoints[0].y, (12.0f / 128.0f) * 64.0f + 50.0f);
  EXPECT_FLOAT_EQ(d[1].xmin, 100.0f);  // anchor 2: centre 0.625, half width 0.125
  EXPECT_FLOAT_EQ(d[1].ymin, (0.875f - 0.0625f - 0.5f) * 64.0f + 50.0f);
  EXPECT_FLOAT_EQ(d[1].keypoints[1].x, (16.0f / 128.0f + 0.25f) * 256.0f + 100.0f);
  EXPECT_FLOAT_EQ(d[1].keypoints[1].y, (-32.0f / 128.0f + 0.25f) * 64.0f + 50.0f);
  EXPECT_EQ(d[1].keypoints[1].z, 0.0f);
}

TEST(DecodeDetections, SinglePrecisionLogisticAndInclusiveThreshold) {
  RawOutputs raw{std::vector<Anchor>(5, Anchor{0.5f, 0.5f}), 0};
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float logits[] = {1000.0f, -1000.0f, 0.0f, -1e-6f, nan};
  for (std::size_t i = 0; i < 5; ++i) raw.set(i, logits[i], {0.0f, 0.0f, 10.0f, 10.0f});
  // A NaN score would break the sort in suppression: it never passes.
  const auto all = raw.decode(0.0f, kInput);
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[0].score, 1.0f);
  EXPECT_EQ(all[1].score, 0.0f);
  EXPECT_EQ(all[2].score, 0.5f);
  EXPECT_EQ(raw.decode(0.5f, kInput).size(), 2u);
}

TEST(DecodeDetections, ShortArraysGiveNothingExtraValuesAreIgnored) {
  RawOutputs raw{{{0.5f, 0.5f}, {0.25f, 0.25f}}, 7};
  raw.set(0, 5.0f, {});
  raw.set(1, 5.0f, {});
  RawOutputs short_boxes = raw, short_scores = raw, longer = raw;
  short_boxes.boxes.pop_back();
  short_scores.scores.pop_back();
  longer.boxes.resize(longer.boxes.size() + 18, 1.0f);
  longer.scores.push_back(9.0f);
  EXPECT_TRUE(short_boxes.decode(0.5f, kInput).empty());
  EXPECT_TRUE(short_scores.decode(0.5f, kInput).empty());
  EXPECT_EQ(longer.decode(0.5f, kInput).size(), 2u);
  EXPECT_TRUE(decode_detections(raw.boxes, raw.scores, {}, 128, 7, 0.0f, kInput).empty());
  EXPECT_TRUE(decode_detections(raw.boxes, raw.scores, raw.anchors, 128, -1, 0.0f, kInput).empty());
}

}  // namespace
