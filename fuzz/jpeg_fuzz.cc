// decode_jpeg on hostile bytes: nothing may crash or touch memory outside the
// input and the image, and a decoded frame must have exactly its size.
#include <turbojpeg.h>

#include <cstdlib>

#include "image/decode_jpeg.h"
#include "image/jpeg_scans.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The marker walk that bounds the decoding work sees every input, also
  // those whose decoding is skipped below.
  (void)jpeg_scans(data, size);
  // Mutated headers easily claim thousands of pixels a side; decoding those
  // takes a large part of a second each and teaches little new, so only
  // refusals and frames up to two megapixels (the large seeds and a bit
  // more) are run.
  tjhandle handle = tjInitDecompress();
  int w = 0, h = 0, subsampling = 0, colourspace = 0;
  const bool read = !tjDecompressHeader3(handle, data, size, &w, &h, &subsampling, &colourspace);
  tjDestroy(handle);
  if (read && w <= 8192 && h <= 8192 && int64_t{w} * h > (int64_t{1} << 21)) return 0;
  Image image{3, 1, std::vector<uint8_t>(9, 7)};
  const bool decoded = decode_jpeg(data, size, image);
  const int32_t iw = image.width, ih = image.height;
  if (image.pixels.size() != size_t(iw) * ih * 3) std::abort();
  if (!decoded && iw == 3 && ih == 1 && image.pixels[8] != 7) std::abort();
  if (decoded && (iw < 1 || iw > 8192 || ih < 1 || ih > 8192)) std::abort();
  return 0;
}
