#pragma once

// A w x h RGB picture compressed by libjpeg-turbo, for tests, fuzz seeds and
// the simulated camera.
#include <turbojpeg.h>

#include <cstdint>
#include <vector>

inline std::vector<uint8_t> compress_jpeg(const std::vector<uint8_t>& rgb, int w, int h, int subsampling,
                                          int quality = 90, int flags = 0) {
  tjhandle t = tjInitCompress();
  unsigned char* data = nullptr;
  unsigned long size = 0;
  std::vector<uint8_t> jpeg;
  if (tjCompress2(t, rgb.data(), w, 0, h, TJPF_RGB, &data, &size, subsampling, quality, flags) == 0) {
    jpeg.assign(data, data + size);
  }
  tjFree(data);
  tjDestroy(t);
  return jpeg;
}
