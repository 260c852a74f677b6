#pragma once

// Writes face geometry metadata in the Protocol Buffers wire format, so tests
// can build valid, damaged and hostile files field by field.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace geometry_file {

using Bytes = std::vector<std::uint8_t>;

inline void append(Bytes& to, const Bytes& from) { to.insert(to.end(), from.begin(), from.end()); }

inline Bytes varint(std::uint64_t v) {
  Bytes out;
  while (v >= 0x80) {
    out.push_back(static_cast<std::uint8_t>(v | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<std::uint8_t>(v));
  return out;
}

inline Bytes float_bytes(float f) {
  Bytes out(4);
  std::memcpy(out.data(), &f, 4);
  return out;
}

// key, length, payload
inline Bytes delimited(std::uint64_t key, const Bytes& payload) {
  Bytes out = varint(key);
  append(out, varint(payload.size()));
  append(out, payload);
  return out;
}

// A mesh message holding the floats as one packed run.
inline Bytes packed_mesh(const std::vector<float>& floats) {
  Bytes run;
  for (float f : floats) append(run, float_bytes(f));
  return delimited(0x0A, delimited(0x1A, run));
}

// A mesh message holding the floats one field each, after two small fields
// the reader must skip.
inline Bytes unpacked_mesh(const std::vector<float>& floats) {
  Bytes body = {0x08, 0x00, 0x10, 0x00};
  for (float f : floats) {
    body.push_back(0x1D);
    append(body, float_bytes(f));
  }
  return delimited(0x0A, body);
}

inline Bytes reference(std::uint64_t index_varint, float weight) {
  Bytes body = {0x08};
  append(body, varint(index_varint));
  body.push_back(0x15);
  append(body, float_bytes(weight));
  return delimited(0x12, body);
}

// Five floats per vertex: x, y, z and two texture coordinates. Vertex k's
// position is distinct from every other's, so a shifted group shows.
inline std::vector<float> mesh_floats(std::size_t vertices) {
  std::vector<float> f;
  for (std::size_t k = 0; k < vertices; ++k) {
    const float t = static_cast<float>(k);
    f.insert(f.end(), {t, -t * 0.5f, 1000.0f + t, 0.25f, 0.75f});
  }
  return f;
}

// A file that loads: 468 vertices and three weighted references.
inline Bytes valid_file() {
  Bytes file = packed_mesh(mesh_floats(468));
  append(file, reference(0, 0.5f));
  append(file, reference(234, 1.0f));
  append(file, reference(467, 2.0f));
  return file;
}

}  // namespace geometry_file
