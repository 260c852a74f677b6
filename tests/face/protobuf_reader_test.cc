#include <gtest/gtest.h>

#include <vector>

#include "face/protobuf_reader.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(ReadVarint, DecodesLeastSignificantGroupFirst) {
  const Bytes data = {0x00, 0x7f, 0xac, 0x02, 0xff, 0xff, 0xff, 0xff, 0xff,
                      0xff, 0xff, 0xff, 0xff, 0x01};
  WireCursor c{data};
  std::uint64_t v = 1;
  ASSERT_TRUE(read_varint(c, v));
  EXPECT_EQ(v, 0u);
  ASSERT_TRUE(read_varint(c, v));
  EXPECT_EQ(v, 127u);
  ASSERT_TRUE(read_varint(c, v));
  EXPECT_EQ(v, 300u);
  ASSERT_TRUE(read_varint(c, v));  // ten bytes: the largest value
  EXPECT_EQ(v, ~std::uint64_t{0});
  EXPECT_TRUE(at_end(c));
}

TEST(ReadVarint, FailsWhenItDoesNotEnd) {
  const Bytes eleven(11, 0x80);
  WireCursor c{eleven};
  std::uint64_t v = 0;
  EXPECT_FALSE(read_varint(c, v));
  EXPECT_LE(c.pos, 10u);

  const Bytes cut = {0x80, 0x80};
  WireCursor d{cut};
  EXPECT_FALSE(read_varint(d, v));
  EXPECT_LE(d.pos, cut.size());

  WireCursor empty{};
  EXPECT_FALSE(read_varint(empty, v));
}

TEST(ReadFixed32, LittleEndianAndBounded) {
  const Bytes data = {0x78, 0x56, 0x34, 0x12, 0xaa, 0xbb, 0xcc};
  WireCursor c{data};
  std::uint32_t v = 0;
  ASSERT_TRUE(read_fixed32(c, v));
  EXPECT_EQ(v, 0x12345678u);
  EXPECT_FALSE(read_fixed32(c, v));
  const Bytes one = {0x00, 0x00, 0x80, 0x3f};
  EXPECT_EQ(float_from_bytes(one.data()), 1.0f);
}

TEST(ReadLengthDelimited, ViewsThePayloadAndRejectsLengthsPastTheEnd) {
  const Bytes data = {0x03, 'a', 'b', 'c', 0x02, 'd'};
  WireCursor c{data};
  std::span<const std::uint8_t> payload;
  ASSERT_TRUE(read_length_delimited(c, payload));
  ASSERT_EQ(payload.size(), 3u);
  EXPECT_EQ(payload.data(), data.data() + 1);
  EXPECT_FALSE(read_length_delimited(c, payload));

  // Lengths near 2^64 must not wrap around when added to the position.
  const Bytes huge = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01, 'x'};
  WireCursor h{huge};
  EXPECT_FALSE(read_length_delimited(h, payload));
  const Bytes big = {0xf6, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01, 'x'};
  WireCursor b{big};
  EXPECT_FALSE(read_length_delimited(b, payload));
}

TEST(SkipField, SkipsEachWireTypeAndRefusesGroups) {
  // varint, fixed64, delimited, fixed32, then a trailing byte.
  const Bytes data = {0x96, 0x01, 1, 2, 3, 4, 5, 6, 7, 8, 0x01, 0x00, 1, 2, 3, 4, 0x42};
  WireCursor c{data};
  ASSERT_TRUE(skip_field(c, 0x08));
  EXPECT_EQ(c.pos, 2u);
  ASSERT_TRUE(skip_field(c, 0x09));
  EXPECT_EQ(c.pos, 10u);
  ASSERT_TRUE(skip_field(c, 0x0A));
  EXPECT_EQ(c.pos, 12u);
  ASSERT_TRUE(skip_field(c, 0x0D));
  EXPECT_EQ(c.pos, 16u);
  for (std::uint64_t type : {3u, 4u, 6u, 7u}) {
    WireCursor g{data};
    EXPECT_FALSE(skip_field(g, 0x08 | type)) << type;
  }
  // Fixed values that do not fit.
  WireCursor tail{data};
  tail.pos = 12;
  EXPECT_FALSE(skip_field(tail, 0x09));
  tail.pos = 14;
  EXPECT_FALSE(skip_field(tail, 0x0D));
}

}  // namespace
