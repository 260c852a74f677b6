#include "tools/track/tracking.h"

#include <chrono>
#include <cmath>

#include "image/load_image.h"
#include "tools/track/options.h"

Point scaled(Point p, float factor) { return {p.x * factor, p.y * factor, p.z * factor}; }

RotatedRect scaled(RotatedRect r, float factor) {
  return {r.cx * factor, r.cy * factor, r.width * factor, r.height * factor, r.rotation};
}

Detection scaled(const Detection& d, float factor) {
  Detection out = d;
  out.xmin *= factor;
  out.ymin *= factor;
  out.xmax *= factor;
  out.ymax *= factor;
  for (Point& p : out.keypoints) p = scaled(p, factor);
  return out;
}

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

HandFrame track_hands(HandTracker& tracker, const Image& image) {
  HandFrame frame;
  frame.hands = tracker.process(image);
  frame.steps = tracker.steps;
  frame.regions_after = tracker.regions;
  return frame;
}

HandFrame scaled(const HandFrame& frame, float factor) {
  HandFrame out = frame;
  for (HandResult& hand : out.hands) {
    for (Point& p : hand.landmarks) p = scaled(p, factor);
  }
  for (Detection& palm : out.steps.palms) palm = scaled(palm, factor);
  for (RotatedRect& r : out.steps.palm_regions) r = scaled(r, factor);
  for (RotatedRect& r : out.steps.regions_used) r = scaled(r, factor);
  for (RotatedRect& r : out.regions_after) r = scaled(r, factor);
  return out;
}

bool load_trackers(const TrackOptions& options, Trackers& trackers, std::string& error) {
  if (options.face) {
    trackers.face = std::make_unique<FaceTracker>();
    if (!trackers.face->load(options.models_dir + "/face", error)) return false;
  }
  if (options.hands) {
    trackers.hands = std::make_unique<HandTracker>();
    const char* set = options.lite ? "/hand-lite" : "/hand";
    if (!trackers.hands->load(options.models_dir + set, error)) return false;
  }
  return true;
}

void reset_trackers(Trackers& trackers) {
  if (trackers.face) trackers.face->tracking = false;
  if (trackers.hands) {
    trackers.hands->regions.clear();
    trackers.hands->frames_since_detection = 0;
  }
}

FrameRecord track_file(Trackers& trackers, const std::string& path, float fov, Image& image) {
  FrameRecord record;
  record.name = file_name(path);
  record.decoded = load_image(path, image);
  if (!record.decoded) return record;
  record.width = image.width;
  record.height = image.height;
  if (trackers.face) record.face = track_face(*trackers.face, image, fov);
  if (trackers.hands) record.hands = track_hands(*trackers.hands, image);
  return record;
}
