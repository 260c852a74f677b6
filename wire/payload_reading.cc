#include "wire/payload_reading.h"

#include <algorithm>
#include <cstring>

namespace wire {

const uint8_t* payload_of(const Bytes& datagram, uint16_t type) {
  if (datagram.size() < kHeaderSize) return nullptr;
  const uint8_t* d = datagram.data();
  if (std::memcmp(d, kMagic, sizeof kMagic) != 0) return nullptr;
  if (get_u16(d + 4) != kVersion || get_u16(d + 6) != type) return nullptr;
  if (get_u32(d + 40) != datagram.size() - kHeaderSize || get_u32(d + 44) != 0) return nullptr;
  return d + kHeaderSize;
}

bool byte_then_padding(const uint8_t* p, uint8_t max) {
  return p[0] <= max && std::all_of(p + 1, p + 4, [](uint8_t b) { return b == 0; });
}

void read_floats(const uint8_t* p, float* values, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const uint32_t bits = get_u32(p + 4 * i);
    std::memcpy(&values[i], &bits, sizeof bits);
  }
}

}  // namespace wire
