#include "runtime/kernels/finite_scan.h"

#include <immintrin.h>

namespace runtime::kernels {
namespace {

// x * 0 is 0 for every finite x and NaN for NaN and the infinities, and NaN
// survives the sum, so the sum is NaN exactly when some value is not finite.
float scalar_sum_of_zeros(const float* data, size_t count) {
  float sum = 0.0f;
  for (size_t i = 0; i < count; ++i) sum += data[i] * 0.0f;
  return sum;
}

// Compiled for AVX2 and FMA alone (the rest of the build does not assume
// them) and chosen when the processor has both. Four sums keep the loads
// from waiting on one addition chain.
__attribute__((target("avx2,fma"))) float avx2_sum_of_zeros(const float* data, size_t count) {
  const __m256 zero = _mm256_setzero_ps();
  __m256 sum[4] = {zero, zero, zero, zero};
  size_t i = 0;
  for (; i + 32 <= count; i += 32)
    for (int k = 0; k < 4; ++k)
      sum[k] = _mm256_fmadd_ps(_mm256_loadu_ps(data + i + 8 * k), zero, sum[k]);
  const __m256 total = _mm256_add_ps(_mm256_add_ps(sum[0], sum[1]), _mm256_add_ps(sum[2], sum[3]));
  alignas(32) float lanes[8];
  _mm256_store_ps(lanes, total);
  return scalar_sum_of_zeros(lanes, 8) + scalar_sum_of_zeros(data + i, count - i);
}

}  // namespace

bool all_finite(const float* data, size_t count) {
  const float sum = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")
                        ? avx2_sum_of_zeros(data, count)
                        : scalar_sum_of_zeros(data, count);
  return sum == sum;
}

}  // namespace runtime::kernels
