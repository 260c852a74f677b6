#pragma once

#include <vector>

#include "detection/point.h"
#include "detection/rotated_rect.h"

// The smallest rectangle with the given rotation that contains the points'
// (x, y). Callers pass at least one point: an empty list gives a rectangle of
// size -2e30.
RotatedRect rotated_bounds(const std::vector<Point>& points, float rotation);
