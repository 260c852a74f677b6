#pragma once

#include <cstddef>
#include <vector>

#include "runtime/kernels/conv2d.h"

namespace runtime::kernels {

// A run of output rows computed by one library call, followed at once by the
// output pass while those rows are still in the core's cache: run in one
// piece, a large convolution's output has left L2 by the time the pass reads
// it back, and the pass then waits on memory.
struct Band {
  int out_row = 0;    // first output row of the band
  int in_row = 0;     // first input row the band reads (inside the image)
  Conv2DShape shape;  // the band as a convolution of its own
};

// Cuts a batch-1 convolution into bands of whole output rows whose output is
// at most about `band_bytes` (at least one row each); the bands cover every
// output row once, in order. Each band's padding is the part of the original
// padding that falls inside it, so a band reads only input rows that exist.
// A convolution whose output fits, or with a batch above 1, is one band.
std::vector<Band> plan_bands(const Conv2DShape& shape, size_t band_bytes);

// Whether two bands can share one primitive.
bool same_geometry(const Conv2DShape& a, const Conv2DShape& b);

}  // namespace runtime::kernels
