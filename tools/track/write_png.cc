#include "tools/track/write_png.h"

#include <png.h>

bool write_png(const std::string& path, const Image& image, std::string& error) {
  if (image.width <= 0 || image.height <= 0 ||
      image.pixels.size() != static_cast<std::size_t>(image.width) * image.height * 3) {
    error = "cannot write " + path + ": the image has no pixels or not as many as its size.";
    return false;
  }
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(image.width);
  png.height = static_cast<png_uint_32>(image.height);
  png.format = PNG_FORMAT_RGB;
  if (png_image_write_to_file(&png, path.c_str(), 0, image.pixels.data(), 0, nullptr) == 0) {
    error = "cannot write " + path + ": " + png.message + ".";
    png_image_free(&png);
    return false;
  }
  return true;
}
