#pragma once

#include <span>

#include "core/point.h"
#include "image/image.h"

// Mean Rec. 601 luma (0..255) over an area of `image`, visiting every
// `step`-th column of every `step`-th row. The area is the whole image when
// `points` is empty, else the half-open box from the truncated minimum to
// the truncated maximum of the points' x and y (z ignored), cut to the
// image. Returns -1 when the area is empty or `step` is below 1.
float mean_luma(const Image& image, std::span<const Point> points, int step);
