#pragma once

#include "detection/rotated_rect.h"

// Intersection over union of the axis-aligned boxes with the rectangles'
// centres and sizes; rotation is ignored. 0 when they do not overlap.
float iou(const RotatedRect& a, const RotatedRect& b);
