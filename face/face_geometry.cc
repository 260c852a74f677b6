#include "face/face_geometry.h"

#include <cmath>
#include <cstddef>

#include "core/read_file.h"
#include "face/pose_fit.h"
#include "face/protobuf_reader.h"

namespace {

// Keys of the fields read, as whole varint values (field number << 3 | type).
constexpr std::uint64_t kMeshKey = 0x0A;           // top level: mesh message
constexpr std::uint64_t kReferenceKey = 0x12;      // top level: weighted vertex
constexpr std::uint64_t kPackedFloatsKey = 0x1A;   // mesh: packed float run
constexpr std::uint64_t kSingleFloatKey = 0x1D;    // mesh: one float
constexpr std::uint64_t kIndexKey = 0x08;          // reference: vertex index
constexpr std::uint64_t kWeightKey = 0x15;         // reference: weight

// The metadata file is about 20 KB; anything beyond this is not one.
constexpr std::size_t kMaxFileBytes = std::size_t{16} << 20;

// Floats per vertex in the mesh: position x, y, z, then two texture
// coordinates the pose fit does not use.
constexpr std::size_t kFloatsPerVertex = 5;

// Appends the mesh message's floats. Anything unreadable ends this message
// only; the top level carries on after it.
void read_mesh(std::span<const std::uint8_t> message, std::vector<float>& floats) {
  WireCursor cursor{message};
  while (!at_end(cursor)) {
    std::uint64_t key = 0;
    if (!read_varint(cursor, key)) return;
    if (key == kPackedFloatsKey) {
      std::span<const std::uint8_t> run;
      if (!read_length_delimited(cursor, run)) return;
      for (std::size_t i = 0; i + 4 <= run.size(); i += 4) {
        floats.push_back(float_from_bytes(run.data() + i));
      }
    } else if (key == kSingleFloatKey) {
      // A float cut short is dropped rather than read as 0: a made-up
      // coordinate could otherwise complete a damaged mesh.
      if (message.size() - cursor.pos < 4) return;
      floats.push_back(float_from_bytes(message.data() + cursor.pos));
      cursor.pos += 4;
    } else if (!skip_field(cursor, key)) {
      return;
    }
  }
}

// One weighted vertex reference; a missing field reads as 0, and whatever
// was read before damage in the message is kept.
VertexWeight read_reference(std::span<const std::uint8_t> message) {
  VertexWeight entry;
  WireCursor cursor{message};
  while (!at_end(cursor)) {
    std::uint64_t key = 0;
    if (!read_varint(cursor, key)) break;
    if (key == kIndexKey) {
      std::uint64_t value = 0;
      if (!read_varint(cursor, value)) break;
      entry.index = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    } else if (key == kWeightKey) {
      if (message.size() - cursor.pos < 4) break;
      entry.weight = float_from_bytes(message.data() + cursor.pos);
      cursor.pos += 4;
    } else if (!skip_field(cursor, key)) {
      break;
    }
  }
  return entry;
}

// Walks the top-level fields. Stops at the first field that cannot be read,
// including a mesh or reference message whose length runs past the end: the
// file is damaged there and validation decides on what came before.
void read_top_level(std::span<const std::uint8_t> bytes, std::vector<float>& floats,
                    std::vector<VertexWeight>& weights) {
  WireCursor cursor{bytes};
  while (!at_end(cursor)) {
    std::uint64_t key = 0;
    if (!read_varint(cursor, key)) return;
    if (key == kMeshKey || key == kReferenceKey) {
      std::span<const std::uint8_t> message;
      if (!read_length_delimited(cursor, message)) return;
      if (key == kMeshKey) {
        read_mesh(message, floats);
      } else {
        weights.push_back(read_reference(message));
      }
    } else if (!skip_field(cursor, key)) {
      return;
    }
  }
}

bool is_finite(const std::array<float, 3>& v) {
  return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

}  // namespace

bool FaceGeometry::load(const std::string& path, std::string& error) {
  // Anything but a regular file of plausible size (a FIFO would block the
  // open, a device or a file under /proc could go on without end) is read
  // as nothing, and so fails like a missing file.
  std::vector<std::uint8_t> bytes;
  if (!read_regular_file(path, kMaxFileBytes, bytes)) bytes.clear();
  return parse(bytes, path, error);
}

bool FaceGeometry::parse(std::span<const std::uint8_t> bytes, const std::string& source,
                         std::string& error) {
  vertices_.clear();
  weights_.clear();
  std::vector<float> floats;
  read_top_level(bytes, floats, weights_);

  vertices_.reserve(floats.size() / kFloatsPerVertex);
  for (std::size_t i = 0; i + kFloatsPerVertex <= floats.size(); i += kFloatsPerVertex) {
    vertices_.push_back({floats[i], floats[i + 1], floats[i + 2]});
  }

  const auto fail = [&] {
    error = "Invalid face geometry metadata: " + source + ".";
    return false;
  };
  if (weights_.empty()) return fail();
  for (const VertexWeight& e : weights_) {
    // An infinite weight passes "greater than 0" but turns every fit into
    // NaN, so the file would load and never give a pose.
    const bool valid = e.index >= 0 && static_cast<std::size_t>(e.index) < vertices_.size() &&
                       e.weight > 0.0f && std::isfinite(e.weight);
    if (!valid) {
      vertices_.clear();
      return fail();
    }
  }
  if (vertices_.size() != kVertexCount) return fail();
  for (const auto& v : vertices_) {
    if (!is_finite(v)) return fail();
  }
  return true;
}

bool FaceGeometry::solve(const std::vector<Point>& landmarks, int width, int height,
                         float vertical_fov, HeadPose& pose) const {
  const std::size_t n = vertices_.size();
  if (n != kVertexCount || landmarks.size() < n || width < 1 || height < 1) return false;
  // Outside (0, 180) the focal length is infinite or negative and the fit
  // would place the face behind the camera while reporting success.
  if (!(vertical_fov > 0.0f && vertical_fov < 180.0f)) return false;

  // Working storage on the stack (about 26 KB): solve runs on every tracked
  // frame and must not allocate.
  std::array<Vec3, kVertexCount> centred;
  std::array<double, kVertexCount> relative_depth;
  std::array<Vec3, kVertexCount> lifted;

  // Landmarks centred on the image, y up and z towards the viewer.
  for (std::size_t i = 0; i < n; ++i) {
    const Point& p = landmarks[i];
    centred[i] = {p.x - width / 2.0, -(p.y - height / 2.0), -static_cast<double>(p.z)};
  }

  Fit f;
  if (!fit(weights_, vertices_, centred, f)) return false;

  // The orthographic fit gives each landmark's depth relative to the model
  // origin in model units, and the origin's depth from the scale.
  for (std::size_t i = 0; i < n; ++i) {
    relative_depth[i] = (centred[i][2] - f.translation[2]) / f.scale;
  }
  constexpr double kPiDouble = 3.141592653589793;
  const double focal = (height * 0.5) / std::tan(vertical_fov * kPiDouble / 360.0);
  double origin_depth = focal / f.scale;

  // Each pass lifts every landmark onto the ray through its pixel at the
  // depth the previous fit implies, then refits; the scale converges to 1.
  Vec3 translation = {0.0, 0.0, 0.0};
  for (int pass = 0; pass < 3; ++pass) {
    for (std::size_t i = 0; i < n; ++i) {
      const double depth = origin_depth - relative_depth[i];
      lifted[i] = {centred[i][0] * depth / focal, centred[i][1] * depth / focal, -depth};
    }
    if (!fit(weights_, vertices_, lifted, f)) return false;
    origin_depth /= f.scale;
    for (double& r : relative_depth) r /= f.scale;
    for (int k = 0; k < 3; ++k) translation[k] = f.translation[k] / f.scale;
  }

  for (int k = 0; k < 3; ++k) pose.translation[k] = static_cast<float>(translation[k] * 0.01);
  std::array<float, 4> q = {static_cast<float>(f.rotation[1]), static_cast<float>(f.rotation[2]),
                            static_cast<float>(f.rotation[3]), static_cast<float>(f.rotation[0])};
  if (q[3] < 0.0f) {
    for (float& c : q) c = -c;
  }
  pose.rotation = q;
  return true;
}
