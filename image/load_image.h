#pragma once

#include <string>

#include "image/image.h"

// Reads the whole file at `path` and decodes it with decode_jpeg. A file that
// cannot be opened or read (a read error part-way included), anything but a
// regular file (a directory, a FIFO, a device; judged after a non-blocking
// open), an empty file, one that does not start like a JPEG, or one longer
// than kMaxJpegBytes whatever size it claims (files under /proc can go on
// without end) gives false with `out` untouched, after reading at most
// kMaxJpegBytes + 1 bytes; otherwise the result and the state of `out` are
// decode_jpeg's. Only the content matters, not the file name's extension.
bool load_image(const std::string& path, Image& out);
