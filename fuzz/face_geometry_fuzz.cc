// Face geometry metadata from untrusted bytes: parsing never reads outside
// the data, and what parses keeps the promises solve relies on.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "face/face_geometry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FaceGeometry geometry;
  std::string error;
  if (!geometry.parse(std::span<const std::uint8_t>(data, size), "fuzz", error)) {
    if (error != "Invalid face geometry metadata: fuzz.") std::abort();
    return 0;
  }
  if (geometry.vertices().size() != FaceGeometry::kVertexCount) std::abort();
  for (const VertexWeight& w : geometry.weights()) {
    if (w.index < 0 || w.index >= 468 || !(w.weight > 0.0f)) std::abort();
  }
  // The canonical face head-on: a pose, or a report of degenerate geometry.
  std::vector<Point> landmarks;
  for (const auto& v : geometry.vertices()) {
    landmarks.push_back(Point{320.0f + 8.0f * v[0], 240.0f - 8.0f * v[1], -8.0f * v[2]});
  }
  HeadPose pose;
  geometry.solve(landmarks, 640, 480, 60.0f, pose);
  return 0;
}
