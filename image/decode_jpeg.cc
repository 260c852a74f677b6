#include "image/decode_jpeg.h"

#include <turbojpeg.h>

#include <algorithm>
#include <new>

#include "image/jpeg_scans.h"
#include "image/resize_pixels.h"

namespace {

constexpr int kMaxSide = 8192;

// The decoding work one frame may cost, judged from its markers before any
// pixel is written, so that one file cannot stall tracking for seconds.
// Every scan walks the coefficients of the whole picture, so the work grows
// with pixels x scans. The budget is that of a 4096 x 4096 progressive file
// in the usual ten scans (about 0.4 s for a photograph on one slow server
// core; a baseline 8192 x 8192 frame, one scan, is 40% of it); hundreds of scans
// over a large picture, which the library decodes for seconds and then only
// warns about, are refused.
constexpr int64_t kMaxPixelScans = int64_t{4096} * 4096 * 10;

// A progressive or multi-scan picture is held whole as coefficients until
// its last scan: 2 bytes each, 64 per 8 x 8 block of every component, so up
// to 6 bytes a pixel on top of the 3 of the frame. Up to 8192 x 4096 pixels
// that stays near 300 MiB; a larger one needs a single scan.
constexpr int64_t kMaxBufferedPixels = int64_t{8192} * 4096;

// Entropy decoding also costs by the byte, and the refinement scans of a
// progressive file are the slowest bytes (about 50 ns each on a slow core,
// against 10 in a baseline frame), so a multi-scan frame may hold at most
// 16 MiB, under a second of such work: more than a progressive photograph
// of 4096 x 4096 pixels takes (a few MiB; 14 MiB of pure noise at quality 90).
constexpr size_t kMaxBufferedBytes = size_t{16} << 20;

// The least a frame's scan data can hold: every 8 x 8 block of the picture
// is coded in at least one bit of a progressive frame's first scan, and in
// two of a sequential scan (a DC code and an end of block, or an AC code).
// The full-resolution component alone has a block per 64 pixels. A header
// that claims more blocks than the data can hold would have the frame's
// memory allocated for pixels the library then makes up.
bool data_describes(const JpegScans& scans, int width, int height) {
  const int64_t blocks = int64_t{(width + 7) / 8} * ((height + 7) / 8);
  const int64_t bits_per_block = scans.progressive ? 1 : 2;
  return scans.scan_bytes * 8 >= blocks * bits_per_block;
}

bool affordable(const uint8_t* data, size_t size, int width, int height) {
  const JpegScans scans = jpeg_scans(data, size);
  // A stream the walk cannot follow may hold any number of scans.
  if (!scans.followed) return false;
  // Arithmetic coding costs several times the work per byte that the bounds
  // below assume and can code a block in a fraction of a bit. No webcam
  // sends it (their MJPEG is baseline Huffman) and photographs seldom use
  // it, so it is refused outright.
  if (scans.arithmetic) return false;
  if (!data_describes(scans, width, height)) return false;
  const int64_t pixels = int64_t{width} * height;
  const bool buffered = scans.progressive || scans.count > 1;
  if (buffered && (pixels > kMaxBufferedPixels || size > kMaxBufferedBytes)) return false;
  return pixels * std::max<int64_t>(scans.count, 1) <= kMaxPixelScans;
}

// A decompressor for one call; destroyed on every path.
struct Decompressor {
  tjhandle handle = tjInitDecompress();
  Decompressor() = default;
  Decompressor(const Decompressor&) = delete;
  Decompressor& operator=(const Decompressor&) = delete;
  ~Decompressor() {
    if (handle != nullptr) tjDestroy(handle);
  }
};

}  // namespace

bool decode_jpeg(const uint8_t* data, size_t size, Image& out) {
  if (size > kMaxJpegBytes) return false;
  Decompressor d;
  if (d.handle == nullptr) return false;

  int width = 0;
  int height = 0;
  int subsampling = 0;
  int colourspace = 0;
  if (tjDecompressHeader3(d.handle, data, size, &width, &height, &subsampling, &colourspace) != 0) {
    return false;
  }
  if (width < 1 || width > kMaxSide || height < 1 || height > kMaxSide) return false;
  if (!affordable(data, size, width, height)) return false;

  try {
    resize_pixels(out, width, height);
  } catch (const std::bad_alloc&) {
    return false;  // this frame is lost, not the process
  }
  // The library's own scan limit (500) stays as a second guard for small
  // pictures, whose many scans the work budget above would still allow.
  if (tjDecompress2(d.handle, data, size, out.pixels.data(), width, 0, height, TJPF_RGB,
                    TJFLAG_FASTDCT | TJFLAG_LIMITSCANS) == 0) {
    return true;
  }
  // The library reports recoverable damage (e.g. a missing end marker) as a
  // warning after writing every row; such a frame is still usable.
  return tjGetErrorCode(d.handle) == TJERR_WARNING;
}
