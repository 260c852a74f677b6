#include "image/yuyv_to_rgb.h"

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "image/resize_pixels.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

inline uint8_t clamp_byte(int32_t v) {
  v = v < 0 ? 0 : v;
  return static_cast<uint8_t>(v > 255 ? 255 : v);
}

// One pixel from its luma and the pair's shared chroma differences.
inline void store_rgb(int32_t y, int32_t d, int32_t e, uint8_t* rgb) {
  const int32_t c = y - 16;
  rgb[0] = clamp_byte((298 * c + 409 * e + 128) >> 8);
  rgb[1] = clamp_byte((298 * c - 100 * d - 208 * e + 128) >> 8);
  rgb[2] = clamp_byte((298 * c + 516 * d + 128) >> 8);
}

void convert_pairs(const uint8_t* src, int64_t pairs, uint8_t* dst) {
  for (int64_t p = 0; p < pairs; ++p, src += 4, dst += 6) {
    const int32_t d = src[1] - 128;
    const int32_t e = src[3] - 128;
    store_rgb(src[0], d, e, dst);
    store_rgb(src[2], d, e, dst + 3);
  }
}

#if defined(__SSE2__)
// Eight pixels (16 source bytes) at a time with the same integer formulas:
// 32-bit products and sums, the arithmetic shift, and the clamp to 0..255
// done by the saturating packs (every value fits in 16 bits after the shift).
// Writes 24 bytes plus 1 byte of slack that the next pixel overwrites, so
// the caller keeps at least one pixel for the scalar tail.
inline void convert_8(const uint8_t* src, uint8_t* dst) {
  const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
  const __m128i low_byte = _mm_set1_epi16(0x00FF);
  const __m128i c = _mm_sub_epi16(_mm_and_si128(in, low_byte), _mm_set1_epi16(16));
  // D0 E0 D1 E1 D2 E2 D3 E3 as 16-bit lanes: chroma of pairs 0..3.
  const __m128i de = _mm_sub_epi16(_mm_srli_epi16(in, 8), _mm_set1_epi16(128));
  const __m128i round = _mm_set1_epi32(128);
  const __m128i r_pair =
      _mm_add_epi32(_mm_madd_epi16(de, _mm_set_epi16(409, 0, 409, 0, 409, 0, 409, 0)), round);
  const __m128i g_pair = _mm_add_epi32(
      _mm_madd_epi16(de, _mm_set_epi16(-208, -100, -208, -100, -208, -100, -208, -100)), round);
  const __m128i b_pair =
      _mm_add_epi32(_mm_madd_epi16(de, _mm_set_epi16(0, 516, 0, 516, 0, 516, 0, 516)), round);
  // 298 * C in 32 bits for pixels 0..3 and 4..7.
  const __m128i k298 = _mm_set1_epi16(298);
  const __m128i lo16 = _mm_mullo_epi16(c, k298);
  const __m128i hi16 = _mm_mulhi_epi16(c, k298);
  const __m128i luma_a = _mm_unpacklo_epi16(lo16, hi16);
  const __m128i luma_b = _mm_unpackhi_epi16(lo16, hi16);
  // Each pair's chroma term for both of its pixels.
  const auto channel = [&](__m128i pair) {
    const __m128i a = _mm_add_epi32(luma_a, _mm_shuffle_epi32(pair, _MM_SHUFFLE(1, 1, 0, 0)));
    const __m128i b = _mm_add_epi32(luma_b, _mm_shuffle_epi32(pair, _MM_SHUFFLE(3, 3, 2, 2)));
    return _mm_packs_epi32(_mm_srai_epi32(a, 8), _mm_srai_epi32(b, 8));
  };
  const __m128i rg = _mm_packus_epi16(channel(r_pair), channel(g_pair));  // R0..R7 G0..G7
  const __m128i bb = _mm_packus_epi16(channel(b_pair), channel(b_pair));  // B0..B7 B0..B7
  // R G B 0 per pixel, then four bytes per pixel at a three-byte stride.
  const __m128i rgx = _mm_unpacklo_epi8(rg, _mm_srli_si128(rg, 8));  // R0 G0 R1 G1 ...
  const __m128i bx = _mm_unpacklo_epi8(bb, _mm_setzero_si128());     // B0 0 B1 0 ...
  alignas(16) uint32_t rgbx[8];
  _mm_store_si128(reinterpret_cast<__m128i*>(rgbx), _mm_unpacklo_epi16(rgx, bx));
  _mm_store_si128(reinterpret_cast<__m128i*>(rgbx + 4), _mm_unpackhi_epi16(rgx, bx));
  for (int k = 0; k < 8; ++k) std::memcpy(dst + 3 * k, &rgbx[k], 4);
}
#endif

}  // namespace

void yuyv_to_rgb(const uint8_t* data, int width, int height, Image& out) {
  assert(width >= 0 && height >= 0);
  resize_pixels(out, width, height);
  const int64_t n = int64_t{width} * height;
  const uint8_t* src = data;
  uint8_t* dst = out.pixels.data();
  int64_t pairs = n / 2;
#if defined(__SSE2__)
  // Blocks of four pairs while at least one more pixel follows the block.
  for (; 2 * pairs > 8; pairs -= 4, src += 16, dst += 24) convert_8(src, dst);
#endif
  convert_pairs(src, pairs, dst);
  if (n % 2 != 0) {
    // The lone last pixel has Y and U but no V of its own: neutral chroma.
    store_rgb(src[4 * pairs], src[4 * pairs + 1] - 128, 0, dst + 6 * pairs);
  }
}
