#include "wire/status.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "wire/json_quote.h"

namespace {

const wire::Token kToken{};

TEST(JsonQuote, EscapesQuoteBackslashAndControlBytesOnly) {
  EXPECT_EQ(wire::json_quote(""), "\"\"");
  EXPECT_EQ(wire::json_quote("\\\""), "\"\\\\\\\"\"");
  EXPECT_EQ(wire::json_quote(std::string("\x01", 1)), "\"\\u0001\"");
  EXPECT_EQ(wire::json_quote("\x1f"), "\"\\u001f\"");
  EXPECT_EQ(wire::json_quote("a\nb\tc"), "\"a\\u000ab\\u0009c\"");
  EXPECT_EQ(wire::json_quote(std::string("\0", 1)), "\"\\u0000\"");
  EXPECT_EQ(wire::json_quote(" /\x7f"), "\" /\x7f\"");
  EXPECT_EQ(wire::json_quote("caf\xc3\xa9 \xff"), "\"caf\xc3\xa9 \xff\"");
}

TEST(Status, CarriesTheDocumentUpToTheBound) {
  const wire::Bytes empty = wire::status(kToken, 3, "");
  EXPECT_EQ(empty.size(), 48u);
  EXPECT_EQ(empty[6], wire::kStatus);
  EXPECT_EQ(empty[24], 3);

  const wire::Bytes full = wire::status(kToken, 1, std::string(4048, 'x'));
  ASSERT_EQ(full.size(), 4096u);
  EXPECT_EQ(full[40], 0xD0);
  EXPECT_EQ(full[41], 0x0F);
  EXPECT_EQ(full[42], 0);
  for (int i = 32; i < 40; ++i) EXPECT_EQ(full[i], 0) << i;
  EXPECT_EQ(full[48], 'x');

  try {
    wire::status(kToken, 1, std::string(4049, 'x'));
    FAIL() << "a 4049-byte document must be refused";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "status bounds");
  }
}

}  // namespace
