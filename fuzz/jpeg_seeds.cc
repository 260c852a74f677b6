// Writes the jpeg fuzz seeds into the folder given: textured frames in the
// layouts cameras and files use, sizes off the block grid, and two smooth ones
// above a megapixel. (The recipes of marker tricks, see jpeg_fuzz.cc, are
// files in fuzz/seeds: a baseline picture with a comment of length 0, a
// repeated scan and a larger claimed size; a progressive one padded, with a
// restart and a reserved marker.)
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/compress_jpeg.h"

int main(int argc, char** argv) {
  if (argc != 2) return std::fprintf(stderr, "usage: jpeg_seeds FOLDER\n"), 2;
  const struct {
    const char* name;
    int w, h, subsampling, flags;
  } seeds[] = {{"yuv422", 37, 19, TJSAMP_422, 0},
               {"yuv420", 23, 29, TJSAMP_420, 0},
               {"yuv444", 9, 7, TJSAMP_444, 0},
               {"grey", 17, 5, TJSAMP_GRAY, 0},
               {"progressive", 21, 13, TJSAMP_420, TJFLAG_PROGRESSIVE},
               // Above a megapixel, where the decoder works through many rows
               // of blocks and buffers a multi-scan picture whole. Smooth, and
               // the progressive one grey (colour progressive pictures decode
               // ten times slower), so that each input takes milliseconds.
               {"large", 1283, 1021, TJSAMP_420, 0},
               {"large_progressive", 1157, 1031, TJSAMP_GRAY, TJFLAG_PROGRESSIVE}};
  for (const auto& s : seeds) {
    std::vector<unsigned char> rgb(size_t(s.w) * s.h * 3);
    const bool large = size_t(s.w) * s.h > (size_t{1} << 20);
    for (size_t i = 0; i < rgb.size(); ++i) {
      rgb[i] = large ? uint8_t(i / 3 % s.w / 8 + i / 3 / s.w / 8 * (i % 3))
                     : uint8_t(i / 3 % s.w * 4 + (i * 40503u >> 12));
    }
    const std::vector<uint8_t> jpeg = compress_jpeg(rgb, s.w, s.h, s.subsampling, 80, s.flags);
    FILE* f = std::fopen((std::string(argv[1]) + "/" + s.name + ".jpg").c_str(), "wb");
    if (jpeg.empty() || f == nullptr || std::fwrite(jpeg.data(), 1, jpeg.size(), f) != jpeg.size() || std::fclose(f) != 0) {
      return 1;
    }
  }
  return 0;
}
