#include "wire/hands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace {

const wire::Token kToken = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

float float_at(const wire::Bytes& d, size_t offset) {
  const uint32_t bits = wire::get_u32(d.data() + offset);
  float f = 0;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

// A hand whose every float differs from every other hand's.
wire::Hand distinct_hand(int i) {
  wire::Hand h;
  h.handedness = static_cast<uint8_t>(i % 2);
  h.handedness_score = 0.5f + 0.125f * static_cast<float>(i);
  h.center_x = -0.25f - static_cast<float>(i);
  h.center_y = 0.375f + static_cast<float>(i);
  h.scale = 2.5f + static_cast<float>(i);
  for (int k = 0; k < 63; ++k) h.landmarks[k] = static_cast<float>(100 * i + k) + 0.5f;
  return h;
}

std::vector<wire::Hand> distinct_hands(int count) {
  std::vector<wire::Hand> hands;
  for (int i = 0; i < count; ++i) hands.push_back(distinct_hand(i + 1));
  return hands;
}

TEST(Hands, SizeAndLengthFollowTheCount) {
  struct Case {
    int count;
    size_t size;
    std::vector<uint8_t> length_bytes;
  };
  const std::vector<Case> cases = {
      {0, 52, {0x04, 0, 0, 0}}, {1, 324, {0x14, 0x01, 0, 0}}, {2, 596, {0x24, 0x02, 0, 0}}};
  for (const Case& c : cases) {
    const wire::Bytes d = wire::hands(kToken, 9, 0x1122334455667788ull, distinct_hands(c.count));
    ASSERT_EQ(d.size(), c.size) << c.count;  // (the header's layout: control_test.cc)
    EXPECT_EQ(d[6], wire::kHands);
    EXPECT_EQ(wire::get_u64(d.data() + 24), 9u);
    EXPECT_EQ(wire::get_u64(d.data() + 32), 0x1122334455667788ull);
    EXPECT_EQ(std::vector<uint8_t>(d.begin() + 40, d.begin() + 44), c.length_bytes) << c.count;
    EXPECT_EQ(std::vector<uint8_t>(d.begin() + 44, d.begin() + 52),
              (std::vector<uint8_t>{0, 0, 0, 0, static_cast<uint8_t>(c.count), 0, 0, 0}))
        << c.count;
  }
}

TEST(Hands, EveryFieldLandsAtItsOffset) {
  std::vector<wire::Hand> hands = distinct_hands(2);
  hands[0].handedness = 1;
  hands[1].handedness = 1;  // nonzero flags in both, so their padding is really checked
  const wire::Bytes d = wire::hands(kToken, 1, 2, hands);
  ASSERT_EQ(d.size(), 596u);
  for (size_t i = 0; i < 2; ++i) {
    const wire::Hand& h = hands[i];
    const size_t p = 48 + 4 + 272 * i;
    EXPECT_EQ(std::vector<uint8_t>(d.begin() + p, d.begin() + p + 4),
              (std::vector<uint8_t>{1, 0, 0, 0}))
        << i;
    EXPECT_EQ(float_at(d, p + 4), h.handedness_score) << i;
    EXPECT_EQ(float_at(d, p + 8), h.center_x) << i;
    EXPECT_EQ(float_at(d, p + 12), h.center_y) << i;
    EXPECT_EQ(float_at(d, p + 16), h.scale) << i;
    for (int k = 0; k < 63; ++k) EXPECT_EQ(float_at(d, p + 20 + 4 * k), h.landmarks[k]) << i << k;
  }
}

TEST(Hands, MoreThanTwoHandsAreRefused) {
  try {
    wire::hands(kToken, 1, 2, distinct_hands(3));
    FAIL() << "three hands must be refused";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "hand count");
  }
}

TEST(DecodeHands, InvertsTheEncoderBitForBitAndRefusesAnythingElse) {
  std::vector<wire::Hand> hands = distinct_hands(2);
  hands[0].center_x = std::numeric_limits<float>::quiet_NaN();
  hands[1].landmarks[62] = -0.0f;
  for (int count = 0; count <= 2; ++count) {
    const std::vector<wire::Hand> sent(hands.begin(), hands.begin() + count);
    const wire::Bytes d = wire::hands(kToken, 1, 2, sent);
    const auto back = wire::decode_hands(d);
    ASSERT_TRUE(back) << count;
    ASSERT_EQ(back->size(), sent.size());
    EXPECT_EQ(wire::hands(kToken, 1, 2, *back), d) << count;  // NaN and -0 included
  }

  const wire::Bytes good = wire::hands(kToken, 1, 2, hands);
  const size_t second = 48 + 4 + 272;
  const std::vector<std::pair<size_t, uint8_t>> edits = {
      {0, 'B'}, {5, 1}, {6, wire::kFace}, {40, 0x25}, {44, 1},  // header
      {48, 1}, {48, 3}, {49, 1}, {51, 1},                       // count and its padding
      {second, 2}, {second + 1, 1}, {second + 3, 1}};           // second hand's flag
  for (const auto& [at, value] : edits) {
    wire::Bytes d = good;
    d[at] = value;
    EXPECT_FALSE(wire::decode_hands(d)) << at;
  }
  wire::Bytes longer = good;
  longer.push_back(0);
  EXPECT_FALSE(wire::decode_hands(longer));
  EXPECT_FALSE(wire::decode_hands(wire::Bytes(good.begin(), good.end() - 1)));
  // A header alone, consistent with its zero payload length, holds no count.
  EXPECT_FALSE(wire::decode_hands(wire::header(kToken, 1, 2, wire::kHands, 0)));
}

}  // namespace
