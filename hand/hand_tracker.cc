#include "hand/hand_tracker.h"

#include <chrono>
#include <limits>

#include "core/elapsed.h"
#include "detection/detector.h"
#include "detection/regions.h"
#include "hand/hand_tensors.h"

namespace {

// The palm detector: 192x192 input in [0, 1], seven keypoints; a palm box
// grows into a region around the whole hand, turned so that the wrist
// (keypoint 0) lies below the middle finger's base (2) and moved towards the
// fingers.
constexpr DetectorDescription kPalmDetector{.input_size = 192,
                                           .anchor_count = 2016,
                                           .keypoints = 7,
                                           .last_output_of_size = true,
                                           .axis_from = 0,
                                           .axis_to = 2,
                                           .axis_degrees = 90.0f,
                                           .region_scale = 2.6f,
                                           .region_shift = -0.5f};
// Regions overlapping more than this are taken for the same hand.
constexpr float kSameHandOverlap = 0.5f;
// With one hand followed the detector looks for a second on every fifth call.
constexpr int kCallsBetweenDetections = 4;

bool overlaps_any(const std::vector<RotatedRect>& regions, const RotatedRect& region) {
  for (const RotatedRect& r : regions) {
    if (iou(r, region) > kSameHandOverlap) return true;
  }
  return false;
}

}  // namespace

HandTracker::HandTracker() {
  regions.reserve(kMaxHands);
  candidates_.reserve(kMaxHands);
  steps.regions_used.reserve(kMaxHands);
  steps.palm_regions.reserve(kMaxHands);
}

bool HandTracker::load(const std::string& models_dir, std::string& error, LiteRtEnvironment environment) {
  if (!detector.load(models_dir + "/hand_detector.tflite", error, environment) ||
      !landmark_model.load(models_dir + "/hand_landmarks_detector.tflite", error, environment)) {
    return false;
  }
  const InferenceModel& m = landmark_model;
  if (m.output_count() == 4 && m.output(0).size() == kHandLandmarkValues &&
      m.output(3).size() == kHandLandmarkValues) {
    landmark_output = 0;
    presence_output = 1;
    handedness_output = 2;
    world_output = 3;
  }
  const bool expected = detector_fits(detector, kPalmDetector) &&
                        landmark_model.input_count() == 1 &&
                        landmark_model.input(0).size() == kHandLandmarkInput &&
                        landmark_output >= 0;
  if (!expected) {
    error = "Hand Landmarker models have unexpected tensors.";
    return false;
  }
  anchors = detector_anchors(kPalmDetector);
  return true;
}

void HandTracker::detect(const Image& image, std::vector<RotatedRect>& candidates) {
  steps.palms = ::detect(detector, kPalmDetector, anchors, image, kMaxHands);
  for (const Detection& palm : steps.palms) {
    const RotatedRect region = detection_region(palm, kPalmDetector);
    steps.palm_regions.push_back(region);
    if (candidates.size() < kMaxHands && !overlaps_any(candidates, region)) {
      candidates.push_back(region);
    }
  }
}

std::vector<HandResult> HandTracker::process(const Image& image) {
  steps.followed_before = regions.size();
  steps.ran_detector = false;
  steps.palms.clear();
  steps.palm_regions.clear();
  steps.regions_used.clear();
  steps.detector_ms = steps.landmarks_ms = 0.0;
  steps.landmark_steps = 0;

  candidates_.assign(regions.begin(), regions.end());
  bool run_detector = regions.empty();
  if (!run_detector) {
    // Held below overflow while two hands are followed for a very long time.
    if (frames_since_detection < std::numeric_limits<int>::max()) frames_since_detection += 1;
    run_detector = regions.size() == 1 && frames_since_detection > kCallsBetweenDetections;
  }
  if (run_detector) {
    frames_since_detection = 0;
    steps.ran_detector = true;
    const auto start = std::chrono::steady_clock::now();
    detect(image, candidates_);
    steps.detector_ms = ms_since(start);
  }

  const auto start = std::chrono::steady_clock::now();
  std::vector<HandResult> results;
  results.reserve(kMaxHands);
  regions.clear();
  for (const RotatedRect& candidate : candidates_) {
    HandResult result;
    RotatedRect next;
    const auto step_start = std::chrono::steady_clock::now();
    const bool present = landmarks(image, candidate, result, next);
    steps.landmark_step_ms[steps.landmark_steps++] = ms_since(step_start);
    if (!present) continue;
    // Two candidates on one hand lead to the same next region: keep the first.
    if (overlaps_any(regions, next)) continue;
    regions.push_back(next);
    results.push_back(result);
    steps.regions_used.push_back(candidate);
  }
  steps.landmarks_ms = ms_since(start);
  return results;
}
