#include "face/face_tracker.h"

#include <algorithm>
#include <chrono>

#include "core/elapsed.h"
#include "detection/detector.h"
#include "detection/regions.h"
#include "face/face_tensors.h"
#include "inference/output_of_size.h"

namespace {

// A region is this many times the face's larger extent, so that a face
// moving between frames stays inside the next crop.
constexpr float kRegionScale = 1.5f;
// The face detector: 128x128 input in [-1, 1], six keypoints, the first two
// (the eyes) kept level in the region.
constexpr DetectorDescription kFaceDetector{.input_size = 128,
                                           .input_min = -1.0f,
                                           .input_max = 1.0f,
                                           .anchor_count = 896,
                                           .keypoints = 6,
                                           .axis_from = 0,
                                           .axis_to = 1,
                                           .region_scale = kRegionScale};
// The eye corners whose line is kept horizontal in the landmark crop.
constexpr std::size_t kLeftEyeCorner = 33;
constexpr std::size_t kRightEyeCorner = 263;

bool single_input_of(const InferenceModel& model, std::size_t count) {
  return model.input_count() == 1 && model.input(0).size() == count;
}

// The region the next landmark crop samples: square around the landmarks'
// axis-aligned bounds, turned so the eye corners lie level.
RotatedRect region_from_landmarks(const std::vector<Point>& landmarks) {
  float min_x = landmarks[0].x, max_x = landmarks[0].x;
  float min_y = landmarks[0].y, max_y = landmarks[0].y;
  for (const Point& p : landmarks) {
    min_x = std::min(min_x, p.x);
    max_x = std::max(max_x, p.x);
    min_y = std::min(min_y, p.y);
    max_y = std::max(max_y, p.y);
  }
  const RotatedRect bounds{(min_x + max_x) * 0.5f, (min_y + max_y) * 0.5f, max_x - min_x,
                           max_y - min_y,
                           rect_rotation(landmarks[kLeftEyeCorner], landmarks[kRightEyeCorner], 0.0f)};
  return transform_rect(bounds, kRegionScale, 0.0f);
}

}  // namespace

bool FaceTracker::load(const std::string& models_dir, std::string& error, LiteRtEnvironment environment) {
  if (!detector.load(models_dir + "/face_detector.tflite", error, environment) ||
      !landmark_model.load(models_dir + "/face_landmarks_detector.tflite", error, environment) ||
      !blendshape_model.load(models_dir + "/face_blendshapes.tflite", error, environment) ||
      !geometry.load(models_dir + "/geometry_pipeline_metadata_landmarks.binarypb", error)) {
    return false;
  }
  // A landmark model without a single-float output could never report a
  // face: refused here rather than loaded as a tracker that finds nothing.
  const bool expected =
      detector_fits(detector, kFaceDetector) &&
      single_input_of(landmark_model, kLandmarkInput) &&
      !output_of_size(landmark_model, kLandmarkValues).empty() &&
      !output_of_size(landmark_model, 1).empty() &&
      single_input_of(blendshape_model, kBlendshapeInput) &&
      !output_of_size(blendshape_model, kBlendshapeOutput).empty();
  if (!expected) {
    error = "Face Landmarker models have unexpected tensors.";
    return false;
  }
  anchors = detector_anchors(kFaceDetector);
  tracking = false;
  return true;
}

bool FaceTracker::detect(const Image& image) {
  std::vector<Detection> faces = ::detect(detector, kFaceDetector, anchors, image, 1);
  if (faces.empty()) return false;
  roi = detection_region(faces[0], kFaceDetector);
  steps.detected = true;
  steps.detection = std::move(faces[0]);
  return true;
}

FaceResult FaceTracker::process(const Image& image, float vertical_fov) {
  FaceResult result;
  steps.tracking_before = tracking;
  steps.ran_detector = !tracking;
  steps.detected = false;
  steps.ran_landmarks = false;
  steps.detector_ms = steps.landmarks_ms = steps.blendshapes_ms = steps.pose_ms = 0.0;

  if (!tracking) {
    const auto start = std::chrono::steady_clock::now();
    const bool found = detect(image);
    steps.detector_ms = ms_since(start);
    if (!found) return result;
  }

  steps.ran_landmarks = true;
  steps.roi_used = roi;
  tracking = landmarks(image, roi, result);
  if (!tracking) return result;
  // The next region comes from this frame's landmarks whether or not the
  // pose can be solved: an unsolvable pose does not lose the face.
  roi = region_from_landmarks(result.landmarks);

  const auto start = std::chrono::steady_clock::now();
  result.found =
      geometry.solve(result.landmarks, image.width, image.height, vertical_fov, result.pose);
  steps.pose_ms = ms_since(start);
  return result;
}
