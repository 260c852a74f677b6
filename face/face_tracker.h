#pragma once

#include <array>
#include <string>
#include <vector>

#include "core/point.h"
#include "core/rotated_rect.h"
#include "detection/anchors.h"
#include "detection/detection.h"
#include "face/face_geometry.h"
#include "image/image.h"
#include "inference/inference_model.h"
#include "wire/blendshape_names.h"

inline constexpr int kBlendshapeCount = wire::kFaceBlendshapeCount;

// One frame's face. Reset values when nothing was found: no landmarks, all
// coefficients 0, the identity pose.
struct FaceResult {
  // A face was tracked and its head pose solved in this frame.
  bool found = false;
  // Empty, or 478 points in image pixels (z a depth on the same scale).
  std::vector<Point> landmarks;
  // In [0, 1], in the order of FaceTracker::kBlendshapeNames.
  std::array<float, kBlendshapeCount> blendshapes{};
  HeadPose pose;
};

// What the last process() call did, for tools that look inside the tracker.
// Written on every call; the per-frame path never reads it.
struct FaceSteps {
  bool tracking_before = false;
  bool ran_detector = false;
  bool detected = false;   // the detector found a face (box below is valid)
  Detection detection;     // the merged detection, image pixels
  bool ran_landmarks = false;
  RotatedRect roi_used;    // the region the landmark step sampled
  double detector_ms = 0.0;   // letterbox crop, detector, decoding, suppression
  double landmarks_ms = 0.0;  // crop and landmark model
  double blendshapes_ms = 0.0;
  double pose_ms = 0.0;
};

// The face pipeline: follows at most one face from frame to frame. While a
// face is followed only the landmark and blendshape models run, on the region
// derived from the previous frame's landmarks; the detector runs only while
// searching. Owns its models; not copied, used from one thread.
class FaceTracker {
 public:
  // The coefficients' names are the face datagram's.
  static constexpr const char* const (&kBlendshapeNames)[kBlendshapeCount] = wire::kBlendshapeNames;

  // Loads the three models and the face geometry from `models_dir` (no
  // trailing slash) and checks their tensors. On failure returns false with
  // the loader's message, or "Face Landmarker models have unexpected
  // tensors." when a model lacks an input or output of the required size.
  // The models go into `environment` when it is given (see ModelEnvironment).
  bool load(const std::string& models_dir, std::string& error, LiteRtEnvironment environment = nullptr);

  // Runs the pipeline on one RGB frame. `vertical_fov` (degrees) goes to the
  // head pose solver unchanged. Frames may change size between calls.
  FaceResult process(const Image& image, float vertical_fov);

  // The landmark and blendshape step on `region` (image pixels). True when a
  // face is present there and both models ran; then `result` holds the 478
  // landmarks and 51 coefficients.
  bool landmarks(const Image& image, const RotatedRect& region, FaceResult& result);

  InferenceModel detector;
  InferenceModel landmark_model;
  InferenceModel blendshape_model;
  FaceGeometry geometry;
  std::vector<Anchor> anchors;
  // Where the landmark step looks on the next frame, while `tracking`.
  RotatedRect roi;
  // True while a face found on the previous frame is followed. The main loop
  // clears it when the host switches face tracking off, so the next frame
  // starts with the detector.
  bool tracking = false;
  FaceSteps steps;

 private:
  // Runs the detector on the letterboxed frame; on a face sets `roi` from it.
  bool detect(const Image& image);
};
