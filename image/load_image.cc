#include "image/load_image.h"

#include <cstdint>
#include <vector>

#include "core/read_file.h"
#include "image/decode_jpeg.h"

bool load_image(const std::string& path, Image& out) {
  // Every JPEG starts with its start-of-image marker; anything else (a link
  // to a file under /proc, say) is left after its first read.
  static constexpr uint8_t kStart[] = {0xFF, 0xD8};
  std::vector<uint8_t> bytes;
  if (!read_regular_file(path, kMaxJpegBytes, bytes, kStart)) return false;
  return decode_jpeg(bytes.data(), bytes.size(), out);
}
