#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "wire/header.h"

namespace wire {

constexpr size_t kMaxHands = 2;
constexpr int kHandLandmarkCount = 21;
constexpr uint32_t kHandSize = 272;  // bytes of one hand in the payload

// One hand as the host receives it. All zero by default.
struct Hand {
  uint8_t handedness = 0;  // 0 or 1
  float handedness_score = 0;
  float center_x = 0;
  float center_y = 0;
  float scale = 0;
  std::array<float, 3 * kHandLandmarkCount> landmarks{};  // x, y, z of each landmark
};

// The hands datagram: header with type kHands, value = timestamp
// (microseconds) and payload length 4 + 272 per hand, then
//   0 count u8 | 1 zero[3] | 4 + 272 i hand i
// each hand
//   0 handedness u8 | 1 zero[3] | 4 handedness_score | 8 center_x
//  12 center_y | 16 scale | 20 landmarks f32[63] (landmark j at 20 + 12 j)
// floats IEEE-754 little-endian. Sent also when no hand was found (count 0).
// Throws std::invalid_argument("hand count") for more than 2 hands.
Bytes hands(const Token& token, uint64_t sequence, uint64_t timestamp_us,
            const std::vector<Hand>& hands);

// The host's side: the hands of a well-formed hands datagram, in order, the
// exact inverse of hands(). Empty for anything else: wrong magic, version or
// type, a count over 2, a size or payload length other than 4 + 272 per
// counted hand, reserved or padding bytes set, a handedness other than 0 or
// 1. The token is the caller's to compare.
std::optional<std::vector<Hand>> decode_hands(const Bytes& datagram);

}  // namespace wire
