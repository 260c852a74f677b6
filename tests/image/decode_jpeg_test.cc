#include "image/decode_jpeg.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <vector>

#include "tests/image/test_jpeg.h"

namespace {

// The library's own decode (RGB, fast DCT) into `pixels`: 0, or the class of
// its failure, to prove that a damaged stream really takes the path tested.
int library_decode(const std::vector<uint8_t>& jpeg, int w, int h, std::vector<uint8_t>& pixels) {
  tjhandle handle = tjInitDecompress();
  pixels.assign(static_cast<size_t>(w) * h * 3, 0);
  int result = tjDecompress2(handle, jpeg.data(), jpeg.size(), pixels.data(), w, 0, h, TJPF_RGB,
                             TJFLAG_FASTDCT);
  if (result != 0) result = tjGetErrorCode(handle) == TJERR_WARNING ? 1 : 2;
  tjDestroy(handle);
  return result;
}

bool same(const Image& a, const Image& b) {
  return a.width == b.width && a.height == b.height && a.pixels == b.pixels;
}

}  // namespace

TEST(DecodeJpeg, FastDctRgbTopDownIntoReusedStorage) {
  const std::vector<uint8_t> jpeg = compress_jpeg(textured_image(96, 40), TJSAMP_422, 85);
  std::vector<uint8_t> expected;
  ASSERT_EQ(library_decode(jpeg, 96, 40, expected), 0);
  Image out;
  ASSERT_TRUE(decode_jpeg(jpeg.data(), jpeg.size(), out));
  EXPECT_EQ(out.width, 96);
  EXPECT_EQ(out.height, 40);
  EXPECT_TRUE(out.pixels == expected);

  const std::vector<uint8_t> small = compress_jpeg(textured_image(16, 8), TJSAMP_444, 90);
  const uint8_t* storage = out.pixels.data();
  ASSERT_TRUE(decode_jpeg(small.data(), small.size(), out));
  EXPECT_EQ(out.pixels.size(), 16u * 8 * 3);
  ASSERT_TRUE(decode_jpeg(jpeg.data(), jpeg.size(), out));
  EXPECT_EQ(out.pixels.data(), storage);  // shrinking kept the capacity
}

TEST(DecodeJpeg, RefusalsKeepThePreviousFrame) {
  const std::vector<uint8_t> jpeg = compress_jpeg(textured_image(16, 16), TJSAMP_444, 90);
  Image before;
  ASSERT_TRUE(decode_jpeg(jpeg.data(), jpeg.size(), before));
  std::vector<std::vector<uint8_t>> refused = {
      {}, {0x12, 0x34, 0x56}, {jpeg.begin(), jpeg.begin() + 20}};
  for (const auto& [w, h] : {std::pair{8193, 16}, std::pair{16, 8193}, std::pair{0, 16}}) {
    refused.push_back(jpeg);
    patch_jpeg_size(refused.back(), w, h);
  }
  for (const std::vector<uint8_t>& bytes : refused) {
    Image out = before;
    EXPECT_FALSE(decode_jpeg(bytes.data(), bytes.size(), out)) << bytes.size();
    EXPECT_TRUE(same(out, before));
  }
  // 8192 is still accepted on either axis (the patched stream lacks most of
  // its data, which the library only warns about).
  for (const auto& [w, h] : {std::pair{8192, 16}, std::pair{16, 8192}}) {
    std::vector<uint8_t> edge = jpeg;
    patch_jpeg_size(edge, w, h);
    Image out = before;
    EXPECT_TRUE(decode_jpeg(edge.data(), edge.size(), out));
    EXPECT_EQ(out.width * 10000 + out.height, w * 10000 + h);
  }
}

TEST(DecodeJpeg, FatalDamageFailsAtTheNewSizeWarningsDecode) {
  std::vector<uint8_t> jpeg = compress_jpeg(textured_image(24, 16), TJSAMP_444, 90);
  const std::vector<uint8_t> no_end(jpeg.begin(), jpeg.end() - 2);
  const std::vector<uint8_t> cut(jpeg.begin(), jpeg.end() - jpeg.size() / 4);
  for (const std::vector<uint8_t>* bytes : {&no_end, &cut}) {
    std::vector<uint8_t> pixels;
    ASSERT_EQ(library_decode(*bytes, 24, 16, pixels), 1);  // a warning
    Image out;
    EXPECT_TRUE(decode_jpeg(bytes->data(), bytes->size(), out));
  }

  // Three codes of length 1 in the first Huffman table cannot exist: the
  // header still reads, building the decoding table fails.
  size_t dht = 0;
  while (dht + 21 < jpeg.size() && !(jpeg[dht] == 0xFF && jpeg[dht + 1] == 0xC4)) ++dht;
  ASSERT_LT(dht + 21, jpeg.size());
  const uint8_t counts[16] = {3, 1, 3, 1, 1, 1, 1, 1};
  std::copy(counts, counts + 16, jpeg.begin() + dht + 5);
  std::vector<uint8_t> pixels;
  ASSERT_EQ(library_decode(jpeg, 24, 16, pixels), 2);
  Image out = textured_image(4, 4);
  EXPECT_FALSE(decode_jpeg(jpeg.data(), jpeg.size(), out));
  EXPECT_EQ(out.width, 24);
  EXPECT_EQ(out.height, 16);
  EXPECT_EQ(out.pixels.size(), 24u * 16 * 3);
}

TEST(DecodeJpeg, ProgressiveFilesDecodeButEndlessScansAreRefused) {
  const Image image = textured_image(64, 48);
  tjhandle c = tjInitCompress();
  unsigned char* data = nullptr;
  unsigned long size = 0;
  ASSERT_EQ(tjCompress2(c, image.pixels.data(), 64, 0, 48, TJPF_RGB, &data, &size, TJSAMP_420, 90,
                        TJFLAG_PROGRESSIVE),
            0);
  std::vector<uint8_t> jpeg(data, data + size);
  tjFree(data);
  tjDestroy(c);
  Image out;
  EXPECT_TRUE(decode_jpeg(jpeg.data(), jpeg.size(), out));

  // The last scan repeated 600 times: the library alone gets through it with
  // only a warning, after doing all the work.
  size_t last_scan = 0;
  for (size_t i = 0; i + 1 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) last_scan = i;
  }
  const std::vector<uint8_t> scan(jpeg.begin() + last_scan, jpeg.end() - 2);
  std::vector<uint8_t> hostile(jpeg.begin(), jpeg.end() - 2);
  for (int k = 0; k < 600; ++k) hostile.insert(hostile.end(), scan.begin(), scan.end());
  hostile.push_back(0xFF);
  hostile.push_back(0xD9);
  std::vector<uint8_t> pixels;
  ASSERT_EQ(library_decode(hostile, 64, 48, pixels), 1);
  EXPECT_FALSE(decode_jpeg(hostile.data(), hostile.size(), out));
}
