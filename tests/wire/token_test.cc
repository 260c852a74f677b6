#include "wire/token.h"

#include <gtest/gtest.h>

namespace {

TEST(TokenFromHex, ReadsPairsHighNibbleFirstInEitherCase) {
  const auto lower = wire::token_from_hex("00112233445566778899aabbccddeeff");
  const auto upper = wire::token_from_hex("00112233445566778899AABBCCDDEEFF");
  const auto mixed = wire::token_from_hex("00112233445566778899aAbBcCdDeEfF");
  ASSERT_TRUE(lower && upper && mixed);
  EXPECT_EQ(*lower, *upper);
  EXPECT_EQ(*lower, *mixed);
  EXPECT_EQ((*lower)[0], 0x00);
  EXPECT_EQ((*lower)[1], 0x11);
  EXPECT_EQ((*lower)[15], 0xff);
}

TEST(TokenFromHex, RefusesWrongLengthAndForeignCharacters) {
  const std::string good = "0123456789abcdef0123456789abcdef";
  EXPECT_FALSE(wire::token_from_hex(good.substr(1)));
  EXPECT_FALSE(wire::token_from_hex(good + "0"));
  EXPECT_FALSE(wire::token_from_hex(""));
  EXPECT_FALSE(wire::token_from_hex("0x" + good.substr(2)));
  for (const char bad : {'g', ' ', '-', '+', 'x', '\0'}) {
    for (const size_t at : {size_t{0}, size_t{17}, size_t{31}}) {
      std::string text = good;
      text[at] = bad;
      EXPECT_FALSE(wire::token_from_hex(text)) << "char " << int(bad) << " at " << at;
    }
  }
}

}  // namespace
