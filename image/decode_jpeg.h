#pragma once

#include <cstddef>
#include <cstdint>

#include "image/image.h"

// The largest JPEG stream accepted: more than a baseline 8192 x 8192 frame
// of pure noise at quality 90 needs (50 MiB), while keeping the memory of
// one frame file bounded. Frame files are read no further than this.
constexpr size_t kMaxJpegBytes = size_t{64} << 20;

// Decodes one complete JPEG image held in memory into `out`, reusing its
// storage. The bytes are untrusted (camera buffers, files on disk).
//
// Refused before anything is written, `out` keeping its previous frame:
// more than kMaxJpegBytes, a decompressor that cannot be created, an
// unreadable header, a size outside 1..8192 on either axis, a stream whose
// markers cannot be followed, arithmetic coding, scan data too short to
// code the blocks the header claims, more decoding work than one frame may
// cost (pixels x scans, counted from the markers; progressive and
// multi-scan pictures above 8192 x 4096 pixels or 16 MiB), or memory for
// the frame that cannot be had.
// Otherwise `out` takes the new size first; a stream the library only warns
// about (missing or extra trailing data) still counts as decoded, while a
// fatal decoding error returns false with `out` at the new size and its
// bytes partly written.
bool decode_jpeg(const uint8_t* data, size_t size, Image& out);
