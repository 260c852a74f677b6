#include <gtest/gtest.h>

#include <vector>

#include "face/protobuf_reader.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(WireReader, VarintsEndWithinTenBytesAndTheData) {
  const Bytes data = {0x7f, 0xac, 0x02, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01};
  WireCursor c{data};
  std::uint64_t v = 0;
  ASSERT_TRUE(read_varint(c, v));
  EXPECT_EQ(v, 127u);
  ASSERT_TRUE(read_varint(c, v));
  EXPECT_EQ(v, 300u);
  ASSERT_TRUE(read_varint(c, v));
  EXPECT_EQ(v, ~std::uint64_t{0});
  EXPECT_TRUE(at_end(c));
  Bytes eleven(10, 0x80);
  eleven.push_back(0x01);
  for (const Bytes& bad : {eleven, Bytes(11, 0x80), Bytes{0x80, 0x80}, Bytes{}}) {
    WireCursor b{bad};
    EXPECT_FALSE(read_varint(b, v)) << bad.size();
    EXPECT_LE(b.pos, bad.size());
  }
}

TEST(WireReader, LengthsAndFixedValuesMustFit) {
  const Bytes data = {0x03, 'a', 'b', 'c', 0x02, 'd'};
  WireCursor c{data};
  std::span<const std::uint8_t> payload;
  ASSERT_TRUE(read_length_delimited(c, payload));
  EXPECT_EQ(payload.data(), data.data() + 1);
  EXPECT_EQ(payload.size(), 3u);
  EXPECT_FALSE(read_length_delimited(c, payload));
  // Lengths near 2^64 must not wrap around when added to the position.
  for (std::uint8_t low : {0xff, 0xf6}) {
    const Bytes huge = {low, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01, 'x'};
    WireCursor h{huge};
    EXPECT_FALSE(read_length_delimited(h, payload));
  }
  const Bytes three = {0x78, 0x56, 0x34};
  WireCursor f{three};
  std::uint32_t v = 0;
  EXPECT_FALSE(read_fixed32(f, v));
}

TEST(WireReader, SkipsEachWireTypeAndRefusesGroups) {
  // varint, fixed64, delimited, fixed32, then one spare byte.
  const Bytes data = {0x96, 0x01, 1, 2, 3, 4, 5, 6, 7, 8, 0x01, 0x00, 1, 2, 3, 4, 0x42};
  WireCursor c{data};
  const std::pair<std::uint64_t, std::size_t> steps[] = {{0x08, 2}, {0x09, 10}, {0x0A, 12}, {0x0D, 16}};
  for (const auto& [key, end] : steps) {
    ASSERT_TRUE(skip_field(c, key));
    EXPECT_EQ(c.pos, end);
  }
  EXPECT_FALSE(skip_field(c, 0x0D));  // four bytes wanted, one left
  for (std::uint64_t type : {3u, 4u, 6u, 7u}) {
    WireCursor g{data};
    EXPECT_FALSE(skip_field(g, 0x08 | type)) << type;
  }
}

}  // namespace
