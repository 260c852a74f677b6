#include "image/jpeg_scans.h"

#include <cstring>

namespace {

constexpr uint8_t kSoi = 0xD8;
constexpr uint8_t kEoi = 0xD9;
constexpr uint8_t kSos = 0xDA;

bool restart(uint8_t code) { return code >= 0xD0 && code <= 0xD7; }
bool standalone(uint8_t code) { return restart(code) || code == 0x01; }

bool progressive_frame(uint8_t code) {
  return code == 0xC2 || code == 0xC6 || code == 0xCA || code == 0xCE;
}

// SOF9 to SOF15, and DAC (0xCC) among them: tables only arithmetic coding uses.
bool arithmetic_marker(uint8_t code) { return code >= 0xC9 && code <= 0xCF; }

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
  size_t scan_start = 0;  // where the data of the scan in progress began; 0: none
  for (;;) {
    const size_t code_at = next_marker(data, size, at);
    // Restart markers belong to the scan around them; any other marker, or
    // the end of the data, ends it.
    if (scan_start != 0 && (code_at >= size || !restart(data[code_at]))) {
      const size_t end = code_at < size ? code_at - 1 : size;  // up to the marker's 0xFF
      scans.scan_bytes += static_cast<int64_t>(end - scan_start);
      scan_start = 0;
    }
    if (code_at >= size) break;
    at = code_at;
    const uint8_t code = data[at++];
    if (code == kEoi || code == kSoi) break;  // a second start is an error to the decoder
    if (standalone(code)) continue;
    // Reserved codes: an error to the decoder between segments, but within
    // a scan with restarts it skips them to the next marker, where a walk
    // by their length would not go.
    if (code < 0xC0) return scans;
    if (size - at < 2) break;
    const size_t length = size_t{data[at]} << 8 | data[at + 1];
    // The decoder steps over such a length and reads on from the bytes
    // after it, where the walk cannot follow.
    if (length < 2) return scans;
    if (progressive_frame(code)) scans.progressive = true;
    if (arithmetic_marker(code)) scans.arithmetic = true;
    at += length;
    if (code == kSos) {
      scans.count += 1;
      // The entropy-coded data after a scan header is skipped by the marker
      // search itself: its 0xFF bytes are all stuffed or restart markers.
      if (at < size) scan_start = at;
    }
  }
  scans.followed = true;
  return scans;
}
