#pragma once

#include <cstddef>
#include <vector>

#include "detection/detection.h"

// Weighted non-maximum suppression: candidates are taken highest score first
// (equal scores in no particular order); each candidate not yet absorbed heads
// a group of every remaining candidate whose box overlap with it reaches
// `iou_threshold`, and the group is blended into one detection: the head's
// score, and box and keypoints averaged with the members' scores as weights.
// Returns at most `max_count` detections, highest score first. Every candidate
// must have as many keypoints as any head it may join, and a score that is a
// number (decode_detections guarantees both).
std::vector<Detection> weighted_nms(std::vector<Detection> detections, float iou_threshold,
                                    std::size_t max_count);
