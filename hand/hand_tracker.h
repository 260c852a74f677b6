#pragma once

#include <array>
#include <string>
#include <vector>

#include "core/point.h"
#include "core/rotated_rect.h"
#include "detection/anchors.h"
#include "detection/detection.h"
#include "image/image.h"
#include "inference/inference_model.h"
#include "wire/hands.h"

// The tracker follows as many hands, each with as many landmarks, as the
// hands datagram carries.
using wire::kHandLandmarkCount;
using wire::kMaxHands;

// One hand found in a frame.
struct HandResult {
  bool handedness = false;        // the model's handedness value is at least 0.5
  float handedness_score = 0.0f;  // confidence of that flag, in [0.5, 1]
  std::array<Point, kHandLandmarkCount> landmarks{};  // image pixels, z on the same scale
  // The model's 3-D landmarks turned into the image's orientation and
  // centred on their mean.
  std::array<Point, kHandLandmarkCount> world_landmarks{};
  float center_x = 0.0f;  // landmarks' mean x from the frame centre, in frame widths
  float center_y = 0.0f;  // landmarks' mean y from the frame centre, in frame widths
  float scale = 0.0f;     // sqrt(3-D spread / image spread in frame widths)
};

// What the last process() call did, for tools that look inside the tracker.
// Written on every call; the per-frame path never reads it.
struct HandSteps {
  std::size_t followed_before = 0;  // hands followed into this call
  bool ran_detector = false;
  std::vector<Detection> palms;            // the detector's palms, image pixels
  std::vector<RotatedRect> palm_regions;   // the regions derived from them
  std::vector<RotatedRect> regions_used;   // per returned hand, the region it was found in
  double detector_ms = 0.0;   // letterbox crop, detector, decoding, suppression
  double landmarks_ms = 0.0;  // every landmark step of the call
  // Each landmark step on its own (crop and model), in the order tried;
  // `landmark_steps` of them are set.
  std::array<double, kMaxHands> landmark_step_ms{};
  std::size_t landmark_steps = 0;
};

// The hand pipeline: follows up to two hands from frame to frame. A hand
// found in one frame is looked for in the next through the region its palm
// landmarks give; the palm detector runs only while fewer than two hands are
// followed, and with one hand only on every fifth call. Owns its models; not
// copied, used from one thread.
class HandTracker {
 public:
  HandTracker();

  // Loads both models from `models_dir` (no trailing slash) and checks their
  // tensors. On failure returns false with the loader's message, or "Hand
  // Landmarker models have unexpected tensors.". The models go into
  // `environment` when it is given (see ModelEnvironment).
  bool load(const std::string& models_dir, std::string& error, LiteRtEnvironment environment = nullptr);

  // Runs the pipeline on one RGB frame: at most two hands, previously
  // followed ones first.
  std::vector<HandResult> process(const Image& image);

  // The landmark step on `region` (image pixels). True when a hand is present
  // there; then `result` is complete and `next` holds the region to look in
  // on the next frame. On false `next` is untouched and `result` is to be
  // discarded.
  bool landmarks(const Image& image, const RotatedRect& region, HandResult& result,
                 RotatedRect& next);

  InferenceModel detector;
  InferenceModel landmark_model;
  std::vector<Anchor> anchors;
  // One region per followed hand, from its landmarks in the previous call.
  // The main loop empties it (and zeroes the counter) to forget every hand.
  std::vector<RotatedRect> regions;
  int frames_since_detection = 0;
  int landmark_output = -1;
  int world_output = -1;
  int presence_output = -1;
  int handedness_output = -1;
  HandSteps steps;

 private:
  // Runs the palm detector and appends the regions of new palms to
  // `candidates`.
  void detect(const Image& image, std::vector<RotatedRect>& candidates);

  // Storage reused from call to call.
  std::vector<RotatedRect> candidates_;
  std::vector<Point> palm_points_;
};
