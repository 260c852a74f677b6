#include "wire/header.h"

#include <iterator>

namespace wire {

void put_u16(Bytes& out, uint16_t v) {
  for (int i = 0; i < 2; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void put_u32(Bytes& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void put_u64(Bytes& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint16_t get_u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

uint32_t get_u32(const uint8_t* p) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

uint64_t get_u64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

Bytes header(const Token& token, uint64_t sequence, uint64_t value, uint16_t type,
             uint32_t payload_length) {
  Bytes out;
  out.reserve(kHeaderSize + payload_length);
  out.insert(out.end(), std::begin(kMagic), std::end(kMagic));
  put_u16(out, kVersion);
  put_u16(out, type);
  out.insert(out.end(), token.begin(), token.end());
  put_u64(out, sequence);
  put_u64(out, value);
  put_u32(out, payload_length);
  put_u32(out, 0);
  return out;
}

}  // namespace wire
