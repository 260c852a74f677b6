#pragma once

// The sampling loop of crop_to_tensor, compiled three times: in crop.cc for
// the baseline processor, in crop_sse41.cc with SSE4.1, which converts bytes
// to floats in one instruction, and in crop_avx2.cc with AVX2. All copies
// perform the same floating-point operations in the same order, so their
// results are identical. Everything here has internal linkage, so the
// copies never merge at link time; include this file only from those
// sources.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "image/crop.h"
#include "image/crop_variants.h"

#if defined(__SSE4_1__)
#include <smmintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// The tensor-to-image mapping of one call. x = (cx + u cos) - v sin and
// y = (cy + u sin) + v cos: the bracketed column terms and the row terms are
// computed apart so that crop_to_tensor can hoist them, and every caller
// evaluates the same expressions in the same order, so a point maps
// identically whichever function asks.
struct RegionMap {
  RegionMap(const RotatedRect& r, int w, int h)
      : rect(r),
        cos_r(std::cos(r.rotation)),
        sin_r(std::sin(r.rotation)),
        w(static_cast<float>(w)),
        h(static_cast<float>(h)) {}

  float u(float i) const { return (i / w - 0.5f) * rect.width; }
  float v(float j) const { return (j / h - 0.5f) * rect.height; }
  float column_x(float u) const { return rect.cx + u * cos_r; }
  float column_y(float u) const { return rect.cy + u * sin_r; }

  const RotatedRect& rect;
  float cos_r;
  float sin_r;
  float w;
  float h;
};

// Columns are handled in blocks whose per-column terms live on the stack.
constexpr int kBlock = 256;

// Read-only view of the image being sampled, with the output mapping.
struct Sampler {
  const uint8_t* pixels;
  int width;
  int height;
  size_t row;  // bytes per image row
  float scale;
  float lo;
};

// The general case: each neighbour is checked, one outside adds nothing. The
// sum starts at 0 and takes (x0, y0), (x0 + 1, y0), (x0, y0 + 1),
// (x0 + 1, y0 + 1) in that order.
void sample_checked(const Sampler& s, int x0, int y0, const float (&weights)[4], float* out) {
  float sum[3] = {0.0f, 0.0f, 0.0f};
  for (int k = 0; k < 4; ++k) {
    const int nx = x0 + (k & 1);
    const int ny = y0 + (k >> 1);
    if (nx < 0 || nx >= s.width || ny < 0 || ny >= s.height) continue;
    const uint8_t* p = s.pixels + static_cast<size_t>(ny) * s.row + static_cast<size_t>(nx) * 3;
    for (int c = 0; c < 3; ++c) sum[c] += weights[k] * static_cast<float>(p[c]);
  }
  for (int c = 0; c < 3; ++c) out[c] = sum[c] * s.scale + s.lo;
}

#if defined(__SSE2__)
// Four bytes from `p` as floats; only the first three (R, G, B) are used.
inline __m128 load_rgbx(const uint8_t* p) {
  int32_t word;
  std::memcpy(&word, p, 4);
  const __m128i bytes = _mm_cvtsi32_si128(word);
#if defined(__SSE4_1__)
  return _mm_cvtepi32_ps(_mm_cvtepu8_epi32(bytes));
#else
  const __m128i zero = _mm_setzero_si128();
  return _mm_cvtepi32_ps(_mm_unpacklo_epi16(_mm_unpacklo_epi8(bytes, zero), zero));
#endif
}

// All four neighbours inside, and (x0 + 1, y0 + 1) not the image's last
// pixel, so reading four bytes at each neighbour stays in the image. The
// channels go through the lanes of one vector with the scalar operations of
// sample_checked in the same order (0 + a is exactly a), so the results are
// the same bit for bit.
template <bool kSpareLane>
inline void sample_inside(const Sampler& s, const uint8_t* p00, const float (&weights)[4],
                          float* out) {
  const uint8_t* p01 = p00 + s.row;
  __m128 sum = _mm_mul_ps(_mm_set1_ps(weights[0]), load_rgbx(p00));
  sum = _mm_add_ps(sum, _mm_mul_ps(_mm_set1_ps(weights[1]), load_rgbx(p00 + 3)));
  sum = _mm_add_ps(sum, _mm_mul_ps(_mm_set1_ps(weights[2]), load_rgbx(p01)));
  sum = _mm_add_ps(sum, _mm_mul_ps(_mm_set1_ps(weights[3]), load_rgbx(p01 + 3)));
  const __m128 value = _mm_add_ps(_mm_mul_ps(sum, _mm_set1_ps(s.scale)), _mm_set1_ps(s.lo));
  if (kSpareLane) {
    _mm_storeu_ps(out, value);  // the fourth float is the next sample's, written later
  } else {
    _mm_storel_pi(reinterpret_cast<__m64*>(out), value);
    _mm_store_ss(out + 2, _mm_movehl_ps(value, value));
  }
}
#else
template <bool kSpareLane>
inline void sample_inside(const Sampler& s, const uint8_t* p00, const float (&weights)[4],
                          float* out) {
  const uint8_t* p01 = p00 + s.row;
  for (int c = 0; c < 3; ++c) {
    float sum = weights[0] * static_cast<float>(p00[c]);
    sum += weights[1] * static_cast<float>(p00[c + 3]);
    sum += weights[2] * static_cast<float>(p01[c]);
    sum += weights[3] * static_cast<float>(p01[c + 3]);
    out[c] = sum * s.scale + s.lo;
  }
}
#endif

// Where one row of samples falls: the top-left neighbour (x0, y0) and the
// four bilinear weights of each sample, kept per column so that this part,
// free of branches, is computed several samples at a time.
struct RowTaps {
  int32_t x0[kBlock];
  int32_t y0[kBlock];
  float weights[4][kBlock];
};

// Fills `taps` for samples (x, y) = (column_x[k] - v_sin, column_y[k] + v_cos).
// True when every sample of the row may take sample_inside: all four
// neighbours in the image and (x0 + 1, y0 + 1) never the image's last pixel
// (checked as y0 + 2 < height, simpler and rarely stricter).
bool locate_row(const float* column_x, const float* column_y, int n, float v_sin, float v_cos,
                int width, int height, RowTaps& taps) {
  const float fw = static_cast<float>(width);
  const float fh = static_cast<float>(height);
  const int32_t last_x0 = width - 2;
  const int32_t last_y0 = height - 3;
  int32_t all_inside = 1;
  for (int k = 0; k < n; ++k) {
    float x = column_x[k] - v_sin;
    float y = column_y[k] + v_cos;
    // A sample outside -1 <= x < width, -1 <= y < height has no neighbour in
    // the image, and still has none when pulled to the nearest of -4 and the
    // far edge; so does NaN, which fails both comparisons and becomes -4.
    // Clamping first also keeps a huge or NaN value from the conversion to
    // int, which would be undefined.
    x = x > -4.0f ? x : -4.0f;
    x = x < fw ? x : fw;
    y = y > -4.0f ? y : -4.0f;
    y = y < fh ? y : fh;
    // floor without a library call: truncate, then step down for negatives.
    int32_t x0 = static_cast<int32_t>(x);
    int32_t y0 = static_cast<int32_t>(y);
    x0 -= static_cast<float>(x0) > x;
    y0 -= static_cast<float>(y0) > y;
    const float fx = x - static_cast<float>(x0);
    const float fy = y - static_cast<float>(y0);
    taps.x0[k] = x0;
    taps.y0[k] = y0;
    taps.weights[0][k] = (1.0f - fx) * (1.0f - fy);
    taps.weights[1][k] = fx * (1.0f - fy);
    taps.weights[2][k] = (1.0f - fx) * fy;
    taps.weights[3][k] = fx * fy;
    all_inside &= (x0 >= 0) & (x0 <= last_x0) & (y0 >= 0) & (y0 <= last_y0);
  }
  return all_inside != 0;
}

// Samples one located row into `out` (3 floats per sample). All but the
// row's last sample may write a fourth float that the next one overwrites.
void sample_row(const Sampler& s, const RowTaps& taps, int n, bool all_inside, float* out) {
  if (all_inside) {
    for (int k = 0; k < n; ++k, out += 3) {
      const float weights[4] = {taps.weights[0][k], taps.weights[1][k], taps.weights[2][k],
                                taps.weights[3][k]};
      const uint8_t* p00 =
          s.pixels + static_cast<size_t>(taps.y0[k]) * s.row + static_cast<size_t>(taps.x0[k]) * 3;
      if (k + 1 < n) {
        sample_inside<true>(s, p00, weights, out);
      } else {
        sample_inside<false>(s, p00, weights, out);
      }
    }
    return;
  }
  for (int k = 0; k < n; ++k, out += 3) {
    const int x0 = taps.x0[k];
    const int y0 = taps.y0[k];
    const float weights[4] = {taps.weights[0][k], taps.weights[1][k], taps.weights[2][k],
                              taps.weights[3][k]};
    // All four neighbours inside (0 <= x0 <= width - 2, likewise y0), and
    // (x0 + 1, y0 + 1) not the image's last pixel, whose four-byte read in
    // sample_inside would pass the end.
    const bool inside = (x0 >= 0) & (x0 <= s.width - 2) & (y0 >= 0) & (y0 <= s.height - 2);
    const bool last_pixel = (x0 == s.width - 2) & (y0 == s.height - 2);
    if (inside & !last_pixel) {
      const uint8_t* p00 = s.pixels + static_cast<size_t>(y0) * s.row + static_cast<size_t>(x0) * 3;
      if (k + 1 < n) {
        sample_inside<true>(s, p00, weights, out);
      } else {
        sample_inside<false>(s, p00, weights, out);
      }
    } else {
      sample_checked(s, x0, y0, weights, out);
    }
  }
}

// crop_to_tensor for w, h >= 1.
void sample_region(const Image& image, const RotatedRect& rect, int w, int h, float lo, float hi,
                   float* out) {
  const Sampler s{image.pixels.data(), image.width,
                  image.height,        static_cast<size_t>(image.width) * 3,
                  (hi - lo) / 255.0f,  lo};
  const RegionMap map(rect, w, h);
  float column_x[kBlock];
  float column_y[kBlock];
  RowTaps taps;
  for (int i0 = 0; i0 < w; i0 += kBlock) {
    const int n = std::min(kBlock, w - i0);
    for (int k = 0; k < n; ++k) {
      const float u = map.u(static_cast<float>(i0 + k));
      column_x[k] = map.column_x(u);
      column_y[k] = map.column_y(u);
    }
    for (int j = 0; j < h; ++j) {
      const float v = map.v(static_cast<float>(j));
      const bool all_inside =
          locate_row(column_x, column_y, n, v * map.sin_r, v * map.cos_r, s.width, s.height, taps);
      sample_row(s, taps, n, all_inside, out + (static_cast<size_t>(j) * w + i0) * 3);
    }
  }
}

}  // namespace
