#include "tools/bridge-host/datagram_json.h"

#include <array>

#include "tools/bridge-host/json_number.h"
#include "wire/blendshape_names.h"
#include "wire/face.h"
#include "wire/hands.h"
#include "wire/json_quote.h"

namespace {

const char* type_name(uint16_t type) {
  switch (type) {
    case wire::kStatus: return "status";
    case wire::kFace: return "face";
    case wire::kHeartbeat: return "heartbeat";
    case wire::kStop: return "stop";
    case wire::kHands: return "hands";
    case wire::kOptions: return "options";
    default: return "unknown";
  }
}

template <size_t N>
std::string number_list(const std::array<float, N>& values) {
  std::string out = "[";
  for (size_t i = 0; i < N; ++i) {
    if (i) out += ',';
    out += json_number(values[i]);
  }
  return out + "]";
}

// The face's members, or a malformed mark for anything but a well-formed
// face datagram.
std::string face_members(const wire::Bytes& d) {
  const auto face = wire::decode_face(d);
  if (!face) return ",\"malformed\":true";
  std::string out = ",\"found\":" + std::string(face->found ? "true" : "false");
  out += ",\"translation\":" + number_list(face->translation);
  out += ",\"rotation\":" + number_list(face->rotation);
  out += ",\"blendshapes\":{";
  for (int k = 0; k < wire::kFaceBlendshapeCount; ++k) {
    if (k) out += ',';
    out += wire::json_quote(wire::kBlendshapeNames[k]);
    out += ':';
    out += json_number(face->blendshapes[k]);
  }
  return out + "}";
}

// The hands as an array of objects, or a malformed mark for anything but a
// well-formed hands datagram.
std::string hands_members(const wire::Bytes& d) {
  const auto hands = wire::decode_hands(d);
  if (!hands) return ",\"malformed\":true";
  std::string out = ",\"hands\":[";
  for (size_t i = 0; i < hands->size(); ++i) {
    const wire::Hand& h = (*hands)[i];
    if (i) out += ',';
    out += "{\"handedness\":" + std::to_string(h.handedness);
    out += ",\"handedness_score\":" + json_number(h.handedness_score);
    out += ",\"center\":" + number_list(std::array<float, 2>{h.center_x, h.center_y});
    out += ",\"scale\":" + json_number(h.scale);
    out += ",\"landmarks\":[";
    for (int j = 0; j < wire::kHandLandmarkCount; ++j) {
      if (j) out += ',';
      out += number_list(std::array<float, 3>{h.landmarks[3 * j], h.landmarks[3 * j + 1],
                                              h.landmarks[3 * j + 2]});
    }
    out += "]}";
  }
  return out + "]";
}

}  // namespace

std::string datagram_json(const wire::Bytes& d) {
  if (d.size() < wire::kHeaderSize || d[0] != 'A' || d[1] != 'S' || d[2] != 'W' || d[3] != 'C') {
    return "{\"malformed\":true,\"bytes\":" + std::to_string(d.size()) + "}";
  }
  const uint16_t type = wire::get_u16(d.data() + 6);
  const uint32_t length = wire::get_u32(d.data() + 40);
  std::string out = "{\"type\":" + wire::json_quote(type_name(type));
  out += ",\"sequence\":" + std::to_string(wire::get_u64(d.data() + 24));
  out += ",\"value\":" + std::to_string(wire::get_u64(d.data() + 32));
  out += ",\"payload_length\":" + std::to_string(length);
  if (length != d.size() - wire::kHeaderSize) {
    out += ",\"malformed\":true}";
    return out;
  }
  if (type == wire::kStatus) {
    // The bridge writes its status as a JSON object; embed it as it is, and
    // anything that is not even shaped like one as a quoted string.
    const std::string doc(d.begin() + wire::kHeaderSize, d.end());
    const bool object = doc.size() >= 2 && doc.front() == '{' && doc.back() == '}';
    out += ",\"status\":" + (object ? doc : wire::json_quote(doc));
  } else if (type == wire::kFace) {
    out += face_members(d);
  } else if (type == wire::kHands) {
    out += hands_members(d);
  }
  out += "}";
  return out;
}
