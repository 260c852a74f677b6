#pragma once

#include <cstdint>
#include <optional>

#include "wire/header.h"

namespace wire {

// A validated host-to-bridge message: heartbeat, stop or options.
struct Control {
  uint16_t type = 0;
  uint64_t sequence = 0;
  uint64_t value = 0;  // option bits for options, else 0
};

// The 48-byte control datagram a host sends; the inverse of decode_control.
Bytes control(const Token& token, uint64_t sequence, uint16_t type, uint64_t value);

// Empty unless `datagram` is exactly a well-formed control message carrying
// `token`: 48 bytes, magic, version 1, a host-to-bridge type, no payload, zero
// reserved bytes, and a value the type allows. Never throws.
std::optional<Control> decode_control(const Bytes& datagram, const Token& token);

}  // namespace wire
