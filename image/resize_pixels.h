#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>

#include "image/image.h"

// Gives `image` the size width x height, shrinking or growing `pixels` to
// exactly width * height * 3 bytes. std::vector keeps its capacity when it
// shrinks and zero-fills what it grows, so a steady frame size never
// allocates. Callers have checked the size; it is not re-validated here.
// Running out of memory throws std::bad_alloc.
inline void resize_pixels(Image& image, int32_t width, int32_t height) {
  assert(width >= 0 && height >= 0);
  // Sized first: when the allocation fails the image keeps its old frame whole.
  image.pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
  image.width = width;
  image.height = height;
}
