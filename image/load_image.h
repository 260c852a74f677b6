#pragma once

#include <string>

#include "image/image.h"

// Reads the whole file at `path` and decodes it with decode_jpeg. A file that
// cannot be opened or read (a read error part-way included), a directory, or
// an empty file gives false with `out` untouched; otherwise the result and
// the state of `out` are decode_jpeg's. Only the content matters, not the
// file name's extension.
bool load_image(const std::string& path, Image& out);
