#include "image/decode_jpeg.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <vector>

#include "tests/image/test_jpeg.h"

namespace {

// What the library itself reports for `jpeg` (its error class), to prove that
// a damaged stream really exercises the warning or the fatal path.
int library_error(const std::vector<uint8_t>& jpeg, int width, int height) {
  tjhandle handle = tjInitDecompress();
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 3);
  int code = -1;
  if (tjDecompress2(handle, jpeg.data(), jpeg.size(), pixels.data(), width, 0, height, TJPF_RGB,
                    TJFLAG_FASTDCT) != 0) {
    code = tjGetErrorCode(handle);
  }
  tjDestroy(handle);
  return code;
}

void expect_same(const Image& a, const Image& b) {
  EXPECT_EQ(a.width, b.width);
  EXPECT_EQ(a.height, b.height);
  EXPECT_TRUE(a.pixels == b.pixels);
}

}  // namespace

TEST(DecodeJpeg, MatchesLibraryFastDctRgbTopDown) {
  const Image source = textured_image(96, 40);
  const std::vector<uint8_t> jpeg = compress_jpeg(source, TJSAMP_422, 85);
  std::vector<uint8_t> expected(96 * 40 * 3);
  tjhandle handle = tjInitDecompress();
  ASSERT_EQ(tjDecompress2(handle, jpeg.data(), jpeg.size(), expected.data(), 96, 0, 40, TJPF_RGB,
                          TJFLAG_FASTDCT),
            0);
  tjDestroy(handle);

  Image out;
  ASSERT_TRUE(decode_jpeg(jpeg.data(), jpeg.size(), out));
  EXPECT_EQ(out.width, 96);
  EXPECT_EQ(out.height, 40);
  EXPECT_TRUE(out.pixels == expected);
  // Channel order and row order: the top-left corner is dark red-ish in the
  // source (x and y gradients in R and G), the bottom-right bright.
  EXPECT_LT(out.pixels[0], 60);
  EXPECT_GT(out.pixels[(40 * 96 - 1) * 3 + 1], 180);
}

TEST(DecodeJpeg, ReusesStorageAndShrinksToExactSize) {
  const std::vector<uint8_t> large = compress_jpeg(textured_image(64, 48), TJSAMP_444, 90);
  const std::vector<uint8_t> small = compress_jpeg(textured_image(16, 8), TJSAMP_444, 90);
  Image out;
  ASSERT_TRUE(decode_jpeg(large.data(), large.size(), out));
  const uint8_t* storage = out.pixels.data();
  ASSERT_TRUE(decode_jpeg(small.data(), small.size(), out));
  EXPECT_EQ(out.pixels.size(), 16u * 8 * 3);
  ASSERT_TRUE(decode_jpeg(large.data(), large.size(), out));
  EXPECT_EQ(out.pixels.data(), storage);
}

TEST(DecodeJpeg, SizeBoundsInclusiveAt8192OnEachAxis) {
  std::vector<uint8_t> jpeg = compress_jpeg(textured_image(16, 16), TJSAMP_444, 90);
  const Image before = [&] {
    Image image;
    decode_jpeg(jpeg.data(), jpeg.size(), image);
    return image;
  }();

  // The patched streams lack most of their data, which the library only
  // warns about, so the largest accepted sizes decode.
  for (const auto& [w, h] : {std::pair{8192, 16}, std::pair{16, 8192}}) {
    std::vector<uint8_t> edge = jpeg;
    patch_jpeg_size(edge, w, h);
    Image out = before;
    EXPECT_TRUE(decode_jpeg(edge.data(), edge.size(), out)) << w << "x" << h;
    EXPECT_EQ(out.width, w);
    EXPECT_EQ(out.height, h);
  }
  for (const auto& [w, h] : {std::pair{8193, 16}, std::pair{16, 8193}, std::pair{0, 16}}) {
    std::vector<uint8_t> over = jpeg;
    patch_jpeg_size(over, w, h);
    Image out = before;
    EXPECT_FALSE(decode_jpeg(over.data(), over.size(), out)) << w << "x" << h;
    expect_same(out, before);
  }
}

TEST(DecodeJpeg, UnreadableHeaderLeavesPreviousFrame) {
  const std::vector<uint8_t> jpeg = compress_jpeg(textured_image(16, 16), TJSAMP_444, 90);
  Image before;
  ASSERT_TRUE(decode_jpeg(jpeg.data(), jpeg.size(), before));
  const std::vector<uint8_t> garbage = {0x12, 0x34, 0x56, 0x78, 0x9a};
  const std::vector<uint8_t> cut(jpeg.begin(), jpeg.begin() + 20);
  for (const std::vector<uint8_t>* bytes : {&garbage, &cut}) {
    Image out = before;
    EXPECT_FALSE(decode_jpeg(bytes->data(), bytes->size(), out));
    expect_same(out, before);
  }
  Image out = before;
  EXPECT_FALSE(decode_jpeg(nullptr, 0, out));
  expect_same(out, before);
}

TEST(DecodeJpeg, FatalDamageAfterHeaderFailsWithNewSize) {
  std::vector<uint8_t> jpeg = compress_jpeg(textured_image(24, 16), TJSAMP_444, 90);
  // Over-subscribe the first Huffman table (luminance DC): three codes of
  // length 1 cannot exist. The header still reads; building the decoding
  // table fails.
  size_t dht = 0;
  while (dht + 5 < jpeg.size() && !(jpeg[dht] == 0xFF && jpeg[dht + 1] == 0xC4)) ++dht;
  ASSERT_LT(dht + 21, jpeg.size());
  ASSERT_EQ(jpeg[dht + 4], 0x00);
  const uint8_t counts[16] = {3, 1, 3, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0};
  std::copy(counts, counts + 16, jpeg.begin() + dht + 5);
  ASSERT_EQ(library_error(jpeg, 24, 16), TJERR_FATAL);

  Image out = textured_image(4, 4);
  EXPECT_FALSE(decode_jpeg(jpeg.data(), jpeg.size(), out));
  EXPECT_EQ(out.width, 24);
  EXPECT_EQ(out.height, 16);
  EXPECT_EQ(out.pixels.size(), 24u * 16 * 3);
}

TEST(DecodeJpeg, WarningsStillDecode) {
  const std::vector<uint8_t> jpeg = compress_jpeg(textured_image(32, 32), TJSAMP_420, 90);
  // Missing end marker, and a stream cut in the middle of its scan data.
  const std::vector<uint8_t> no_eoi(jpeg.begin(), jpeg.end() - 2);
  const std::vector<uint8_t> cut(jpeg.begin(), jpeg.end() - jpeg.size() / 4);
  for (const std::vector<uint8_t>* bytes : {&no_eoi, &cut}) {
    ASSERT_EQ(library_error(*bytes, 32, 32), TJERR_WARNING);
    Image out;
    EXPECT_TRUE(decode_jpeg(bytes->data(), bytes->size(), out));
    EXPECT_EQ(out.width, 32);
  }
}
