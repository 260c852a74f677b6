#pragma once

#include <cstdint>
#include <vector>

// A decoded frame: packed 8-bit R, G, B, rows from the top down, no padding.
// Channel c of pixel (x, y) is pixels[3 * (y * width + x) + c]. The decoders
// reuse `pixels` from frame to frame, so a steady frame size never allocates.
struct Image {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> pixels;
};
