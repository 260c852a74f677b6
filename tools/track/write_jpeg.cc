#include "tools/track/write_jpeg.h"

#include <turbojpeg.h>

#include <cstdio>
#include <memory>

namespace {

constexpr int kQuality = 92;

struct CompressorCloser {
  void operator()(void* handle) const { tjDestroy(handle); }
};
struct JpegFree {
  void operator()(unsigned char* data) const { tjFree(data); }
};
struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

bool write_jpeg(const std::string& path, const Image& image, std::string& error) {
  std::unique_ptr<void, CompressorCloser> compressor(tjInitCompress());
  if (!compressor) {
    error = "cannot start the JPEG encoder for " + path + ".";
    return false;
  }
  unsigned char* data = nullptr;
  unsigned long size = 0;
  const int failed = tjCompress2(compressor.get(), image.pixels.data(), image.width, 0,
                                 image.height, TJPF_RGB, &data, &size, TJSAMP_444, kQuality, 0);
  const std::unique_ptr<unsigned char, JpegFree> jpeg(data);
  if (failed != 0) {
    error = std::string("cannot encode ") + path + ": " + tjGetErrorStr2(compressor.get()) + ".";
    return false;
  }
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
  if (!file || std::fwrite(jpeg.get(), 1, size, file.get()) != size ||
      std::fclose(file.release()) != 0) {
    error = "cannot write " + path + ".";
    return false;
  }
  return true;
}
