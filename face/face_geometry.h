#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/point.h"
#include "face/vertex_weight.h"

// A head pose in the camera frame (x right, y up, z towards the viewer; a face
// in front of the camera has a negative translation.z).
struct HeadPose {
  std::array<float, 3> translation = {0.0f, 0.0f, 0.0f};  // canonical units * 0.01
  std::array<float, 4> rotation = {0.0f, 0.0f, 0.0f, 1.0f};  // x, y, z, w; w >= 0
};

// The canonical face model and the weighted vertices that the head pose fit
// uses, read from the face geometry metadata file. Loaded once; read-only
// afterwards.
class FaceGeometry {
 public:
  static constexpr std::size_t kVertexCount = 468;

  // Reads and validates the metadata file. On failure replaces `error` with
  // "Invalid face geometry metadata: <path>." and returns false; the content
  // is then partial and not to be used.
  bool load(const std::string& path, std::string& error);

  // The same as load, for file contents already in memory; `source` names them
  // in the message. The bytes are only read during the call.
  bool parse(std::span<const std::uint8_t> bytes, const std::string& source, std::string& error);

  // Fits the canonical model to one frame's face landmarks (image pixels, z a
  // depth on the pixel scale; at least kVertexCount of them) for a frame of
  // width x height pixels seen with the given vertical field of view
  // (degrees, between 0 and 180 exclusive). Returns true and writes `pose`, or
  // returns false with `pose` unchanged when the input is degenerate.
  bool solve(const std::vector<Point>& landmarks, int width, int height, float vertical_fov,
             HeadPose& pose) const;

  const std::vector<std::array<float, 3>>& vertices() const { return vertices_; }
  const std::vector<VertexWeight>& weights() const { return weights_; }

 private:
  std::vector<std::array<float, 3>> vertices_;
  std::vector<VertexWeight> weights_;
};
