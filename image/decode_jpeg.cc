#include "image/decode_jpeg.h"

#include <turbojpeg.h>

#include "image/resize_pixels.h"

namespace {

constexpr int kMaxSide = 8192;

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

  resize_pixels(out, width, height);
  // The scan limit only matters to hostile progressive files: thousands of
  // repeated scans would otherwise cost seconds per frame and still come out
  // as a mere warning. No camera or encoder writes more than a few dozen.
  if (tjDecompress2(d.handle, data, size, out.pixels.data(), width, 0, height, TJPF_RGB,
                    TJFLAG_FASTDCT | TJFLAG_LIMITSCANS) == 0) {
    return true;
  }
  // The library reports recoverable damage (e.g. a missing end marker) as a
  // warning after writing every row; such a frame is still usable.
  return tjGetErrorCode(d.handle) == TJERR_WARNING;
}
