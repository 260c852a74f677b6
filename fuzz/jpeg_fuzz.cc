// decode_jpeg on hostile bytes: nothing may crash or touch memory outside the
// input and the image, and a decoded frame must have exactly its size.
#include <turbojpeg.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "image/decode_jpeg.h"

namespace {

// Mutated headers easily claim thousands of pixels on each axis; decoding
// such a frame takes seconds under the sanitizers and teaches nothing new, so
// only refusals and frames up to a megapixel are run.
bool worth_decoding(const uint8_t* data, size_t size) {
  tjhandle handle = tjInitDecompress();
  int width = 0, height = 0, subsampling = 0, colourspace = 0;
  const bool read =
      tjDecompressHeader3(handle, data, size, &width, &height, &subsampling, &colourspace) == 0;
  tjDestroy(handle);
  if (!read || width > 8192 || height > 8192) return true;
  return int64_t{width} * height <= (int64_t{1} << 20);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!worth_decoding(data, size)) return 0;
  Image image;
  image.width = 3;
  image.height = 1;
  image.pixels.assign(9, 7);
  const bool decoded = decode_jpeg(data, size, image);
  if (image.pixels.size() != static_cast<size_t>(image.width) * image.height * 3) std::abort();
  if (!decoded && image.width == 3 && image.height == 1 && image.pixels[8] != 7) std::abort();
  if (decoded &&
      (image.width < 1 || image.width > 8192 || image.height < 1 || image.height > 8192)) {
    std::abort();
  }
  return 0;
}
