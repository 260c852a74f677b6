#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// A reader of the Protocol Buffers wire format over bytes it does not own
// (they must outlive the cursor). Every read checks the bounds first and on
// failure returns false without reading past the end; the cursor's position
// then points anywhere up to the end, and the caller stops reading this
// message.
struct WireCursor {
  std::span<const std::uint8_t> data;
  std::size_t pos = 0;
};

enum WireType : std::uint32_t {
  kWireVarint = 0,
  kWireFixed64 = 1,
  kWireLengthDelimited = 2,
  kWireFixed32 = 5,
};

// True when every byte has been read.
bool at_end(const WireCursor& cursor);

// A base-128 varint of at most 10 bytes, least significant group first.
// Fails when it does not end within the data or within 10 bytes.
bool read_varint(WireCursor& cursor, std::uint64_t& value);

// Four little-endian bytes.
bool read_fixed32(WireCursor& cursor, std::uint32_t& value);

// A varint length and that many bytes, returned as a view into the data.
bool read_length_delimited(WireCursor& cursor, std::span<const std::uint8_t>& value);

// Skips the value of a field with this key by its wire type. Fails on the
// group and reserved wire types (3, 4, 6, 7) and on a value that runs past
// the end.
bool skip_field(WireCursor& cursor, std::uint64_t key);

// A little-endian IEEE float from four bytes.
float float_from_bytes(const std::uint8_t* bytes);
