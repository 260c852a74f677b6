#include "runtime/kernels/prelu_pass.h"

#include <immintrin.h>

namespace runtime::kernels {
namespace {

void prelu_scalar(float* row, int count, const float* alpha) {
  for (int c = 0; c < count; ++c)
    if (row[c] < 0.0f) row[c] *= alpha[c];
}

// Eight channels at a time; the compiler is not asked for AVX2 elsewhere, so
// this function alone is built for it and chosen when the processor has it.
__attribute__((target("avx2"))) void prelu_avx2(float* data, size_t pixels, int channels,
                                                const float* alpha) {
  const int vector_end = channels - channels % 8;
  const __m256 zero = _mm256_setzero_ps();
  for (size_t p = 0; p < pixels; ++p) {
    float* row = data + p * channels;
    for (int c = 0; c < vector_end; c += 8) {
      const __m256 v = _mm256_loadu_ps(row + c);
      const __m256 scaled = _mm256_mul_ps(v, _mm256_loadu_ps(alpha + c));
      _mm256_storeu_ps(row + c, _mm256_blendv_ps(v, scaled, _mm256_cmp_ps(v, zero, _CMP_LT_OQ)));
    }
    prelu_scalar(row + vector_end, channels - vector_end, alpha + vector_end);
  }
}

}  // namespace

void apply_prelu(float* data, size_t pixels, int channels, const float* alpha) {
  if (__builtin_cpu_supports("avx2")) {
    prelu_avx2(data, pixels, channels, alpha);
    return;
  }
  for (size_t p = 0; p < pixels; ++p) prelu_scalar(data + p * channels, channels, alpha);
}

}  // namespace runtime::kernels
