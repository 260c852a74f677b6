#pragma once

#include <span>
#include <vector>

#include "core/rotated_rect.h"
#include "detection/detection.h"

// Centre of one detector anchor, as fractions (0..1) of the detector input's
// width and height. Anchors have unit size: regressed box sizes are relative
// to the input size alone.
struct Anchor {
  float x = 0.0f;
  float y = 0.0f;
};

// The anchor grid of a single-shot detector, in the order of the detector's
// output records. Consecutive equal strides form one layer with two anchors
// per grid cell and per stride; each layer's grid side is
// ceil(input_size / stride). A stride or grid side below 1 adds nothing.
std::vector<Anchor> ssd_anchors(int input_size, const std::vector<int>& strides);

// Turns one detector run into scored candidates in image pixels, in anchor
// order. `scores` holds one logit per anchor; `boxes` holds per anchor
// (num_keypoints + 2) * 2 floats: box centre offset, box size, then keypoint
// offsets, in detector input pixels. `roi` is the unrotated region that was
// sampled into the detector input; only its centre and size are used.
// Anchors whose logistic score is below `threshold` (or not a number) are
// dropped. Arrays too short for the anchors, or a negative keypoint count,
// give an empty result. Both arrays are only read during the call.
std::vector<Detection> decode_detections(std::span<const float> boxes,
                                         std::span<const float> scores,
                                         const std::vector<Anchor>& anchors, int input_size,
                                         int num_keypoints, float threshold,
                                         const RotatedRect& roi);
