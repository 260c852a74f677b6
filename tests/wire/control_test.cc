#include "wire/control.h"

#include <gtest/gtest.h>

namespace {

const wire::Token kToken = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

TEST(Control, RoundTripsWithLittleEndianLayoutAndChecksToken) {
  const wire::Bytes d = wire::control(kToken, 0x0102030405060708ull, wire::kOptions, 5);
  ASSERT_EQ(d.size(), 48u);
  EXPECT_EQ(std::string(d.begin(), d.begin() + 8), std::string("ASWC\x01\x00\x06\x00", 8));
  EXPECT_TRUE(std::equal(kToken.begin(), kToken.end(), d.begin() + 8));
  EXPECT_EQ(d[24], 0x08);  // every integer little-endian
  EXPECT_EQ(d[31], 0x01);
  EXPECT_EQ(wire::get_u64(d.data() + 32), 5u);
  const auto c = wire::decode_control(d, kToken);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->type, wire::kOptions);
  EXPECT_EQ(c->sequence, 0x0102030405060708ull);
  EXPECT_EQ(c->value, 5u);
  wire::Token other = kToken;
  other[15] ^= 1;
  EXPECT_FALSE(wire::decode_control(d, other));
  EXPECT_TRUE(wire::decode_control(wire::control(kToken, 0, wire::kStop, 0), kToken));  // sequence 0 decodes
  const wire::Bytes h = wire::header(kToken, 0, 0, wire::kStatus, 300);
  EXPECT_EQ(h[40], 0x2C);
  EXPECT_EQ(h[41], 0x01);
}

TEST(Control, RefusesEveryMalformedVariant) {
  const wire::Bytes good = wire::control(kToken, 9, wire::kHeartbeat, 0);
  const std::vector<std::pair<size_t, uint8_t>> edits = {
      {0, 'B'}, {4, 2}, {5, 1}, {7, 1}, {40, 1}, {44, 1}, {47, 1}};  // magic, version, type, length, reserved
  for (const auto& [at, value] : edits) {
    wire::Bytes d = good;
    d[at] = value;
    EXPECT_FALSE(wire::decode_control(d, kToken)) << at;
  }
  wire::Bytes longer = good, shorter = good;
  longer.push_back(0);
  shorter.pop_back();
  EXPECT_FALSE(wire::decode_control(longer, kToken));
  EXPECT_FALSE(wire::decode_control(shorter, kToken));
  EXPECT_FALSE(wire::decode_control({}, kToken));
  for (const uint16_t type : {0, 1, 2, 5, 7, 0x0103}) {
    EXPECT_FALSE(wire::decode_control(wire::control(kToken, 1, type, 0), kToken)) << type;
  }
  EXPECT_FALSE(wire::decode_control(wire::control(kToken, 1, wire::kOptions, 8), kToken));
  EXPECT_FALSE(wire::decode_control(wire::control(kToken, 1, wire::kOptions, 1ull << 32), kToken));
  EXPECT_FALSE(wire::decode_control(wire::control(kToken, 1, wire::kHeartbeat, 1), kToken));
  EXPECT_FALSE(wire::decode_control(wire::control(kToken, 1, wire::kStop, 1), kToken));
}

}  // namespace
