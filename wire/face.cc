#include "wire/face.h"

#include "wire/floats.h"
#include "wire/payload_reading.h"

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

std::optional<Face> decode_face(const Bytes& datagram) {
  const uint8_t* p = payload_of(datagram, kFace);
  if (!p || datagram.size() != kHeaderSize + kFacePayloadSize || !byte_then_padding(p, 1)) {
    return std::nullopt;
  }

  Face face;
  face.found = p[0];
  read_floats(p + 4, face.translation.data(), face.translation.size());
  read_floats(p + 16, face.rotation.data(), face.rotation.size());
  read_floats(p + 32, face.blendshapes.data(), face.blendshapes.size());
  return face;
}

}  // namespace wire
