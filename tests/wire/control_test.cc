#include "wire/control.h"

#include <gtest/gtest.h>

namespace {

const wire::Token kToken = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

TEST(Control, RoundTripsEveryHostTypeAndChecksToken) {
  const wire::Bytes d = wire::control(kToken, 77, wire::kOptions, 5);
  ASSERT_EQ(d.size(), 48u);
  const auto c = wire::decode_control(d, kToken);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->type, wire::kOptions);
  EXPECT_EQ(c->sequence, 77u);
  EXPECT_EQ(c->value, 5u);

  wire::Token other = kToken;
  other[15] ^= 1;
  EXPECT_FALSE(wire::decode_control(d, other));

  for (const uint16_t type : {wire::kHeartbeat, wire::kStop}) {
    const auto h = wire::decode_control(wire::control(kToken, 0, type, 0), kToken);
    ASSERT_TRUE(h);  // sequence 0 decodes; the loop ignores it
    EXPECT_EQ(h->type, type);
    EXPECT_EQ(h->sequence, 0u);
  }
}

TEST(Control, HeaderLayoutIsLittleEndianWithMagicAndVersion) {
  const wire::Bytes d = wire::control(kToken, 0x0102030405060708ull, wire::kOptions, 7);
  EXPECT_EQ(std::string(d.begin(), d.begin() + 4), "ASWC");
  EXPECT_EQ(d[4], 1);
  EXPECT_EQ(d[5], 0);
  EXPECT_EQ(d[6], 6);
  EXPECT_EQ(d[7], 0);
  EXPECT_TRUE(std::equal(kToken.begin(), kToken.end(), d.begin() + 8));
  EXPECT_EQ(d[24], 0x08);
  EXPECT_EQ(d[31], 0x01);
  EXPECT_EQ(d[32], 7);
  EXPECT_EQ(wire::header(kToken, 0, 0, wire::kStatus, 300)[40], 0x2C);
  EXPECT_EQ(wire::header(kToken, 0, 0, wire::kStatus, 300)[41], 0x01);
}

TEST(Control, RefusesEveryMalformedVariant) {
  const wire::Bytes good = wire::control(kToken, 9, wire::kOptions, 3);
  auto refused = [&](auto edit) {
    wire::Bytes d = good;
    edit(d);
    return !wire::decode_control(d, kToken);
  };
  EXPECT_TRUE(refused([](wire::Bytes& d) { d.push_back(0); }));                // 49 bytes
  EXPECT_TRUE(refused([](wire::Bytes& d) { d.pop_back(); }));                  // 47 bytes
  EXPECT_TRUE(refused([](wire::Bytes& d) { d[0] = 'B'; }));                    // magic
  EXPECT_TRUE(refused([](wire::Bytes& d) { d[4] = 2; }));                      // version
  EXPECT_TRUE(refused([](wire::Bytes& d) { d[5] = 1; }));                      // version 0x0101
  EXPECT_TRUE(refused([](wire::Bytes& d) { d[7] = 1; }));                      // type 0x0106
  EXPECT_TRUE(refused([](wire::Bytes& d) { d[40] = 1; }));                     // payload length
  for (int i = 44; i < 48; ++i) {
    EXPECT_TRUE(refused([i](wire::Bytes& d) { d[i] = 1; }));                   // reserved
  }
  for (const uint16_t type : {0, 1, 2, 5, 7, 0x0103}) {
    EXPECT_FALSE(wire::decode_control(wire::control(kToken, 1, type, 0), kToken)) << type;
  }
  EXPECT_FALSE(wire::decode_control(wire::control(kToken, 1, wire::kOptions, 8), kToken));
  EXPECT_FALSE(wire::decode_control(wire::control(kToken, 1, wire::kOptions, 1ull << 32), kToken));
  EXPECT_FALSE(wire::decode_control(wire::control(kToken, 1, wire::kHeartbeat, 1), kToken));
  EXPECT_FALSE(wire::decode_control(wire::control(kToken, 1, wire::kStop, 1), kToken));
  EXPECT_FALSE(wire::decode_control({}, kToken));
}

}  // namespace
