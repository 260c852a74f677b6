#include "runtime/kernels/output_pass.h"

#include <immintrin.h>

namespace runtime::kernels {
namespace {

void pass_scalar(float* row, size_t count, Activation activation, const float* alpha) {
  for (size_t c = 0; c < count; ++c) {
    float v = row[c];
    if (activation != Activation::kNone && v < 0.0f) v = 0.0f;
    if (activation == Activation::kRelu6 && v > 6.0f) v = 6.0f;
    if (alpha && v < 0.0f) v *= alpha[c];
    row[c] = v;
  }
}

// The AVX2 code below is compiled for AVX2 alone (the rest of the build does
// not assume it) and chosen when the processor has it. MAXPS and MINPS return
// their second operand when either is NaN, so the value goes second to pass
// NaN through; a comparison with NaN is false, so the PReLU blend keeps it too.
template <Activation kActivation>
__attribute__((target("avx2"))) inline __m256 activate(__m256 v) {
  if (kActivation != Activation::kNone) v = _mm256_max_ps(_mm256_setzero_ps(), v);
  if (kActivation == Activation::kRelu6) v = _mm256_min_ps(_mm256_set1_ps(6.0f), v);
  return v;
}

// Without PReLU every value is treated alike, so the buffer is one flat run.
template <Activation kActivation>
__attribute__((target("avx2"))) void activate_avx2(float* data, size_t count) {
  const size_t vector_end = count - count % 8;
  for (size_t i = 0; i < vector_end; i += 8)
    _mm256_storeu_ps(data + i, activate<kActivation>(_mm256_loadu_ps(data + i)));
  pass_scalar(data + vector_end, count - vector_end, kActivation, nullptr);
}

template <Activation kActivation>
__attribute__((target("avx2"))) void activate_prelu_avx2(float* data, size_t pixels, int channels,
                                                         const float* alpha) {
  const int vector_end = channels - channels % 8;
  const __m256 zero = _mm256_setzero_ps();
  for (size_t p = 0; p < pixels; ++p) {
    float* row = data + p * channels;
    for (int c = 0; c < vector_end; c += 8) {
      const __m256 v = activate<kActivation>(_mm256_loadu_ps(row + c));
      const __m256 scaled = _mm256_mul_ps(v, _mm256_loadu_ps(alpha + c));
      _mm256_storeu_ps(row + c, _mm256_blendv_ps(v, scaled, _mm256_cmp_ps(v, zero, _CMP_LT_OQ)));
    }
    pass_scalar(row + vector_end, channels - vector_end, kActivation, alpha + vector_end);
  }
}

template <Activation kActivation>
void pass_avx2(float* data, size_t pixels, int channels, const float* alpha) {
  if (alpha)
    activate_prelu_avx2<kActivation>(data, pixels, channels, alpha);
  else
    activate_avx2<kActivation>(data, pixels * channels);
}

}  // namespace

void apply_output_pass(float* data, size_t pixels, int channels, Activation activation,
                       const float* alpha) {
  if (!__builtin_cpu_supports("avx2")) {
    for (size_t p = 0; p < pixels; ++p) pass_scalar(data + p * channels, channels, activation, alpha);
    return;
  }
  switch (activation) {
    case Activation::kNone: pass_avx2<Activation::kNone>(data, pixels, channels, alpha); return;
    case Activation::kRelu: pass_avx2<Activation::kRelu>(data, pixels, channels, alpha); return;
    case Activation::kRelu6: pass_avx2<Activation::kRelu6>(data, pixels, channels, alpha); return;
  }
}

}  // namespace runtime::kernels
