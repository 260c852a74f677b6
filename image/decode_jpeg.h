#pragma once

#include <cstddef>
#include <cstdint>

#include "image/image.h"

// Decodes one complete JPEG image held in memory into `out`, reusing its
// storage. The bytes are untrusted (camera buffers, files on disk).
//
// Refused before anything is written, `out` keeping its previous frame: a
// decompressor that cannot be created, an unreadable header, or a size
// outside 1..8192 on either axis. Otherwise `out` takes the new size first;
// a stream the library only warns about (missing or extra trailing data)
// still counts as decoded, while a fatal decoding error returns false with
// `out` at the new size and its bytes partly written.
bool decode_jpeg(const uint8_t* data, size_t size, Image& out);
