#pragma once

#include "runtime/kernels/aligned_floats.h"
#include "runtime/kernels/conv2d.h"

namespace runtime::kernels {

// A copy of one input image inside a zero border as wide as a convolution's
// padding, so that its windows never reach outside. The border is written
// once, at construction; fill copies only the inside.
class PaddedInput {
 public:
  PaddedInput() = default;
  explicit PaddedInput(const Conv2DShape& s);

  // Copies `image` (one NHWC image of the shape's input) inside the border
  // and returns the padded image.
  const float* fill(const float* image);

 private:
  AlignedFloats buffer_;
  int height_ = 0, width_ = 0, channels_ = 0;  // of the unpadded image
  int padded_width_ = 0, top_ = 0, left_ = 0;
};

inline bool has_padding(const Conv2DShape& s) {
  return s.pad_top || s.pad_left || s.pad_bottom || s.pad_right;
}

}  // namespace runtime::kernels
