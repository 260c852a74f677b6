// Face geometry metadata from untrusted bytes: parsing must never read
// outside the data, and whatever parses must keep the promises that solve
// relies on, so solve runs on it too.
#include <cstddef>
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

  // The canonical vertices seen head-on from 50 units: a pose comes out or
  // the fit reports the geometry degenerate; either way no fault.
  std::vector<Point> landmarks;
  for (const auto& v : geometry.vertices()) {
    landmarks.push_back(Point{320.0f + 8.0f * v[0], 240.0f - 8.0f * v[1], -8.0f * v[2]});
  }
  HeadPose pose;
  geometry.solve(landmarks, 640, 480, 60.0f, pose);
  return 0;
}
