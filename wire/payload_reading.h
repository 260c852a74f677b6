#pragma once

#include <cstddef>
#include <cstdint>

#include "wire/header.h"

namespace wire {

// What the decoders of the bridge's own datagrams check and read alike.

// The first payload byte of `datagram` when its header is well formed for
// `type`: magic, version 1, that type, a payload length equal to the bytes
// that follow the header, reserved zero. Null for anything else; the payload
// may still be empty, so its size is the caller's to check.
const uint8_t* payload_of(const Bytes& datagram, uint16_t type);

// A one-byte flag or count of at most `max` followed by three zero bytes, as
// the face's found byte, the hands count and each hand's handedness are sent.
bool byte_then_padding(const uint8_t* p, uint8_t max);

// Reads `count` little-endian floats starting at `p`: the inverse of floats().
void read_floats(const uint8_t* p, float* values, size_t count);

}  // namespace wire
