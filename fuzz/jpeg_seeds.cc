// Writes the seed JPEGs of the jpeg fuzz target into the folder given as the
// only argument: small textured frames in the layouts cameras and files use
// (4:2:2, 4:2:0, 4:4:4, grey, progressive), sizes off the block grid.
#include <turbojpeg.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

bool write_seed(const std::string& path, int width, int height, int subsampling, int flags) {
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
  uint32_t state = 12345;
  for (size_t i = 0; i < rgb.size(); ++i) {
    state = state * 1664525u + 1013904223u;
    rgb[i] = static_cast<uint8_t>((i / 3 % width) * 4 + (state >> 28));
  }
  tjhandle handle = tjInitCompress();
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  bool ok = tjCompress2(handle, rgb.data(), width, 0, height, TJPF_RGB, &jpeg, &size, subsampling,
                        80, flags) == 0;
  if (ok) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ok = f != nullptr && std::fwrite(jpeg, 1, size, f) == size;
    if (f != nullptr) ok = std::fclose(f) == 0 && ok;
  }
  tjFree(jpeg);
  tjDestroy(handle);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: jpeg_seeds FOLDER\n");
    return 2;
  }
  const std::string dir = argv[1];
  const bool ok = write_seed(dir + "/yuv422.jpg", 37, 19, TJSAMP_422, 0) &&
                  write_seed(dir + "/yuv420.jpg", 23, 29, TJSAMP_420, 0) &&
                  write_seed(dir + "/yuv444.jpg", 9, 7, TJSAMP_444, 0) &&
                  write_seed(dir + "/grey.jpg", 17, 5, TJSAMP_GRAY, 0) &&
                  write_seed(dir + "/progressive.jpg", 21, 13, TJSAMP_420, TJFLAG_PROGRESSIVE);
  return ok ? 0 : 1;
}
