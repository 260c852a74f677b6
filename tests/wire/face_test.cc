#include "wire/face.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

const wire::Token kToken = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

float float_at(const wire::Bytes& d, size_t offset) {
  const uint32_t bits = wire::get_u32(d.data() + offset);
  float f = 0;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

TEST(Face, DefaultRecordIsAnAllZeroPayloadBehindAFaceHeader) {
  const wire::Bytes d = wire::face(kToken, 0x0A0B, 0x1122334455667788ull, wire::Face{});
  ASSERT_EQ(d.size(), 284u);  // (the header's layout: control_test.cc)
  EXPECT_EQ(d[6], wire::kFace);
  EXPECT_EQ(wire::get_u64(d.data() + 24), 0x0A0Bu);
  EXPECT_EQ(wire::get_u64(d.data() + 32), 0x1122334455667788ull);  // the timestamp
  EXPECT_EQ(wire::get_u32(d.data() + 40), 236u);
  EXPECT_TRUE(std::all_of(d.begin() + 48, d.end(), [](uint8_t b) { return b == 0; }));

  wire::Face identity;
  identity.rotation = {0, 0, 0, 1};
  const wire::Bytes r = wire::face(kToken, 1, 0, identity);
  EXPECT_EQ(std::vector<uint8_t>(r.begin() + 48 + 28, r.begin() + 48 + 32),
            (std::vector<uint8_t>{0x00, 0x00, 0x80, 0x3F}));
}

TEST(Face, EveryFieldLandsAtItsOffset) {
  wire::Face f;
  f.found = 1;
  f.translation = {-1.5f, 2.25f, -30.0f};
  f.rotation = {0.1f, -0.2f, 0.3f, 0.9f};
  for (int k = 0; k < 51; ++k) f.blendshapes[k] = 0.01f * static_cast<float>(k + 1);
  const wire::Bytes d = wire::face(kToken, 7, 8, f);
  ASSERT_EQ(d.size(), 284u);
  const size_t p = 48;
  EXPECT_EQ(std::vector<uint8_t>(d.begin() + p, d.begin() + p + 4),
            (std::vector<uint8_t>{1, 0, 0, 0}));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(float_at(d, p + 4 + 4 * i), f.translation[i]) << i;
  for (int i = 0; i < 4; ++i) EXPECT_EQ(float_at(d, p + 16 + 4 * i), f.rotation[i]) << i;
  for (int k = 0; k < 51; ++k) EXPECT_EQ(float_at(d, p + 32 + 4 * k), f.blendshapes[k]) << k;
}

TEST(DecodeFace, InvertsTheEncoderBitForBitAndRefusesAnythingElse) {
  wire::Face f;
  f.found = 1;
  f.translation = {std::numeric_limits<float>::quiet_NaN(), -0.0f, 1e-40f};
  f.rotation = {std::numeric_limits<float>::infinity(), 0, 0, 1};
  f.blendshapes[50] = 0.75f;
  const wire::Bytes good = wire::face(kToken, 1, 2, f);
  const auto back = wire::decode_face(good);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->found, 1);
  EXPECT_EQ(wire::face(kToken, 1, 2, *back), good);  // NaN and -0 included

  const std::vector<std::pair<size_t, uint8_t>> edits = {
      {0, 'B'}, {5, 1}, {6, wire::kHands}, {40, 0xEB}, {44, 1}, {48, 2}, {49, 1}, {51, 1}};
  for (const auto& [at, value] : edits) {
    wire::Bytes d = good;
    d[at] = value;
    EXPECT_FALSE(wire::decode_face(d)) << at;
  }
  wire::Bytes longer = good;
  longer.push_back(0);
  EXPECT_FALSE(wire::decode_face(longer));
  EXPECT_FALSE(wire::decode_face(wire::Bytes(good.begin(), good.end() - 1)));
}

}  // namespace
