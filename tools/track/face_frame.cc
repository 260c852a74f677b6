#include "tools/track/face_frame.h"

#include <chrono>
#include <cmath>

#include "tools/track/scaled_geometry.h"

namespace {

constexpr float kPi = 3.1415927f;

}  // namespace

float vertical_fov(float horizontal_fov, int width, int height) {
  return 2.0f *
         std::atan(std::tan(horizontal_fov * kPi / 360.0f) * static_cast<float>(height) /
                   static_cast<float>(width)) *
         180.0f / kPi;
}

FaceFrame track_face(FaceTracker& tracker, const Image& image, float horizontal_fov) {
  FaceFrame frame;
  const auto start = std::chrono::steady_clock::now();
  frame.result = tracker.process(image, vertical_fov(horizontal_fov, image.width, image.height));
  frame.total_ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  frame.steps = tracker.steps;
  frame.tracking_after = tracker.tracking;
  frame.roi_after = tracker.roi;
  return frame;
}

FaceFrame scaled(const FaceFrame& face, float factor) {
  FaceFrame out = face;
  for (Point& p : out.result.landmarks) p = scaled(p, factor);
  out.steps.detection = scaled(out.steps.detection, factor);
  out.steps.roi_used = scaled(out.steps.roi_used, factor);
  out.roi_after = scaled(out.roi_after, factor);
  return out;
}
