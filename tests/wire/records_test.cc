// The face and hands datagrams: every field at its offset behind the header
// (whose own layout: control_test.cc), and decoders that invert the encoders
// bit for bit and refuse anything else.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <stdexcept>

#include "wire/face.h"
#include "wire/hands.h"

namespace {

const wire::Token kToken = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
using Bytes = std::vector<uint8_t>;

float float_at(const wire::Bytes& d, size_t offset) {
  const uint32_t bits = wire::get_u32(d.data() + offset);
  float f = 0;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

// Each edit of `d` (one byte set to a value), and `d` a byte longer or shorter: all refused.
template <typename Decode>
void expect_edits_refused(const wire::Bytes& d, Decode decode, const std::vector<std::pair<size_t, uint8_t>>& edits) {
  for (const auto& [at, value] : edits) {
    wire::Bytes edited = d;
    edited[at] = value;
    EXPECT_FALSE(decode(edited)) << at;
  }
  wire::Bytes longer = d;
  longer.push_back(0);
  EXPECT_FALSE(decode(longer));
  EXPECT_FALSE(decode(wire::Bytes(d.begin(), d.end() - 1)));
}

TEST(Face, EveryFieldLandsAtItsOffset) {
  wire::Face f;
  f.found = 1;
  f.translation = {-1.5f, 2.25f, -30.0f};
  f.rotation = {0.1f, -0.2f, 0.3f, 0.9f};
  for (int k = 0; k < 51; ++k) f.blendshapes[k] = 0.01f * static_cast<float>(k + 1);
  const wire::Bytes d = wire::face(kToken, 0x0A0B, 0x1122334455667788ull, f);
  ASSERT_EQ(d.size(), 284u);
  EXPECT_EQ(d[6], wire::kFace);
  EXPECT_EQ(wire::get_u64(d.data() + 24), 0x0A0Bu);
  EXPECT_EQ(wire::get_u64(d.data() + 32), 0x1122334455667788ull);  // the timestamp
  EXPECT_EQ(wire::get_u32(d.data() + 40), 236u);
  EXPECT_EQ(Bytes(d.begin() + 48, d.begin() + 52), (Bytes{1, 0, 0, 0}));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(float_at(d, 52 + 4 * i), f.translation[i]) << i;
  for (int i = 0; i < 4; ++i) EXPECT_EQ(float_at(d, 64 + 4 * i), f.rotation[i]) << i;
  for (int k = 0; k < 51; ++k) EXPECT_EQ(float_at(d, 80 + 4 * k), f.blendshapes[k]) << k;
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
  EXPECT_EQ(wire::face(kToken, 1, 2, *back), good);  // NaN and -0 included
  expect_edits_refused(good, wire::decode_face,
                       {{0, 'B'}, {5, 1}, {6, wire::kHands}, {40, 0xEB}, {44, 1}, {48, 2}, {49, 1}, {51, 1}});
}

// A hand whose every float differs from every other hand's.
std::vector<wire::Hand> distinct_hands(int count) {
  std::vector<wire::Hand> hands(static_cast<size_t>(count));
  for (int i = 1; i <= count; ++i) {
    wire::Hand& h = hands[static_cast<size_t>(i) - 1];
    h.handedness = 1;  // nonzero flags, so that their padding is really checked
    h.handedness_score = 0.5f + 0.125f * static_cast<float>(i);
    h.center_x = -0.25f - static_cast<float>(i);
    h.center_y = 0.375f + static_cast<float>(i);
    h.scale = 2.5f + static_cast<float>(i);
    for (int k = 0; k < 63; ++k) h.landmarks[k] = static_cast<float>(100 * i + k) + 0.5f;
  }
  return hands;
}

TEST(Hands, CountAndEveryFieldLandAtTheirOffsets) {
  for (int count = 0; count <= 2; ++count) {
    SCOPED_TRACE(count);
    const std::vector<wire::Hand> hands = distinct_hands(count);
    const wire::Bytes d = wire::hands(kToken, 9, 0x1122334455667788ull, hands);
    ASSERT_EQ(d.size(), 52u + 272u * static_cast<size_t>(count));
    EXPECT_EQ(d[6], wire::kHands);
    EXPECT_EQ(wire::get_u64(d.data() + 24), 9u);
    EXPECT_EQ(wire::get_u64(d.data() + 32), 0x1122334455667788ull);
    EXPECT_EQ(wire::get_u32(d.data() + 40), 4u + 272u * static_cast<uint32_t>(count));
    EXPECT_EQ(Bytes(d.begin() + 44, d.begin() + 52), (Bytes{0, 0, 0, 0, static_cast<uint8_t>(count), 0, 0, 0}));
    for (size_t i = 0; i < hands.size(); ++i) {
      const wire::Hand& h = hands[i];
      const size_t p = 52 + 272 * i;
      EXPECT_EQ(Bytes(d.begin() + static_cast<long>(p), d.begin() + static_cast<long>(p) + 4), (Bytes{1, 0, 0, 0}));
      EXPECT_EQ(float_at(d, p + 4), h.handedness_score);
      EXPECT_EQ(float_at(d, p + 8), h.center_x);
      EXPECT_EQ(float_at(d, p + 12), h.center_y);
      EXPECT_EQ(float_at(d, p + 16), h.scale);
      for (int k = 0; k < 63; ++k) EXPECT_EQ(float_at(d, p + 20 + 4 * static_cast<size_t>(k)), h.landmarks[k]) << k;
    }
  }
  EXPECT_THROW(wire::hands(kToken, 1, 2, distinct_hands(3)), std::invalid_argument);
}

TEST(DecodeHands, InvertsTheEncoderBitForBitAndRefusesAnythingElse) {
  std::vector<wire::Hand> hands = distinct_hands(2);
  hands[0].center_x = std::numeric_limits<float>::quiet_NaN();
  hands[1].landmarks[62] = -0.0f;
  for (size_t count = 0; count <= 2; ++count) {
    const std::vector<wire::Hand> sent(hands.begin(), hands.begin() + static_cast<long>(count));
    const wire::Bytes d = wire::hands(kToken, 1, 2, sent);
    const auto back = wire::decode_hands(d);
    ASSERT_TRUE(back) << count;
    EXPECT_EQ(wire::hands(kToken, 1, 2, *back), d) << count;  // NaN and -0 included
  }
  const size_t second = 48 + 4 + 272;
  expect_edits_refused(wire::hands(kToken, 1, 2, hands), wire::decode_hands,
                       {{0, 'B'}, {5, 1}, {6, wire::kFace}, {40, 0x25}, {44, 1},  // header
                        {48, 1}, {48, 3}, {49, 1}, {51, 1},                       // count and its padding
                        {second, 2}, {second + 1, 1}, {second + 3, 1}});          // second hand's flag
  // A header alone, consistent with its zero payload length, holds no count.
  EXPECT_FALSE(wire::decode_hands(wire::header(kToken, 1, 2, wire::kHands, 0)));
}

}  // namespace
