#include "tests/image/test_jpeg.h"

#include <turbojpeg.h>

#include <random>
#include <stdexcept>

Image textured_image(int width, int height, uint32_t seed) {
  Image image{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 3)};
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> noise(-24, 24);
  size_t k = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int base[3] = {x * 255 / width, y * 255 / height, ((x / 8 + y / 8) % 2) * 120 + 60};
      for (int c = 0; c < 3; ++c) {
        const int v = base[c] + noise(rng);
        image.pixels[k++] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
      }
    }
  }
  return image;
}

std::vector<uint8_t> compress_jpeg(const Image& image, int subsampling, int quality) {
  tjhandle handle = tjInitCompress();
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  const int rc = tjCompress2(handle, image.pixels.data(), image.width, 0, image.height, TJPF_RGB,
                             &buffer, &size, subsampling, quality, 0);
  std::vector<uint8_t> jpeg;
  if (rc == 0) jpeg.assign(buffer, buffer + size);
  tjFree(buffer);
  tjDestroy(handle);
  if (rc != 0) throw std::runtime_error("tjCompress2 failed");
  return jpeg;
}

void patch_jpeg_size(std::vector<uint8_t>& jpeg, int width, int height) {
  for (size_t i = 0; i + 9 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
      jpeg[i + 5] = static_cast<uint8_t>(height >> 8);
      jpeg[i + 6] = static_cast<uint8_t>(height);
      jpeg[i + 7] = static_cast<uint8_t>(width >> 8);
      jpeg[i + 8] = static_cast<uint8_t>(width);
      return;
    }
  }
  throw std::runtime_error("no baseline SOF marker");
}
