#pragma once

// Face geometry metadata written field by field in the wire format, so tests
// can build valid, damaged and hostile files.

#include <cstdint>
#include <cstring>
#include <vector>

namespace geometry_file {

using Bytes = std::vector<std::uint8_t>;

inline Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline Bytes varint(std::uint64_t v) {
  Bytes out;
  for (; v >= 0x80; v >>= 7) out.push_back(static_cast<std::uint8_t>(v | 0x80));
  out.push_back(static_cast<std::uint8_t>(v));
  return out;
}

inline Bytes floats(const std::vector<float>& values) {
  Bytes out(values.size() * 4);
  if (!values.empty()) std::memcpy(out.data(), values.data(), out.size());
  return out;
}

inline Bytes field(std::uint64_t key, const Bytes& payload) {
  return varint(key) + varint(payload.size()) + payload;
}

inline Bytes packed_mesh(const std::vector<float>& values) {
  return field(0x0A, field(0x1A, floats(values)));
}

inline Bytes reference(std::uint64_t index, float weight) {
  return field(0x12, Bytes{0x08} + varint(index) + Bytes{0x15} + floats({weight}));
}

// x, y, z and two unused floats per vertex; every vertex distinct.
inline std::vector<float> mesh_floats(std::size_t vertices) {
  std::vector<float> f;
  for (std::size_t k = 0; k < vertices; ++k) {
    const float t = static_cast<float>(k);
    f.insert(f.end(), {t, -t * 0.5f, 1000.0f + t, 0.25f, 0.75f});
  }
  return f;
}

inline Bytes three_references() {
  return reference(0, 0.5f) + reference(234, 1.0f) + reference(467, 2.0f);
}

// 468 vertices in one packed run, then three references: a file that loads.
inline Bytes valid_file() {
  return packed_mesh(mesh_floats(468)) + three_references();
}

}  // namespace geometry_file
