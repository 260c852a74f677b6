#pragma once

#include "detection/rotated_rect.h"

// A square of side scale * max(width, height), its centre moved along the
// rectangle's own y axis by shift * height (negative towards its top), with
// the rotation unchanged.
RotatedRect transform_rect(RotatedRect rect, float scale, float shift);
