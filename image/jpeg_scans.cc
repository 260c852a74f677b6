#include "image/jpeg_scans.h"

#include <cstring>

namespace {

constexpr uint8_t kSoi = 0xD8;
constexpr uint8_t kEoi = 0xD9;
constexpr uint8_t kSos = 0xDA;

bool standalone(uint8_t code) { return (code >= 0xD0 && code <= 0xD7) || code == 0x01; }

bool progressive_frame(uint8_t code) {
  return code == 0xC2 || code == 0xC6 || code == 0xCA || code == 0xCE;
}

// Position of the code byte of the next marker at or after `at`, as the
// decoder finds it: bytes up to an 0xFF are skipped, fill 0xFFs swallowed,
// and 0xFF 0x00 is data, not a marker. `size` when there is none.
size_t next_marker(const uint8_t* data, size_t size, size_t at) {
  while (at < size) {
    const void* ff = std::memchr(data + at, 0xFF, size - at);
    if (ff == nullptr) return size;
    at = static_cast<size_t>(static_cast<const uint8_t*>(ff) - data) + 1;
    while (at < size && data[at] == 0xFF) ++at;
    if (at < size && data[at] != 0x00) return at;
  }
  return size;
}

}  // namespace

JpegScans jpeg_scans(const uint8_t* data, size_t size) {
  JpegScans scans;
  if (size < 2 || data[0] != 0xFF || data[1] != kSoi) return scans;
  size_t at = 2;
  for (;;) {
    at = next_marker(data, size, at);
    if (at >= size) break;
    const uint8_t code = data[at++];
    if (code == kEoi || code == kSoi) break;  // a second start is an error to the decoder
    if (standalone(code)) continue;
    if (size - at < 2) break;
    const size_t length = size_t{data[at]} << 8 | data[at + 1];
    if (length < 2) break;
    if (progressive_frame(code)) scans.progressive = true;
    if (code == kSos) scans.count += 1;
    // The entropy-coded data after a scan header is skipped by the marker
    // search itself: its 0xFF bytes are all stuffed or restart markers.
    at += length;
  }
  return scans;
}
