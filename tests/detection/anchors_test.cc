#include <gtest/gtest.h>

#include "detection/anchors.h"

namespace {

void expect_at(const std::vector<Anchor>& a, std::size_t i, float x, float y) {
  ASSERT_LT(i, a.size());
  EXPECT_FLOAT_EQ(a[i].x, x) << i;
  EXPECT_FLOAT_EQ(a[i].y, y) << i;
}

TEST(SsdAnchors, DetectorGridsInOutputOrder) {
  const std::vector<Anchor> face = ssd_anchors(128, {8, 16, 16, 16});
  ASSERT_EQ(face.size(), 896u);
  // Two per 16 x 16 cell, columns inside rows, then six per 8 x 8 cell.
  expect_at(face, 1, 0.03125f, 0.03125f);
  expect_at(face, 2, 0.09375f, 0.03125f);
  expect_at(face, 32, 0.03125f, 0.09375f);
  for (std::size_t i = 512; i < 518; ++i) expect_at(face, i, 0.0625f, 0.0625f);
  expect_at(face, 518, 0.1875f, 0.0625f);
  expect_at(face, 895, 0.9375f, 0.9375f);

  const std::vector<Anchor> palm = ssd_anchors(192, {8, 16, 16, 16});
  ASSERT_EQ(palm.size(), 2016u);
  expect_at(palm, 1151, 23.5f / 24.0f, 23.5f / 24.0f);
  for (std::size_t i = 1152; i < 1158; ++i) expect_at(palm, i, 0.5f / 12.0f, 0.5f / 12.0f);
  expect_at(palm, 2015, 11.5f / 12.0f, 11.5f / 12.0f);
}

TEST(SsdAnchors, LayerShapes) {
  EXPECT_EQ(ssd_anchors(100, {16}).size(), 7u * 7u * 2u);  // ceil(6.25)
  // Equal strides apart are separate layers of two anchors per cell.
  const std::vector<Anchor> a = ssd_anchors(128, {16, 8, 16});
  ASSERT_EQ(a.size(), 128u + 512u + 128u);
  expect_at(a, 130, 0.09375f, 0.03125f);
  expect_at(a, 642, 0.1875f, 0.0625f);
  // Nothing from an empty list, an empty input or a stride below 1.
  EXPECT_TRUE(ssd_anchors(128, {}).empty());
  EXPECT_TRUE(ssd_anchors(0, {8}).empty());
  EXPECT_EQ(ssd_anchors(128, {0, 16, -8}).size(), 128u);
}

}  // namespace
