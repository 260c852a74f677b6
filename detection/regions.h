#pragma once

// Regions of interest as rotated rectangles: how they are turned, bounded,
// squared and compared, and the angle arithmetic they share.

#include <vector>

#include "core/point.h"
#include "core/rotated_rect.h"

// Wraps an angle into [-pi, pi), within single-precision rounding.
float normalize_radians(float angle);

// The rotation (radians, normalised) that makes the on-screen direction from
// `from` to `to` point at `target_degrees`, counter-clockwise from the
// rectangle's x axis. With 90 degrees, `to` straight above `from` gives 0.
// Only x and y are used.
float rect_rotation(Point from, Point to, float target_degrees);

// The smallest rectangle with the given rotation that contains the points'
// (x, y). Callers pass at least one point: an empty list gives a rectangle of
// size -2e30.
RotatedRect rotated_bounds(const std::vector<Point>& points, float rotation);

// A square of side scale * max(width, height), its centre moved along the
// rectangle's own y axis by shift * height (negative towards its top), with
// the rotation unchanged.
RotatedRect transform_rect(RotatedRect rect, float scale, float shift);

// Intersection over union of the axis-aligned boxes with the rectangles'
// centres and sizes; rotation is ignored. 0 when they do not overlap.
float iou(const RotatedRect& a, const RotatedRect& b);
