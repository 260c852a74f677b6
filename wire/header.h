#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "wire/token.h"

namespace wire {

using Bytes = std::vector<uint8_t>;

// Every datagram, in either direction, starts with this 48-byte header:
//   0 magic "ASWC" | 4 version u16 = 1 | 6 type u16 | 8 token[16]
//  24 sequence u64 | 32 value u64 | 40 payload_length u32 | 44 reserved u32 = 0
// All integers little-endian, whatever the machine's byte order.
constexpr size_t kHeaderSize = 48;
constexpr uint8_t kMagic[4] = {'A', 'S', 'W', 'C'};
constexpr uint16_t kVersion = 1;

enum MessageType : uint16_t {
  kStatus = 1,     // bridge to host, JSON payload
  kFace = 2,       // bridge to host
  kHeartbeat = 3,  // host to bridge
  kStop = 4,       // host to bridge
  kHands = 5,      // bridge to host
  kOptions = 6,    // host to bridge, value = option bits
};

// Option bits of an options message and of the command line.
constexpr uint64_t kFaceBit = 1;
constexpr uint64_t kHandsBit = 2;
constexpr uint64_t kLiteBit = 4;
constexpr uint64_t kAllOptionBits = kFaceBit | kHandsBit | kLiteBit;

// The 48 header bytes; the caller appends exactly `payload_length` bytes.
Bytes header(const Token& token, uint64_t sequence, uint64_t value, uint16_t type,
             uint32_t payload_length);

void put_u16(Bytes& out, uint16_t v);
void put_u32(Bytes& out, uint32_t v);
void put_u64(Bytes& out, uint64_t v);
uint16_t get_u16(const uint8_t* p);
uint32_t get_u32(const uint8_t* p);
uint64_t get_u64(const uint8_t* p);

}  // namespace wire
