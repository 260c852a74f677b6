#include "wire/face.h"

#include <algorithm>
#include <cstring>

#include "wire/floats.h"

namespace wire {

Bytes face(const Token& token, uint64_t sequence, uint64_t timestamp_us, const Face& face) {
  Bytes out = header(token, sequence, timestamp_us, kFace, kFacePayloadSize);
  out.push_back(face.found);
  out.insert(out.end(), 3, 0);
  floats(out, face.translation.data(), static_cast<uint32_t>(face.translation.size()));
  floats(out, face.rotation.data(), static_cast<uint32_t>(face.rotation.size()));
  floats(out, face.blendshapes.data(), static_cast<uint32_t>(face.blendshapes.size()));
  return out;
}

namespace {

// Reads `count` little-endian floats starting at `p`.
void read_floats(const uint8_t* p, float* values, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const uint32_t bits = get_u32(p + 4 * i);
    std::memcpy(&values[i], &bits, sizeof bits);
  }
}

}  // namespace

std::optional<Face> decode_face(const Bytes& datagram) {
  if (datagram.size() != kHeaderSize + kFacePayloadSize) return std::nullopt;
  const uint8_t* d = datagram.data();
  if (std::memcmp(d, kMagic, sizeof kMagic) != 0) return std::nullopt;
  if (get_u16(d + 4) != kVersion || get_u16(d + 6) != kFace) return std::nullopt;
  if (get_u32(d + 40) != kFacePayloadSize || get_u32(d + 44) != 0) return std::nullopt;
  const uint8_t* p = d + kHeaderSize;
  if (p[0] > 1 || std::any_of(p + 1, p + 4, [](uint8_t b) { return b != 0; })) return std::nullopt;

  Face face;
  face.found = p[0];
  read_floats(p + 4, face.translation.data(), face.translation.size());
  read_floats(p + 16, face.rotation.data(), face.rotation.size());
  read_floats(p + 32, face.blendshapes.data(), face.blendshapes.size());
  return face;
}

}  // namespace wire
