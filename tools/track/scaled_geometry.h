#pragma once

#include "core/point.h"
#include "core/rotated_rect.h"
#include "detection/detection.h"

// Coordinates multiplied by `factor`, for drawing on a copy of the frame
// enlarged that many times. A region keeps its rotation.
Point scaled(Point p, float factor);
RotatedRect scaled(RotatedRect r, float factor);
Detection scaled(const Detection& d, float factor);
