#include "runtime/kernels/half_floats.h"

#include <immintrin.h>

#include <cmath>

namespace runtime::kernels {

__attribute__((target("f16c"))) bool to_half(float w, uint16_t& half) {
  const __m128i h = _mm_cvtps_ph(_mm_set_ss(w), _MM_FROUND_TO_NEAREST_INT);
  const float back = _mm_cvtss_f32(_mm_cvtph_ps(h));
  half = static_cast<uint16_t>(_mm_extract_epi16(h, 0));
  return back == w && std::signbit(back) == std::signbit(w);
}

}  // namespace runtime::kernels
