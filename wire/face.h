#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "wire/header.h"

namespace wire {

constexpr uint32_t kFacePayloadSize = 236;
constexpr int kFaceBlendshapeCount = 51;

// One frame's face as the host receives it. All zero by default; a frame
// without a face carries found 0 and the tracker's reset pose.
struct Face {
  uint8_t found = 0;                      // 0 or 1
  std::array<float, 3> translation{};     // x, y, z
  std::array<float, 4> rotation{};        // quaternion x, y, z, w
  std::array<float, kFaceBlendshapeCount> blendshapes{};
};

// The 284-byte face datagram: header with type kFace and value = timestamp
// (microseconds), then
//   0 found u8 | 1 zero[3] | 4 translation f32[3] | 16 rotation f32[4]
//  32 blendshapes f32[51] (blendshape k at 32 + 4k)
// floats IEEE-754 little-endian.
Bytes face(const Token& token, uint64_t sequence, uint64_t timestamp_us, const Face& face);

// The host's side: the record of a well-formed face datagram, the exact
// inverse of face(). Empty for anything else: wrong magic, version, type or
// size, a payload length other than 236, reserved or padding bytes set, a
// found byte other than 0 or 1. The token is the caller's to compare.
std::optional<Face> decode_face(const Bytes& datagram);

}  // namespace wire
