#include "runtime/kernels/output_pass.h"

#include <immintrin.h>

namespace runtime::kernels {
namespace {

void pass_scalar(float* row, int count, Activation activation, const float* alpha) {
  for (int c = 0; c < count; ++c) {
    float v = row[c];
    if (activation != Activation::kNone && v < 0.0f) v = 0.0f;
    if (activation == Activation::kRelu6 && v > 6.0f) v = 6.0f;
    if (alpha && v < 0.0f) v *= alpha[c];
    row[c] = v;
  }
}

// Eight channels at a time. The rest of the build does not assume AVX2, so
// this function alone is compiled for it and chosen when the processor has it.
// A comparison with NaN is false, so a blend on it keeps NaN.
__attribute__((target("avx2"))) void pass_avx2(float* data, size_t pixels, int channels,
                                               Activation activation, const float* alpha) {
  const int vector_end = channels - channels % 8;
  const bool clamp_low = activation != Activation::kNone;
  const bool clamp_high = activation == Activation::kRelu6;
  const __m256 zero = _mm256_setzero_ps();
  const __m256 six = _mm256_set1_ps(6.0f);
  for (size_t p = 0; p < pixels; ++p) {
    float* row = data + p * channels;
    for (int c = 0; c < vector_end; c += 8) {
      __m256 v = _mm256_loadu_ps(row + c);
      if (clamp_low) v = _mm256_blendv_ps(v, zero, _mm256_cmp_ps(v, zero, _CMP_LT_OQ));
      if (clamp_high) v = _mm256_blendv_ps(v, six, _mm256_cmp_ps(v, six, _CMP_GT_OQ));
      if (alpha) {
        const __m256 scaled = _mm256_mul_ps(v, _mm256_loadu_ps(alpha + c));
        v = _mm256_blendv_ps(v, scaled, _mm256_cmp_ps(v, zero, _CMP_LT_OQ));
      }
      _mm256_storeu_ps(row + c, v);
    }
    pass_scalar(row + vector_end, channels - vector_end, activation,
                alpha ? alpha + vector_end : nullptr);
  }
}

}  // namespace

void apply_output_pass(float* data, size_t pixels, int channels, Activation activation,
                       const float* alpha) {
  if (__builtin_cpu_supports("avx2")) {
    pass_avx2(data, pixels, channels, activation, alpha);
    return;
  }
  for (size_t p = 0; p < pixels; ++p) pass_scalar(data + p * channels, channels, activation, alpha);
}

}  // namespace runtime::kernels
