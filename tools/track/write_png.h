#pragma once

#include <string>

#include "image/image.h"

// Writes `image` as an 8-bit RGB PNG file at `path`: lossless, so thin
// coloured marks keep their exact colour. On failure returns false with a
// message naming the path.
bool write_png(const std::string& path, const Image& image, std::string& error);
