#pragma once

#include <vector>

#include "detection/anchors.h"
#include "detection/detection.h"
#include "detection/rotated_rect.h"
#include "inference/aligned_allocator.h"

// Turns one detector run into scored candidates in image pixels, in anchor
// order. `scores` holds one logit per anchor; `boxes` holds per anchor
// (num_keypoints + 2) * 2 floats: box centre offset, box size, then keypoint
// offsets, in detector input pixels. `roi` is the unrotated region that was
// sampled into the detector input; only its centre and size are used.
// Anchors whose logistic score is below `threshold` (or not a number) are
// dropped. Arrays too short for the anchors, or a negative keypoint count,
// give an empty result. Both arrays are only read during the call.
std::vector<Detection> decode_detections(const FloatArray& boxes, const FloatArray& scores,
                                         const std::vector<Anchor>& anchors, int input_size,
                                         int num_keypoints, float threshold,
                                         const RotatedRect& roi);
