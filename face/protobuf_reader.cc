#include "face/protobuf_reader.h"

#include <bit>
#include <cstring>

static_assert(std::endian::native == std::endian::little,
              "floats are copied from the little-endian wire format as they are");

bool at_end(const WireCursor& cursor) { return cursor.pos >= cursor.data.size(); }

bool read_varint(WireCursor& cursor, std::uint64_t& value) {
  std::uint64_t result = 0;
  for (int i = 0; i < 10; ++i) {
    if (at_end(cursor)) return false;
    const std::uint8_t byte = cursor.data[cursor.pos++];
    // The tenth byte's bits above bit 63 fall off the shift, as intended.
    result |= static_cast<std::uint64_t>(byte & 0x7f) << (7 * i);
    if ((byte & 0x80) == 0) {
      value = result;
      return true;
    }
  }
  return false;
}

bool read_fixed32(WireCursor& cursor, std::uint32_t& value) {
  if (cursor.data.size() - cursor.pos < 4) return false;
  const std::uint8_t* b = cursor.data.data() + cursor.pos;
  value = static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
          static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
  cursor.pos += 4;
  return true;
}

bool read_length_delimited(WireCursor& cursor, std::span<const std::uint8_t>& value) {
  std::uint64_t length = 0;
  if (!read_varint(cursor, length)) return false;
  // Compared against what is left, so a huge length cannot overflow the sum.
  if (length > cursor.data.size() - cursor.pos) return false;
  value = cursor.data.subspan(cursor.pos, static_cast<std::size_t>(length));
  cursor.pos += static_cast<std::size_t>(length);
  return true;
}

bool skip_field(WireCursor& cursor, std::uint64_t key) {
  switch (key & 7) {
    case kWireVarint: {
      std::uint64_t ignored = 0;
      return read_varint(cursor, ignored);
    }
    case kWireFixed64:
      if (cursor.data.size() - cursor.pos < 8) return false;
      cursor.pos += 8;
      return true;
    case kWireLengthDelimited: {
      std::span<const std::uint8_t> ignored;
      return read_length_delimited(cursor, ignored);
    }
    case kWireFixed32:
      if (cursor.data.size() - cursor.pos < 4) return false;
      cursor.pos += 4;
      return true;
    default:
      return false;
  }
}

float float_from_bytes(const std::uint8_t* bytes) {
  float value = 0.0f;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}
