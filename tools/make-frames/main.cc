// make-frames DIR [COUNT]: writes COUNT (default 60) synthetic 640x480 JPEG
// frames, a bright disc moving over a gradient, as DIR/000001.jpg, ... so
// the bridge can be demonstrated where no sample frames are at hand.
#include <turbojpeg.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make-frames DIR [COUNT]\n");
    return 2;
  }
  const std::string dir = argv[1];
  const int count = argc > 2 ? std::atoi(argv[2]) : 60;
  const int w = 640, h = 480;
  std::vector<unsigned char> rgb(size_t(w) * h * 3);
  tjhandle tj = tjInitCompress();
  for (int f = 0; f < count; ++f) {
    const double cx = w * (0.3 + 0.4 * std::sin(f * 0.1)), cy = h * 0.5, r = 80;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        unsigned char* p = &rgb[(size_t(y) * w + x) * 3];
        const bool disc = (x - cx) * (x - cx) + (y - cy) * (y - cy) < r * r;
        p[0] = disc ? 230 : static_cast<unsigned char>(40 + x * 100 / w);
        p[1] = disc ? 190 : static_cast<unsigned char>(40 + y * 100 / h);
        p[2] = disc ? 160 : 90;
      }
    }
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    if (tjCompress2(tj, rgb.data(), w, 0, h, TJPF_RGB, &jpeg, &size, TJSAMP_422, 85, 0) != 0) {
      std::fprintf(stderr, "make-frames: %s\n", tjGetErrorStr2(tj));
      return 1;
    }
    char name[32];
    std::snprintf(name, sizeof name, "/%06d.jpg", f + 1);
    FILE* out = std::fopen((dir + name).c_str(), "wb");
    if (out == nullptr || std::fwrite(jpeg, 1, size, out) != size) {
      std::fprintf(stderr, "make-frames: cannot write %s%s\n", dir.c_str(), name);
      return 1;
    }
    std::fclose(out);
    tjFree(jpeg);
  }
  tjDestroy(tj);
  return 0;
}
