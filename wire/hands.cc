#include "wire/hands.h"

#include <stdexcept>

#include "wire/floats.h"
#include "wire/payload_reading.h"

namespace wire {

namespace {

constexpr uint32_t kCountSize = 4;  // the count byte and its padding

uint32_t payload_size(size_t count) { return kCountSize + kHandSize * static_cast<uint32_t>(count); }

}  // namespace

Bytes hands(const Token& token, uint64_t sequence, uint64_t timestamp_us,
            const std::vector<Hand>& hands) {
  if (hands.size() > kMaxHands) throw std::invalid_argument("hand count");
  Bytes out = header(token, sequence, timestamp_us, kHands, payload_size(hands.size()));
  out.push_back(static_cast<uint8_t>(hands.size()));
  out.insert(out.end(), 3, 0);
  for (const Hand& hand : hands) {
    out.push_back(hand.handedness);
    out.insert(out.end(), 3, 0);
    for (const float f : {hand.handedness_score, hand.center_x, hand.center_y, hand.scale}) {
      floats(out, &f, 1);
    }
    floats(out, hand.landmarks.data(), static_cast<uint32_t>(hand.landmarks.size()));
  }
  return out;
}

std::optional<std::vector<Hand>> decode_hands(const Bytes& datagram) {
  const uint8_t* p = payload_of(datagram, kHands);
  if (!p || datagram.size() < kHeaderSize + kCountSize || !byte_then_padding(p, kMaxHands)) {
    return std::nullopt;
  }
  const size_t count = p[0];
  if (datagram.size() != kHeaderSize + payload_size(count)) return std::nullopt;

  std::vector<Hand> hands(count);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* h = p + kCountSize + kHandSize * i;
    if (!byte_then_padding(h, 1)) return std::nullopt;
    Hand& hand = hands[i];
    hand.handedness = h[0];
    read_floats(h + 4, &hand.handedness_score, 1);
    read_floats(h + 8, &hand.center_x, 1);
    read_floats(h + 12, &hand.center_y, 1);
    read_floats(h + 16, &hand.scale, 1);
    read_floats(h + 20, hand.landmarks.data(), hand.landmarks.size());
  }
  return hands;
}

}  // namespace wire
