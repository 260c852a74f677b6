#pragma once

#include <string>

#include "image/image.h"

// Writes `image` as a JPEG file at `path` (quality 92, no chroma
// subsampling, so thin coloured marks keep their colour). On failure returns
// false with a message naming the path.
bool write_jpeg(const std::string& path, const Image& image, std::string& error);
