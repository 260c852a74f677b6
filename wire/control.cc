#include "wire/control.h"

#include <algorithm>
#include <cstring>

namespace wire {

Bytes control(const Token& token, uint64_t sequence, uint16_t type, uint64_t value) {
  return header(token, sequence, value, type, 0);
}

std::optional<Control> decode_control(const Bytes& datagram, const Token& token) {
  if (datagram.size() != kHeaderSize) return std::nullopt;
  const uint8_t* d = datagram.data();
  if (std::memcmp(d, kMagic, sizeof kMagic) != 0) return std::nullopt;
  if (d[4] != kVersion || d[5] != 0) return std::nullopt;
  if (d[7] != 0 || (d[6] != kHeartbeat && d[6] != kStop && d[6] != kOptions)) return std::nullopt;
  if (!std::equal(token.begin(), token.end(), d + 8)) return std::nullopt;
  if (std::any_of(d + 40, d + 48, [](uint8_t b) { return b != 0; })) return std::nullopt;

  Control c;
  c.type = d[6];
  c.sequence = get_u64(d + 24);
  c.value = get_u64(d + 32);
  const uint64_t limit = c.type == kOptions ? kAllOptionBits : 0;
  if (c.value > limit) return std::nullopt;
  return c;
}

}  // namespace wire
