#include "wire/token.h"

#include <gtest/gtest.h>

namespace {

TEST(TokenFromHex, ReadsPairsHighNibbleFirstInEitherCaseAndRefusesAnythingElse) {
  const auto token = wire::token_from_hex("00112233445566778899aAbBcCdDeEfF");
  ASSERT_TRUE(token);
  EXPECT_EQ(*token, (wire::Token{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd,
                                 0xee, 0xff}));
  const std::string good = "0123456789abcdef0123456789abcdef";
  for (const std::string& bad : {good.substr(1), good + "0", std::string(), "0x" + good.substr(2)})
    EXPECT_FALSE(wire::token_from_hex(bad)) << bad;
  for (const char c : {'g', ' ', '-', '+', 'x', '\0'}) {
    for (const size_t at : {size_t{0}, size_t{17}, size_t{31}}) {
      std::string text = good;
      text[at] = c;
      EXPECT_FALSE(wire::token_from_hex(text)) << "char " << int(c) << " at " << at;
    }
  }
}

}  // namespace
