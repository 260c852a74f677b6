#pragma once

#include "detection/point.h"

// The rotation (radians, normalised) that makes the on-screen direction from
// `from` to `to` point at `target_degrees`, counter-clockwise from the
// rectangle's x axis. With 90 degrees, `to` straight above `from` gives 0.
// Only x and y are used.
float rect_rotation(Point from, Point to, float target_degrees);
