#pragma once

#include "core/point.h"
#include "core/rotated_rect.h"
#include "image/image.h"

// Tensor position (i, j) of a w x h tensor (column i, row j, possibly
// fractional) stands for the region-local offsets
//   u = (i / w - 0.5) * rect.width,  v = (j / h - 0.5) * rect.height
// and for the image point
//   x = rect.cx + u * cos(rotation) - v * sin(rotation)
//   y = rect.cy + u * sin(rotation) + v * cos(rotation)
// all in single precision. Column 0 lies on the region's left edge, column
// w - 1 one tensor step short of its right edge (no half-step shift).

// Samples `rect` of `image` bilinearly into `out`: h rows of w pixels of
// R, G, B floats, a byte b becoming lo + (hi - lo) * b / 255. Neighbours
// outside the image count as black without renormalising the weights, so the
// outside reads as `lo` and edges fade over one pixel; a sample point that is
// not a finite number reads as `lo` too. Writes nothing when w or h is below
// 1; otherwise `out` must hold w * h * 3 floats (not owned, not kept).
void crop_to_tensor(const Image& image, const RotatedRect& rect, int w, int h, float lo, float hi,
                    float* out);

// Maps tensor position (p.x, p.y) back into image pixels through `rect`
// exactly as crop_to_tensor samples it; the depth p.z is scaled like a
// horizontal distance, from tensor columns to image pixels.
Point crop_to_image(const RotatedRect& rect, int w, int h, Point p);

// The unrotated square around the whole image, its side the longer image
// side: sampled through crop_to_tensor it letterboxes the frame.
RotatedRect letterbox_rect(const Image& image);
