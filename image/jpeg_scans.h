#pragma once

#include <cstddef>
#include <cstdint>

// What the markers of a JPEG stream say about the work of decoding it.
struct JpegScans {
  int64_t count = 0;          // start-of-scan markers before the end of the image
  int64_t scan_bytes = 0;     // bytes after the scan headers (entropy-coded data, restarts)
  bool progressive = false;   // a progressive frame header (SOF2, SOF6, SOF10, SOF14)
  bool arithmetic = false;    // an arithmetic-coded frame header (SOF9 to SOF15) or its tables (DAC)
  bool followed = false;      // the walk reached the end of the image or of the data
                              // the way the decoder does; false: it could not follow
};

// Walks the markers of `data` the way the decoder meets them, without
// decoding: segments are skipped by their declared length (so a thumbnail
// inside an APP segment does not count), entropy-coded data up to the next
// marker that is neither a stuffed 0xFF nor a restart marker. Stops at the
// end of the image, at a segment cut short, or at the end of `data`, all of
// which end the decoder's reading too. A segment length below 2, or a
// reserved marker (0x02 to 0xBF), stops the walk with `followed` false: the
// decoder would read on from a place the walk cannot know. Linear in `size`, no allocation; bytes that are not a
// JPEG give an empty result.
JpegScans jpeg_scans(const uint8_t* data, size_t size);
