#pragma once

#include <cstdint>

#include "image/image.h"

// Converts one YUYV 4:2:2 frame (Y0 U Y1 V per pair of pixels, one continuous
// run without row padding) into `out` with integer BT.601 limited-range
// arithmetic. The caller guarantees `data` holds width * height * 2 bytes.
// When the pixel count is odd the last pixel has no V byte of its own; it is
// converted from its Y and U with a neutral V, so every output byte is
// defined and nothing past the buffer is read.
void yuyv_to_rgb(const uint8_t* data, int width, int height, Image& out);
