#pragma once

#include <cstddef>
#include <vector>

#include "core/rotated_rect.h"
#include "detection/anchors.h"
#include "detection/detection.h"
#include "image/image.h"
#include "inference/inference_model.h"

// The step both trackers run to find something new in a frame: the whole
// frame letterboxed into a square detector input, the model run, its anchors
// decoded, overlapping candidates merged, and each survivor turned into the
// region its landmark model reads. What differs between the face and palm
// detectors is this description.
struct DetectorDescription {
  int input_size = 0;               // the input is input_size^2 RGB pixels
  float input_min = 0.0f;           // what pixel value 0 becomes
  float input_max = 1.0f;           // what pixel value 255 becomes
  std::size_t anchor_count = 0;     // one score and one box per anchor
  int keypoints = 0;                // a box is 4 + 2 * keypoints values
  float min_score = 0.5f;           // after the logistic function
  float suppression_overlap = 0.3f; // candidates overlapping more are merged
  // Which output is taken when several have the box's or the score's size:
  // the first, or (as the palm detector's files expect) the last.
  bool last_output_of_size = false;
  // The region of a detection: its box turned so that keypoint `axis_to`
  // lies at `axis_degrees` from keypoint `axis_from` (counter-clockwise from
  // the box's x axis), then squared, scaled and shifted as transform_rect.
  int axis_from = 0;
  int axis_to = 1;
  float axis_degrees = 0.0f;
  float region_scale = 1.0f;
  float region_shift = 0.0f;
};

// Whether the model has the one input and the box and score outputs the
// description implies.
bool detector_fits(const InferenceModel& model, const DetectorDescription& desc);

// The anchors of the detectors' four-layer SSD grid for the input size.
std::vector<Anchor> detector_anchors(const DetectorDescription& desc);

// Runs the detector on `image`: at most `max_detections` candidates, best
// first, in image pixels. Empty when the model fails to run. The model must
// fit the description (detector_fits).
std::vector<Detection> detect(InferenceModel& model, const DetectorDescription& desc,
                              const std::vector<Anchor>& anchors, const Image& image,
                              std::size_t max_detections);

// The region the landmark model reads around a detection.
RotatedRect detection_region(const Detection& detection, const DetectorDescription& desc);
