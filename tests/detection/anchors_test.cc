#include <gtest/gtest.h>

#include "detection/anchors.h"

namespace {

void expect_anchor(const std::vector<Anchor>& anchors, std::size_t i, float x, float y) {
  ASSERT_LT(i, anchors.size());
  EXPECT_FLOAT_EQ(anchors[i].x, x) << "anchor " << i;
  EXPECT_FLOAT_EQ(anchors[i].y, y) << "anchor " << i;
}

TEST(SsdAnchors, FaceDetectorGridOf128) {
  const std::vector<Anchor> a = ssd_anchors(128, {8, 16, 16, 16});
  ASSERT_EQ(a.size(), 896u);
  // First layer: 16 x 16 cells, two anchors each, columns inside rows.
  expect_anchor(a, 0, 0.03125f, 0.03125f);
  expect_anchor(a, 1, 0.03125f, 0.03125f);
  expect_anchor(a, 2, 0.09375f, 0.03125f);
  expect_anchor(a, 32, 0.03125f, 0.09375f);
  expect_anchor(a, 511, 0.96875f, 0.96875f);
  // Second layer: the three equal strides give 6 anchors per 8 x 8 cell.
  for (std::size_t i = 512; i < 518; ++i) expect_anchor(a, i, 0.0625f, 0.0625f);
  expect_anchor(a, 518, 0.1875f, 0.0625f);
  expect_anchor(a, 512 + 6 * 8, 0.0625f, 0.1875f);
  expect_anchor(a, 895, 0.9375f, 0.9375f);
}

TEST(SsdAnchors, PalmDetectorGridOf192) {
  const std::vector<Anchor> a = ssd_anchors(192, {8, 16, 16, 16});
  ASSERT_EQ(a.size(), 2016u);
  expect_anchor(a, 0, 0.5f / 24.0f, 0.5f / 24.0f);
  expect_anchor(a, 2 * 24, 0.5f / 24.0f, 1.5f / 24.0f);
  expect_anchor(a, 1151, 23.5f / 24.0f, 23.5f / 24.0f);
  for (std::size_t i = 1152; i < 1158; ++i) expect_anchor(a, i, 0.5f / 12.0f, 0.5f / 12.0f);
  expect_anchor(a, 1158, 1.5f / 12.0f, 0.5f / 12.0f);
  expect_anchor(a, 2015, 11.5f / 12.0f, 11.5f / 12.0f);
}

TEST(SsdAnchors, GridSideRoundsUp) {
  const std::vector<Anchor> a = ssd_anchors(100, {16});
  ASSERT_EQ(a.size(), 7u * 7u * 2u);
  expect_anchor(a, 0, 0.5f / 7.0f, 0.5f / 7.0f);
  expect_anchor(a, 97, 6.5f / 7.0f, 6.5f / 7.0f);
}

TEST(SsdAnchors, EqualStridesApartFormSeparateLayers) {
  const std::vector<Anchor> a = ssd_anchors(128, {16, 8, 16});
  ASSERT_EQ(a.size(), 8u * 8u * 2u + 16u * 16u * 2u + 8u * 8u * 2u);
  expect_anchor(a, 2, 0.1875f, 0.0625f);
  expect_anchor(a, 128, 0.03125f, 0.03125f);
  expect_anchor(a, 129, 0.03125f, 0.03125f);
  expect_anchor(a, 130, 0.09375f, 0.03125f);
  expect_anchor(a, 640, 0.0625f, 0.0625f);
  expect_anchor(a, 642, 0.1875f, 0.0625f);
}

TEST(SsdAnchors, LayersWithoutGridAddNothing) {
  EXPECT_TRUE(ssd_anchors(128, {}).empty());
  EXPECT_TRUE(ssd_anchors(0, {8, 16}).empty());
  EXPECT_TRUE(ssd_anchors(-64, {8}).empty());
  // A zero or negative stride leaves its layer empty but not its neighbours.
  EXPECT_EQ(ssd_anchors(128, {0, 16}).size(), 8u * 8u * 2u);
  EXPECT_EQ(ssd_anchors(128, {16, -8, -8}).size(), 8u * 8u * 2u);
}

}  // namespace
