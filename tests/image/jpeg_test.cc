#include <gtest/gtest.h>
#include <sys/stat.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

#include "image/decode_jpeg.h"
#include "image/jpeg_scans.h"
#include "image/load_image.h"
#include "tests/support/compress_jpeg.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A textured w x h frame compressed by the library.
Bytes jpeg_of(int w, int h, int subsampling, int flags = 0) {
  Bytes rgb(size_t(w) * h * 3);
  for (size_t k = 0; k < rgb.size(); ++k) rgb[k] = uint8_t(k / 3 % w * 2 + (k * 2654435761u >> 27));
  return compress_jpeg(rgb, w, h, subsampling, 90, flags);
}

// The library's own fast-DCT RGB decode: 0, 1 for a warning, 2 for an error.
int library_decode(const Bytes& jpeg, Bytes& pixels) {
  tjhandle t = tjInitDecompress();
  int w = 0, h = 0, subsampling = 0, colourspace = 0;
  tjDecompressHeader3(t, jpeg.data(), jpeg.size(), &w, &h, &subsampling, &colourspace);
  pixels.assign(size_t(w) * h * 3, 0);
  int r = tjDecompress2(t, jpeg.data(), jpeg.size(), pixels.data(), w, 0, h, TJPF_RGB,
                        TJFLAG_FASTDCT);
  if (r != 0) r = tjGetErrorCode(t) == TJERR_WARNING ? 1 : 2;
  tjDestroy(t);
  return r;
}

bool decode(const Bytes& jpeg, Image& out) { return decode_jpeg(jpeg.data(), jpeg.size(), out); }

// Refused, with the previous frame left as it was.
bool refused_unwritten(const Bytes& jpeg) {
  Image out{3, 2, Bytes(18, 9)};
  return !decode(jpeg, out) && out.width == 3 && out.height == 2 && out.pixels == Bytes(18, 9);
}

// Where the first (or last) marker 0xFF `code` starts.
long marker(const Bytes& jpeg, uint8_t code, bool last = false) {
  const uint8_t m[2] = {0xFF, code};
  return (last ? std::find_end(jpeg.begin(), jpeg.end(), m, m + 2)
               : std::search(jpeg.begin(), jpeg.end(), m, m + 2)) - jpeg.begin();
}

// `jpeg` with `count` zero bytes more at the end of its last scan: data
// enough for a larger picture than its own, which a header may then claim.
Bytes with_scan_data(Bytes jpeg, size_t count) {
  jpeg.insert(jpeg.begin() + marker(jpeg, 0xD9, true), count, 0);
  return jpeg;
}

}  // namespace

TEST(DecodeJpeg, LibraryFastDctRgbIntoReusedStorage) {
  const Bytes jpeg = jpeg_of(96, 40, TJSAMP_422);
  Bytes expected;
  ASSERT_EQ(library_decode(jpeg, expected), 0);
  Image out;
  ASSERT_TRUE(decode(jpeg, out));
  EXPECT_TRUE(out.width == 96 && out.height == 40 && out.pixels == expected);
  const uint8_t* storage = out.pixels.data();
  ASSERT_TRUE(decode(jpeg_of(16, 8, TJSAMP_444), out) && out.pixels.size() == 16u * 8 * 3);
  ASSERT_TRUE(decode(jpeg, out));
  EXPECT_EQ(out.pixels.data(), storage);  // shrinking kept the capacity
}

TEST(DecodeJpeg, RefusalsLeaveThePreviousFrameSize8192Decodes) {
  const Bytes jpeg = jpeg_of(16, 16, TJSAMP_444);
  const auto sized = [&](int w, int h) {
    Bytes b = jpeg;
    const uint8_t size[4] = {uint8_t(h >> 8), uint8_t(h), uint8_t(w >> 8), uint8_t(w)};
    std::copy(size, size + 4, b.begin() + marker(b, 0xC0) + 5);
    return b;
  };
  const Bytes head(jpeg.begin(), jpeg.begin() + 20);
  // A side over 8192 is refused even with scan data enough for its blocks.
  for (const Bytes& bytes : {Bytes{}, Bytes{0x12, 0x34, 0x56}, head, with_scan_data(sized(8193, 16), 1024),
                             with_scan_data(sized(16, 8193), 1024), sized(0, 16)}) {
    EXPECT_TRUE(refused_unwritten(bytes)) << bytes.size();
  }
  // Data missing is only a warning to the library, so a header may claim far
  // more than the data holds: every 8 x 8 block takes at least two bits of
  // a sequential scan, so up to that the frame is decoded (its memory is
  // what its bytes can describe), and a byte short of it refused unwritten.
  for (const auto& [w, h] : {std::pair{8192, 16}, {16, 8192}, {8192, 8192}}) {
    const size_t needed = size_t(w / 8) * (h / 8) * 2 / 8;
    const Bytes claiming = sized(w, h);
    const size_t held = size_t(jpeg_scans(claiming.data(), claiming.size()).scan_bytes);
    ASSERT_LT(held, needed);
    EXPECT_TRUE(refused_unwritten(claiming)) << w << "x" << h;
    EXPECT_TRUE(refused_unwritten(with_scan_data(claiming, needed - held - 1))) << w << "x" << h;
    Image out;
    EXPECT_TRUE(decode(with_scan_data(claiming, needed - held), out) && out.width == w && out.height == h)
        << w << "x" << h;
  }
}

TEST(DecodeJpeg, WarningsDecodeFatalDamageFailsAtTheNewSize) {
  Bytes jpeg = jpeg_of(24, 16, TJSAMP_444), pixels;
  for (size_t cut : {size_t{2}, jpeg.size() / 4}) {  // no end marker; data missing too
    const Bytes bytes(jpeg.begin(), jpeg.end() - long(cut));
    ASSERT_EQ(library_decode(bytes, pixels), 1);
    Image out;
    EXPECT_TRUE(decode(bytes, out));
  }
  // Three codes of length 1 cannot exist: the header reads, the table fails.
  const uint8_t counts[16] = {3, 1, 3, 1, 1, 1, 1, 1};
  std::copy(counts, counts + 16, jpeg.begin() + marker(jpeg, 0xC4) + 5);
  ASSERT_EQ(library_decode(jpeg, pixels), 2);
  Image out{4, 4, Bytes(48)};
  EXPECT_FALSE(decode(jpeg, out));
  EXPECT_TRUE(out.width == 24 && out.height == 16 && out.pixels.size() == 24u * 16 * 3);
}

// Webcams leave the standard Huffman tables out of their MJPEG frames.
TEST(DecodeJpeg, FramesWithoutHuffmanTablesUseTheStandardOnes) {
  const Bytes jpeg = jpeg_of(64, 48, TJSAMP_422);  // made with the standard tables
  Bytes stripped = jpeg;
  for (long at; (at = marker(stripped, 0xC4)) < long(stripped.size());) {
    stripped.erase(stripped.begin() + at, stripped.begin() + at + 2 + (stripped[at + 2] << 8 | stripped[at + 3]));
  }
  Image out, expected;
  ASSERT_TRUE(stripped.size() < jpeg.size() && decode(jpeg, expected));
  EXPECT_TRUE(decode(stripped, out) && out.pixels == expected.pixels);
}

TEST(DecodeJpeg, ProgressiveDecodesEndlessScansRefused) {
  const Bytes jpeg = jpeg_of(64, 48, TJSAMP_420, TJFLAG_PROGRESSIVE);
  Image out;
  EXPECT_TRUE(decode(jpeg, out));
  // The last scan 600 times over: the library alone only warns, after all that work.
  const Bytes scan(jpeg.begin() + marker(jpeg, 0xDA, true), jpeg.end() - 2);
  Bytes hostile(jpeg.begin(), jpeg.end() - 2), pixels;
  for (int k = 0; k < 600; ++k) hostile.insert(hostile.end(), scan.begin(), scan.end());
  hostile.insert(hostile.end(), {0xFF, 0xD9});
  ASSERT_EQ(library_decode(hostile, pixels), 1);
  EXPECT_FALSE(decode(hostile, out));
}

// A progressive file in `scans` scans (its own ten cut short, or the last
// repeated) whose frame header claims w x h pixels: the data is that of a
// small picture and zeros, so decoding costs little beyond the output itself.
Bytes progressive_claiming(int w, int h, int scans) {
  const Bytes jpeg = jpeg_of(64, 48, TJSAMP_420, TJFLAG_PROGRESSIVE);
  // Where each scan starts: only markers hold 0xFF 0xDA (the library stuffs its data).
  std::vector<long> starts;
  for (size_t at = 0; at + 1 < jpeg.size(); ++at)
    if (jpeg[at] == 0xFF && jpeg[at + 1] == 0xDA) starts.push_back(long(at));
  starts.push_back(long(jpeg.size()) - 2);
  EXPECT_EQ(starts.size(), 11u);
  Bytes b(jpeg.begin(), jpeg.begin() + starts[size_t(std::min(scans, 10))]);
  for (int k = 10; k < scans; ++k) {
    b.insert(b.end(), jpeg.begin() + starts[9], jpeg.begin() + starts[10]);
  }
  // Scan data for a bit a block, what a progressive frame of w x h needs at
  // least, in the first scan (so that the first ten scans hold it): before
  // the first marker after its header.
  size_t first_end = size_t(starts[0]) + 2 + (size_t(b[size_t(starts[0]) + 2]) << 8 | b[size_t(starts[0]) + 3]);
  while (!(b[first_end] == 0xFF && b[first_end + 1] != 0x00)) ++first_end;
  b.insert(b.begin() + long(first_end), size_t(w / 8) * (h / 8) / 8, 0);
  b.insert(b.end(), {0xFF, 0xD9});
  const uint8_t size[4] = {uint8_t(h >> 8), uint8_t(h), uint8_t(w >> 8), uint8_t(w)};
  std::copy(size, size + 4, b.begin() + marker(b, 0xC2) + 5);
  return b;
}

TEST(JpegScans, CountsScansAsTheDecoderMeetsThem) {
  const Bytes soi = {0xFF, 0xD8}, eoi = {0xFF, 0xD9};
  const Bytes sos = {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00};
  // An APP1 segment holding a whole thumbnail, markers and all.
  const Bytes app1 = {0xFF, 0xE1, 0x00, 0x0C, 0xFF, 0xD8, 0xFF,
                      0xDA, 0x00, 0x02, 0xFF, 0xD9, 0xFF, 0xDA};
  // Entropy-coded data: stuffed 0xFF, restart markers, fill bytes.
  const Bytes data = {0x12, 0xFF, 0x00, 0x34, 0xFF, 0xD0, 0x56, 0xFF, 0xFF, 0x00, 0x78};
  const Bytes sof2 = {0xFF, 0xC2, 0x00, 0x04, 0x08, 0x00};
  const auto join = [](std::initializer_list<Bytes> parts) {
    Bytes b;
    for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
    return b;
  };
  const Bytes sof9 = {0xFF, 0xC9, 0x00, 0x04, 0x08, 0x00}, dac = {0xFF, 0xCC, 0x00, 0x04, 0x00, 0x00};
  // Lengths the decoder steps over without skipping anything, reading on
  // from the bytes after them.
  const Bytes com0 = {0xFF, 0xFE, 0x00, 0x00}, app0 = {0xFF, 0xE0, 0x00, 0x01};
  const struct {
    const char* what;
    Bytes bytes;
    int64_t count, scan_bytes;
    bool progressive, arithmetic, followed;
  } cases[] = {
      {"two scans", join({soi, sos, data, sos, data, eoi}), 2, 22, false, false, true},
      {"thumbnail skipped by length", join({soi, app1, sos, data, eoi}), 1, 11, false, false, true},
      {"nothing after the end", join({soi, sos, eoi, sos, sos}), 1, 0, false, false, true},
      {"fill bytes before markers", join({soi, {0xFF, 0xFF}, sos, data, {0xFF}, sos, eoi}), 2, 12,
       false, false, true},
      {"progressive frame", join({soi, sof2, sos, data}), 1, 11, true, false, true},
      {"segment cut short", join({soi, sos, {0xFF, 0xDA, 0x00}}), 1, 0, false, false, true},
      {"arithmetic frame", join({soi, sof9, sos, data, eoi}), 1, 11, false, true, true},
      {"arithmetic tables", join({soi, dac, sos, data, eoi}), 1, 11, false, true, true},
      {"length 0 first", join({soi, com0, sos, data, eoi}), 0, 0, false, false, false},
      {"length 1 between scans", join({soi, sos, data, app0, sos, data, eoi}), 1, 11, false, false,
       false},
      {"reserved marker", join({soi, sos, data, {0xFF, 0x05, 0x00, 0x04, 0, 0}, sos, eoi}), 1, 11,
       false, false, false},
      {"not a JPEG", join({{0x00}, soi, sos}), 0, 0, false, false, false},
  };
  for (const auto& c : cases) {
    const JpegScans scans = jpeg_scans(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(scans.count, c.count) << c.what;
    EXPECT_EQ(scans.scan_bytes, c.scan_bytes) << c.what;
    EXPECT_EQ(scans.progressive, c.progressive) << c.what;
    EXPECT_EQ(scans.arithmetic, c.arithmetic) << c.what;
    EXPECT_EQ(scans.followed, c.followed) << c.what;
  }
}

// The work one frame may cost: pixels x scans up to that of a 4096 x 4096
// progressive file in ten scans; a multi-scan picture up to 8192 x 4096
// pixels and 16 MiB; a baseline one up to the largest size (8192 x 8192
// decodes above) and kMaxJpegBytes. Refusals write nothing.
TEST(DecodeJpeg, WorkBoundFromPixelsAndScans) {
  const struct {
    int w, h, scans;
    bool decodes;
  } cases[] = {
      {4096, 4096, 10, true}, {4096, 4096, 11, false}, {8192, 4096, 5, true},
      {8192, 4097, 1, false}, {8192, 8192, 490, false},  // seconds of work, then only a warning
  };
  Image out;
  for (const auto& c : cases) {
    const Bytes jpeg = progressive_claiming(c.w, c.h, c.scans);
    EXPECT_TRUE(c.decodes ? decode(jpeg, out) : refused_unwritten(jpeg))
        << c.w << "x" << c.h << ", " << c.scans << " scans";
  }
  // Bytes count too, trailing junk included: 16 MiB for a multi-scan frame,
  // kMaxJpegBytes for any.
  const auto padded = [](Bytes b, size_t size) { return b.resize(size), b; };
  const Bytes progressive = jpeg_of(16, 16, TJSAMP_444, TJFLAG_PROGRESSIVE);
  EXPECT_TRUE(decode(padded(progressive, size_t{16} << 20), out));
  EXPECT_FALSE(decode(padded(progressive, (size_t{16} << 20) + 1), out));
  EXPECT_TRUE(decode(padded(jpeg_of(16, 16, TJSAMP_444), kMaxJpegBytes), out));
  EXPECT_FALSE(decode(padded(jpeg_of(16, 16, TJSAMP_444), kMaxJpegBytes + 1), out));
}

// (Files that are not regular or never end: the bounded reader's own test;
// a FIFO here shows that load_image reads through it. An empty file, or one
// over kMaxJpegBytes, the decoder refuses as well.)
TEST(LoadImage, DecodesAnyNameRefusesAFifo) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("load_image_test_" + std::to_string(getpid()));
  fs::create_directories(dir);
  const Bytes jpeg = jpeg_of(20, 10, TJSAMP_444);
  std::ofstream(dir / "frame.bin", std::ios::binary)
      .write(reinterpret_cast<const char*>(jpeg.data()), std::streamsize(jpeg.size()));
  ASSERT_EQ(mkfifo((dir / "fifo.jpg").c_str(), 0600), 0);  // opening it to read would block
  Image out;
  EXPECT_TRUE(load_image((dir / "frame.bin").string(), out) && out.width == 20);
  Image kept{3, 2, Bytes(18, 9)};
  EXPECT_FALSE(load_image((dir / "fifo.jpg").string(), kept));
  EXPECT_TRUE(kept.width == 3 && kept.height == 2 && kept.pixels == Bytes(18, 9));
  fs::remove_all(dir);
}
