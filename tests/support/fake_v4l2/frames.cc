#include "tests/support/fake_v4l2/frames.h"

#include <turbojpeg.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/support/compress_jpeg.h"

namespace {

struct Rgb {
  int width = 0, height = 0;
  std::vector<uint8_t> pixels;
};

std::vector<std::string> jpeg_files(const std::string& dir) {
  std::vector<std::string> files;
  std::error_code error;  // a missing folder lists nothing
  for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
    if (entry.path().extension() == ".jpg") files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

FakeBytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return FakeBytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool decode(const FakeBytes& jpeg, Rgb& out) {
  tjhandle tj = tjInitDecompress();
  int subsampling = 0, colourspace = 0;
  bool ok = tjDecompressHeader3(tj, jpeg.data(), jpeg.size(), &out.width, &out.height, &subsampling,
                                &colourspace) == 0;
  if (ok) {
    out.pixels.resize(size_t(out.width) * out.height * 3);
    ok = tjDecompress2(tj, jpeg.data(), jpeg.size(), out.pixels.data(), out.width, 0, out.height,
                       TJPF_RGB, 0) == 0;
  }
  tjDestroy(tj);
  return ok;
}

// 4:2:2 like a webcam's MJPEG.
FakeBytes encode(const Rgb& rgb) { return compress_jpeg(rgb.pixels, rgb.width, rgb.height, TJSAMP_422, 85); }

Rgb grey(uint32_t width, uint32_t height) {
  return {int(width), int(height), std::vector<uint8_t>(size_t(width) * height * 3, 128)};
}

uint8_t clamp(int v) { return uint8_t(std::clamp(v, 0, 255)); }

// Nearest-neighbour scaling to the granted size, then BT.601 studio range.
FakeBytes to_yuyv(const Rgb& rgb, uint32_t width, uint32_t height) {
  FakeBytes out(size_t(width) * height * 2);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; x += 2) {
      int luma[2], u = 0, v = 0;
      for (int k = 0; k < 2; ++k) {
        const uint32_t sx = uint32_t(uint64_t(std::min(x + k, width - 1)) * rgb.width / width);
        const uint32_t sy = uint32_t(uint64_t(y) * rgb.height / height);
        const uint8_t* p = &rgb.pixels[(size_t(sy) * rgb.width + sx) * 3];
        luma[k] = ((66 * p[0] + 129 * p[1] + 25 * p[2] + 128) >> 8) + 16;
        u += ((-38 * p[0] - 74 * p[1] + 112 * p[2] + 128) >> 8) + 128;
        v += ((112 * p[0] - 94 * p[1] - 18 * p[2] + 128) >> 8) + 128;
      }
      uint8_t* o = &out[(size_t(y) * width + x) * 2];
      o[0] = clamp(luma[0]);
      o[1] = clamp(u / 2);
      if (x + 1 < width) o[2] = clamp(luma[1]);
      if (x + 1 < width) o[3] = clamp(v / 2);
    }
  }
  return out;
}

}  // namespace

bool make_frames(const FakeDeviceScript& script, bool mjpeg, uint32_t width, uint32_t height,
                 FakeFrames& out, std::string& error) {
  out = {};
  out.stale = mjpeg ? encode(grey(64, 48)) : to_yuyv(grey(width, height), width, height);
  for (const std::string& path : jpeg_files(script.frames_dir)) {
    const FakeBytes jpeg = read_file(path);
    Rgb rgb;
    if (!mjpeg && !decode(jpeg, rgb)) {
      error = "fake_v4l2: cannot decode " + path;
      return false;
    }
    out.frames.push_back(mjpeg ? jpeg : to_yuyv(rgb, width, height));
  }
  if (out.frames.empty()) error = "fake_v4l2: no .jpg files in " + script.frames_dir;
  return !out.frames.empty();
}
