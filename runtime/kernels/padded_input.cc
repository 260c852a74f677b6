#include "runtime/kernels/padded_input.h"

#include <cstring>

namespace runtime::kernels {

PaddedInput::PaddedInput(const Conv2DShape& s)
    : buffer_(size_t(s.in_height + s.pad_top + s.pad_bottom) *
              (s.in_width + s.pad_left + s.pad_right) * s.in_channels),
      height_(s.in_height),
      width_(s.in_width),
      channels_(s.in_channels),
      padded_width_(s.in_width + s.pad_left + s.pad_right),
      top_(s.pad_top),
      left_(s.pad_left) {}

const float* PaddedInput::fill(const float* image) {
  const size_t row = size_t(width_) * channels_, padded_row = size_t(padded_width_) * channels_;
  float* inside = buffer_.data() + top_ * padded_row + size_t(left_) * channels_;
  for (int y = 0; y < height_; ++y)
    std::memcpy(inside + y * padded_row, image + y * row, row * sizeof(float));
  return buffer_.data();
}

}  // namespace runtime::kernels
